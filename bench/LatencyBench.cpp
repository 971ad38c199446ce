// The navigator-to-bus latency benchmark's measuring program (run by
// bench/latency, which starts the server beside it).
//
//   latency_bench --connections FILE --ports POSITION,ORIENTATION,DOT
//                 [--seconds N] [--warmup N] [--record DIR]
//
// Publishes PositionVelocityAttitude and UTCTime at 10 Hz as the fusion
// navigator of the ground vehicle (server id 96), each pair stamped at send:
// the time of validity and the UTC time are the CLOCK_REALTIME instant just
// before the PVA goes out. The pair's index rides in the told quantities:
// longitude (Position), yaw (Orientation), climb rate (Direction of Travel);
// the UTC time names the pair on all three. The three data bus ports are
// read at the same time; every new tell (a new `Told` count) is kept with
// the library's reception time. After the run, for each service and each
// pair published in the measured window (after --warmup seconds, for
// --seconds), the wait from its publication to the first tell that brought
// it or a newer pair is compared with the floor of a uniform wait over the
// 250 ms worker cycle. --record DIR writes the raw data for a second look:
// DIR/published.csv (pair, publication time in ns since the epoch, ms
// behind schedule, ms the two sends took) and
// DIR/tells.csv (service, count, tell time in ns, solution pair, UTC pair;
// -1 where unknown).
//
// Exit status: 0 when every target is met, 1 when one is missed, 2 on a
// bad command line, 3 when the run could not be measured.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ASPN/AspnDeviceIds.h"
#include "bench/LatencyMatch.h"
#include "platform/victory/VictoryDataMessage.h"
#include "tools/aspn2-tool/NavCovariance.h"
#include "tools/aspn2-tool/NavSimulator.h"
#include "tools/aspn2-tool/NavTime.h"
#include "tools/aspn2-tool/ToolTransport.h"

namespace {

using latency_bench::IndexCode;
using latency_bench::Tell;
using Clock = std::chrono::steady_clock;

constexpr double kRateHz = 10.0;
constexpr double kWorkerCycleMs = 250.0;
constexpr double kP99SlackMs = 5.0;
constexpr double kMaxSlackMs = 10.0;
constexpr unsigned char kNavigatorServerId = 96;

// Where the pair index rides: 7.5 deg E plus 1e-7 rad (0.5 m) per pair; a
// yaw of 1e-6 rad per pair; a climb rate of 1e-4 m/s per pair.
constexpr IndexCode kLongitudeCode{0.1308996938995747, 1e-7};
constexpr IndexCode kYawCode{0.0, 1e-6};
constexpr IndexCode kClimbCode{0.0, 1e-4};

struct ServiceTrack {
    const char* name;
    victory::ServiceKind kind;
    IndexCode code;
    std::size_t valueIndex;  // which told value carries the code
};

const std::array<ServiceTrack, 3> kServices{{
    {"Position", victory::ServiceKind::Position, kLongitudeCode, 1},
    {"Orientation", victory::ServiceKind::Orientation, kYawCode, 2},
    {"Direction of Travel", victory::ServiceKind::DirectionOfTravel, kClimbCode, 2},
}};

// A new tell as it came off the bus, decoded after the run.
struct RawTell {
    std::uint64_t count = 0;
    std::int64_t realtimeNs = 0;
    double value = 0.0;
    std::optional<VictoryTime> time;
};

struct Options {
    std::string connections;
    std::array<int, 3> ports{};
    int seconds = 300;
    int warmup = 5;
    std::string record;  // directory for the raw data; empty: none
};

int usage(const std::string& problem) {
    std::cerr << "latency_bench: " << problem << " (see --help)\n";
    return 2;
}

bool parseInt(const char* text, int low, int high, int& out) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < low || v > high) return false;
    out = static_cast<int>(v);
    return true;
}

bool parsePorts(const std::string& text, std::array<int, 3>& ports) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t comma = text.find(',', start);
        if ((i < 2) == (comma == std::string::npos)) return false;
        const std::string part = text.substr(start, i < 2 ? comma - start : std::string::npos);
        if (!parseInt(part.c_str(), 1, 65535, ports[i])) return false;
        start = comma + 1;
    }
    return true;
}

