#ifndef FACE_CV_DEVMEM_H
#define FACE_CV_DEVMEM_H

// The memory-mapped I/O service.
//
// FACE::IOSS::Devmem::IO_Service is the I/O service interface over physical
// memory: each named connection is a window of the physical address space,
// and reads and writes of 8, 16, 32 or 64 bits at byte offsets inside the
// window are its only data operations.
//
// FACE::IOSS::CV_Devmem implements it through the memory device (see
// platform/MemoryMap.h): the devices configuration holds one container per
// window, found by the connection name, with the parameters "BaseAddress"
// and "Size" (unsigned numbers with automatic base: decimal, 0x hex or
// leading-zero octal, each kept to 32 bits). A window is mapped only when
// it ends within the memory device: a memory file's size, or the 32-bit
// physical address space of /dev/mem; beyond that an access would raise
// SIGBUS. A base address need not be a page multiple: the mapping starts at
// its page and the window at its offset in that page.
//
// Order of use: Set_Reference, Initialize, Open_Connection per window, then
// Read / Write from any thread; Close_Connection or destruction at the end.
// Connection ids are indices into the service's connection table; entries
// are never removed, so an id stays valid for the life of the service.
// Every operation reports through its last argument and never throws.
// Timeouts are accepted and ignored.

#include "FACE/Configuration.h"
#include "FACE/Configuration_Injectable.h"
#include "FACE/FACE_Common.h"
#include "FACE/FACE_IO_Parameter_Value_Type.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class MemoryMap;

namespace FACE {
namespace IOSS {
namespace Devmem {

class IO_Service {
public:
    /// Reads one value: the caller fills offset and width; Read fills the
    /// rest.
    struct READ_PAYLOAD_TYPE {
        std::int64_t timestamp = 0;  ///< set to 0 by a successful Read
        std::uint32_t offset = 0;    ///< byte offset into the window
        std::uint8_t width = 0;      ///< bits: 8, 16, 32 or 64
        std::uint64_t data = 0;      ///< the value read, zero-extended
    };

    /// Writes one value: the low `width` bits of data.
    struct WRITE_PAYLOAD_TYPE {
        std::uint32_t offset = 0;  ///< byte offset into the window
        std::uint8_t width = 0;    ///< bits: 8, 16, 32 or 64
        std::uint64_t data = 0;    ///< narrower widths take the low-order bits
    };

    /// Parameter ids of connection transactions.
    enum PARAMETER_ID : std::uint16_t {
        BASE_ADDRESS = 0,  ///< physical base address, as a ulong value
        SIZE = 1           ///< window size in bytes, as a ulong value
    };

    /// One parameter of a transaction.
    struct IO_PARAMETER_TYPE {
        std::uint16_t id = 0;
        FACE::IOSS::IO_PARAMETER_VALUE_TYPE value;
    };

    /// A set of connection parameters, configured or queried together.
    struct IO_PARAMETER_TRANSACTION_TYPE {
        FACE::Sequence<IO_PARAMETER_TYPE> parameters;
    };

    /// Status of an open connection.
    struct CONNECTION_STATUS_TYPE {
        std::int64_t timestamp = 0;  ///< time of the last transfer: not kept, always 0
        std::int32_t open = 0;       ///< 1: the connection is open
        std::int32_t status = 0;     ///< 0 closed, 1 opening, 2 mapped, 4 mapping failed
    };

    /// Notification callback; the memory-mapped service never calls it.
    class IO_Callback {
    public:
        virtual ~IO_Callback() = default;
        virtual void Callback_Handler(long long connectionId, FACE::RETURN_CODE_TYPE::Value event) = 0;
    };

    /// Closes every open connection.
    virtual ~IO_Service() = default;

