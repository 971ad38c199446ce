#ifndef TESTS_FACE_TSS_TEST_SUPPORT_H
#define TESTS_FACE_TSS_TEST_SUPPORT_H

// Helpers of the transport tests: connections files, a transport made in
// one call, bounded waiting, the sample values that test processes
// exchange, and the shared-memory files a test leaves behind.
//
// DDS domains: every test case that creates participants uses its own
// domain id from the constants below (10..39), so parallel test runs never
// see each other's traffic.

#include "FACE/CV_Config.h"
#include "FACE/CV_TSS.h"
#include "aspn2_msgs/UTCTime.h"

#include "ConfigTestSupport.h"

#include <dirent.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace tss_test {

using RC = FACE::RETURN_CODE_TYPE::Value;
using UTCTime = aspn2_msgs::idl::UTCTime;
using TypedUtc = FACE::TSS::Details::CV_TypedTS<UTCTime>;

// Domain ids, one per test case that creates participants.
enum Domain : unsigned {
    kSettingsDomain = 10,
    kLowerCaseDomain = 11,
    kTransportsDomain = 12,
    kConnectionIdsDomain = 13,
    kConnectionFailuresDomain = 14,
    kContainerOnceDomain = 15,
    kHexDomain = 16,  // the tests write it as "0x10" and "020"
    kUnregisterDomain = 17,
    kTypedCodesDomain = 18,
    kTypedFailuresDomain = 19,
    kInProcessDomain = 20,
    kUdpToTestDomain = 21,
    kUdpFromTestDomain = 22,
    kShmToTestDomain = 23,
    kShmFromTestDomain = 24,
    kBackFillDomain = 25,
    kShutdownDomain = 26,
    kTcpDomain = 27,
    kCommandDomain = 28,
    kNoBackFillDomain = 29,
};

// Fast DDS reads a profiles file named by this variable (and one in the
// working directory, which ctest makes private to each test): no test may
// depend on a developer's profiles.
inline void neutraliseProfiles() { ::unsetenv("FASTRTPS_DEFAULT_PROFILES_FILE"); }

// The "FastRtps" container's values; a parameter in `omit` is left out.
struct Settings {
    std::string domainId = "10";
    std::string historyDepth = "10";
    std::string useBestEffort = "false";
    std::string backFillHistory = "false";
    std::string useTransport = "UDP";
    std::string tcpAddress = "127.0.0.1";
    std::string tcpPort = "5100";
    std::vector<std::string> omit;

    static Settings on(unsigned domain, std::string transport = "UDP") {
        Settings s;
        s.domainId = std::to_string(domain);
        s.useTransport = std::move(transport);
        return s;
    }
};

inline std::string fastRtpsContainer(Settings const& s) {
    std::string params;
    auto add = [&](char const* name, std::string const& value) {
        for (std::string const& o : s.omit) {
            if (o == name) return;
        }
        params += std::string("<") + name + ">" + value + "</" + name + ">";
    };
    add("DomainId", s.domainId);
    add("HistoryDepth", s.historyDepth);
    add("UseBestEffort", s.useBestEffort);
    add("BackFillHistory", s.backFillHistory);
    add("UseTransport", s.useTransport);
    add("TcpAddress", s.tcpAddress);
    add("TcpPort", s.tcpPort);
    return face_test::container("Transport", "FastRtps", params);
}

inline std::string connection(std::string const& name, std::string const& type,
                              std::string const& pubSubType) {
    std::string params;
    if (!type.empty()) params += "<TopicType>" + type + "</TopicType>";
    if (!pubSubType.empty()) params += "<PubSubType>" + pubSubType + "</PubSubType>";
    return face_test::container("Connection", name, params);
}

// The connection "UTCTime" (and any extra containers).
inline std::string connectionsFile(Settings const& s, std::string const& extra = "") {
    return face_test::document(fastRtpsContainer(s) +
                               connection("UTCTime", "aspn2_msgs::idl::UTCTime", "UTCTimePubSubType") + extra);
}

// A CV_Config that counts the handles opened and closed through it.
class CountingConfig : public FACE::Configuration {
public:
    int opens = 0;
    int closes = 0;

    void Initialize(FACE::String const& path, RC& rc) override { m_inner.Initialize(path, rc); }
    void Open(FACE::String const& name, int& handle, RC& rc) override {
        m_inner.Open(name, handle, rc);
        if (rc == FACE::RETURN_CODE_TYPE::NO_ERROR) ++opens;
    }
    void Get_Size(int handle, FACE::String const& name, int& size, RC& rc) override {
        m_inner.Get_Size(handle, name, size, rc);
    }
    void Read(int handle, FACE::String const& name, void* buffer, int size, int& bytes, RC& rc) override {
        m_inner.Read(handle, name, buffer, size, bytes, rc);
    }
    void Write(int handle, FACE::String const& name, void* buffer, int size, int& bytes, RC& rc) override {
        m_inner.Write(handle, name, buffer, size, bytes, rc);
    }
    void Seek(int handle, WHENCE_TYPE::Value whence, int offset, RC& rc) override {
        m_inner.Seek(handle, whence, offset, rc);
    }
    void Close(int handle, RC& rc) override {
        m_inner.Close(handle, rc);
        if (rc == FACE::RETURN_CODE_TYPE::NO_ERROR) ++closes;
    }

private:
    FACE::CV_Config m_inner;
};

