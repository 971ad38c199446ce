#include "platform/victory/VictoryService.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <tinyxml2.h>

#include "platform/victory/SoapFault.h"

namespace victory {
namespace {

constexpr VictoryValue kPlaceholder{0.0, INFINITY, VPOSC_BASIS_INVALID};

std::string errnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

std::string endpoint(const sockaddr_in& a) {
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

std::unique_ptr<Service> Service::create(ServiceKind kind, const std::string& source, const char* configText,
                                         double minPeriodSeconds, const char* vclText, std::string& error) {
    ServiceConfig config;
    if (!parseServiceConfig(configText, config, error)) return nullptr;
    std::uint32_t periodMs = 0;
    if (!parseVclUpdatePeriod(vclText, periodMs, error)) return nullptr;
    if (std::isnan(minPeriodSeconds) || minPeriodSeconds < 0) {
        error = "minimum update period is negative or NaN";
        return nullptr;
    }

    std::unique_ptr<Service> s(new Service(kind, source, config, minPeriodSeconds));
    s->m_vcl = vclText;
    s->m_updatePeriodMs = periodMs;
    s->m_period = effectiveUpdatePeriod(periodMs, minPeriodSeconds);

    s->m_destination.sin_family = AF_INET;
    s->m_destination.sin_port = htons(config.dataPort);
    inet_pton(AF_INET, config.dataAddress.c_str(), &s->m_destination.sin_addr);

    s->m_dataSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s->m_dataSocket < 0) {
        error = errnoText("data bus socket");
        return nullptr;
    }
    const int on = 1;
    // Allows a broadcast destination; harmless for any other address.
    ::setsockopt(s->m_dataSocket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);

    if (config.managementPort != 0) {
        s->m_managementSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (s->m_managementSocket < 0) {
            error = errnoText("management socket");
            return nullptr;
        }
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(config.managementPort);
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(s->m_managementSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
            error = errnoText(("management port 127.0.0.1:" + std::to_string(config.managementPort)).c_str());
            return nullptr;
        }
        s->m_wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (s->m_wakeFd < 0) {
            error = errnoText("eventfd");
            return nullptr;
        }
    }
    return s;
}

Service::Service(ServiceKind kind, std::string source, ServiceConfig config, double minPeriodSeconds)
    : m_kind(kind), m_source(std::move(source)), m_config(std::move(config)), m_minPeriodSeconds(minPeriodSeconds) {
    m_values.fill(kPlaceholder);
}

Service::~Service() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        // The counter cannot overflow with one write; the result is irrelevant.
        [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    }
    if (m_sender.joinable()) m_sender.join();
    if (m_manager.joinable()) m_manager.join();
    closeFd(m_dataSocket);
    closeFd(m_managementSocket);
    closeFd(m_wakeFd);
}

void Service::setVclSaver(VclSaver saver) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_saver = std::move(saver);
}

void Service::tell(const VictoryValue* a, const VictoryValue* b, const VictoryValue* c, const char* mgrs,
                   const VictoryTime* time) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_values[0] = a != nullptr ? *a : kPlaceholder;
    m_values[1] = b != nullptr ? *b : kPlaceholder;
    m_values[2] = c != nullptr ? *c : kPlaceholder;
    if (mgrs != nullptr && *mgrs != '\0') {
        m_mgrs = std::string(mgrs, strnlen(mgrs, kMaxMgrsLength));
    } else {
        m_mgrs.reset();
    }
    if (time != nullptr) {
        m_time = *time;
    } else {
        m_time.reset();
    }
    ++m_tellCount;
    m_told = TellStamp{m_tellCount, static_cast<std::int64_t>(now.tv_sec), static_cast<std::int32_t>(now.tv_nsec)};
}

bool Service::start() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_started) return true;
    try {
        // After a failed start only the missing thread is created on a retry;
        // the destructor joins whatever did start.
        if (!m_sender.joinable()) m_sender = std::thread(&Service::sendLoop, this);
        if (m_managementSocket >= 0 && !m_manager.joinable()) {
            m_manager = std::thread(&Service::managementLoop, this);
        }
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "victory: %s: cannot start: %s\n", describeLocked().c_str(), e.what());
        return false;
    }
    m_started = true;
    return true;
}

int Service::addFault(const char* description, bool acknowledged, int severity, int category, int action) {
    FaultRecord f;
    if (description != nullptr) {
        f.description = std::string(description, strnlen(description, kMaxDescriptionLength));
    }
    f.acknowledged = acknowledged;
    f.severity = severity;
    f.category = category;
    f.action = action;

    std::lock_guard<std::mutex> lock(m_mutex);
    // Ids count up from 1; after INT_MAX they start over, skipping ids that
    // are still active.
    while (m_faults.count(m_nextFaultId) != 0) {
        m_nextFaultId = m_nextFaultId == INT_MAX ? 1 : m_nextFaultId + 1;
    }
    f.id = m_nextFaultId;
    m_nextFaultId = m_nextFaultId == INT_MAX ? 1 : m_nextFaultId + 1;
    m_faults.emplace(f.id, f);
    return f.id;
}