    virtual void Initialize(FACE::String const& configName, FACE::RETURN_CODE_TYPE::Value& rc) = 0;
    virtual void Open_Connection(FACE::String const& name, long long timeout, long long& connectionId,
                                 FACE::RETURN_CODE_TYPE::Value& rc) = 0;
    virtual void Close_Connection(long long connectionId, FACE::RETURN_CODE_TYPE::Value& rc) = 0;
    virtual void Read(long long connectionId, long long timeout, READ_PAYLOAD_TYPE& payload,
                      FACE::RETURN_CODE_TYPE::Value& rc) = 0;
    virtual void Write(long long connectionId, long long timeout, WRITE_PAYLOAD_TYPE const& payload,
                       FACE::RETURN_CODE_TYPE::Value& rc) = 0;
    virtual void Configure_Connection_Parameters(long long connectionId, long long timeout,
                                                 IO_PARAMETER_TRANSACTION_TYPE const& transaction,
                                                 FACE::RETURN_CODE_TYPE::Value& rc) = 0;
    virtual void Get_Connection_Configuration(long long connectionId, long long timeout,
                                              IO_PARAMETER_TRANSACTION_TYPE& transaction,
                                              FACE::RETURN_CODE_TYPE::Value& rc) = 0;
    virtual void Configure_Bus_Parameters(long long connectionId, long long timeout,
                                          IO_PARAMETER_TRANSACTION_TYPE const& transaction,
                                          FACE::RETURN_CODE_TYPE::Value& rc) = 0;
    virtual void Get_Bus_Configuration(long long connectionId, long long timeout,
                                       IO_PARAMETER_TRANSACTION_TYPE& transaction,
                                       FACE::RETURN_CODE_TYPE::Value& rc) = 0;
    virtual void Get_Connection_Status(long long connectionId, CONNECTION_STATUS_TYPE& status,
                                       FACE::RETURN_CODE_TYPE::Value& rc) = 0;
    virtual void Get_Bus_Status(long long connectionId, unsigned short& status, FACE::RETURN_CODE_TYPE::Value& rc) = 0;
    virtual void Register_Notification_Event(long long connectionId, IO_Callback& callback,
                                             FACE::RETURN_CODE_TYPE::Value& rc) = 0;
    virtual void Unregister_Notification_Event(long long connectionId, FACE::RETURN_CODE_TYPE::Value& rc) = 0;
};

}  // namespace Devmem

class CV_Devmem : public Devmem::IO_Service, public FACE::Configuration_Injectable::Injectable {
public:
    /// Connection status values.
    enum : std::int32_t { STATUS_CLOSED = 0, STATUS_OPENING = 1, STATUS_MAPPED = 2, STATUS_FAILED = 4 };

    /// One window and its mapping.
    struct Connection_t {
        std::string name;
        std::int32_t status = STATUS_CLOSED;
        std::uint32_t baseAddress = 0;
        std::uint32_t size = 0;
        bool isOpen = false;
        unsigned char* basePointer = nullptr;  ///< address of baseAddress; null unless mapped
        std::unique_ptr<MemoryMap> map;

        Connection_t();
        Connection_t(std::string name, std::uint32_t baseAddress, std::uint32_t size);
        Connection_t(Connection_t&&) noexcept;
        Connection_t& operator=(Connection_t&&) noexcept;
        ~Connection_t();

        /// Maps the window (replacing any earlier mapping): status 2 and
        /// open. A mapping that fails leaves status 4, no pointer and the
        /// entry open all the same; the reason goes to standard error.
        void open() noexcept;
        /// Unmaps: status 0, no pointer, not open.
        void close() noexcept;
    };

    CV_Devmem();
    /// Closes every open connection.
    ~CV_Devmem() override;
    CV_Devmem(CV_Devmem const&) = delete;
    CV_Devmem& operator=(CV_Devmem const&) = delete;

