#include "tools/pnt-status/StatusView.h"

#include <cmath>
#include <cstdio>
#include <sstream>

namespace PntStatus {

namespace {

using nlohmann::json;

// The member at `path` (object keys), or null when any step is missing.
const json& at(const json& doc, std::initializer_list<const char*> path) {
    static const json none;
    const json* node = &doc;
    for (const char* key : path) {
        if (!node->is_object()) {
            return none;
        }
        const auto it = node->find(key);
        if (it == node->end()) {
            return none;
        }
        node = &*it;
    }
    return *node;
}

std::string text(const json& v, const std::string& fallback = "-") {
    if (v.is_string()) {
        return v.get<std::string>();
    }
    if (v.is_boolean()) {
        return v.get<bool>() ? "yes" : "no";
    }
    if (v.is_number_integer() || v.is_number_unsigned()) {
        return v.dump();
    }
    if (v.is_number_float()) {
        std::ostringstream out;
        out << v.get<double>();
        return out.str();
    }
    return fallback;
}

std::string fixed(const json& v, int decimals, const std::string& fallback = "-") {
    if (!v.is_number()) {
        return fallback;
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, v.get<double>());
    return buffer;
}

std::string count(const json& v) { return v.is_number() ? text(v) : "-"; }

bool flag(const json& v) { return v.is_boolean() && v.get<bool>(); }

std::string duration(const json& v) {
    if (!v.is_number()) {
        return "-";
    }
    const long long total = static_cast<long long>(v.get<double>());
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%lld d %02lld:%02lld:%02lld", total / 86400, total / 3600 % 24,
                  total / 60 % 60, total % 60);
    return buffer;
}

// "96 (FusionNavigator)"; a name in parentheses already ("(unknown ID
// 200)") is not wrapped again.
std::string source(const json& id, const json& name, bool zeroIsAny) {
    if (!id.is_number()) {
        return "-";
    }
    if (zeroIsAny && id.get<double>() == 0) {
        return "any source";
    }
    const std::string n = text(name);
    return text(id) + " " + (n.rfind("(", 0) == 0 ? n : "(" + n + ")");
}

void line(std::ostringstream& out, const char* label, const std::string& value) {
    char head[32];
    std::snprintf(head, sizeof head, "%-16s: ", label);
    out << head << value << '\n';
}

std::string serviceValues(const json& service) {
    const json& v = at(service, {"values"});
    const std::string name = text(at(service, {"name"}));
    if (!v.is_object() || v.empty()) {
        return "";
    }
    if (name == "position") {
        return fixed(at(v, {"latitude_deg"}), 7) + " deg, " + fixed(at(v, {"longitude_deg"}), 7) + " deg, " +
               fixed(at(v, {"altitude_m"}), 2) + " m, MGRS " + text(at(v, {"mgrs"}));
    }
    if (name == "orientation") {
        return "roll " + fixed(at(v, {"roll_deg"}), 2) + ", pitch " + fixed(at(v, {"pitch_deg"}), 2) + ", yaw " +
               fixed(at(v, {"yaw_deg"}), 2) + " deg";
    }
    return "heading " + fixed(at(v, {"heading_deg"}), 2) + " deg, speed " + fixed(at(v, {"speed_mps"}), 2) +
           " m/s, climb " + fixed(at(v, {"climb_mps"}), 2) + " m/s";
}

std::string serviceLine(const json& service) {
    std::string s = std::string(flag(at(service, {"switched_on"})) ? "on" : "off") + ", " +
                    (flag(at(service, {"running"})) ? "running" : "not running") + ", " + text(at(service, {"state"}));
    const json& age = at(service, {"last_tell_age_s"});
    if (age.is_number()) {
        s += ", told " + fixed(age, 2) + " s ago";
        const std::string values = serviceValues(service);
        if (!values.empty()) {
            s += ": " + values;
        }
    }
    return s;
}

const char* serviceLabel(const std::string& name) {
    if (name == "position") {
        return "Position";
    }
    if (name == "orientation") {
        return "Orientation";
    }
    if (name == "direction_of_travel") {
        return "Direction";
    }
    return "Service";
}

}  // namespace

