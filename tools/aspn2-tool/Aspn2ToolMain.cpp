// aspn2-tool: a simulated fusion navigator (nav), a command sender
// (command), a traffic printer (listen), and a recorder and player of
// navigator traffic (record, replay, dump) over the transport services and
// a connections file. `aspn2-tool --help` prints the usage.
//
// Standard output carries only the lines described in the usage (readable
// or JSON); start-up notes and errors go to standard error.

#include "ASPN/AspnCmdResponse.h"
#include "ASPN/AspnDeviceIds.h"
#include "ASPN/AspnHelper.h"
#include "aspn2_msgs/CommandResponse.h"
#include "aspn2_msgs/EventLog.h"
#include "aspn2_msgs/MaintenanceEvent.h"
#include "aspn2_msgs/PositionVelocityAttitude.h"
#include "aspn2_msgs/UTCTime.h"
#include "tools/aspn2-tool/CdrCodec.h"
#include "tools/aspn2-tool/CommandTexts.h"
#include "tools/aspn2-tool/ConnectionsFile.h"
#include "tools/aspn2-tool/NavSimulator.h"
#include "tools/aspn2-tool/SampleFile.h"
#include "tools/aspn2-tool/SampleRecorder.h"
#include "tools/aspn2-tool/ToolFormat.h"
#include "tools/aspn2-tool/ToolOptions.h"
#include "tools/aspn2-tool/ToolTransport.h"

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#ifndef ASPN2_TOOL_DEFAULT_CONNECTIONS
#define ASPN2_TOOL_DEFAULT_CONNECTIONS "config/connections-udp.xml"
#endif

namespace {

// The sample connections file: the source tree's where the tool was built,
// else the installed one (the package puts it under /opt/corvane/config).
std::string defaultConnections() {
    struct stat st {};
    if (::stat(ASPN2_TOOL_DEFAULT_CONNECTIONS, &st) == 0) {
        return ASPN2_TOOL_DEFAULT_CONNECTIONS;
    }
    return "/opt/corvane/config/connections-udp.xml";
}

using aspn2_tool::ToolTransport;
using namespace aspn2_tool;
using Clock = std::chrono::steady_clock;

constexpr int kExitOk = 0;
constexpr int kExitNoResponse = 1;
constexpr int kExitSetupFailed = 2;

std::atomic<bool> g_stop{false};

extern "C" void onStopSignal(int) { g_stop = true; }

void installSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A closed output pipe ends the run through a failed write instead.
    ::signal(SIGPIPE, SIG_IGN);
}

// Writes one line to standard output; false when the output is gone.
bool emit(std::string const& line) {
    return std::fputs(line.c_str(), stdout) >= 0 && std::fputc('\n', stdout) != EOF && std::fflush(stdout) == 0;
}

void note(std::string const& text) {
    std::fprintf(stderr, "aspn2-tool: %s\n", text.c_str());
    std::fflush(stderr);
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Sleeps until `until` or a stop signal, in short steps.
void sleepUntil(Clock::time_point until) {
    while (!g_stop.load()) {
        auto const now = Clock::now();
        if (now >= until) return;
        std::this_thread::sleep_for(std::min<Clock::duration>(until - now, std::chrono::milliseconds(20)));
    }
}

// Lines formatted on reception threads, printed by the main thread.
class LineQueue {
public:
    void push(std::string line) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back(std::move(line));
        }
        m_ready.notify_one();
    }

    // Waits up to `timeout` for lines and takes all that are there.
    std::deque<std::string> take(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_ready.wait_for(lock, timeout, [this] { return !m_lines.empty(); });
        std::deque<std::string> lines;
        lines.swap(m_lines);
        return lines;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<std::string> m_lines;
};

