#include "FACE/CV_Devmem.h"

#include "FACE/CV_Config_Helpers.h"
#include "platform/MemoryAccess.h"
#include "platform/MemoryMap.h"

#include <cstdio>
#include <exception>
#include <string>
#include <iostream>
#include <utility>

namespace FACE {
namespace IOSS {

namespace Code = FACE::RETURN_CODE_TYPE;

namespace {

// Accesses are 8, 16, 32 or 64 bits wide and lie inside the window.
bool accessFits(std::uint32_t offset, std::uint8_t width, std::uint32_t size) noexcept {
    if (width != 8 && width != 16 && width != 32 && width != 64) {
        return false;
    }
    return static_cast<std::uint64_t>(offset) + width / 8u <= size;
}

// A register access is one access of its width at an address aligned to
// that width: devices answer nothing else as one transaction.
bool naturallyAligned(unsigned char const* address, std::uint8_t width) noexcept {
    return (reinterpret_cast<std::uintptr_t>(address) & (width / 8u - 1u)) == 0;
}

std::string hex(std::uint64_t value) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
    return buffer;
}

// Why the window of block `name` is not mapped, or "" when it can be: the
// window (values already kept to their low 32 bits) must end within the
// memory device, as an access beyond it raises SIGBUS. The device is opened
// here when it is not yet; when that fails the reason is left to the
// mapping.
std::string windowProblem(std::string const& name, std::string const& baseText, std::uint32_t base,
                          std::string const& sizeText, std::uint32_t size) {
    std::uint64_t limit = 0;
    try {
        limit = MemoryDeviceFileDescriptor::Instance().limit();
    } catch (...) {
        return "";
    }
    std::uint64_t const end = std::uint64_t{base} + size;
    if (end > limit) {
        return "CV_Devmem: block " + name + ": BaseAddress " + baseText + " (" + hex(base) + ") with Size " + sizeText +
               " (" + hex(size) + ") ends at " + hex(end) + ", beyond the memory device " +
               MemoryDeviceFileDescriptor::DevicePath() + " (" + hex(limit) + " bytes): not mapped";
    }
    return "";
}

// Physical addresses and sizes are kept to their low 32 bits; a value that
// loses bits that way is almost always a typing error, so say so.
std::uint32_t low32(std::string const& name, char const* key, std::string const& text, unsigned long long value) {
    auto const kept = static_cast<std::uint32_t>(value);
    if (value > 0xFFFFFFFFull) {
        std::cerr << "CV_Devmem: block " << name << ": " << key << " " << text << " (" << hex(value)
                  << ") does not fit 32 bits; its low 32 bits " << hex(kept) << " are used" << std::endl;
    }
    return kept;
}

}  // namespace

// --- Connection_t ----------------------------------------------------------

CV_Devmem::Connection_t::Connection_t() = default;

CV_Devmem::Connection_t::Connection_t(std::string name_, std::uint32_t baseAddress_, std::uint32_t size_)
    : name(std::move(name_)), baseAddress(baseAddress_), size(size_) {}

CV_Devmem::Connection_t::Connection_t(Connection_t&&) noexcept = default;
CV_Devmem::Connection_t& CV_Devmem::Connection_t::operator=(Connection_t&&) noexcept = default;
CV_Devmem::Connection_t::~Connection_t() = default;

void CV_Devmem::Connection_t::open() noexcept {
    status = STATUS_OPENING;
    try {
        map = std::make_unique<MemoryMap>(baseAddress, size);
        status = STATUS_MAPPED;
        basePointer = static_cast<unsigned char*>(map->basePointer());
    } catch (std::exception const& e) {
        map.reset();
        status = STATUS_FAILED;
        basePointer = nullptr;
        std::cerr << "CV_Devmem: connection " << name << ": " << e.what() << std::endl;
    } catch (...) {
        map.reset();
        status = STATUS_FAILED;
        basePointer = nullptr;
    }
    isOpen = true;
}

void CV_Devmem::Connection_t::close() noexcept {
    map.reset();
    status = STATUS_CLOSED;
    basePointer = nullptr;
    isOpen = false;
}

// --- CV_Devmem -------------------------------------------------------------

CV_Devmem::CV_Devmem() : initialized(false) {}

CV_Devmem::~CV_Devmem() {
    for (Connection_t& connection : connections) {
        if (connection.isOpen) {
            connection.close();
        }
    }
}

CV_Devmem::Connection_t* CV_Devmem::find(long long connectionId) noexcept {
    if (connectionId < 0 || static_cast<unsigned long long>(connectionId) >= connections.size()) {
        return nullptr;
    }
    return &connections[static_cast<std::size_t>(connectionId)];
}

CV_Devmem::Connection_t* CV_Devmem::findOpen(long long connectionId, FACE::RETURN_CODE_TYPE::Value& rc) noexcept {
    Connection_t* const connection = find(connectionId);
    if (connection == nullptr) {
        rc = Code::INVALID_PARAM;
    } else if (!connection->isOpen) {
        rc = Code::CONNECTION_CLOSED;
        return nullptr;
    }
    return connection;
}

void CV_Devmem::Set_Reference(FACE::String const& /*name*/, std::shared_ptr<FACE::Configuration> const& configuration,
                              long long /*id*/, FACE::RETURN_CODE_TYPE::Value& rc) {
    if (config) {
        rc = Code::NOT_AVAILABLE;
        return;
    }
    if (!configuration) {
        rc = Code::INVALID_PARAM;
        return;
    }
    config = configuration;
    rc = Code::NO_ERROR;
}

void CV_Devmem::Initialize(FACE::String const& configName, FACE::RETURN_CODE_TYPE::Value& rc) {
    if (initialized) {
        rc = Code::NO_ACTION;
        return;
    }
    if (!config) {
        rc = Code::INVALID_CONFIG;
        return;
    }
    Code::Value configRc = Code::NOT_AVAILABLE;
    config->Initialize(configName, configRc);
    if (configRc != Code::NO_ERROR && configRc != Code::NO_ACTION) {
        rc = Code::INVALID_CONFIG;
        return;
    }
    initialized = true;
    rc = Code::NO_ERROR;
}

void CV_Devmem::Open_Connection(FACE::String const& name, long long /*timeout*/, long long& connectionId,
                                FACE::RETURN_CODE_TYPE::Value& rc) {
    connectionId = -1;
    std::string const wanted(name.buffer() == nullptr ? "" : name.buffer(), name.length());
    for (std::size_t i = 0; i < connections.size(); ++i) {
        if (connections[i].name == wanted) {
            if (!connections[i].isOpen) {
                connections[i].open();
            }
            connectionId = static_cast<long long>(i);
            rc = Code::NO_ERROR;
            return;
        }
    }
    if (!config) {
        rc = Code::INVALID_CONFIG;
        return;
    }
    int handle = -1;
    Code::Value configRc = Code::NOT_AVAILABLE;
    config->Open(name, handle, configRc);
    if (configRc != Code::NO_ERROR) {
        rc = Code::INVALID_CONFIG;
        return;
    }
    rc = Code::INVALID_CONFIG;
    try {
        std::string const base = CV_Config_Helpers::Details::Read_Config(*config, handle, "BaseAddress");
        std::string const size = CV_Config_Helpers::Details::Read_Config(*config, handle, "Size");
        std::uint32_t const baseValue =
            low32(wanted, "BaseAddress", base, CV_Config_Helpers::Details::Parse_Unsigned(base));
        std::uint32_t const sizeValue = low32(wanted, "Size", size, CV_Config_Helpers::Details::Parse_Unsigned(size));
        if (!base.empty() && !size.empty()) {
            // A window beyond the device is not mapped (MemoryMap refuses
            // it): the entry fails like any mapping, and says why here.
            std::string const problem = windowProblem(wanted, base, baseValue, size, sizeValue);
            if (!problem.empty()) {
                std::cerr << problem << std::endl;
            }
            connections.emplace_back(wanted, baseValue, sizeValue);
            connections.back().open();
            connectionId = static_cast<long long>(connections.size() - 1);
            rc = Code::NO_ERROR;
        }
    } catch (...) {
        // Only allocation can fail here; the entry was not added.
        rc = Code::INVALID_CONFIG;
    }
    Code::Value closeRc = Code::NO_ERROR;
    config->Close(handle, closeRc);
}

void CV_Devmem::Close_Connection(long long connectionId, FACE::RETURN_CODE_TYPE::Value& rc) {
    Connection_t* const connection = findOpen(connectionId, rc);
    if (connection == nullptr) return;
    connection->close();
    rc = Code::NO_ERROR;
}

unsigned char* CV_Devmem::accessAddress(long long connectionId, std::uint32_t offset, std::uint8_t width,
                                        FACE::RETURN_CODE_TYPE::Value& rc) noexcept {
    Connection_t* const connection = findOpen(connectionId, rc);
    if (connection == nullptr) return nullptr;
    if (connection->status != STATUS_MAPPED) {
        rc = Code::INVALID_MODE;
        return nullptr;
    }
    if (!accessFits(offset, width, connection->size) || !naturallyAligned(connection->basePointer + offset, width)) {
        rc = Code::NO_ACTION;
        return nullptr;
    }
    return connection->basePointer + offset;
}

void CV_Devmem::Read(long long connectionId, long long /*timeout*/, READ_PAYLOAD_TYPE& payload,
                     FACE::RETURN_CODE_TYPE::Value& rc) {
    unsigned char const* const address = accessAddress(connectionId, payload.offset, payload.width, rc);
    if (address == nullptr) {
        return;
    }
    switch (payload.width) {
        case 8:
            payload.data = MemoryAccess::load8(address);
            break;
        case 16:
            payload.data = MemoryAccess::load16(address);
            break;
        case 32:
            payload.data = MemoryAccess::load32(address);
            break;
        default:
            payload.data = MemoryAccess::load64(address);
            break;
    }
    payload.timestamp = 0;
    rc = Code::NO_ERROR;
}

void CV_Devmem::Write(long long connectionId, long long /*timeout*/, WRITE_PAYLOAD_TYPE const& payload,
                      FACE::RETURN_CODE_TYPE::Value& rc) {
    unsigned char* const address = accessAddress(connectionId, payload.offset, payload.width, rc);
    if (address == nullptr) {
        return;
    }
    switch (payload.width) {
        case 8:
            MemoryAccess::store8(address, static_cast<std::uint8_t>(payload.data));
            break;
        case 16:
            MemoryAccess::store16(address, static_cast<std::uint16_t>(payload.data));
            break;
        case 32:
            MemoryAccess::store32(address, static_cast<std::uint32_t>(payload.data));
            break;
        default:
            MemoryAccess::store64(address, payload.data);
            break;
    }
    rc = Code::NO_ERROR;
}

void CV_Devmem::Configure_Connection_Parameters(long long connectionId, long long /*timeout*/,
                                                IO_PARAMETER_TRANSACTION_TYPE const& transaction,
                                                FACE::RETURN_CODE_TYPE::Value& rc) {
    Connection_t* const connection = find(connectionId);
    if (connection == nullptr) {
        rc = Code::INVALID_PARAM;
        return;
    }
    if (connection->isOpen) {
        rc = Code::NO_ACTION;
        return;
    }
    rc = Code::NO_ERROR;
    bool haveBase = false;
    bool haveSize = false;
    std::uint32_t base = connection->baseAddress;
    std::uint32_t size = connection->size;
    for (IO_PARAMETER_TYPE const& element : transaction.parameters) {
        std::uint32_t value = 0;
        IO_PARAMETER_VALUE_TYPE::RETURN_CODE kindRc = IO_PARAMETER_VALUE_TYPE::WRONG_KIND;
        element.value.ulong_value(value, kindRc);
        if (kindRc != IO_PARAMETER_VALUE_TYPE::NO_ERROR || (element.id != BASE_ADDRESS && element.id != SIZE)) {
            rc = Code::INVALID_PARAM;
            return;
        }
        if (element.id == BASE_ADDRESS) {
            base = value;
            haveBase = true;
        } else {
            size = value;
            haveSize = true;
        }
    }
    if (haveBase) {
        connection->baseAddress = base;
    }
    if (haveSize) {
        connection->size = size;
    }
}

void CV_Devmem::Get_Connection_Configuration(long long connectionId, long long /*timeout*/,
                                             IO_PARAMETER_TRANSACTION_TYPE& transaction,
                                             FACE::RETURN_CODE_TYPE::Value& rc) {
    Connection_t* const connection = find(connectionId);
    if (connection == nullptr) {
        rc = Code::INVALID_PARAM;
        return;
    }
    rc = Code::NO_ERROR;
    for (IO_PARAMETER_TYPE& element : transaction.parameters) {
        if (element.id == BASE_ADDRESS) {
            element.value.ulong_value(connection->baseAddress);
        } else if (element.id == SIZE) {
            element.value.ulong_value(connection->size);
        } else {
            rc = Code::INVALID_PARAM;
        }
    }
}

void CV_Devmem::Configure_Bus_Parameters(long long /*connectionId*/, long long /*timeout*/,
                                         IO_PARAMETER_TRANSACTION_TYPE const& /*transaction*/,
                                         FACE::RETURN_CODE_TYPE::Value& rc) {
    rc = Code::NO_ACTION;
}

void CV_Devmem::Get_Bus_Configuration(long long /*connectionId*/, long long /*timeout*/,
                                      IO_PARAMETER_TRANSACTION_TYPE& /*transaction*/,
                                      FACE::RETURN_CODE_TYPE::Value& rc) {
    rc = Code::NO_ACTION;
}

void CV_Devmem::Get_Connection_Status(long long connectionId, CONNECTION_STATUS_TYPE& status,
                                      FACE::RETURN_CODE_TYPE::Value& rc) {
    Connection_t* const connection = findOpen(connectionId, rc);
    if (connection == nullptr) return;
    status.timestamp = 0;
    status.open = 1;
    status.status = connection->status;
    rc = Code::NO_ERROR;
}

void CV_Devmem::Get_Bus_Status(long long connectionId, unsigned short& status, FACE::RETURN_CODE_TYPE::Value& rc) {
    if (find(connectionId) == nullptr) {
        rc = Code::INVALID_PARAM;
        return;
    }
    status = 0;
    rc = Code::NO_ERROR;
}

void CV_Devmem::Register_Notification_Event(long long connectionId, IO_Callback& /*callback*/,
                                            FACE::RETURN_CODE_TYPE::Value& rc) {
    if (findOpen(connectionId, rc) != nullptr) rc = Code::NO_ACTION;
}

void CV_Devmem::Unregister_Notification_Event(long long connectionId, FACE::RETURN_CODE_TYPE::Value& rc) {
    rc = find(connectionId) == nullptr ? Code::INVALID_PARAM : Code::NO_ACTION;
}

}  // namespace IOSS
}  // namespace FACE