int openPort(int port) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads the three data bus ports until `stop`, keeping each new tell.
class BusReader {
public:
    explicit BusReader(const std::array<int, 3>& fds) : m_fds(fds) {}

    void run(const std::atomic<bool>& stop) {
        std::array<pollfd, 3> p{};
        for (std::size_t i = 0; i < 3; ++i) p[i] = pollfd{m_fds[i], POLLIN, 0};
        std::vector<char> buffer(65536);
        while (!stop) {
            if (::poll(p.data(), p.size(), 100) <= 0) continue;
            for (std::size_t i = 0; i < 3; ++i) {
                if ((p[i].revents & POLLIN) == 0) continue;
                const ssize_t n = ::recv(m_fds[i], buffer.data(), buffer.size(), 0);
                if (n > 0) take(i, buffer.data(), static_cast<std::size_t>(n));
            }
        }
    }

    std::array<std::vector<RawTell>, 3> tells() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_tells;
    }
    std::size_t malformed() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_malformed;
    }

private:
    void take(std::size_t service, const char* data, std::size_t size) {
        victory::DataMessage m;
        std::string error;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!victory::parseDataMessage(data, size, m, error) || m.kind != kServices[service].kind) {
            ++m_malformed;
            return;
        }
        if (!m.told || m.told->count == m_lastCount[service]) return;
        m_lastCount[service] = m.told->count;
        RawTell t;
        t.count = m.told->count;
        t.realtimeNs = m.told->seconds * 1000000000 + m.told->nanoseconds;
        const std::size_t v = kServices[service].valueIndex;
        t.value = v < m.values.size() ? m.values[v].value.value : 0.0;
        t.time = m.time;
        m_tells[service].push_back(t);
    }

    const std::array<int, 3> m_fds;
    mutable std::mutex m_mutex;
    std::array<std::vector<RawTell>, 3> m_tells;
    std::array<std::uint64_t, 3> m_lastCount{};
    std::size_t m_malformed = 0;
};

// Notes when the machine holds every thread up: a thread that sleeps 1 ms
// at a time and records each wake-up more than kStallMs late, in
// CLOCK_REALTIME like the tell times. A worker cycle that runs long during
// such a stall was held up by the machine, not by the server.
class StallWitness {
public:
    struct Stall {
        std::int64_t fromNs = 0;  // when the sleep began
        std::int64_t toNs = 0;    // when it ended
    };
    static constexpr double kStallMs = 5.0;

    void run(const std::atomic<bool>& stop) {
        while (!stop) {
            const std::int64_t from = aspn2_tool::realtimeNowNs();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const std::int64_t to = aspn2_tool::realtimeNowNs();
            if (static_cast<double>(to - from) / 1e6 > 1.0 + kStallMs) {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_stalls.push_back(Stall{from, to});
            }
        }
    }

    std::vector<Stall> stalls() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_stalls;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<Stall> m_stalls;  // in time order
};

aspn2_msgs::idl::PositionVelocityAttitude makePair(std::int64_t index, std::int64_t nowNs, std::uint32_t deviceId,
                                                   const aspn2_tool::Matrix9& covariance) {
    aspn2_tool::Kinematics k;
    k.latitudeRad = 0.7853981633974483;  // 45 deg N
    k.longitudeRad = latency_bench::encodeIndex(kLongitudeCode, index);
    k.altitudeM = 300.0;
    k.velocityNorth = 10.0;
    k.velocityDown = -latency_bench::encodeIndex(kClimbCode, index);
    k.yaw = latency_bench::encodeIndex(kYawCode, index);
    return aspn2_tool::makePva(k, covariance, nowNs, index, deviceId);
}

std::string cell(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms);
    return text;
}

// What the navigator published: per pair, the publication time and its own
// timing.
struct Publications {
    std::vector<std::int64_t> ns;  // CLOCK_REALTIME publication time, by pair
    std::vector<double> lateMs;    // publication behind its schedule
    std::vector<double> sendMs;    // time the PVA and UTC sends took
};

