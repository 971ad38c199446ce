// One-way latency and sustained rate of PositionVelocityAttitude samples
// between two processes, through the transport services (CV_TSS and
// CV_TypedTS) and, as the baseline, through a bare Fast DDS publisher and
// subscriber of the same legacy interface with the same participant
// settings and QoS. Both are measured in the same run, in alternating
// order, over UDP on the loopback interface and over shared memory.
//
//   transport_bench [--rounds R] [--samples N] [--rate-ms M] [--domain D] [--security | --guard]
//
// Domains D .. D+30 are used (default 200), away from the tests' domains.
// Every participant, the bare ones included, receives through the datagram
// guard (FACE/RtpsGuardTransport.h).
//
// With --guard the stacks compared are the bare stack without the guard
// ("noguard", the baseline, made only here) and with it ("guard"); the
// subscriber also reports its CPU time per received sample, and the guard's
// own work per message is timed in this process (domains D .. D+30, default
// 200).
//
// With --security the stacks compared are the transport services without
// DDS Security ("plain", the baseline) and with it, submessages signed
// ("signed") or encrypted ("encrypted"), from a demo PKI that
// scripts/make-pki makes for the run (the publisher is the navigator, the
// subscriber the server); domains D .. D+8 (default 190).
//
// Each run: this process publishes, a child process (this program again)
// subscribes. After a warm-up, N samples go out at 1 kHz, each carrying
// its send time (steady clock, which both processes share) so that the
// child measures the one-way latency of each; then samples go out back to
// back for M ms and the child counts what arrives. Results are printed as
// a table with the FACE/bare ratios (medians over the rounds), followed by
// the time the FACE layer's own per-sample work takes, measured in this
// process without any transport, which the two-process numbers on a busy
// machine cannot resolve.

#include "FACE/CV_Config.h"
#include "FACE/CV_TSS.h"
#include "FACE/DatagramGuardStatus.h"
#include "FACE/RtpsGuardTransport.h"
#include "aspn2_msgs/PositionVelocityAttitude.h"
#include "aspn2_msgs/PositionVelocityAttitudePubSubTypes.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RtpsMessage.h"
#include "tests/support/SecurityPki.h"
#include "tests/support/TempDir.h"

#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/shared_mem/SharedMemTransportDescriptor.h>
#include <fastrtps/Domain.h>
#include <fastrtps/attributes/ParticipantAttributes.h>
#include <fastrtps/attributes/PublisherAttributes.h>
#include <fastrtps/attributes/SubscriberAttributes.h>
#include <fastrtps/participant/Participant.h>
#include <fastrtps/publisher/Publisher.h>
#include <fastrtps/publisher/PublisherListener.h>
#include <fastrtps/subscriber/SampleInfo.h>
#include <fastrtps/subscriber/Subscriber.h>
#include <fastrtps/subscriber/SubscriberListener.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using PVA = aspn2_msgs::idl::PositionVelocityAttitude;
using Clock = std::chrono::steady_clock;
using RC = FACE::RETURN_CODE_TYPE::Value;

// Phases, carried in the header's device id.
enum Phase : int { kWarmUp = 0, kLatency = 1, kRate = 2, kEnd = 3 };

constexpr std::int32_t kHistoryDepth = 10;
char const* const kTopic = "PositionVelocityAttitude";

long long nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

PVA makeSample(Phase phase, long long index) {
    PVA m;
    m.header().seq_num(index);
    m.header().device_id(phase);
    m.position().latitude(0.6);
    m.position().longitude(-1.2);
    m.position().altitude(250.0);
    for (auto& row : m.covariance()) row.fill(1e-3);
    return m;
}

