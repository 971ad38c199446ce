// cyclone-peer: a test peer of the server built on Cyclone DDS, a second
// DDS implementation, for the interoperability tests. Roles: a navigator
// (nav), a commander (command) and a listener of the server's events and
// responses (listen). `cyclone-peer --help` prints the usage.
//
// Standard output carries the received samples (listen, command) and a
// summary line; notes and errors go to standard error. Never installed on
// a vehicle.

#include "tests/peers/cyclone/PeerConfig.h"
#include "tests/peers/cyclone/PeerMessages.h"
#include "tests/peers/cyclone/PeerOptions.h"
#include "tools/aspn2-tool/NavTime.h"

#include <dds/dds.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace cyclone_peer;
using Clock = std::chrono::steady_clock;

constexpr int kExitOk = 0;
constexpr int kExitNoAnswer = 1;
constexpr int kExitSetupFailed = 2;

std::atomic<bool> g_stop{false};

extern "C" void onStopSignal(int) { g_stop = true; }

void note(std::string const& text) {
    std::fprintf(stderr, "cyclone-peer: %s\n", text.c_str());
    std::fflush(stderr);
}

void emit(std::string const& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

std::string failure(dds_return_t rc) { return dds_strretcode(rc < 0 ? -rc : rc); }

// The deadline `seconds` from now, or never for a negative value.
Clock::time_point deadlineAfter(double seconds) {
    if (seconds < 0) return Clock::time_point::max();
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// The participant, its topics and QoS; everything goes with the domain.
class Participant {
public:
    explicit Participant(PeerOptions const& o) {
        std::string const config = cycloneConfig(o);
        m_domain = dds_create_domain(static_cast<dds_domainid_t>(o.domain), config.c_str());
        if (m_domain < 0) {
            note("cannot create domain " + std::to_string(o.domain) + ": " + failure(m_domain));
            return;
        }
        m_participant = dds_create_participant(static_cast<dds_domainid_t>(o.domain), nullptr, nullptr);
        if (m_participant < 0) {
            note("cannot create the participant: " + failure(m_participant) +
                 (o.security.any() ? " (DDS Security refused the set-up; the library's reason is above)" : ""));
        }
        m_writerQos = dds_create_qos();
        dds_qset_reliability(m_writerQos, DDS_RELIABILITY_RELIABLE, DDS_MSECS(100));
        dds_qset_history(m_writerQos, DDS_HISTORY_KEEP_LAST, kHistoryDepth);
        dds_qset_durability(m_writerQos, DDS_DURABILITY_TRANSIENT_LOCAL);
        m_readerQos = dds_create_qos();
        dds_copy_qos(m_readerQos, m_writerQos);
        m_volatileReaderQos = dds_create_qos();
        dds_copy_qos(m_volatileReaderQos, m_writerQos);
        dds_qset_durability(m_volatileReaderQos, DDS_DURABILITY_VOLATILE);
    }
    ~Participant() {
        dds_delete_qos(m_writerQos);
        dds_delete_qos(m_readerQos);
        dds_delete_qos(m_volatileReaderQos);
        if (m_domain > 0) dds_delete(m_domain);
    }
    Participant(Participant const&) = delete;
    Participant& operator=(Participant const&) = delete;

    bool ok() const { return m_domain > 0 && m_participant > 0; }

    // A writer or reader of `name`; a negative entity after a note.
    dds_entity_t writer(TopicName name, dds_topic_descriptor_t const& type) {
        dds_entity_t const t = topic(name, type);
        dds_entity_t const w = t < 0 ? t : dds_create_writer(m_participant, t, m_writerQos, nullptr);
        if (w < 0) note(std::string("cannot publish on ") + name.topic + ": " + failure(w));
        return w;
    }
    dds_entity_t reader(TopicName name, dds_topic_descriptor_t const& type, bool transientLocal = true) {
        dds_entity_t const t = topic(name, type);
        dds_qos_t const* qos = transientLocal ? m_readerQos : m_volatileReaderQos;
        dds_entity_t const r = t < 0 ? t : dds_create_reader(m_participant, t, qos, nullptr);
        if (r < 0) note(std::string("cannot subscribe to ") + name.topic + ": " + failure(r));
        return r;
    }

private:
    dds_entity_t topic(TopicName name, dds_topic_descriptor_t const& type) {
        dds_entity_t const t = dds_create_topic(m_participant, &type, name.topic, nullptr, nullptr);
        if (t < 0) note(std::string("cannot create topic ") + name.topic + ": " + failure(t));
        return t;
    }

    dds_entity_t m_domain = -1, m_participant = -1;
    dds_qos_t* m_writerQos = nullptr;
    dds_qos_t* m_readerQos = nullptr;
    dds_qos_t* m_volatileReaderQos = nullptr;
};

std::uint32_t matchedReaders(dds_entity_t writer) {
    dds_publication_matched_status_t s{};
    return dds_get_publication_matched_status(writer, &s) == DDS_RETCODE_OK ? s.current_count : 0;
}

std::uint32_t matchedWriters(dds_entity_t reader) {
    dds_subscription_matched_status_t s{};
    return dds_get_subscription_matched_status(reader, &s) == DDS_RETCODE_OK ? s.current_count : 0;
}

// Takes what `reader` holds and hands each valid sample to `use`.
template <typename T, typename F>
void takeAll(dds_entity_t reader, F&& use) {
    constexpr int kBatch = 16;
    for (;;) {
        void* samples[kBatch] = {};
        dds_sample_info_t infos[kBatch];
        int const n = dds_take(reader, samples, infos, kBatch, kBatch);
        if (n <= 0) return;
        for (int i = 0; i < n; ++i) {
            if (infos[i].valid_data) use(*static_cast<T const*>(samples[i]));
        }
        dds_return_loan(reader, samples, n);
        if (n < kBatch) return;
    }
}

// --- nav ---------------------------------------------------------------

int runNav(PeerOptions const& o, Participant& p) {
    dds_entity_t const pvaOut = p.writer(kPvaTopic, aspn2_msgs_idl_PositionVelocityAttitude_desc);
    dds_entity_t const utcOut = p.writer(kUtcTopic, aspn2_msgs_idl_UTCTime_desc);
    if (pvaOut < 0 || utcOut < 0) return kExitSetupFailed;
    std::int32_t const device = deviceId(kSimulatorSystem, static_cast<unsigned>(o.navigatorId));
    NavMotion const motion{o.latDeg, o.lonDeg, o.altM, o.speedMps};
    char id[16];
    std::snprintf(id, sizeof id, "0x%08x", static_cast<unsigned>(device));
    note("nav: publishing from device " + std::string(id) + " at " + std::to_string(o.rateHz) + " Hz");

    auto const period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / o.rateHz));
    Clock::time_point const start = Clock::now(), end = deadlineAfter(o.timeoutS);
    Clock::time_point next = start;
    long long sent = 0, failed = 0;
    std::uint32_t readers = 0;
    while (!g_stop.load() && (o.count < 0 || sent < o.count)) {
        std::this_thread::sleep_until(std::min(next, end));
        Clock::time_point const now = Clock::now();
        if (now >= end) break;
        next += period;
        if (next < now) next = now + period;  // fell behind: no burst
        std::int64_t const unixNs = aspn2_tool::realtimeNowNs();
        double const t = std::chrono::duration<double>(now - start).count();
        aspn2_msgs_idl_PositionVelocityAttitude pva;
        aspn2_msgs_idl_UTCTime utc;
        fillPva(pva, motion, t, unixNs, sent, device);
        fillUtc(utc, unixNs, sent, device);
        bool const ok = dds_write(pvaOut, &pva) == DDS_RETCODE_OK && dds_write(utcOut, &utc) == DDS_RETCODE_OK;
        ++(ok ? sent : failed);
        if (std::uint32_t const now = std::min(matchedReaders(pvaOut), matchedReaders(utcOut)); now != readers) {
            readers = now;
            note("nav: readers of both topics: " + std::to_string(readers));
        }
    }
    emit("nav_done pairs=" + std::to_string(sent) + " failed=" + std::to_string(failed) +
         " readers=" + std::to_string(readers));
    return kExitOk;
}