// Waits for the server's readers, then publishes `total` pairs at kRateHz.
// Returns 0, or 3 with a line on standard error when the run failed.
int publish(const std::string& connections, std::int64_t total, Publications& out) {
    try {
        aspn2_tool::ToolTransport transport(connections, "latency bench navigator");
        auto pvaOut = transport.sender<aspn2_msgs::idl::PositionVelocityAttitude>("PositionVelocityAttitude");
        auto utcOut = transport.sender<aspn2_msgs::idl::UTCTime>("UTCTime");
        const Clock::time_point matchDeadline = Clock::now() + std::chrono::seconds(30);
        while (aspn2_tool::ToolTransport::readersMatched(pvaOut) < 1 ||
               aspn2_tool::ToolTransport::readersMatched(utcOut) < 1) {
            if (Clock::now() > matchDeadline) {
                std::cerr << "latency_bench: no reader of the navigator's topics within 30 s\n";
                return 3;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }

        const ASPN2::DeviceIdFactory ids("GroundVehicle", kNavigatorServerId);
        const std::uint32_t deviceId = ids.makeDeviceId(0, 0);
        const aspn2_tool::Matrix9 covariance = aspn2_tool::CovarianceModel().at(0.0);
        const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / kRateHz));
        out.ns.reserve(static_cast<std::size_t>(total));
        out.lateMs.reserve(static_cast<std::size_t>(total));
        out.sendMs.reserve(static_cast<std::size_t>(total));
        const Clock::time_point start = Clock::now();
        for (std::int64_t i = 0; i < total; ++i) {
            const Clock::time_point due = start + i * period;
            std::this_thread::sleep_until(due);
            out.lateMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - due).count());
            const std::int64_t nowNs = aspn2_tool::realtimeNowNs();
            const auto pva = makePair(i, nowNs, deviceId, covariance);
            const auto utc = aspn2_tool::makeUtc(nowNs, i, deviceId);
            out.ns.push_back(nowNs);
            if (!aspn2_tool::ToolTransport::send(pvaOut, pva) || !aspn2_tool::ToolTransport::send(utcOut, utc)) {
                std::cerr << "latency_bench: the transport refused sample " << i << "\n";
                return 3;
            }
            out.sendMs.push_back(static_cast<double>(aspn2_tool::realtimeNowNs() - nowNs) / 1e6);
        }
        // The worker tells at most one cycle after the last pair.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "latency_bench: " << e.what() << "\n";
        return 3;
    }
}

// The tells of one service with the pairs they carried.
std::vector<Tell> decodeTells(const ServiceTrack& service, const std::vector<RawTell>& raw,
                              const std::vector<std::int64_t>& published) {
    // A told UTC time names the pair published within 1 ms of it.
    constexpr std::int64_t kTimeToleranceNs = 1000000;
    std::vector<Tell> tells;
    for (const RawTell& r : raw) {
        Tell t;
        t.count = r.count;
        t.realtimeNs = r.realtimeNs;
        t.pvaIndex = latency_bench::decodeIndex(service.code, r.value).value_or(-1);
        if (r.time) {
            if (auto ns = latency_bench::victoryTimeToUnixNs(*r.time)) {
                t.utcIndex = latency_bench::nearestPublication(published, *ns, kTimeToleranceNs).value_or(-1);
            }
        }
        tells.push_back(t);
    }
    return tells;
}