// A number in the stream's default form ("10", "2.5").
std::string compact(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

std::string serverLabel(unsigned server) {
    return std::to_string(server) + " " + ASPN2::ServerIds::to_string(static_cast<unsigned char>(server));
}

// --- nav ---------------------------------------------------------------

int runNav(ToolOptions const& o, std::string const& connections) {
    NavOptions const& n = o.nav;
    ASPN2::DeviceIdFactory const ids(o.common.systemName.c_str(), static_cast<unsigned char>(o.common.sourceId));
    std::uint32_t const deviceId = ids.makeDeviceId(0, 0);
    NavRoute const route(n.latDeg, n.lonDeg, n.altM, n.speedMps, n.shape);
    NavSimulator sim(route, CovarianceModel(CovarianceSigmas(), n.growCovarianceMps), n.faults, deviceId,
                     realtimeNowNs());

    ToolTransport transport(connections, "aspn2-tool nav");
    ToolTransport::Endpoint<aspn2_msgs::idl::PositionVelocityAttitude> pvaOut;
    ToolTransport::Endpoint<aspn2_msgs::idl::UTCTime> utcOut;
    if (n.rateHz > 0) pvaOut = transport.sender<aspn2_msgs::idl::PositionVelocityAttitude>("PositionVelocityAttitude");
    if (n.utcRateHz > 0) utcOut = transport.sender<aspn2_msgs::idl::UTCTime>("UTCTime");
    std::unique_ptr<SampleRecorder> recorder;
    if (!n.recordPath.empty()) recorder = std::make_unique<SampleRecorder>(n.recordPath);

    note("nav: publishing from device " + deviceIdHex(static_cast<std::int32_t>(deviceId)) + " (server " +
         serverLabel(static_cast<unsigned>(o.common.sourceId)) + "), PositionVelocityAttitude " + compact(n.rateHz) +
         " Hz, UTCTime " + compact(n.utcRateHz) + " Hz, lap " + std::to_string(static_cast<long>(route.lapLengthM())) +
         " m, faults: " + describeFaults(n.faults));

    auto period = [](double hz) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(hz > 0 ? 1.0 / hz : 1e9));
    };
    Clock::duration const pvaPeriod = period(n.rateHz), utcPeriod = period(n.utcRateHz);
    Clock::time_point const start = Clock::now();
    Clock::time_point nextPva = start, nextUtc = start;
    Clock::time_point nextSummary = start + std::chrono::seconds(1);
    Clock::time_point const never = Clock::time_point::max();
    Clock::time_point const end =
        o.common.seconds > 0
            ? start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.common.seconds))
            : never;
    if (n.rateHz <= 0) nextPva = never;
    if (n.utcRateHz <= 0) nextUtc = never;

    // Phases first, then the command line's faults again.
    int phase = -2;  // none in force yet
    auto const phaseBoundary = [&](int index) {
        return index < 0 ? never
                         : start + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(phaseEnd(n.phases, index)));
    };
    auto const enterPhase = [&](int index) {
        phase = index;
        sim.setFaults(index >= 0 ? n.phases[static_cast<std::size_t>(index)].faults : n.faults);
        if (index >= 0) {
            note("nav: phase " + std::to_string(index + 1) + "/" + std::to_string(n.phases.size()) + ": " +
                 describePhase(n.phases[static_cast<std::size_t>(index)]));
        } else if (!n.phases.empty()) {
            note("nav: phases done, faults: " + describeFaults(n.faults));
        }
    };
    auto const sends = [&](bool pvaStream) {
        if (phase < 0) return true;
        NavPhase const& p = n.phases[static_cast<std::size_t>(phase)];
        return pvaStream ? p.pva : p.utc;
    };

    NavSummary summary;
    bool outputOk = true;
    auto reachedCount = [&] {
        long long const sent = n.rateHz > 0 ? summary.pvaSent : summary.utcSent;
        return o.common.count > 0 && sent >= o.common.count;
    };
    while (!g_stop.load() && outputOk && !reachedCount()) {
        Clock::time_point const due =
            std::min({nextPva, nextUtc, end, o.common.verbose ? never : nextSummary, phaseBoundary(phase)});
        sleepUntil(due);
        if (g_stop.load()) break;
        Clock::time_point const now = Clock::now();
        if (now >= end) break;
        if (int const current = phaseAt(n.phases, secondsSince(start)); current != phase) enterPhase(current);
        // Streams due together share one clock reading: equal times of validity.
        std::int64_t const nowNs = realtimeNowNs();
        // Sends one sample of a stream that is due and schedules its next.
        auto publish = [&](auto const& message, auto const& out, long long& sent, auto& last, Clock::time_point& next,
                           Clock::duration period, auto format, bool stream, char const* topic) {
            next += period;
            if (next < now) next = now + period;  // fell behind: no burst
            if (!stream) return;                  // stopped by the phase: the sample is built but not sent
            ++(ToolTransport::send(out, message) ? sent : summary.sendFailures);
            if (recorder && !recorder->record(topic, message)) {
                note("nav: cannot write " + recorder->path() + " any more");
                outputOk = false;
            }
            if (o.common.verbose) outputOk = outputOk && emit(format(message, o.common.json));
            last = message;
        };
        if (now >= nextPva) {
            publish(sim.nextPva(nowNs), pvaOut, summary.pvaSent, summary.lastPva, nextPva, pvaPeriod, formatPva,
                    sends(true), kPvaTopic);
        }
        if (now >= nextUtc) {
            publish(sim.nextUtc(nowNs), utcOut, summary.utcSent, summary.lastUtc, nextUtc, utcPeriod, formatUtc,
                    sends(false), kUtcTopic);
        }
        if (!o.common.verbose && now >= nextSummary) {
            summary.elapsedS = secondsSince(start);
            outputOk = outputOk && emit(formatNavSummary(summary, o.common.json));
            nextSummary += std::chrono::seconds(1);
        }
    }
    summary.elapsedS = secondsSince(start);
    Line done(o.common.json, "nav_done");
    done.real("t", summary.elapsedS, 1)
        .integer("pva", summary.pvaSent)
        .integer("utc", summary.utcSent)
        .integer("send_failures", summary.sendFailures);
    if (recorder) done.integer("recorded", recorder->samples());
    if (outputOk) emit(done.str());
    return kExitOk;
}