int exitStatusFor(const json& status) {
    const json& services = at(status, {"services"});
    if (!services.is_array()) {
        return kUnhealthy;
    }
    int on = 0;
    for (const json& s : services) {
        if (!flag(at(s, {"switched_on"}))) {
            continue;
        }
        ++on;
        if (text(at(s, {"state"})) != "live") {
            return kUnhealthy;
        }
    }
    return on > 0 ? kHealthy : kUnhealthy;
}

std::string renderScreen(const json& s) {
    std::ostringstream out;
    line(out, "Server",
         text(at(s, {"server", "name"})) + " " + text(at(s, {"server", "state"})) + ", up " +
             duration(at(s, {"server", "uptime_s"})));
    line(out, "Version", text(at(s, {"server", "version"})));
    line(out, "Configuration", text(at(s, {"server", "config_file"})));
    line(out, "State", text(at(s, {"summary", "line"})));
    line(out, "Accepted source",
         "PVA " + source(at(s, {"source", "pva_accepted"}), at(s, {"source", "pva_accepted_name"}), true) + ", UTC " +
             source(at(s, {"source", "utc_accepted"}), at(s, {"source", "utc_accepted_name"}), true));
    const std::string foreign =
        source(at(s, {"source", "last_foreign_source"}), at(s, {"source", "last_foreign_source_name"}), false);
    line(out, "Filtered out",
         count(at(s, {"source", "pva_filtered"})) + " PVA, " + count(at(s, {"source", "utc_filtered"})) +
             " UTC; last foreign source " + foreign);
    for (const char* kind : {"pva", "utc"}) {
        line(out, std::string(kind) == "pva" ? "PVA received" : "UTC received",
             count(at(s, {"intake", kind, "count"})) + " at " + fixed(at(s, {"intake", kind, "rate_hz"}), 1) +
                 "/s, last time of validity " + fixed(at(s, {"intake", kind, "last_tov_s"}), 3) + " s");
    }
    line(out, "|deltaTov|",
         "last " + fixed(at(s, {"intake", "delta_tov_s", "last"}), 3) + " s, largest of the last minute " +
             fixed(at(s, {"intake", "delta_tov_s", "max_60s"}), 3) + " s");
    line(out, "Pairs",
         count(at(s, {"intake", "pairs", "told"})) + " told at " + fixed(at(s, {"intake", "pairs", "rate_hz"}), 1) +
             "/s; refused: " + count(at(s, {"intake", "pairs", "refused", "delta_tov"})) + " deltaTov too large, " +
             count(at(s, {"intake", "pairs", "refused", "rejected"})) + " rejected");
    std::string navigation = "pairs coming";
    if (flag(at(s, {"intake", "navigation", "lost"}))) {
        navigation = "lost";
    } else if (flag(at(s, {"intake", "navigation", "waiting"}))) {
        navigation = "waiting for the first pair";
    }
    if (at(s, {"intake", "navigation", "gap"}).is_string()) {
        navigation += " (last cycle: " + text(at(s, {"intake", "navigation", "gap"})) + ")";
    }
    line(out, "Navigation", navigation);
    std::string faults;
    const json& services = at(s, {"services"});
    if (services.is_array()) {
        for (const json& service : services) {
            const std::string name = text(at(service, {"name"}));
            line(out, serviceLabel(name), serviceLine(service));
            const json& list = at(service, {"faults"});
            if (list.is_array()) {
                for (const json& f : list) {
                    faults += (faults.empty() ? "" : "; ") + name + ": " + text(f);
                }
            }
        }
    }
    line(out, "Faults", faults.empty() ? "none" : faults);
    std::string output = flag(at(s, {"output", "sanitized"})) ? "sanitized (update period 49.7 days)" : "normal";
    if (flag(at(s, {"output", "fault_test_output_off"}))) {
        output += ", switched off by the fault test";
    }
    line(out, "Output", output);
    line(out, "Health events",
         count(at(s, {"events", "health", "queued"})) + " queued, " + count(at(s, {"events", "health", "sent"})) +
             " sent, " + count(at(s, {"events", "health", "dropped"})) + " dropped");
    line(out, "Maintenance", count(at(s, {"events", "maintenance", "sent"})) + " sent");
    line(out, "DDS security",
         flag(at(s, {"dds", "security", "enabled"}))
             ? "on, identity " + text(at(s, {"dds", "security", "identity"}))
             : "off (participant " + text(at(s, {"dds", "security", "identity"})) + ")");
    std::string matched;
    const json& connections = at(s, {"dds", "connections"});
    if (connections.is_array()) {
        for (const json& c : connections) {
            const bool publisher = text(at(c, {"role"})) == "publisher";
            const json& n = at(c, {"matched"});
            const bool one = n.is_number() && n.get<double>() == 1;
            matched += (matched.empty() ? "" : ", ") + text(at(c, {"name"})) + " " + count(n) +
                       (publisher ? (one ? " reader" : " readers") : (one ? " writer" : " writers"));
        }
    }
    line(out, "DDS matched", matched.empty() ? "-" : matched);
    if (flag(at(s, {"dds", "receive_stalled"}))) {
        line(out, "DDS receive", "stalled");
    }
    std::string fpga = "-";
    const json& rate = at(s, {"fpga", "counter_rate_hz"});
    const json& nominal = at(s, {"fpga", "nominal_hz"});
    if (rate.is_number() && nominal.is_number() && nominal.get<double>() > 0) {
        const double ppm = (rate.get<double>() / nominal.get<double>() - 1.0) * 1e6;
        char buffer[128];
        std::snprintf(buffer, sizeof buffer, "%.0f Hz (nominal %.0f Hz, %+.1f ppm)", rate.get<double>(),
                      nominal.get<double>(), ppm);
        fpga = buffer;
    } else if (nominal.is_number()) {
        fpga = "not measured (nominal " + fixed(nominal, 0) + " Hz)";
    }
    line(out, "FPGA counter", fpga);
    line(out, "Scheduling",
         text(at(s, {"scheduling", "policy"})) + " priority " + count(at(s, {"scheduling", "priority"})) + ", CPUs " +
             text(at(s, {"scheduling", "cpus"})));
    return out.str();
}