void Service::removeFault(int id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.erase(id);
}

ServiceSnapshot Service::snapshot() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    ServiceSnapshot s;
    s.values = m_values;
    s.time = m_time;
    s.mgrs = m_mgrs;
    s.updatePeriodMs = m_updatePeriodMs;
    s.period = m_period;
    s.vcl = m_vcl;
    s.started = m_started;
    s.messagesSent = m_sent;
    s.tellCount = m_tellCount;
    s.managementPort = m_config.managementPort;
    return s;
}

std::vector<FaultRecord> Service::faults() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<FaultRecord> out;
    out.reserve(m_faults.size());
    for (const auto& entry : m_faults) out.push_back(entry.second);
    return out;
}

std::string Service::describeLocked() const {
    std::string text = serviceKindName(m_kind);
    text += " service";
    if (!m_config.name.empty()) text += " '" + m_config.name + "'";
    return text;
}

DataMessage Service::buildMessageLocked() {
    DataMessage m;
    m.kind = m_kind;
    m.source = m_source;
    m.seq = ++m_seq;
    const std::vector<ValueSpec> specs = valueSpecs(m_kind);
    for (std::size_t i = 0; i < specs.size() && i < m_values.size(); ++i) {
        m.values.push_back(NamedValue{specs[i].name, specs[i].unit, m_values[i]});
    }
    m.mgrs = m_mgrs;
    m.time = m_time;
    m.told = m_told;
    m.faultCount = m_faults.size();
    for (const auto& entry : m_faults) {
        if (m.faults.size() == kMaxListedFaults) break;
        m.faults.push_back(entry.second);
    }
    return m;
}

void Service::sendLoop() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(m_mutex);
    Clock::time_point last = Clock::now();  // time of the last message (or of the start)
    while (!m_stop) {
        const Clock::time_point due = last + m_period;
        const bool woken = m_wake.wait_until(lock, due, [this] { return m_stop || m_periodChanged; });
        if (m_stop) break;
        if (woken) {
            // A new period counts from the last message; the loop re-computes
            // the due time with it.
            m_periodChanged = false;
            continue;
        }
        const std::string text = formatDataMessage(buildMessageLocked());
        lock.unlock();
        const ssize_t n = ::sendto(m_dataSocket, text.data(), text.size(), MSG_DONTWAIT,
                                   reinterpret_cast<const sockaddr*>(&m_destination), sizeof m_destination);
        const int sendErrno = errno;
        lock.lock();
        if (n == static_cast<ssize_t>(text.size())) {
            ++m_sent;
        } else if (!m_sendErrorReported) {
            // Reported once per service: a missing network must not flood stderr.
            m_sendErrorReported = true;
            std::fprintf(stderr, "victory: %s: cannot send to %s: %s\n", describeLocked().c_str(),
                         endpoint(m_destination).c_str(), std::strerror(sendErrno));
        }
        // Keep the rhythm; after a long stall start over from now instead of
        // sending a burst.
        last = due;
        const Clock::time_point now = Clock::now();
        if (now - last > m_period) last = now;
    }
}

void Service::managementLoop() {
    std::vector<char> buffer(65536);
    pollfd fds[2] = {{m_managementSocket, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "victory: management poll failed: %s\n", std::strerror(errno));
            return;
        }
        if (fds[1].revents != 0) return;  // stop requested
        if ((fds[0].revents & POLLIN) == 0) continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = ::recvfrom(m_managementSocket, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) continue;  // EAGAIN or a transient error: poll again
        try {
            handleManagementRequest(buffer.data(), static_cast<std::size_t>(n), from);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "victory: management request failed: %s\n", e.what());
        }
    }
}

void Service::handleManagementRequest(const char* data, std::size_t size, const sockaddr_in& from) {
    std::uint32_t periodMs = 0;
    const std::string problem = checkVclRequest(data, size, periodMs);
    if (!problem.empty()) {
        std::string detail;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            detail = describeLocked();
        }
        detail += ", management port 127.0.0.1:" + std::to_string(m_config.managementPort) + ", request of " +
                  std::to_string(size) + " bytes from " + endpoint(from) + " ignored";
        writeToStdout(senderFaultText(problem, detail));
        return;
    }

    const std::string vcl(data, size);
    VclSaver saver;
    std::string who;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_vcl = vcl;
        m_updatePeriodMs = periodMs;
        m_period = effectiveUpdatePeriod(periodMs, m_minPeriodSeconds);
        m_periodChanged = true;
        saver = m_saver;
        who = describeLocked();
    }
    m_wake.notify_all();
    // The saver runs without the lock so that it may call back into the
    // library (tells, faults) without deadlock.
    if (saver) {
        const int result = saver(vcl);
        if (result != 0) {
            std::fprintf(stderr, "victory: %s: the new VCL is in force but was not saved (result %d)\n", who.c_str(),
                         result);
        }
    }
}

}  // namespace victory
