// One running VICTORY service inside the services library: keeps the latest
// told values and the active faults, sends them as a data message on the
// data bus once per update period, and serves the management port.
#ifndef PLATFORM_VICTORY_VICTORYSERVICE_H
#define PLATFORM_VICTORY_VICTORYSERVICE_H

#include <netinet/in.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/victory/VictoryConfig.h"
#include "platform/victory/VictoryDataMessage.h"
#include "platform/victory/victory.h"

namespace victory {

// What a service holds at one moment (for tests and diagnostics).
struct ServiceSnapshot {
    std::array<VictoryValue, 3> values{};  // latest told, in tell order
    std::optional<VictoryTime> time;
    std::optional<std::string> mgrs;
    std::uint32_t updatePeriodMs = 0;    // from the VCL in force
    std::chrono::nanoseconds period{0};  // interval between data messages
    std::string vcl;                     // the VCL text in force
    bool started = false;
    std::uint64_t messagesSent = 0;
    std::uint64_t tellCount = 0;
    std::uint16_t managementPort = 0;
};

class Service {
public:
    // Called with the new VCL text after a management request replaced it;
    // returns 0 when the text was stored.
    using VclSaver = std::function<int(const std::string& newVcl)>;

    // Most characters kept of an MGRS text and of a fault description.
    static constexpr std::size_t kMaxMgrsLength = 63;
    static constexpr std::size_t kMaxDescriptionLength = 255;

    // Creates a stopped service: parses both texts and opens (and for the
    // management port, binds) its sockets. Returns null with a reason in
    // `error` on a malformed text, a NaN or negative minimum period, or a
    // socket failure. `source` identifies the service in its messages.
    static std::unique_ptr<Service> create(ServiceKind kind, const std::string& source, const char* configText,
                                           double minPeriodSeconds, const char* vclText, std::string& error);

    // Stops the threads (promptly, whatever the period) and closes the sockets.
    ~Service();

    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    ServiceKind kind() const { return m_kind; }

    void setVclSaver(VclSaver saver);

    // Replaces the latest values. Null records store the placeholder
    // {0, +inf, INVALID}; a null time clears the time. `mgrs` null: no MGRS.
    void tell(const VictoryValue* a, const VictoryValue* b, const VictoryValue* c, const char* mgrs,
              const VictoryTime* time);

    // Starts the sender and management threads; false when they could not be
    // created. A second start does nothing and returns true.
    bool start();

    // Adds a fault and returns its id (1, 2, ... per service).
    int addFault(const char* description, bool acknowledged, int severity, int category, int action);
    // Removes a fault; unknown ids are ignored.
    void removeFault(int id);

    ServiceSnapshot snapshot() const;
    std::vector<FaultRecord> faults() const;

private:
    Service(ServiceKind kind, std::string source, ServiceConfig config, double minPeriodSeconds);

    void sendLoop();
    void managementLoop();
    void handleManagementRequest(const char* data, std::size_t size, const sockaddr_in& from);
    DataMessage buildMessageLocked();
    std::string describeLocked() const;

    const ServiceKind m_kind;
    const std::string m_source;
    const ServiceConfig m_config;
    const double m_minPeriodSeconds;
    sockaddr_in m_destination{};

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_periodChanged = false;
    bool m_started = false;

    std::array<VictoryValue, 3> m_values{};
    std::optional<VictoryTime> m_time;
    std::optional<std::string> m_mgrs;
    std::uint64_t m_tellCount = 0;
    std::optional<TellStamp> m_told;  // reception of the latest tell
    std::string m_vcl;
    std::uint32_t m_updatePeriodMs = 0;
    std::chrono::nanoseconds m_period{0};
    std::uint64_t m_seq = 0;
    std::uint64_t m_sent = 0;
    bool m_sendErrorReported = false;
    std::map<int, FaultRecord> m_faults;
    int m_nextFaultId = 1;
    VclSaver m_saver;

    int m_dataSocket = -1;
    int m_managementSocket = -1;
    int m_wakeFd = -1;  // eventfd that wakes the management thread at stop
    std::thread m_sender;
    std::thread m_manager;
};

}  // namespace victory

#endif  // PLATFORM_VICTORY_VICTORYSERVICE_H
