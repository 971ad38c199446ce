#include "tools/aspn2-tool/ToolOptions.h"

#include "tools/aspn2-tool/ConnectionsFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

namespace aspn2_tool {

char const* const kToolUsage =
    "usage: aspn2-tool nav     [common] [nav options]\n"
    "       aspn2-tool command [common] [--type N] [--timeout S] [--all] [--id N] [--retry S] [--] TEXT\n"
    "       aspn2-tool command [common] [--type N] [--timeout S] --texts FILE [--pace HZ]\n"
    "       aspn2-tool listen  [common] [--commands] [--nav]\n"
    "       aspn2-tool record  [common] [--topics LIST] FILE\n"
    "       aspn2-tool replay  [common] [--speed X] [--loop | --hold] [--wait S] [--readers N] FILE\n"
    "       aspn2-tool dump    [--json] FILE\n"
    "\n"
    "common options:\n"
    "  --connections FILE  connections file (default: the sample config/connections-udp.xml,\n"
    "                      installed: /opt/corvane/config/connections-udp.xml)\n"
    "  --domain N          DDS domain 0..232 instead of the file's DomainId\n"
    "  --json              one JSON object per line\n"
    "  --seconds S         stop after S seconds (nav, listen, record)\n"
    "  --count N           stop after N messages (nav: PVA sent; listen: lines; command: responses;\n"
    "                      record: samples)\n"
    "  --verbose           nav: one line per message sent instead of one per second\n"
    "  --system NAME       system name of the device ids (default Simulator)\n"
    "  --source-id N       server id 0..255 of the device ids (nav 96, command 50)\n"
    "\n"
    "nav: publishes PositionVelocityAttitude and UTCTime of a vehicle driving laps\n"
    "  --rate HZ           PVA rate 0..1000 (default 10; 0: none)\n"
    "  --utc-rate HZ       UTCTime rate 0..1000 (default 10; 0: none)\n"
    "  --lat DEG --lon DEG --alt M   start point, altitude above the ellipsoid\n"
    "                      (default 45.0, 7.5, 300)\n"
    "  --speed M/S         horizontal speed 0..1000 (default 10)\n"
    "  --length M --width M --radius M --hill M   lap: north/south and east/west\n"
    "                      straights, corner radius, hill height (300, 200, 30, 3)\n"
    "  faults:\n"
    "  --grow-covariance R position sigmas grow by R m per second (solution turns\n"
    "                      unusable once the position variances sum to 25e6 m^2)\n"
    "  --nan FIELD         NaN in latitude|longitude|altitude|velocity|attitude|covariance\n"
    "                      (repeatable)\n"
    "  --wrong-source N    every message from server id N\n"
    "  --utc-lag S         the UTC stream's time of validity lags by S seconds\n"
    "  --lat-override DEG  this latitude (any value) with a usable covariance\n"
    "  --phase S:ITEMS     (repeatable) first run phases of S seconds each, in order,\n"
    "                      with their own faults instead of the ones above; ITEMS\n"
    "                      joined by commas: ok, silent, no-pva, no-utc, nan=FIELD,\n"
    "                      wrong-source=N, utc-lag=S, sigma=M (every position sigma\n"
    "                      M metres) (e.g. --phase 5:ok --phase 3:silent)\n"
    "  --record FILE       also write every sample sent to FILE (recorded-samples format)\n"
    "\n"
    "command: sends TEXT on \"Command\" and prints the responses on \"Response\"\n"
    "  --type N            command_response_type (0 command, 1 response; default 0)\n"
    "  --timeout S         wait this long for responses (default 3)\n"
    "  --all               print every response, not only those to this command\n"
    "  --id N              command identifier 0..4294967295 (default: random)\n"
    "  --retry S           resend every S seconds while unanswered (default 1; 0: once)\n"
    "  exit status 0 when a response to the command arrived, 1 when none did\n"
    "  --texts FILE        instead of TEXT: send each line of FILE once as a command (escapes\n"
    "                      \\\\ \\n \\r \\t \\xHH), identifiers counting up from --id; --timeout\n"
    "                      bounds the wait for the Command reader; exit status 0 when all were\n"
    "                      sent; prints the count sent and the responses heard\n"
    "  --pace HZ           --texts: texts per second 1..100000 (default 500)\n"
    "\n"
    "listen: prints EventLog, MaintenanceEvent and Response traffic\n"
    "  --commands          also the Command connection\n"
    "  --nav               also PositionVelocityAttitude and UTCTime\n"
    "\n"
    "record: writes every sample received on the topics, with its reception time,\n"
    "  to FILE in the recorded-samples format (tools/aspn2-tool/RECORDING.md)\n"
    "  --topics LIST       comma-separated, of PositionVelocityAttitude, UTCTime,\n"
    "                      Command (default all three)\n"
    "replay: publishes the samples of FILE with their recorded spacing, times of\n"
    "  validity as recorded\n"
    "  --speed X           spacing divided by X, 0.001..1000, or 0: back to back (default 1)\n"
    "  --loop              start again after the last sample until stopped\n"
    "  --hold              after the last sample resend the last PVA and UTCTime\n"
    "                      twice a second until stopped (a navigator that stands)\n"
    "  --wait S            wait up to S seconds for the readers of every topic before\n"
    "                      the first sample (default 10; 0 does not wait)\n"
    "  --readers N         readers each topic needs before the first sample (default 1)\n"
    "dump: prints the samples of FILE, one line each, or the byte offset where the\n"
    "  file breaks (exit status 1)\n"
    "\n"
    "Ends on SIGINT or SIGTERM. Exit status 2 on a bad command line or set-up failure.\n";

namespace {

bool toDouble(std::string const& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    double const v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || errno != 0 || !std::isfinite(v)) return false;
    value = v;
    return true;
}

bool toUnsigned(std::string const& text, unsigned long long max, unsigned long long& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long const v = std::strtoull(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || v > max) return false;
    value = v;
    return true;
}

enum Applies : unsigned { kNav = 1, kCommand = 2, kListen = 4, kRecord = 8, kReplay = 16, kDump = 32, kAll = 31 };

struct Option {
    unsigned modes;
    bool takesValue;
    std::function<bool(std::string const&, ToolOptions&)> apply;  // false: bad value
    char const* expected;                                         // the value's description in error lines
};

// A number option in [lo, hi] stored through `store`.
Option real(unsigned modes, double lo, double hi, char const* expected,
            std::function<void(ToolOptions&, double)> store) {
    return {modes, true,
            [=](std::string const& v, ToolOptions& o) {
                double d = 0.0;
                if (!toDouble(v, d) || d < lo || d > hi) return false;
                store(o, d);
                return true;
            },
            expected};
}

Option whole(unsigned modes, unsigned long long lo, unsigned long long hi, char const* expected,
             std::function<void(ToolOptions&, unsigned long long)> store) {
    return {modes, true,
            [=](std::string const& v, ToolOptions& o) {
                unsigned long long n = 0;
                if (!toUnsigned(v, hi, n) || n < lo) return false;
                store(o, n);
                return true;
            },
            expected};
}

Option flag(unsigned modes, std::function<void(ToolOptions&)> store) {
    return {modes, false,
            [=](std::string const&, ToolOptions& o) {
                store(o);
                return true;
            },
            ""};
}

std::map<std::string, Option> const& optionTable() {
    static std::map<std::string, Option> const table = {
        {"--connections", {kAll, true, [](std::string const& v, ToolOptions& o) {
                               o.common.connections = v;
                               return !v.empty();
                           }, "a file name"}},
        {"--domain", whole(kAll, 0, kMaxDomainId, "a whole number 0..232",
                           [](ToolOptions& o, unsigned long long n) { o.common.domain = static_cast<int>(n); })},
        {"--json", flag(kAll | kDump, [](ToolOptions& o) { o.common.json = true; })},
        {"--verbose", flag(kNav, [](ToolOptions& o) { o.common.verbose = true; })},
        {"--seconds", real(kNav | kListen | kRecord, 1e-3, 1e9, "a number of seconds > 0",
                           [](ToolOptions& o, double d) { o.common.seconds = d; })},
        {"--count", whole(kAll, 1, 1000000000000ULL, "a whole number >= 1",
                          [](ToolOptions& o, unsigned long long n) { o.common.count = static_cast<long long>(n); })},
        {"--system", {kNav | kCommand, true, [](std::string const& v, ToolOptions& o) {
                          o.common.systemName = v;
                          return true;
                      }, "a system name"}},
        {"--source-id", whole(kNav | kCommand, 0, 255, "a server id 0..255",
                              [](ToolOptions& o, unsigned long long n) { o.common.sourceId = static_cast<int>(n); })},
        // nav
        {"--rate",
         real(kNav, 0.0, 1000.0, "a rate 0..1000 Hz", [](ToolOptions& o, double d) { o.nav.rateHz = d; })},
        {"--utc-rate", real(kNav, 0.0, 1000.0, "a rate 0..1000 Hz",
                            [](ToolOptions& o, double d) { o.nav.utcRateHz = d; })},
        {"--lat", real(kNav, -90.0, 90.0, "a latitude -90..90 degrees",
                       [](ToolOptions& o, double d) { o.nav.latDeg = d; })},
        {"--lon", real(kNav, -180.0, 180.0, "a longitude -180..180 degrees",
                       [](ToolOptions& o, double d) { o.nav.lonDeg = d; })},
        {"--alt", real(kNav, -1.0e5, 1.0e5, "an altitude -100000..100000 m",
                       [](ToolOptions& o, double d) { o.nav.altM = d; })},
        {"--length", real(kNav, 1.0, 1.0e5, "a length 1..100000 m",
                          [](ToolOptions& o, double d) { o.nav.shape.lengthM = d; })},
        {"--width",
         real(kNav, 1.0, 1.0e5, "a width 1..100000 m", [](ToolOptions& o, double d) { o.nav.shape.widthM = d; })},
        {"--radius", real(kNav, 1.0, 1.0e4, "a radius 1..10000 m",
                          [](ToolOptions& o, double d) { o.nav.shape.cornerRadiusM = d; })},
        {"--hill",
         real(kNav, 0.0, 1000.0, "a height 0..1000 m", [](ToolOptions& o, double d) { o.nav.shape.hillM = d; })},
        {"--grow-covariance", real(kNav, 0.0, 1.0e7, "a growth 0..1e7 m/s",
                                   [](ToolOptions& o, double d) { o.nav.growCovarianceMps = d; })},
        {"--nan", {kNav, true, [](std::string const& v, ToolOptions& o) {
                       NanField field{};
                       if (!nanFieldFromName(v, field)) return false;
                       o.nav.faults.nanFields.push_back(field);
                       return true;
                   }, "latitude, longitude, altitude, velocity, attitude or covariance"}},
        {"--wrong-source", whole(kNav, 0, 255, "a server id 0..255",
                                 [](ToolOptions& o, unsigned long long n) {
                                     o.nav.faults.wrongSourceId = static_cast<int>(n);
                                 })},
        {"--utc-lag", real(kNav, -3600.0, 3600.0, "a time -3600..3600 s",
                           [](ToolOptions& o, double d) { o.nav.faults.utcLagS = d; })},
        {"--lat-override", real(kNav, -1.0e6, 1.0e6, "a latitude in degrees (any finite value up to 1e6)",
                                [](ToolOptions& o, double d) {
                                    o.nav.faults.overrideLatitude = true;
                                    o.nav.faults.latitudeOverrideDeg = d;
                                })},
        {"--phase", {kNav, true, [](std::string const& v, ToolOptions& o) {
                         NavPhase phase;
                         std::string ignored;
                         if (!parsePhase(v, phase, ignored)) return false;
                         o.nav.phases.push_back(phase);
                         return true;
                     }, "SECONDS:ITEM[,ITEM...] with items ok, silent, no-pva, no-utc, nan=FIELD, wrong-source=N, "
                        "utc-lag=S"}},
        // command
        {"--type", whole(kCommand, 0, 4294967295ULL, "a whole number 0..4294967295",
                         [](ToolOptions& o, unsigned long long n) { o.command.type = static_cast<std::uint32_t>(n); })},
        {"--timeout", real(kCommand, 1e-3, 3600.0, "a number of seconds > 0 and <= 3600",
                           [](ToolOptions& o, double d) { o.command.timeoutS = d; })},
        {"--all", flag(kCommand, [](ToolOptions& o) { o.command.all = true; })},
        {"--id", whole(kCommand, 0, 4294967295ULL, "a whole number 0..4294967295",
                       [](ToolOptions& o, unsigned long long n) {
                           o.command.identifier = static_cast<std::uint32_t>(n);
                       })},
        {"--retry", real(kCommand, 0.0, 3600.0, "a number of seconds >= 0",
                         [](ToolOptions& o, double d) { o.command.retryS = d; })},
        {"--texts", {kCommand, true, [](std::string const& v, ToolOptions& o) {
                         if (v.empty()) return false;
                         o.command.textsFile = v;
                         return true;
                     }, "a file of command texts"}},
        {"--pace", real(kCommand, 1.0, 100000.0, "a rate 1..100000 per second",
                        [](ToolOptions& o, double d) { o.command.paceHz = d; })},
        // listen
        {"--commands", flag(kListen, [](ToolOptions& o) { o.listen.commands = true; })},
        {"--nav", flag(kListen, [](ToolOptions& o) { o.listen.nav = true; })},
        {"--record", {kNav, true, [](std::string const& v, ToolOptions& o) {
                          o.nav.recordPath = v;
                          return !v.empty();
                      }, "a file name"}},
        // record, replay
        {"--topics", {kRecord, true, [](std::string const& v, ToolOptions& o) {
                          std::vector<std::string> topics;
                          std::size_t start = 0;
                          while (start <= v.size()) {
                              std::size_t const comma = std::min(v.find(',', start), v.size());
                              std::string const t = v.substr(start, comma - start);
                              if (t != "PositionVelocityAttitude" && t != "UTCTime" && t != "Command") return false;
                              if (std::find(topics.begin(), topics.end(), t) == topics.end()) topics.push_back(t);
                              start = comma + 1;
                          }
                          o.record.topics = topics;
                          return true;
                      }, "a comma-separated list of PositionVelocityAttitude, UTCTime, Command"}},
        {"--speed", {kNav | kReplay, true, [](std::string const& v, ToolOptions& o) {
                         // nav: the vehicle's speed; replay: the time scale.
                         double d = 0.0;
                         if (!toDouble(v, d)) return false;
                         if (o.mode == ToolMode::Replay) {
                             if (d != 0.0 && (d < 1e-3 || d > 1000.0)) return false;
                             o.replay.speed = d;
                             return true;
                         }
                         if (d < 0.0 || d > 1000.0) return false;
                         o.nav.speedMps = d;
                         return true;
                     }, "nav: a speed 0..1000 m/s; replay: 0 or a factor 0.001..1000"}},
        {"--loop", flag(kReplay, [](ToolOptions& o) { o.replay.loop = true; })},
        {"--hold", flag(kReplay, [](ToolOptions& o) { o.replay.hold = true; })},
        {"--readers", whole(kReplay, 1, 100, "a whole number 1..100",
                            [](ToolOptions& o, unsigned long long n) { o.replay.readers = static_cast<int>(n); })},
        {"--wait", real(kReplay, 0.0, 3600.0, "a number of seconds 0..3600",
                        [](ToolOptions& o, double d) { o.replay.waitS = d; })},
    };
    return table;
}

}  // namespace