    /// Keeps a shared reference to the devices configuration. 2
    /// (NOT_AVAILABLE) when one is held already; 3 (INVALID_PARAM) for an
    /// empty pointer; else 0. `name` and `id` are not used.
    void Set_Reference(FACE::String const& name, std::shared_ptr<FACE::Configuration> const& config, long long id,
                       FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// Initializes the configuration service with the devices file
    /// `configName`. 1 (NO_ACTION) when already initialised; 4
    /// (INVALID_CONFIG) when there is no configuration or it answers other
    /// than 0 or 1; else 0.
    void Initialize(FACE::String const& configName, FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// connectionId := the id of the window `name`, opened. A known name is
    /// (re)opened without reading the configuration again. A new name is
    /// read from its container ("BaseAddress", "Size": strtoull in base 0,
    /// so a value keeps the number it starts with, then its low 32 bits;
    /// a value that loses bits gets a line on standard error) and appended.
    /// 4 (INVALID_CONFIG), id -1 and no entry when there is no
    /// configuration, no container or either value is missing; else 0, also
    /// when the mapping failed (then Read and Write answer 5). A window that
    /// ends beyond the memory device is such a failed mapping, with a line
    /// naming the block and the values on standard error, e.g.
    ///   CV_Devmem: block Processor_Interface: BaseAddress 0x7FFF0000 (0x7fff0000) with Size 0x1000 (0x1000) ends at 0x7fff1000, beyond the memory device /tmp/mem (0x43c71000 bytes): not mapped
    void Open_Connection(FACE::String const& name, long long timeout, long long& connectionId,
                         FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// Unmaps. 3 (INVALID_PARAM) for an unknown id, 11 (CONNECTION_CLOSED)
    /// when not open; else 0.
    void Close_Connection(long long connectionId, FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// One access of payload.width bits at payload.offset: data := the value
    /// zero-extended, timestamp := 0, result 0. 3 for an unknown id, 11 when
    /// not open, 5 (INVALID_MODE) when the mapping failed, 1 (NO_ACTION) for
    /// a width other than 8/16/32/64, an access beyond the window or one at
    /// an address that is not a multiple of its width (payload untouched;
    /// never split into narrower accesses). No system call, no allocation.
    void Read(long long connectionId, long long timeout, READ_PAYLOAD_TYPE& payload,
              FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// One store of the low payload.width bits of data at payload.offset;
    /// results as Read.
    void Write(long long connectionId, long long timeout, WRITE_PAYLOAD_TYPE const& payload,
               FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// Sets a closed connection's base address (id 0) and/or size (id 1),
    /// each a ulong value, effective at the next open. 3 for an unknown id,
    /// 1 when the connection is open, 3 (nothing changed) when an element
    /// has another id or kind; else 0. An invalid sequence changes nothing
    /// and answers 0.
    void Configure_Connection_Parameters(long long connectionId, long long timeout,
                                         IO_PARAMETER_TRANSACTION_TYPE const& transaction,
                                         FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// Fills each element with id 0 (base address) or 1 (size) as a ulong
    /// value; open or not. 3 for an unknown id, and 3 when an element has
    /// another id (the others are still filled); else 0.
    void Get_Connection_Configuration(long long connectionId, long long timeout,
                                      IO_PARAMETER_TRANSACTION_TYPE& transaction,
                                      FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// Not supported: always 1 (NO_ACTION).
    void Configure_Bus_Parameters(long long connectionId, long long timeout,
                                  IO_PARAMETER_TRANSACTION_TYPE const& transaction,
                                  FACE::RETURN_CODE_TYPE::Value& rc) override;
    /// Not supported: always 1 (NO_ACTION).
    void Get_Bus_Configuration(long long connectionId, long long timeout, IO_PARAMETER_TRANSACTION_TYPE& transaction,
                               FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// {timestamp 0, open 1, the connection's status}. 3 for an unknown id,
    /// 11 when not open; else 0.
    void Get_Connection_Status(long long connectionId, CONNECTION_STATUS_TYPE& status,
                               FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// status := 0. 3 for an unknown id; else 0.
    void Get_Bus_Status(long long connectionId, unsigned short& status, FACE::RETURN_CODE_TYPE::Value& rc) override;

    /// Notifications are not supported: 3 for an unknown id, 11 when not
    /// open, else 1 (NO_ACTION).
    void Register_Notification_Event(long long connectionId, IO_Callback& callback,
                                     FACE::RETURN_CODE_TYPE::Value& rc) override;
    /// 3 for an unknown id, else 1 (NO_ACTION).
    void Unregister_Notification_Event(long long connectionId, FACE::RETURN_CODE_TYPE::Value& rc) override;

private:
    Connection_t* find(long long connectionId) noexcept;
    // The connection if it is open; else null with rc 3 (unknown id) or 11
    // (not open). rc is left alone when the connection is returned.
    Connection_t* findOpen(long long connectionId, FACE::RETURN_CODE_TYPE::Value& rc) noexcept;
    // Address of an access of `width` bits at `offset` of a mapped window;
    // null with rc 3 (unknown id), 11 (not open), 5 (mapping failed) or 1
    // (no such width, or beyond the window). Shared by Read and Write.
    unsigned char* accessAddress(long long connectionId, std::uint32_t offset, std::uint8_t width,
                                 FACE::RETURN_CODE_TYPE::Value& rc) noexcept;

    bool initialized;
    std::shared_ptr<FACE::Configuration> config;
    std::vector<Connection_t> connections;
};

}  // namespace IOSS
}  // namespace FACE

#endif  // FACE_CV_DEVMEM_H
