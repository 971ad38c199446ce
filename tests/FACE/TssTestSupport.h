#ifndef TESTS_FACE_TSS_TEST_SUPPORT_H
#define TESTS_FACE_TSS_TEST_SUPPORT_H

// Helpers of the transport tests: connections files, a transport made in
// one call, bounded waiting, received samples and the sample values that
// test processes exchange.
//
// Every test case that creates participants uses its own DDS domain id
// (the constants below, 10..39): parallel runs never see each other.

#include "FACE/CV_Config.h"
#include "FACE/CV_TSS.h"
#include "aspn2_msgs/UTCTime.h"

#include "ConfigTestSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tss_test {

using RC = FACE::RETURN_CODE_TYPE::Value;
using UTCTime = aspn2_msgs::idl::UTCTime;
using TypedUtc = FACE::TSS::Details::CV_TypedTS<UTCTime>;
using QosList = FACE::Sequence<FACE::TSS::QoS_Element>;

enum Domain : unsigned {
    kSettingsDomain = 10,
    kConnectionIdsDomain = 13,
    kConnectionFailuresDomain = 14,
    kHexDomain = 16 /* "0x10" */,
    kUnregisterDomain = 17,
    kTypedCodesDomain = 18,
    kTypedFailuresDomain = 19,
    kUdpDomain = 21,
    kShmDomain = 24,
    kTcpDomain = 27,
    kCommandDomain = 28,
};

// No test may depend on a developer's Fast DDS profiles file (the one in
// the working directory is excluded by ctest's private directories).
inline void neutraliseProfiles() { ::unsetenv("FASTRTPS_DEFAULT_PROFILES_FILE"); }

// The "FastRtps" container's values; a parameter named in `omit` is left out.
struct Settings {
    std::string domainId, historyDepth = "10", useBestEffort = "false", backFillHistory = "false", useTransport = "UDP",
                          tcpAddress = "127.0.0.1", tcpPort = "5100";
    std::vector<std::string> omit;

    static Settings on(unsigned domain, std::string transport = "UDP") {
        Settings s;
        s.domainId = std::to_string(domain);
        s.useTransport = std::move(transport);
        return s;
    }
};

inline std::string connection(std::string const& name, std::string const& type, std::string const& pubSubType) {
    std::string params;
    if (!type.empty()) params += "<TopicType>" + type + "</TopicType>";
    if (!pubSubType.empty()) params += "<PubSubType>" + pubSubType + "</PubSubType>";
    return face_test::container("Connection", name, params);
}

// "FastRtps", the connection "UTCTime" and any `extra` containers.
inline std::string connectionsFile(Settings const& s, std::string const& extra = "") {
    std::string params;
    std::pair<char const*, std::string const*> const values[] = {{"DomainId", &s.domainId},
                                                                 {"HistoryDepth", &s.historyDepth},
                                                                 {"UseBestEffort", &s.useBestEffort},
                                                                 {"BackFillHistory", &s.backFillHistory},
                                                                 {"UseTransport", &s.useTransport},
                                                                 {"TcpAddress", &s.tcpAddress},
                                                                 {"TcpPort", &s.tcpPort}};
    for (auto const& [name, value] : values) {
        if (std::find(s.omit.begin(), s.omit.end(), name) == s.omit.end()) {
            params += std::string("<") + name + ">" + *value + "</" + name + ">";
        }
    }
    return face_test::document(face_test::container("Transport", "FastRtps", params) +
                               connection("UTCTime", "aspn2_msgs::idl::UTCTime", "UTCTimePubSubType") + extra);
}

// A transport with its configuration injected and Initialize called.
struct Transport {
    std::shared_ptr<FACE::TSS::CV_TSS> tss;
    RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
};

inline Transport makeTransport(std::string const& file, std::string const& name = "TssTest",
                               std::shared_ptr<FACE::Configuration> config = nullptr) {
    Transport t;
    t.tss = std::make_shared<FACE::TSS::CV_TSS>(name);
    t.tss->Set_Reference("", config ? config : std::make_shared<FACE::CV_Config>(), 0, t.rc);
    if (t.rc == FACE::RETURN_CODE_TYPE::NO_ERROR) t.tss->Initialize(FACE::String(file.c_str()), t.rc);
    return t;
}

inline long long createConnection(FACE::TSS::CV_TSS& tss, char const* name, RC& rc) {
    long long id = -7;
    int untouched = 0;
    tss.Create_Connection(FACE::String(name), -1, id, untouched, rc);
    return id;
}

template <class T = UTCTime>
std::shared_ptr<FACE::TSS::Details::CV_TypedTS<T>> typedOver(std::shared_ptr<FACE::TSS::CV_TSS> const& tss) {
    auto typed = std::make_shared<FACE::TSS::Details::CV_TypedTS<T>>();
    RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
    typed->Set_Reference("", tss, 0, rc);
    return rc == FACE::RETURN_CODE_TYPE::NO_ERROR ? typed : nullptr;
}

// Polls `done` every 2 ms until it holds or `timeout` passes.
inline bool waitFor(std::function<bool()> const& done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    auto const deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// "name=value,name=value,..." of a QoS list.
inline std::string qosText(QosList const& qos) {
    std::ostringstream out;
    for (unsigned i = 0; i < qos.length(); ++i) out << (i > 0 ? "," : "") << qos[i].name << "=" << qos[i].value;
    return out.str();
}

inline void ignoreSample(long long, long long, UTCTime const&, FACE::TSS::HEADER_TYPE const&, QosList const&, RC&) {}

// Samples received by a callback, copied out under a lock.
template <class T = UTCTime>
struct Inbox {
    struct Entry {
        long long connection, transaction;
        T message;
        FACE::TSS::HEADER_TYPE header;
        std::string qos;
    };

    FACE::TSS::Read_Callback<T> callback() {
        return [this](long long c, long long t, T const& m, FACE::TSS::HEADER_TYPE const& h, QosList const& q, RC&) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_entries.push_back({c, t, m, h, qosText(q)});
        };
    }
    std::vector<Entry> all() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }
    std::size_t size() { return all().size(); }

private:
    std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

// Sample number `i`: fields derived from i, so that the receiver can tell
// whether anything changed on the way.
inline UTCTime sampleNumber(long long i) {
    UTCTime m;
    m.header().seq_num(i);
    m.header().timestamp_valid().sec(1'700'000'000 + 2 * i);
    m.gps_tow_sec(static_cast<int>(i * 7));
    m.gps_tow_nsec(0.25 * static_cast<double>(i));
    m.covariance()[1] = {3.0 + static_cast<double>(i), -4.0e300};
    return m;
}

}  // namespace tss_test

#endif  // TESTS_FACE_TSS_TEST_SUPPORT_H