// --- command -------------------------------------------------------------

// Every text of --texts once, evenly paced, identifiers counting up; the
// responses are counted, not matched (most texts of such a file are
// answered by nobody).
int runCommandTexts(ToolOptions const& o, std::string const& connections) {
    CommandOptions const& c = o.command;
    std::vector<std::string> texts;
    std::string error;
    if (!readCommandTexts(c.textsFile, texts, error)) {
        note("aspn2-tool: --texts " + error);
        return kExitSetupFailed;
    }
    ASPN2::DeviceIdFactory const ids(o.common.systemName.c_str(), static_cast<unsigned char>(o.common.sourceId));
    ASPN2::CmdResponse builder(ids);
    std::uint32_t identifier = c.identifier ? *c.identifier : 1;
    std::atomic<long long> responses{0};
    ToolTransport transport(connections, "aspn2-tool command");
    [[maybe_unused]] auto responseReader = transport.receiver<aspn2_msgs::idl::CommandResponse>(
        "Response", [&](aspn2_msgs::idl::CommandResponse const&) { ++responses; });
    auto commands = transport.sender<aspn2_msgs::idl::CommandResponse>("Command");

    Clock::time_point const start = Clock::now();
    Clock::time_point const deadline =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(c.timeoutS));
    while (!g_stop.load() && ToolTransport::readersMatched(commands) == 0) {
        if (Clock::now() >= deadline) {
            note("command: no reader of \"Command\" matched within " + compact(c.timeoutS) + " s; nothing sent");
            return kExitNoResponse;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    auto const spacing = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / c.paceHz));
    Clock::time_point next = Clock::now();
    long long sent = 0;
    long long failed = 0;
    for (std::string const& text : texts) {
        if (g_stop.load()) break;
        std::this_thread::sleep_until(next);
        next += spacing;
        aspn2_msgs::idl::CommandResponse command = builder.makeCommand(text);
        command.command_identifier(static_cast<std::int32_t>(identifier++));
        command.command_response_type(static_cast<aspn2_msgs::idl::command_response_type_enum>(c.type));
        command.header().seq_num(static_cast<std::int32_t>(sent + failed));
        ASPN2::setToVandToA_fromNSec(std::chrono::nanoseconds(realtimeNowNs()), command.header());
        if (ToolTransport::send(commands, command)) {
            ++sent;
        } else {
            ++failed;
        }
    }
    // Late responses to the last texts.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Line done(o.common.json, "texts_done");
    done.real("t", secondsSince(start), 1)
        .integer("texts", static_cast<long long>(texts.size()))
        .integer("sent", sent)
        .integer("send_failures", failed)
        .integer("responses", responses.load());
    emit(done.str());
    return sent == static_cast<long long>(texts.size()) ? kExitOk : kExitNoResponse;
}