// The worker's cycle as the library saw it: tell to tell, consecutive
// counts only, the start-up placeholder left out; and how many of the long
// cycles (over 255 ms) overlap a stall of the machine.
void printCycle(const std::vector<Tell>& tells, const std::vector<StallWitness::Stall>& stalls) {
    std::vector<double> cycles;
    double sum = 0.0;
    std::size_t longCycles = 0;
    std::size_t duringStall = 0;
    for (std::size_t i = 1; i < tells.size(); ++i) {
        if (tells[i].count == tells[i - 1].count + 1 && tells[i - 1].count > 1) {
            const std::int64_t from = tells[i - 1].realtimeNs;
            const std::int64_t to = tells[i].realtimeNs;
            cycles.push_back(static_cast<double>(to - from) / 1e6);
            sum += cycles.back();
            if (cycles.back() > 255.0) {
                ++longCycles;
                const bool stalled = std::any_of(stalls.begin(), stalls.end(), [&](const StallWitness::Stall& st) {
                    return st.fromNs < to && st.toNs > from;
                });
                if (stalled) ++duringStall;
            }
        }
    }
    double longest = 0.0;
    for (const StallWitness::Stall& st : stalls)
        longest = std::max(longest, static_cast<double>(st.toNs - st.fromNs) / 1e6);
    std::printf(
        "[latency] machine stalls (a 1 ms sleep over %.0f ms late): %zu, longest %.1f ms; worker cycles over "
        "255 ms: %zu, %zu of them during a stall\n",
        StallWitness::kStallMs, stalls.size(), longest, longCycles, duringStall);
    const latency_bench::Distribution c = latency_bench::distribution(cycles);
    const double min = cycles.empty() ? 0.0 : *std::min_element(cycles.begin(), cycles.end());
    std::printf(
        "[latency] worker cycle, tell to tell: %zu cycles, mean %.3f ms, min %.1f, p50 %.1f, p99 %.1f, "
        "max %.1f ms\n",
        c.n, c.n > 0 ? sum / static_cast<double>(c.n) : 0.0, min, c.p50, c.p99, c.max);
}

void writeRecord(const std::string& dir, const Publications& p, const std::array<std::vector<Tell>, 3>& tells) {
    std::ofstream pubs(dir + "/published.csv");
    pubs << "pair,published_ns,late_ms,send_ms\n";
    for (std::size_t i = 0; i < p.ns.size(); ++i) {
        pubs << i << "," << p.ns[i] << "," << p.lateMs[i] << "," << p.sendMs[i] << "\n";
    }
    std::ofstream out(dir + "/tells.csv");
    out << "service,count,tell_ns,pva_pair,utc_pair\n";
    for (std::size_t s = 0; s < tells.size(); ++s) {
        for (const Tell& t : tells[s]) {
            out << s << "," << t.count << "," << t.realtimeNs << "," << t.pvaIndex << "," << t.utcIndex << "\n";
        }
    }
    if (!pubs || !out) std::printf("[latency] cannot write the raw data to %s\n", dir.c_str());
}