bool parseToolOptions(std::vector<std::string> const& args, ToolOptions& out, std::string& error) {
    ToolOptions o;
    if (args.empty()) {
        error = "a mode is required: nav, command, listen, record, replay or dump";
        return false;
    }
    std::string const& mode = args[0];
    struct ModeEntry {
        char const* name;
        ToolMode mode;
        unsigned applies;
    };
    static ModeEntry const kModes[] = {
        {"nav", ToolMode::Nav, kNav},          {"command", ToolMode::Command, kCommand},
        {"listen", ToolMode::Listen, kListen}, {"record", ToolMode::Record, kRecord},
        {"replay", ToolMode::Replay, kReplay}, {"dump", ToolMode::Dump, kDump},
    };
    if (mode == "-h" || mode == "--help" || mode == "help") {
        out = o;
        return true;
    }
    auto const entry =
        std::find_if(std::begin(kModes), std::end(kModes), [&](ModeEntry const& m) { return mode == m.name; });
    if (entry == std::end(kModes)) {
        error = "unknown mode \"" + mode + "\" (nav, command, listen, record, replay or dump)";
        return false;
    }
    o.mode = entry->mode;
    unsigned const applies = entry->applies;

    bool haveText = false;
    bool optionsEnded = false;  // after "--" every argument is positional
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string const& arg = args[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            o.mode = ToolMode::Help;
            out = o;
            return true;
        }
        if (!optionsEnded && arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            auto const found = optionTable().find(arg);
            if (found == optionTable().end()) {
                error = "unknown option " + arg;
                return false;
            }
            Option const& option = found->second;
            if ((option.modes & applies) == 0) {
                error = "option " + arg + " does not apply to " + mode;
                return false;
            }
            std::string value;
            if (option.takesValue) {
                if (i + 1 >= args.size()) {
                    error = arg + " needs a value: " + option.expected;
                    return false;
                }
                value = args[++i];
            }
            if (!option.apply(value, o)) {
                error = arg + " needs " + option.expected + ", not \"" + value + "\"";
                return false;
            }
        } else if (o.mode == ToolMode::Command && !haveText && o.command.textsFile.empty()) {
            o.command.text = arg;
            haveText = true;
        } else if ((o.mode == ToolMode::Record || o.mode == ToolMode::Replay || o.mode == ToolMode::Dump) &&
                   !haveText && !arg.empty()) {
            o.record.path = arg;
            haveText = true;
        } else {
            error = "unexpected argument \"" + arg + "\"";
            return false;
        }
    }

    if (o.mode == ToolMode::Command && !haveText && o.command.textsFile.empty()) {
        error = "command needs the command TEXT";
        return false;
    }
    if ((o.mode == ToolMode::Record || o.mode == ToolMode::Replay || o.mode == ToolMode::Dump) && !haveText) {
        error = mode + " needs the recorded-samples FILE";
        return false;
    }
    if (o.mode == ToolMode::Command && haveText && !o.command.textsFile.empty()) {
        error = "command takes a TEXT or --texts FILE, not both";
        return false;
    }
    if (o.mode == ToolMode::Nav && o.nav.rateHz == 0.0 && o.nav.utcRateHz == 0.0) {
        error = "--rate and --utc-rate cannot both be 0";
        return false;
    }
    if (o.common.sourceId < 0) {
        o.common.sourceId = o.mode == ToolMode::Command ? kDefaultCommandSourceId : kDefaultNavSourceId;
    }
    out = o;
    return true;
}

}  // namespace aspn2_tool
