#include "VICTORY/ZOziDaZodOduzuz/StatusJson.h"

#include "VICTORY/ZOziDaZodOduzuz/NavigationIntake.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>

namespace Status {

namespace {

using nlohmann::json;

constexpr const char* kServiceNames[kServiceCount] = {"position", "orientation", "direction_of_travel"};
constexpr std::uint64_t kNominalFpgaHz = 58982400;

// A number, or null when it is not finite.
json number(double value) { return std::isfinite(value) ? json(value) : json(nullptr); }

json sourceId(int id) { return id < 0 ? json(nullptr) : json(id); }

json sourceName(int id) {
    if (id < 0) {
        return nullptr;
    }
    if (id == NavigationIntake::kAnySource) {
        return "any source";
    }
    return NavigationIntake::sourceName(static_cast<std::uint8_t>(id));
}

std::string policyName(int policy) {
    switch (policy) {
        case 0:
            return "SCHED_OTHER";
        case 1:
            return "SCHED_FIFO";
        case 2:
            return "SCHED_RR";
        case 3:
            return "SCHED_BATCH";
        case 5:
            return "SCHED_IDLE";
        default:
            return "unknown";
    }
}

// "0-1,3" for the processors of `mask`.
std::string cpuList(std::uint64_t mask) {
    std::string out;
    for (int cpu = 0; cpu < 64;) {
        if ((mask >> cpu & 1u) == 0) {
            ++cpu;
            continue;
        }
        int last = cpu;
        while (last + 1 < 64 && (mask >> (last + 1) & 1u) != 0) {
            ++last;
        }
        if (!out.empty()) {
            out += ',';
        }
        out += std::to_string(cpu);
        if (last > cpu) {
            out += '-' + std::to_string(last);
        }
        cpu = last + 1;
    }
    return out;
}

double age(double then, double now) { return std::isnan(then) ? then : std::max(0.0, now - then); }

int faultCount(const ServiceSnapshot& s) { return s.running ? (s.navLossFault ? 1 : 0) + s.testFaults : 0; }

json serviceJson(int index, const ServiceSnapshot& s, double now) {
    json values = json::object();
    if (s.tells > 0) {
        switch (index) {
            case kPosition:
                values = {{"latitude_deg", number(s.values[0])},
                          {"longitude_deg", number(s.values[1])},
                          {"altitude_m", number(s.values[2])},
                          {"mgrs", s.mgrs[0] != '\0' ? json(s.mgrs) : json(nullptr)}};
                break;
            case kOrientation:
                values = {{"roll_deg", number(s.values[0])},
                          {"pitch_deg", number(s.values[1])},
                          {"yaw_deg", number(s.values[2])}};
                break;
            default:
                values = {{"heading_deg", number(s.values[0])},
                          {"speed_mps", number(s.values[1])},
                          {"climb_mps", number(s.values[2])}};
                break;
        }
    }
    json faults = json::array();
    if (s.running && s.navLossFault) {
        faults.push_back("navigation data lost");
    }
    if (s.running && s.testFaults > 0) {
        faults.push_back(std::to_string(s.testFaults) + " fault test " + (s.testFaults == 1 ? "fault" : "faults"));
    }
    return {{"name", kServiceNames[index]},
            {"switched_on", s.switchedOn},
            {"running", s.running},
            {"state", stateName(s.state)},
            {"tells", s.tells},
            {"last_tell_age_s", number(age(s.lastTell, now))},
            {"solution_valid", s.tells > 0 ? json(s.lastValid) : json(nullptr)},
            {"values", values},
            {"faults", faults}};
}

// 0..3 from worst to best for the overall state; Off is not ranked.
int badness(ServiceState state) {
    switch (state) {
        case ServiceState::Sanitized:
            return 5;
        case ServiceState::Lost:
            return 4;
        case ServiceState::Invalid:
            return 3;
        case ServiceState::NoData:
            return 2;
        case ServiceState::Live:
            return 1;
        case ServiceState::Off:
            return 0;
    }
    return 0;
}

}  // namespace

ServiceState overallState(const Snapshot& snapshot) noexcept {
    ServiceState worst = ServiceState::Off;
    for (const ServiceSnapshot& s : snapshot.services) {
        // A sanitize runs the switched-off services too: they count then.
        if ((s.switchedOn || snapshot.sanitized) && badness(s.state) > badness(worst)) {
            worst = s.state;
        }
    }
    return worst;
}

std::string summaryLine(const Snapshot& snapshot, int source, double now) {
    const std::string from =
        source == NavigationIntake::kAnySource ? std::string("any source") : "navigator " + std::to_string(source);
    const ServiceState state = overallState(snapshot);
    if (state == ServiceState::Off) {
        return "off: every service switched off";
    }
    if (state == ServiceState::NoData && !snapshot.lost) {
        return std::string("no data yet: waiting for ") + from;
    }
    double lastTell = std::numeric_limits<double>::quiet_NaN();
    int faults = 0;
    for (const ServiceSnapshot& s : snapshot.services) {
        if (!std::isnan(s.lastTell) && (std::isnan(lastTell) || s.lastTell > lastTell)) {
            lastTell = s.lastTell;
        }
        faults += faultCount(s);
    }
    char text[200];
    const double a = age(lastTell, now);
    std::string head = stateName(state);
    if (state == ServiceState::Lost && snapshot.cause != GapCause::None) {
        head += std::string(" (") + causeName(snapshot.cause) + ")";
    }
    std::snprintf(text, sizeof text, "%s: %.1f pairs/s from %s, age %.2f s, %d %s", head.c_str(), snapshot.pairRate,
                  from.c_str(), std::isnan(a) ? 0.0 : a, faults, faults == 1 ? "fault" : "faults");
    return text;
}

std::string toJson(const Report& r) {
    const Snapshot& s = r.snapshot;
    json services = json::array();
    for (int i = 0; i < kServiceCount; ++i) {
        services.push_back(serviceJson(i, s.services[i], r.now));
    }
    json connections = json::array();
    for (const Connection& c : r.connections) {
        connections.push_back({{"name", c.name}, {"role", c.role}, {"matched", c.matched}});
    }
    const ServiceState overall = overallState(s);
    const double uptime = age(s.started, r.now);
    json doc = {
        {"format", kFormat},
        {"server",
         {{"name", r.name},
          {"state", r.state},
          {"uptime_s", number(uptime)},
          {"version", r.version},
          {"config_file", r.configFile},
          {"worker_cycles", s.cycles}}},
        {"source",
         {{"pva_accepted", r.pvaSource},
          {"pva_accepted_name", sourceName(r.pvaSource)},
          {"utc_accepted", r.utcSource},
          {"utc_accepted_name", sourceName(r.utcSource)},
          {"pva_filtered", r.pvaFiltered},
          {"utc_filtered", r.utcFiltered},
          {"last_foreign_source", sourceId(r.lastForeignSource)},
          {"last_foreign_source_name", sourceName(r.lastForeignSource)}}},
        {"intake",
         {{"pva", {{"count", r.pvaCount}, {"rate_hz", number(s.pvaRate)}, {"last_tov_s", number(s.lastPvaTov)}}},
          {"utc", {{"count", r.utcCount}, {"rate_hz", number(s.utcRate)}, {"last_tov_s", number(s.lastUtcTov)}}},
          {"delta_tov_s", {{"last", number(s.lastDeltaTov)}, {"max_60s", number(s.maxDeltaTov)}}},
          {"pairs",
           {{"told", s.pairsTold},
            {"rate_hz", number(s.pairRate)},
            {"refused", {{"delta_tov", s.refusedDeltaTov}, {"rejected", s.refusedRejected}}}}},
          {"navigation",
           {{"lost", s.lost},
            {"waiting", s.waiting},
            {"gap", s.cause == GapCause::None ? json(nullptr) : json(causeName(s.cause))}}}}},
        {"services", services},
        {"output", {{"sanitized", s.sanitized}, {"fault_test_output_off", s.tellDisabled}}},
        {"events",
         {{"health", {{"queued", r.healthQueued}, {"sent", r.healthSent}, {"dropped", r.healthDropped}}},
          {"maintenance", {{"sent", r.maintenanceSent}}}}},
        {"dds",
         {{"security", {{"enabled", r.ddsSecure}, {"identity", r.ddsIdentity}}},
          {"receive_stalled", s.receiveStalled},
          {"connections", connections}}},
        {"fpga", {{"counter_rate_hz", number(s.fpgaRate)}, {"nominal_hz", kNominalFpgaHz}}},
        {"scheduling",
         {{"policy", s.schedPolicy < 0 ? json(nullptr) : json(policyName(s.schedPolicy))},
          {"priority", s.schedPriority},
          {"cpus", cpuList(s.cpuMask)}}},
        {"summary",
         {{"state", r.haveSnapshot ? stateName(overall) : "starting"},
          {"line", r.haveSnapshot ? summaryLine(s, r.pvaSource, r.now) : std::string("starting")}}},
    };
    return doc.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace Status