int runCommand(ToolOptions const& o, std::string const& connections) {
    CommandOptions const& c = o.command;
    if (!c.textsFile.empty()) return runCommandTexts(o, connections);
    ASPN2::DeviceIdFactory const ids(o.common.systemName.c_str(), static_cast<unsigned char>(o.common.sourceId));
    ASPN2::CmdResponse builder(ids);
    aspn2_msgs::idl::CommandResponse command = builder.makeCommand(c.text);
    std::uint32_t identifier = 0;
    if (c.identifier) {
        identifier = *c.identifier;
    } else {
        std::random_device seed;
        identifier = std::uniform_int_distribution<std::uint32_t>(1, 0x7FFFFFFF)(seed);
    }
    command.command_identifier(static_cast<std::int32_t>(identifier));
    command.command_response_type(static_cast<aspn2_msgs::idl::command_response_type_enum>(c.type));

    LineQueue lines;
    std::mutex seenMutex;
    std::set<std::tuple<std::int32_t, std::int32_t, std::string>> seen;  // responder, identifier, text
    std::atomic<long long> answers{0};
    bool const json = o.common.json;
    bool const all = c.all;
    auto onResponse = [&](aspn2_msgs::idl::CommandResponse const& r) {
        bool const answersThis = static_cast<std::uint32_t>(r.command_identifier()) == identifier;
        if (!answersThis && !all) return;
        {
            // A resent command may be answered twice: print each answer once.
            std::lock_guard<std::mutex> lock(seenMutex);
            if (!seen.emplace(r.header().device_id(), r.command_identifier(), r.command_response()).second) return;
        }
        if (answersThis) ++answers;
        lines.push(formatCommandResponse("Response", r, json));
    };

    ToolTransport transport(connections, "aspn2-tool command");
    auto responses = transport.receiver<aspn2_msgs::idl::CommandResponse>("Response", onResponse);
    auto commands = transport.sender<aspn2_msgs::idl::CommandResponse>("Command");

    Clock::time_point const start = Clock::now();
    Clock::time_point const deadline =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(c.timeoutS));
    auto const retry = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(c.retryS));
    // A responder whose response writer never matches still gets the
    // command this long after its command reader matched.
    auto const matchGrace = std::chrono::milliseconds(500);
    Clock::time_point readerMatchedAt = Clock::time_point::max();
    Clock::time_point lastSent = Clock::time_point::min();
    int sends = 0;
    long long printed = 0;
    bool outputOk = true;
    while (!g_stop.load() && outputOk && Clock::now() < deadline) {
        Clock::time_point const now = Clock::now();
        bool const readerMatched = ToolTransport::readersMatched(commands) > 0;
        if (readerMatched && readerMatchedAt == Clock::time_point::max()) readerMatchedAt = now;
        bool const ready =
            readerMatched && (ToolTransport::writersMatched(responses) > 0 || now - readerMatchedAt >= matchGrace);
        bool const resend = sends > 0 && c.retryS > 0 && answers.load() == 0 && now - lastSent >= retry;
        if (ready && (sends == 0 || resend)) {
            command.header().seq_num(sends);
            ASPN2::setToVandToA_fromNSec(std::chrono::nanoseconds(realtimeNowNs()), command.header());
            if (ToolTransport::send(commands, command)) {
                if (sends == 0) {
                    note("command: sent \"" + c.text + "\" type " + std::to_string(c.type) + " identifier " +
                         std::to_string(identifier) + " from device " + deviceIdHex(command.header().device_id()));
                }
                ++sends;
            }
            lastSent = now;
        }
        for (std::string const& line : lines.take(std::chrono::milliseconds(20))) {
            outputOk = outputOk && emit(line);
            ++printed;
        }
        if (o.common.count > 0 && printed >= o.common.count) break;
    }
    if (answers.load() > 0) return kExitOk;
    if (sends == 0) {
        note("command: no reader of \"Command\" matched within " + compact(c.timeoutS) + " s; nothing sent");
    } else {
        note("command: no response to \"" + c.text + "\" (identifier " + std::to_string(identifier) + ") within " +
             compact(c.timeoutS) + " s");
    }
    return kExitNoResponse;
}