// A transport with its configuration injected and Initialize called.
struct Transport {
    std::shared_ptr<FACE::TSS::CV_TSS> tss;
    RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
};

inline Transport makeTransport(std::string const& file, std::string const& name = "TssTest",
                               std::shared_ptr<FACE::Configuration> config = nullptr) {
    Transport t;
    t.tss = std::make_shared<FACE::TSS::CV_TSS>(name);
    RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
    if (!config) config = std::make_shared<FACE::CV_Config>();
    t.tss->Set_Reference("", config, 0, rc);
    if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        t.rc = rc;
        return t;
    }
    t.tss->Initialize(FACE::String(file.c_str()), t.rc);
    return t;
}

inline long long createConnection(FACE::TSS::CV_TSS& tss, char const* name, RC& rc) {
    long long id = -7;
    int untouched = 0;
    tss.Create_Connection(FACE::String(name), -1, id, untouched, rc);
    return id;
}

inline std::shared_ptr<TypedUtc> typedOver(std::shared_ptr<FACE::TSS::CV_TSS> const& tss) {
    auto typed = std::make_shared<TypedUtc>();
    RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
    typed->Set_Reference("", tss, 0, rc);
    return rc == FACE::RETURN_CODE_TYPE::NO_ERROR ? typed : nullptr;
}

// Polls `done` every 2 ms until it holds or `timeout` passes.
inline bool waitFor(std::function<bool()> const& done,
                    std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    auto const deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The sample number `i` that test processes exchange: every field derived
// from i, so the receiver can check that nothing was changed on the way.
inline UTCTime sampleNumber(long long i) {
    UTCTime m;
    m.header().seq_num(i);
    m.header().timestamp_arrival().sec(1'700'000'000 + i);
    m.header().timestamp_arrival().nsec(static_cast<int>(i % 1'000'000'000));
    m.header().timestamp_arrival().time_code(2);
    m.header().timestamp_valid().sec(1'700'000'000 + 2 * i);
    m.header().timestamp_valid().nsec(123456789);
    m.header().timestamp_valid().time_code(3);
    m.header().device_id(0x012D0305);
    m.gps_tow_sec(static_cast<int>(i * 7));
    m.gps_tow_nsec(0.25 * static_cast<double>(i));
    m.gps_week(2300 + static_cast<int>(i));
    m.utc_tod_sec(-static_cast<int>(i));
    m.utc_tod_nsec(1e-9 * static_cast<double>(i));
    m.a1(-18.5);
    m.covariance()[0] = {1.0 + static_cast<double>(i), 2.0};
    m.covariance()[1] = {3.0, -4.0e300};
    return m;
}

// The text of one QoS list, "name=value,name=value,...".
inline std::string qosText(FACE::Sequence<FACE::TSS::QoS_Element> const& qos) {
    std::ostringstream out;
    for (unsigned i = 0; i < qos.length(); ++i) {
        if (i > 0) out << ",";
        out << qos[i].name << "=" << qos[i].value;
    }
    return out.str();
}

// --- Shared memory files -----------------------------------------------

inline std::set<std::string> shmEntries() {
    std::set<std::string> names;
    if (DIR* dir = ::opendir("/dev/shm")) {
        while (dirent* e = ::readdir(dir)) {
            std::string const n = e->d_name;
            if (n != "." && n != "..") names.insert(n);
        }
        ::closedir(dir);
    }
    return names;
}

// Shared-memory segments that process `pid` ("self" for this one) maps now.
inline std::set<std::string> mappedShmSegments(std::string const& pid = "self") {
    std::set<std::string> names;
    std::ifstream maps("/proc/" + pid + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::size_t const at = line.find("/dev/shm/");
        if (at != std::string::npos) {
            std::string name = line.substr(at + 9);
            std::size_t const space = name.find(' ');
            if (space != std::string::npos) name.resize(space);
            names.insert(name);
        }
    }
    return names;
}

// Files in /dev/shm that belong to `domain`: the transport's port files are
// named after the port numbers, 7400 + 250 * domain + 0..249.
inline std::vector<std::string> shmFilesOfDomain(unsigned domain) {
    std::vector<std::string> found;
    unsigned const first = 7400 + 250 * domain;
    for (std::string const& name : shmEntries()) {
        std::size_t const at = name.find("fastrtps_port");
        if (at == std::string::npos) continue;
        unsigned const port = static_cast<unsigned>(std::strtoul(name.c_str() + at + 13, nullptr, 10));
        if (port >= first && port < first + 250) found.push_back(name);
    }
    return found;
}

// Removes what a test leaves in /dev/shm (so one failure does not spoil
// later runs) and returns the names it removed.
inline std::vector<std::string> removeLeftovers(unsigned domain, std::set<std::string> const& segments) {
    std::vector<std::string> left = shmFilesOfDomain(domain);
    std::set<std::string> const now = shmEntries();
    for (std::string const& s : segments) {
        for (std::string const& suffix : {std::string(), std::string("_el"), std::string("_sl")}) {
            if (now.count(s + suffix) != 0) left.push_back(s + suffix);
        }
    }
    for (std::string const& name : left) ::unlink(("/dev/shm/" + name).c_str());
    return left;
}

}  // namespace tss_test

#endif  // TESTS_FACE_TSS_TEST_SUPPORT_H