Options parseOptions(const std::vector<std::string>& args) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--json") {
            o.json = true;
        } else if (a == "--watch") {
            o.watch = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--socket") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                o.error = "--socket needs a path";
                return o;
            }
            o.socket = args[++i];
        } else if (a.compare(0, 9, "--socket=") == 0 && a.size() > 9) {
            o.socket = a.substr(9);
        } else {
            o.error = "unknown argument '" + a + "'";
            return o;
        }
    }
    return o;
}

std::string usage(const std::string& command) {
    return "usage: " + command +
           " [--json] [--watch] [--socket PATH]\n"
           "Shows the PNT position server's status from its status socket.\n"
           "\n"
           "  --json         the server's answer as one line of JSON (fields: docs/status.md)\n"
           "  --watch        repeat once a second until interrupted\n"
           "  --socket PATH  the server's status socket (default: $CORVANE_ROOT/run/status.sock\n"
           "                 when CORVANE_ROOT is set, else /run/corvane-pnt/status.sock)\n"
           "\n"
           "Exit status: 0 when a service is switched on and every switched-on service is\n"
           "live; 1 otherwise (no data yet, lost, invalid solution, all switched off,\n"
           "sanitized); 2 when the server cannot be reached; 3 for a bad command line.\n";
}

}  // namespace PntStatus