// Reads the options; 0 when the run can go on, else the exit status.
int parseOptions(int argc, char** argv, Options& o) {
    bool portsGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::cout << "usage: latency_bench --connections FILE --ports POSITION,ORIENTATION,DOT "
                         "[--seconds N] [--warmup N] [--record DIR]\n";
            return -1;
        }
        if (i + 1 >= argc) return usage(a + " needs a value");
        const char* v = argv[++i];
        if (a == "--connections") {
            o.connections = v;
        } else if (a == "--ports") {
            if (!parsePorts(v, o.ports)) return usage("--ports needs three UDP ports, comma separated");
            portsGiven = true;
        } else if (a == "--seconds") {
            if (!parseInt(v, 1, 86400, o.seconds)) return usage("--seconds needs 1..86400");
        } else if (a == "--warmup") {
            if (!parseInt(v, 1, 600, o.warmup)) return usage("--warmup needs 1..600");
        } else if (a == "--record") {
            o.record = v;
        } else {
            return usage("unknown option " + a);
        }
    }
    if (o.connections.empty() || !portsGiven) return usage("--connections and --ports are needed");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (const int status = parseOptions(argc, argv, o)) return status < 0 ? 0 : status;

    std::array<int, 3> fds{};
    for (std::size_t i = 0; i < 3; ++i) {
        fds[i] = openPort(o.ports[i]);
        if (fds[i] < 0) {
            std::cerr << "latency_bench: cannot bind 127.0.0.1:" << o.ports[i] << "\n";
            for (std::size_t j = 0; j < i; ++j) ::close(fds[j]);
            return 3;
        }
    }
    BusReader reader(fds);
    StallWitness witness;
    std::atomic<bool> stopReader{false};
    std::thread readerThread([&] { reader.run(stopReader); });
    std::thread witnessThread([&] { witness.run(stopReader); });
    Publications published;
    // One more second after the window, so the last pairs get their tells.
    const int status =
        publish(o.connections, static_cast<std::int64_t>((o.warmup + o.seconds + 1) * kRateHz), published);
    stopReader = true;
    readerThread.join();
    witnessThread.join();
    for (int fd : fds) ::close(fd);
    if (status != 0) return status;

    const std::int64_t first = static_cast<std::int64_t>(o.warmup * kRateHz);
    const std::int64_t last = static_cast<std::int64_t>((o.warmup + o.seconds) * kRateHz);
    const latency_bench::Distribution floor = latency_bench::uniformFloor(kWorkerCycleMs);
    const auto raw = reader.tells();
    std::array<std::vector<Tell>, 3> tells;
    for (std::size_t s = 0; s < kServices.size(); ++s) tells[s] = decodeTells(kServices[s], raw[s], published.ns);

    std::printf(
        "[latency] %lld pairs at %.0f Hz measured over %d s after %d s warm-up; wait from a "
        "pair's publication to the first tell that brought it or a newer pair, ms\n",
        static_cast<long long>(last - first), kRateHz, o.seconds, o.warmup);
    std::printf("[latency] %-22s%8s%9s%9s%9s%8s%8s%7s%13s\n", "service", "pairs", "p50", "p99", "max", "unres.",
                "tells", "mixed", "told age max");
    std::printf("[latency] %-22s%8s%9s%9s%9s\n", "floor (uniform 0-250)", "", cell(floor.p50).c_str(),
                cell(floor.p99).c_str(), cell(floor.max).c_str());
    bool allMet = true;
    bool measured = true;
    std::string missed;
    for (std::size_t s = 0; s < kServices.size(); ++s) {
        const latency_bench::Waits w = latency_bench::measureWaits(published.ns, tells[s], first, last);
        const latency_bench::Distribution d = latency_bench::distribution(w.ms);
        const latency_bench::Distribution age = latency_bench::distribution(w.toldAgeMs);
        const latency_bench::Verdict v = latency_bench::judge(d, floor, kP99SlackMs, kMaxSlackMs);
        std::printf("[latency] %-22s%8zu%9s%9s%9s%8zu%8zu%7zu%13s\n", kServices[s].name, d.n, cell(d.p50).c_str(),
                    cell(d.p99).c_str(), cell(d.max).c_str(), w.unresolved, tells[s].size(), w.mixedTells,
                    cell(age.max).c_str());
        if (d.n == 0) measured = false;
        if (!v.p99Met) missed += std::string(missed.empty() ? "" : "; ") + kServices[s].name + " p99";
        if (!v.maxMet) missed += std::string(missed.empty() ? "" : "; ") + kServices[s].name + " max";
        allMet = allMet && v.p99Met && v.maxMet;
        if (w.unknownTells > 1) {
            // The first tell is the placeholder of the start-up; any other means a decoding fault.
            std::printf("[latency] %s: %zu tells not matched to a pair\n", kServices[s].name, w.unknownTells - 1);
        }
    }
    printCycle(tells[0], witness.stalls());
    // The navigator's own timing: when the machine holds it up, the server's
    // threads are likely held up as well.
    const latency_bench::Distribution late = latency_bench::distribution(published.lateMs);
    const latency_bench::Distribution send = latency_bench::distribution(published.sendMs);
    std::printf(
        "[latency] navigator: publication behind schedule p99 %.1f, max %.1f ms; PVA + UTC send "
        "p99 %.1f, max %.1f ms\n",
        late.p99, late.max, send.p99, send.max);
    if (reader.malformed() > 0) std::printf("[latency] %zu malformed data messages\n", reader.malformed());
    if (!o.record.empty()) writeRecord(o.record, published, tells);
    std::printf("[latency] targets: p99 <= %.1f ms, max <= %.1f ms: %s\n", floor.p99 + kP99SlackMs,
                floor.max + kMaxSlackMs, allMet ? "met" : ("MISSED (" + missed + ")").c_str());
    if (!measured) {
        std::printf(
            "[latency] no wait measured on some service: is the server running with the same "
            "domain and data bus ports?\n");
        return 3;
    }
    return allMet ? 0 : 1;
}