// --- command -------------------------------------------------------------

int runCommand(PeerOptions const& o, Participant& p) {
    dds_entity_t const commands = p.writer(kCommandTopic, aspn2_msgs_idl_CommandResponse_desc);
    dds_entity_t const responses = p.reader(kResponseTopic, aspn2_msgs_idl_CommandResponse_desc, false);
    if (commands < 0 || responses < 0) return kExitSetupFailed;
    std::uint32_t identifier = o.identifier;
    if (identifier == 0) {
        std::random_device seed;
        identifier = std::uniform_int_distribution<std::uint32_t>(1, 0x7FFFFFFF)(seed);
    }
    std::int32_t const device = deviceId(kSimulatorSystem, static_cast<unsigned>(o.commanderId));

    Clock::time_point const end = deadlineAfter(o.timeoutS < 0 ? 10.0 : o.timeoutS);
    // The responder's response writer may match later than its command
    // reader; after this grace the command goes out anyway.
    auto const matchGrace = std::chrono::milliseconds(500);
    auto const retry = std::chrono::seconds(1);
    Clock::time_point readerMatchedAt = Clock::time_point::max(), lastSent = Clock::time_point::min();
    long long sends = 0;
    bool answered = false;
    while (!g_stop.load() && !answered && Clock::now() < end) {
        Clock::time_point const now = Clock::now();
        if (readerMatchedAt == Clock::time_point::max() && matchedReaders(commands) > 0) readerMatchedAt = now;
        bool const ready = readerMatchedAt != Clock::time_point::max() &&
                           (matchedWriters(responses) > 0 || now - readerMatchedAt >= matchGrace);
        if (ready && (sends == 0 || now - lastSent >= retry)) {
            aspn2_msgs_idl_CommandResponse command;
            fillCommand(command, o.text.c_str(), identifier, aspn2_tool::realtimeNowNs(), sends, device);
            if (dds_write(commands, &command) == DDS_RETCODE_OK) {
                if (sends == 0) note("command: sent \"" + o.text + "\" identifier " + std::to_string(identifier));
                ++sends;
            }
            lastSent = now;
        }
        takeAll<aspn2_msgs_idl_CommandResponse>(responses, [&](aspn2_msgs_idl_CommandResponse const& r) {
            if (static_cast<std::uint32_t>(r.command_identifier) != identifier || answered) return;
            emit(formatResponse(r));
            answered = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (answered) return kExitOk;
    note(sends == 0 ? "command: no reader of \"Command\" matched in time; nothing sent"
                    : "command: no response to identifier " + std::to_string(identifier) + " in time");
    return kExitNoAnswer;
}

// --- listen --------------------------------------------------------------

int runListen(PeerOptions const& o, Participant& p) {
    dds_entity_t const events = p.reader(kEventLogTopic, aspn2_msgs_idl_EventLog_desc);
    dds_entity_t const maintenance = p.reader(kMaintenanceTopic, aspn2_msgs_idl_MaintenanceEvent_desc);
    dds_entity_t const responses = p.reader(kResponseTopic, aspn2_msgs_idl_CommandResponse_desc);
    if (events < 0 || maintenance < 0 || responses < 0) return kExitSetupFailed;
    note("listen: listening on EventLog, MaintenanceEvent, Response");
    Clock::time_point const end = deadlineAfter(o.timeoutS);
    long long printed = 0;
    auto const print = [&](std::string const& line) {
        if (o.count < 0 || printed < o.count) {
            emit(line);
            ++printed;
        }
    };
    while (!g_stop.load() && Clock::now() < end && (o.count < 0 || printed < o.count)) {
        takeAll<aspn2_msgs_idl_EventLog>(events, [&](auto const& m) { print(formatEventLog(m)); });
        takeAll<aspn2_msgs_idl_MaintenanceEvent>(maintenance, [&](auto const& m) { print(formatMaintenanceEvent(m)); });
        takeAll<aspn2_msgs_idl_CommandResponse>(responses, [&](auto const& m) { print(formatResponse(m)); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    PeerOptions options;
    std::string error;
    if (!parsePeerOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "cyclone-peer: %s (see --help)\n", error.c_str());
        return kExitSetupFailed;
    }
    if (options.role == Role::Help) {
        std::fputs(kPeerUsage, stdout);
        return kExitOk;
    }
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    Participant participant(options);
    if (!participant.ok()) return kExitSetupFailed;
    switch (options.role) {
        case Role::Nav:
            return runNav(options, participant);
        case Role::Command:
            return runCommand(options, participant);
        case Role::Listen:
            return runListen(options, participant);
        case Role::Help:
            break;
    }
    return kExitOk;
}