// --- listen --------------------------------------------------------------

int runListen(ToolOptions const& o, std::string const& connections) {
    bool const json = o.common.json;
    LineQueue lines;
    ToolTransport transport(connections, "aspn2-tool listen");
    std::string names = "EventLog, MaintenanceEvent, Response";
    transport.receiver<aspn2_msgs::idl::EventLog>(
        "EventLog", [&](aspn2_msgs::idl::EventLog const& m) { lines.push(formatEventLog(m, json)); });
    transport.receiver<aspn2_msgs::idl::MaintenanceEvent>(
        "MaintenanceEvent",
        [&](aspn2_msgs::idl::MaintenanceEvent const& m) { lines.push(formatMaintenanceEvent(m, json)); });
    transport.receiver<aspn2_msgs::idl::CommandResponse>("Response", [&](aspn2_msgs::idl::CommandResponse const& m) {
        lines.push(formatCommandResponse("Response", m, json));
    });
    if (o.listen.commands) {
        transport.receiver<aspn2_msgs::idl::CommandResponse>("Command", [&](aspn2_msgs::idl::CommandResponse const& m) {
            lines.push(formatCommandResponse("Command", m, json));
        });
        names += ", Command";
    }
    if (o.listen.nav) {
        transport.receiver<aspn2_msgs::idl::PositionVelocityAttitude>(
            "PositionVelocityAttitude",
            [&](aspn2_msgs::idl::PositionVelocityAttitude const& m) { lines.push(formatPva(m, json)); });
        transport.receiver<aspn2_msgs::idl::UTCTime>(
            "UTCTime", [&](aspn2_msgs::idl::UTCTime const& m) { lines.push(formatUtc(m, json)); });
        names += ", PositionVelocityAttitude, UTCTime";
    }
    note("listen: listening on " + names);

    Clock::time_point const start = Clock::now();
    long long printed = 0;
    bool outputOk = true;
    while (!g_stop.load() && outputOk) {
        if (o.common.seconds > 0 && secondsSince(start) >= o.common.seconds) break;
        for (std::string const& line : lines.take(std::chrono::milliseconds(20))) {
            if (o.common.count > 0 && printed >= o.common.count) break;
            outputOk = outputOk && emit(line);
            ++printed;
        }
        if (o.common.count > 0 && printed >= o.common.count) break;
    }
    return kExitOk;
}

// --- record, replay, dump ---------------------------------------------------

// The whole file, or an exception naming it.
std::string readWholeFile(std::string const& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) throw std::runtime_error("cannot read " + path);
    return bytes.str();
}

// The samples of a recorded-samples file, each checked to decode as its
// topic's type; false after a note naming the file and the byte offset
// where it breaks.
bool loadRecording(std::string const& path, std::vector<RecordedSample>& samples) {
    SampleFileError error;
    if (!decodeSampleFile(readWholeFile(path), samples, error)) {
        note(path + ": " + error.str());
        return false;
    }
    for (RecordedSample const& s : samples) {
        bool decodes = false;
        if (s.topic == kPvaTopic) {
            aspn2_msgs::idl::PositionVelocityAttitude m;
            decodes = fromCdr(s.cdr, m);
        } else if (s.topic == kUtcTopic) {
            aspn2_msgs::idl::UTCTime m;
            decodes = fromCdr(s.cdr, m);
        } else if (s.topic == kCommandTopic) {
            aspn2_msgs::idl::CommandResponse m;
            decodes = fromCdr(s.cdr, m);
        } else {
            note(path + ": byte " + std::to_string(s.offset) + ": unknown topic \"" + s.topic + "\"");
            return false;
        }
        if (!decodes) {
            note(path + ": byte " + std::to_string(s.offset) + ": the " + s.topic + " sample does not decode");
            return false;
        }
    }
    return true;
}