void stamp(PVA& m) {
    long long const t = nowNs();
    m.header().timestamp_arrival().sec(t / 1'000'000'000);
    m.header().timestamp_arrival().nsec(static_cast<std::int32_t>(t % 1'000'000'000));
}

// CPU time of this process (user and system), nanoseconds.
long long processCpuNs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto ns = [](timeval const& t) { return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_usec * 1000LL; };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

long long sentAt(PVA const& m) {
    return m.header().timestamp_arrival().sec() * 1'000'000'000 + m.header().timestamp_arrival().nsec();
}

// --- The two stacks -------------------------------------------------------

// Sends and receives through one stack; `receive` is called on the
// transport's reception thread with the sample and its arrival time.
class Stack {
public:
    virtual ~Stack() = default;
    virtual bool publish() = 0;
    virtual bool subscribe(std::function<void(PVA const&, long long)> receive) = 0;
    virtual bool write(PVA const& m) = 0;
    virtual int matched() const = 0;
};

// Through the transport services.
class FaceStack : public Stack {
public:
    FaceStack(std::string const& file) {
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        m_tss = std::make_shared<FACE::TSS::CV_TSS>("Bench");
        m_tss->Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
        m_tss->Initialize(FACE::String(file.c_str()), rc);
        if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) return;
        int unused = 0;
        m_tss->Create_Connection(kTopic, -1, m_id, unused, rc);
        m_typed = std::make_shared<FACE::TSS::Details::CV_TypedTS<PVA>>();
        m_typed->Set_Reference("", m_tss, 0, rc);
    }
    ~FaceStack() override {
        m_typed.reset();
        m_tss.reset();
    }
    bool publish() override {
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        m_typed->Register_Sender(m_id, rc);
        return rc == FACE::RETURN_CODE_TYPE::NO_ERROR;
    }
    bool subscribe(std::function<void(PVA const&, long long)> receive) override {
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        m_typed->Register_Callback(
            m_id,
            [receive](long long, long long, PVA const& m, FACE::TSS::HEADER_TYPE const&,
                      FACE::Sequence<FACE::TSS::QoS_Element> const&, RC&) { receive(m, nowNs()); },
            rc);
        return rc == FACE::RETURN_CODE_TYPE::NO_ERROR;
    }
    bool write(PVA const& m) override {
        RC rc = FACE::RETURN_CODE_TYPE::NO_ACTION;
        long long transaction = 0;
        m_typed->Send_Message(m_id, 0, transaction, m, rc);
        return rc == FACE::RETURN_CODE_TYPE::NO_ERROR;
    }
    FACE::TSS::CV_TSS::Connection_t& connection() const {
        return m_tss->connectionMap_mutex_at(FACE::TSS::CV_TSS::connectionKey(m_id));
    }
    int matched() const override {
        FACE::TSS::CV_TSS::Connection_t& c = connection();
        if (c.m_publisherListener) return c.m_publisherListener->matchedCount();
        if (c.m_subscriberListener) return c.m_subscriberListener->matchedCount();
        return 0;
    }

private:
    std::shared_ptr<FACE::TSS::CV_TSS> m_tss;
    std::shared_ptr<FACE::TSS::Details::CV_TypedTS<PVA>> m_typed;
    long long m_id = -1;
};

// Fast DDS alone, set up by hand with the same settings; behind the
// datagram guard unless `guarded` is false (the guard's cost baseline).
class BareStack : public Stack {
public:
    BareStack(std::string const& transport, std::uint32_t domain, bool guarded) {
        using namespace eprosima::fastrtps;
        ParticipantAttributes pa;
        pa.domainId = domain;
        pa.rtps.builtin.discovery_config.leaseDuration = Duration_t(5, 0);
        pa.rtps.setName("BenchBare");
        pa.rtps.useBuiltinTransports = false;
        if (transport == "UDP") {
            eprosima::fastdds::rtps::UDPv4TransportDescriptor udp;
            udp.non_blocking_send = true;
            udp.interfaceWhiteList.emplace_back("127.0.0.1");
            pa.rtps.userTransports.push_back(
                guarded ? std::static_pointer_cast<eprosima::fastdds::rtps::TransportDescriptorInterface>(
                              FACE::TSS::DatagramGuard::protect(udp))
                        : std::make_shared<eprosima::fastdds::rtps::UDPv4TransportDescriptor>(udp));
        } else {
            eprosima::fastdds::rtps::SharedMemTransportDescriptor shm;
            pa.rtps.userTransports.push_back(
                guarded ? std::static_pointer_cast<eprosima::fastdds::rtps::TransportDescriptorInterface>(
                              FACE::TSS::DatagramGuard::protect(shm))
                        : std::make_shared<eprosima::fastdds::rtps::SharedMemTransportDescriptor>(shm));
        }
        m_participant = Domain::createParticipant(pa);
        if (m_participant != nullptr) Domain::registerType(m_participant, &m_type);
    }
    ~BareStack() override {
        if (m_participant != nullptr) eprosima::fastrtps::Domain::removeParticipant(m_participant);
    }
    bool publish() override {
        eprosima::fastrtps::PublisherAttributes a;
        topic(a.topic);
        a.qos.m_reliability.kind = eprosima::fastdds::dds::RELIABLE_RELIABILITY_QOS;
        a.qos.m_durability.kind = eprosima::fastdds::dds::TRANSIENT_LOCAL_DURABILITY_QOS;
        a.historyMemoryPolicy = eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE;
        m_publisher = eprosima::fastrtps::Domain::createPublisher(m_participant, a, &m_publisherListener);
        return m_publisher != nullptr;
    }
    bool subscribe(std::function<void(PVA const&, long long)> receive) override {
        m_subscriberListener.receive = std::move(receive);
        eprosima::fastrtps::SubscriberAttributes a;
        topic(a.topic);
        a.qos.m_reliability.kind = eprosima::fastdds::dds::RELIABLE_RELIABILITY_QOS;
        a.qos.m_durability.kind = eprosima::fastdds::dds::VOLATILE_DURABILITY_QOS;
        a.historyMemoryPolicy = eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE;
        return eprosima::fastrtps::Domain::createSubscriber(m_participant, a, &m_subscriberListener) != nullptr;
    }
    bool write(PVA const& m) override { return m_publisher->write(const_cast<PVA*>(&m)); }
    int matched() const override { return m_publisherListener.matched + m_subscriberListener.matched; }

private:
    static void topic(eprosima::fastrtps::TopicAttributes& t) {
        t.topicName = kTopic;
        t.topicDataType = "aspn2_msgs::idl::PositionVelocityAttitude";
        t.topicKind = eprosima::fastrtps::rtps::NO_KEY;
        t.historyQos.kind = eprosima::fastdds::dds::KEEP_LAST_HISTORY_QOS;
        t.historyQos.depth = kHistoryDepth;
        t.resourceLimitsQos.max_samples = kHistoryDepth;
        t.resourceLimitsQos.max_instances = 1;
        t.resourceLimitsQos.max_samples_per_instance = kHistoryDepth;
        t.resourceLimitsQos.allocated_samples = kHistoryDepth;
    }
    struct PublisherListener : eprosima::fastrtps::PublisherListener {
        void onPublicationMatched(eprosima::fastrtps::Publisher*, eprosima::fastrtps::rtps::MatchingInfo& i) override {
            matched += i.status == eprosima::fastrtps::rtps::MATCHED_MATCHING ? 1 : -1;
        }
        std::atomic<int> matched{0};
    };
    struct SubscriberListener : eprosima::fastrtps::SubscriberListener {
        void onNewDataMessage(eprosima::fastrtps::Subscriber* s) override {
            PVA m;
            eprosima::fastrtps::SampleInfo_t info;
            while (s->takeNextData(&m, &info)) {
                if (info.sampleKind == eprosima::fastrtps::rtps::ALIVE) receive(m, nowNs());
            }
        }
        void onSubscriptionMatched(eprosima::fastrtps::Subscriber*,
                                   eprosima::fastrtps::rtps::MatchingInfo& i) override {
            matched += i.status == eprosima::fastrtps::rtps::MATCHED_MATCHING ? 1 : -1;
        }
        std::function<void(PVA const&, long long)> receive;
        std::atomic<int> matched{0};
    };

    aspn2_msgs::idl::PositionVelocityAttitudePubSubType m_type;
    eprosima::fastrtps::Participant* m_participant = nullptr;
    eprosima::fastrtps::Publisher* m_publisher = nullptr;
    PublisherListener m_publisherListener;
    SubscriberListener m_subscriberListener;
};

std::string connectionsFile(std::string const& transport, std::uint32_t domain) {
    std::ostringstream x;
    x << "<?xml version=\"1.0\"?>\n<CV_Configurations>"
      << "<Transport><Name>FastRtps</Name><Parameters><DomainId>" << domain << "</DomainId><HistoryDepth>"
      << kHistoryDepth << "</HistoryDepth><UseBestEffort>false</UseBestEffort>"
      << "<BackFillHistory>false</BackFillHistory><UseTransport>" << transport
      << "</UseTransport><TcpAddress>127.0.0.1</TcpAddress><TcpPort>5100</TcpPort></Parameters></Transport>"
      << "<Connection><Name>" << kTopic << "</Name><Parameters>"
      << "<TopicType>aspn2_msgs::idl::PositionVelocityAttitude</TopicType>"
      << "<PubSubType>PositionVelocityAttitudePubSubType</PubSubType></Parameters></Connection>"
      << "</CV_Configurations>\n";
    return x.str();
}

std::unique_ptr<Stack> makeStack(std::string const& stack, std::string const& transport, std::uint32_t domain,
                                 std::string const& file) {
    if (stack == "bare" || stack == "guard") return std::make_unique<BareStack>(transport, domain, true);
    if (stack == "noguard") return std::make_unique<BareStack>(transport, domain, false);
    return std::make_unique<FaceStack>(file);
}

// The demo PKI of a --security run; null otherwise.
std::unique_ptr<corvane_test::SecurityPki> g_pki;

// Writes the connections file of `stack` for `role` ("navigator" publishes,
// "server" subscribes): with the security container of its governance for
// "signed" and "encrypted".
void writeConnections(std::string const& path, std::string const& stack, std::string const& transport,
                      std::uint32_t domain, std::string const& role) {
    std::ofstream(path) << connectionsFile(transport, domain);
    if (stack != "signed" && stack != "encrypted") return;
    std::string const plain = path + ".plain";
    std::rename(path.c_str(), plain.c_str());
    corvane_test::SecurityPki::writeSecured(
        plain, path, g_pki->role(role, stack == "signed" ? "governance.smime" : "governance-encrypt.smime"));
}

bool waitFor(std::function<bool()> const& done, std::chrono::milliseconds timeout) {
    auto const deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// --- Subscriber process ------------------------------------------------------

int runSubscriber(std::string const& stackName, std::string const& transport, std::uint32_t domain,
                  std::string const& file) {
    std::mutex mutex;
    std::vector<long long> latencies;
    latencies.reserve(100'000);
    long long rateCount = 0, rateFirst = 0, rateLast = 0;
    long long cpuAtFirst = -1;
    std::atomic<bool> ended{false};
    auto receive = [&](PVA const& m, long long arrived) {
        std::lock_guard<std::mutex> lock(mutex);
        switch (m.header().device_id()) {
            case kLatency:
                if (cpuAtFirst < 0) cpuAtFirst = processCpuNs();
                latencies.push_back(arrived - sentAt(m));
                break;
            case kRate:
                if (rateCount++ == 0) rateFirst = arrived;
                rateLast = arrived;
                break;
            case kEnd:
                ended = true;
                break;
            default:
                break;
        }
    };
    std::unique_ptr<Stack> stack = makeStack(stackName, transport, domain, file);
    if (!stack->subscribe(receive)) return 2;
    if (!waitFor([&] { return stack->matched() > 0; }, std::chrono::seconds(20))) return 3;
    std::printf("READY\n");
    std::fflush(stdout);
    if (!waitFor([&] { return ended.load(); }, std::chrono::seconds(60))) return 3;
    long long const cpu = processCpuNs() - cpuAtFirst;
    stack.reset();
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) {
        return latencies.empty() ? 0LL
                                 : latencies[static_cast<std::size_t>(q * static_cast<double>(latencies.size() - 1))];
    };
    std::printf("RESULT %lld %lld %zu %lld %lld %lld\n", at(0.5), at(0.99), latencies.size(), rateCount,
                rateLast - rateFirst, cpu);
    std::fflush(stdout);
    return 0;
}

// --- Publisher side and the table ----------------------------------------------

struct Result {
    double medianUs = 0, p99Us = 0;
    double sentPerS = 0, receivedPerS = 0;
    std::size_t latencySamples = 0;
    double cpuUsPerSample = 0;  // the subscriber's, latency and rate phases
};

bool runPair(std::string const& self, std::string const& stackName, std::string const& transport, std::uint32_t domain,
             int samples, int rateMs, Result& out) {
    corvane_test::TempDir dir("transport-bench");
    std::string const file = dir.file("connections.xml"), childFile = dir.file("subscriber.xml");
    writeConnections(file, stackName, transport, domain, "navigator");
    writeConnections(childFile, stackName, transport, domain, "server");

    corvane_test::ChildProcess child({self, "--subscriber", stackName, transport, std::to_string(domain), childFile});
    std::unique_ptr<Stack> stack = makeStack(stackName, transport, domain, file);
    if (!stack->publish()) return false;
    auto ready = child.readLine(corvane_test::ChildProcess::Stdout, std::chrono::seconds(20));
    while (ready && *ready != "READY")
        ready = child.readLine(corvane_test::ChildProcess::Stdout, std::chrono::seconds(20));
    if (!ready || !waitFor([&] { return stack->matched() > 0; }, std::chrono::seconds(20))) return false;

    auto paced = [&](Phase phase, int count) {
        auto next = Clock::now();
        for (int i = 0; i < count; ++i) {
            PVA m = makeSample(phase, i);
            stamp(m);
            stack->write(m);
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
        }
    };
    paced(kWarmUp, 300);
    paced(kLatency, samples);

    long long sent = 0;
    PVA m = makeSample(kRate, 0);
    auto const rateEnd = Clock::now() + std::chrono::milliseconds(rateMs);
    auto const rateStart = Clock::now();
    while (Clock::now() < rateEnd) {
        m.header().seq_num(sent);
        if (stack->write(m)) ++sent;
    }
    double const sendSeconds = std::chrono::duration<double>(Clock::now() - rateStart).count();
    PVA end = makeSample(kEnd, 0);
    stack->write(end);

    std::optional<std::string> line;
    while ((line = child.readLine(corvane_test::ChildProcess::Stdout, std::chrono::seconds(60)))) {
        if (line->rfind("RESULT ", 0) == 0) break;
    }
    child.wait(std::chrono::seconds(20));
    stack.reset();
    if (!line) return false;
    std::istringstream in(line->substr(7));
    long long median = 0, p99 = 0, rateCount = 0, rateSpan = 0, cpu = 0;
    in >> median >> p99 >> out.latencySamples >> rateCount >> rateSpan >> cpu;
    std::size_t const received = out.latencySamples + static_cast<std::size_t>(rateCount);
    out.cpuUsPerSample = received > 0 ? static_cast<double>(cpu) / 1000.0 / static_cast<double>(received) : 0.0;
    out.medianUs = static_cast<double>(median) / 1000.0;
    out.p99Us = static_cast<double>(p99) / 1000.0;
    out.sentPerS = static_cast<double>(sent) / sendSeconds;
    out.receivedPerS = rateSpan > 0 ? static_cast<double>(rateCount) / (static_cast<double>(rateSpan) / 1e9) : 0.0;
    return true;
}

// Nanoseconds per sample of the work the FACE layer adds to the bare calls,
// measured in this process: on receipt the header (two uids, the source
// time) and the QoS list plus the callback call; on sending the connection
// lookup and the publisher lock.
std::pair<double, double> faceLayerWorkNs(std::string const& file) {
    FaceStack stack(file);
    constexpr int kRounds = 200'000;
    eprosima::fastrtps::ReaderQos qos;
    eprosima::fastrtps::rtps::GUID_t guid;
    eprosima::fastrtps::rtps::Time_t time(1, 2);
    long long sink = 0;
    FACE::TSS::Read_Callback<PVA> callback =
        [&sink](long long, long long t, PVA const&, FACE::TSS::HEADER_TYPE const& h,
                FACE::Sequence<FACE::TSS::QoS_Element> const& q, RC&) { sink += t + h.sender_id + q.length(); };
    PVA const sample = makeSample(kLatency, 0);
    auto start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        FACE::TSS::HEADER_TYPE header;
        header.sender_id = FACE::TSS::Listeners::GuidToUid(guid);
        header.receiver_id = FACE::TSS::Listeners::GuidToUid(guid);
        header.source_time = time.to_ns();
        FACE::Sequence<FACE::TSS::QoS_Element> const list = FACE::TSS::Listeners::ReaderQosToElements(qos);
        RC rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
        callback(0, i, sample, header, list, rc);
    }
    double const receive = std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kRounds;
    start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        FACE::TSS::CV_TSS::Connection_t& c = stack.connection();
        std::shared_lock<std::shared_mutex> lock(c.m_publisherMutex);
        sink += c.isPublisher() ? 1 : 0;
    }
    double const send = std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kRounds;
    if (sink == 42) std::printf(" ");
    return {receive, send};
}

// The guard's own work per received message, in this process: the check
// and the progress record around it, for messages of the kinds the server
// receives most (a sample of navigation data, a heartbeat with an acknack,
// a participant announcement).
void guardWork() {
    namespace r = corvane_test::rtps;
    std::vector<std::pair<char const*, r::Bytes>> const messages = {
        {"DATA (PVA sample, 348 bytes)", r::message({r::infoDst(), r::infoTs(), r::data(7, r::Bytes(296, 0x11))})},
        {"HEARTBEAT + ACKNACK", r::message({r::infoDst(), r::heartbeat(1, 20), r::acknack(21, 32)})},
        {"announcement with inline QoS, 500 bytes",
         r::message({r::infoTs(), r::data(3, r::Bytes(400, 0x22), true, r::inlineQos({{0x0070, r::Bytes(16, 1)}}))})},
    };
    constexpr int kRounds = 2'000'000;
    std::printf("\nDatagram guard work per message (this process, %d rounds each)\n", kRounds);
    for (auto const& [what, m] : messages) {
        long long sink = 0;
        auto start = Clock::now();
        for (int i = 0; i < kRounds; ++i) {
            sink += static_cast<int>(FACE::TSS::DatagramGuard::checkDatagram(m.data(), m.size()));
        }
        double const check = std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kRounds;
        start = Clock::now();
        for (int i = 0; i < kRounds; ++i) {
            FACE::TSS::DatagramGuard::ReceiveScope const scope(FACE::TSS::DatagramGuard::TransportKind::kUdpV4);
            sink += static_cast<int>(FACE::TSS::DatagramGuard::checkDatagram(m.data(), m.size()));
        }
        double const both = std::chrono::duration<double, std::nano>(Clock::now() - start).count() / kRounds;
        std::printf("  %-42s check %6.1f ns, check + progress record %6.1f ns%s\n", what, check, both,
                    sink == 42 ? " " : "");
    }
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    ::unsetenv("FASTRTPS_DEFAULT_PROFILES_FILE");
    if (argc >= 6 && std::strcmp(argv[1], "--subscriber") == 0) {
        return runSubscriber(argv[2], argv[3], static_cast<std::uint32_t>(std::atoi(argv[4])), argv[5]);
    }
    int rounds = 5, samples = 2000, rateMs = 1000;
    std::uint32_t domain = 200;
    bool security = false, guard = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--security") == 0) {
            security = true;
            domain = 190;
        }
        guard = guard || std::strcmp(argv[i], "--guard") == 0;
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string const option = argv[i];
        if (option == "--security" || option == "--guard") {
            --i;
            continue;
        }
        int const value = std::atoi(argv[i + 1]);
        if (option == "--rounds")
            rounds = value;
        else if (option == "--samples")
            samples = value;
        else if (option == "--rate-ms")
            rateMs = value;
        else if (option == "--domain")
            domain = static_cast<std::uint32_t>(value);
    }
    char self[4096] = {0};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 2;
    if (security) g_pki = std::make_unique<corvane_test::SecurityPki>(CORVANE_SOURCE_DIR);

    // The first stack is the baseline of the ratios.
    std::vector<std::string> const stacks = security ? std::vector<std::string>{"plain", "signed", "encrypted"}
                                            : guard  ? std::vector<std::string>{"noguard", "guard"}
                                                     : std::vector<std::string>{"bare", "FACE"};
    std::uint32_t const domains = security ? 9 : 30;

    std::printf("transport stack  round  median_us  p99_us  samples  sent/s  received/s  cpu_us/sample\n");
    std::map<std::string, std::vector<double>> medianRatio, p99Ratio, rateRatio, cpuRatio;
    std::map<std::string, std::vector<Result>> results;
    std::uint32_t run = 0;
    bool ok = true;
    for (char const* transport : {"UDP", "SHM"}) {
        for (int round = 0; round < rounds; ++round) {
            std::map<std::string, Result> pair;
            // Each round starts with another stack.
            std::vector<std::string> order = stacks;
            std::rotate(order.begin(), order.begin() + round % static_cast<int>(order.size()), order.end());
            for (std::string const& stack : order) {
                Result r;
                if (!runPair(self, stack, transport, domain + (run++ % domains), samples, rateMs, r)) {
                    std::printf("%-9s %-5s  %5d  run failed\n", transport, stack.c_str(), round);
                    ok = false;
                    continue;
                }
                std::printf("%-9s %-5s  %5d  %9.1f  %6.1f  %7zu  %6.0f  %10.0f  %13.2f\n", transport, stack.c_str(),
                            round, r.medianUs, r.p99Us, r.latencySamples, r.sentPerS, r.receivedPerS, r.cpuUsPerSample);
                std::fflush(stdout);
                pair[stack] = r;
                results[std::string(transport) + " " + stack].push_back(r);
            }
            Result const* base = pair.count(stacks[0]) != 0 ? &pair[stacks[0]] : nullptr;
            for (std::size_t i = 1; base != nullptr && i < stacks.size(); ++i) {
                if (pair.count(stacks[i]) == 0) continue;
                std::string const key = std::string(transport) + " " + stacks[i];
                medianRatio[key].push_back(pair[stacks[i]].medianUs / base->medianUs);
                p99Ratio[key].push_back(pair[stacks[i]].p99Us / base->p99Us);
                rateRatio[key].push_back(pair[stacks[i]].receivedPerS / base->receivedPerS);
                cpuRatio[key].push_back(pair[stacks[i]].cpuUsPerSample / base->cpuUsPerSample);
            }
        }
    }
    std::printf("\nSummary (medians over %d rounds)\n", rounds);
    std::printf("transport stack  median_us  p99_us  received/s  cpu_us/sample\n");
    for (auto const& [key, list] : results) {
        std::vector<double> med, p99, rate, cpu;
        for (Result const& r : list) {
            med.push_back(r.medianUs);
            p99.push_back(r.p99Us);
            rate.push_back(r.receivedPerS);
            cpu.push_back(r.cpuUsPerSample);
        }
        std::printf("%-15s  %9.1f  %6.1f  %10.0f  %13.2f\n", key.c_str(), median(med), median(p99), median(rate),
                    median(cpu));
    }
    std::printf("\nratio to %-15s  median latency  p99 latency  received rate  subscriber CPU/sample\n",
                stacks[0].c_str());
    for (auto const& [key, ratios] : medianRatio) {
        std::printf("%-24s  %14.3f  %11.3f  %13.3f  %21.3f\n", key.c_str(), median(ratios), median(p99Ratio[key]),
                    median(rateRatio[key]), median(cpuRatio[key]));
    }
    if (security) return ok ? 0 : 1;
    if (guard) {
        guardWork();
        return ok ? 0 : 1;
    }

    corvane_test::TempDir dir("transport-bench");
    std::string const file = dir.file("connections.xml");
    std::ofstream(file) << connectionsFile("UDP", domain + 30);
    auto const [receiveNs, sendNs] = faceLayerWorkNs(file);
    std::printf("\nFACE layer work per sample (this process): receive %.0f ns, send %.0f ns\n", receiveNs, sendNs);
    return ok ? 0 : 1;
}