int runRecord(ToolOptions const& o, std::string const& connections) {
    SampleRecorder recorder(o.record.path);
    std::atomic<bool> writeFailed{false};
    auto keep = [&](char const* topic, auto const& m) {
        if (!recorder.record(topic, m)) writeFailed = true;
    };
    ToolTransport transport(connections, "aspn2-tool record");
    std::string names;
    for (std::string const& topic : o.record.topics) {
        if (topic == kPvaTopic) {
            transport.receiver<aspn2_msgs::idl::PositionVelocityAttitude>(
                kPvaTopic, [&](aspn2_msgs::idl::PositionVelocityAttitude const& m) { keep(kPvaTopic, m); });
        } else if (topic == kUtcTopic) {
            transport.receiver<aspn2_msgs::idl::UTCTime>(
                kUtcTopic, [&](aspn2_msgs::idl::UTCTime const& m) { keep(kUtcTopic, m); });
        } else if (topic == kCommandTopic) {
            transport.receiver<aspn2_msgs::idl::CommandResponse>(
                kCommandTopic, [&](aspn2_msgs::idl::CommandResponse const& m) { keep(kCommandTopic, m); });
        }
        names += (names.empty() ? "" : ", ") + topic;
    }
    note("record: recording " + names + " to " + o.record.path);
    Clock::time_point const start = Clock::now();
    while (!g_stop.load() && !writeFailed.load()) {
        if (o.common.seconds > 0 && secondsSince(start) >= o.common.seconds) break;
        if (o.common.count > 0 && recorder.samples() >= o.common.count) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (writeFailed.load()) {
        note("record: cannot write " + o.record.path + " any more");
        return kExitSetupFailed;
    }
    Line done(o.common.json, "record_done");
    done.real("t", secondsSince(start), 1).integer("samples", recorder.samples());
    emit(done.str());
    return kExitOk;
}

int runReplay(ToolOptions const& o, std::string const& connections) {
    std::vector<RecordedSample> samples;
    if (!loadRecording(o.record.path, samples)) return kExitSetupFailed;
    ToolTransport transport(connections, "aspn2-tool replay");
    ToolTransport::Endpoint<aspn2_msgs::idl::PositionVelocityAttitude> pvaOut;
    ToolTransport::Endpoint<aspn2_msgs::idl::UTCTime> utcOut;
    ToolTransport::Endpoint<aspn2_msgs::idl::CommandResponse> commandOut;
    std::set<std::string> topics;
    for (RecordedSample const& s : samples) topics.insert(s.topic);
    if (topics.count(kPvaTopic)) pvaOut = transport.sender<aspn2_msgs::idl::PositionVelocityAttitude>(kPvaTopic);
    if (topics.count(kUtcTopic)) utcOut = transport.sender<aspn2_msgs::idl::UTCTime>(kUtcTopic);
    if (topics.count(kCommandTopic)) commandOut = transport.sender<aspn2_msgs::idl::CommandResponse>(kCommandTopic);
    note("replay: " + std::to_string(samples.size()) + " samples from " + o.record.path);

    // Every topic's reader first, so that the first samples are not lost
    // to discovery.
    auto const waitEnd =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.replay.waitS));
    auto const allMatched = [&] {
        int const n = o.replay.readers;
        return (!pvaOut.typed || ToolTransport::readersMatched(pvaOut) >= n) &&
               (!utcOut.typed || ToolTransport::readersMatched(utcOut) >= n) &&
               (!commandOut.typed || ToolTransport::readersMatched(commandOut) >= n);
    };
    while (!g_stop.load() && !allMatched() && Clock::now() < waitEnd) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (o.replay.waitS > 0 && !allMatched()) note("replay: not every topic has a reader; sending anyway");

    long long sent = 0, failures = 0, rounds = 0;
    Clock::time_point const start = Clock::now();
    do {
        Clock::time_point const roundStart = Clock::now();
        for (RecordedSample const& s : samples) {
            if (g_stop.load()) break;
            if (o.replay.speed > 0) {
                sleepUntil(roundStart + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                            static_cast<double>(s.timeNs) * 1e-9 / o.replay.speed)));
                if (g_stop.load()) break;
            }
            bool ok = false;
            if (s.topic == kPvaTopic) {
                aspn2_msgs::idl::PositionVelocityAttitude m;
                ok = fromCdr(s.cdr, m) && ToolTransport::send(pvaOut, m);
            } else if (s.topic == kUtcTopic) {
                aspn2_msgs::idl::UTCTime m;
                ok = fromCdr(s.cdr, m) && ToolTransport::send(utcOut, m);
            } else if (s.topic == kCommandTopic) {
                aspn2_msgs::idl::CommandResponse m;
                ok = fromCdr(s.cdr, m) && ToolTransport::send(commandOut, m);
            }
            ++(ok ? sent : failures);
        }
        ++rounds;
    } while (o.replay.loop && !g_stop.load());
    if (o.replay.hold && !g_stop.load()) {
        // The last pair again and again, times of validity unchanged.
        aspn2_msgs::idl::PositionVelocityAttitude lastPva;
        aspn2_msgs::idl::UTCTime lastUtc;
        bool havePva = false, haveUtc = false;
        for (RecordedSample const& s : samples) {
            if (s.topic == kPvaTopic) havePva = fromCdr(s.cdr, lastPva);
            if (s.topic == kUtcTopic) haveUtc = fromCdr(s.cdr, lastUtc);
        }
        note("replay: holding the last samples");
        Clock::time_point next = Clock::now();
        while (!g_stop.load()) {
            next += std::chrono::milliseconds(500);
            sleepUntil(next);
            if (g_stop.load()) break;
            if (havePva) ++(ToolTransport::send(pvaOut, lastPva) ? sent : failures);
            if (haveUtc) ++(ToolTransport::send(utcOut, lastUtc) ? sent : failures);
        }
    }
    Line done(o.common.json, "replay_done");
    done.real("t", secondsSince(start), 1)
        .integer("sent", sent)
        .integer("send_failures", failures)
        .integer("rounds", rounds);
    emit(done.str());
    return kExitOk;
}

int runDump(ToolOptions const& o) {
    std::vector<RecordedSample> samples;
    if (!loadRecording(o.record.path, samples)) return kExitNoResponse;
    bool const json = o.common.json;
    for (RecordedSample const& s : samples) {
        std::string line;
        if (s.topic == kPvaTopic) {
            aspn2_msgs::idl::PositionVelocityAttitude m;
            fromCdr(s.cdr, m);
            line = formatPva(m, json);
        } else if (s.topic == kUtcTopic) {
            aspn2_msgs::idl::UTCTime m;
            fromCdr(s.cdr, m);
            line = formatUtc(m, json);
        } else {
            aspn2_msgs::idl::CommandResponse m;
            fromCdr(s.cdr, m);
            line = formatCommandResponse(s.topic, m, json);
        }
        char stamp[64];
        std::snprintf(stamp, sizeof stamp, json ? "{\"t\":%.9f,\"sample\":" : "t=%.9f ",
                      static_cast<double>(s.timeNs) * 1e-9);
        if (!emit(stamp + line + (json ? "}" : ""))) break;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    ToolOptions options;
    std::string error;
    if (!parseToolOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "aspn2-tool: %s (see --help)\n", error.c_str());
        return kExitSetupFailed;
    }
    if (options.mode == ToolMode::Help) {
        std::fputs(kToolUsage, stdout);
        return kExitOk;
    }
    installSignalHandlers();
    try {
        if (options.mode == ToolMode::Dump) return runDump(options);
        std::string connections =
            options.common.connections.empty() ? defaultConnections() : options.common.connections;
        std::unique_ptr<TemporaryConnectionsFile> copy;
        if (options.common.domain >= 0) {
            copy =
                std::make_unique<TemporaryConnectionsFile>(connections, static_cast<unsigned>(options.common.domain));
            connections = copy->path();
        }
        switch (options.mode) {
            case ToolMode::Nav:
                return runNav(options, connections);
            case ToolMode::Command:
                return runCommand(options, connections);
            case ToolMode::Listen:
                return runListen(options, connections);
            case ToolMode::Record:
                return runRecord(options, connections);
            case ToolMode::Replay:
                return runReplay(options, connections);
            case ToolMode::Dump:
            case ToolMode::Help:
                break;
        }
    } catch (std::exception const& e) {
        note(e.what());
    }
    return kExitSetupFailed;
}
