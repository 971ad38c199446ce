#include "tests/peers/cyclone/PeerOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>

namespace cyclone_peer {

char const* const kPeerUsage =
    "usage: cyclone-peer nav|command|listen [options]\n"
    "  A test peer on Cyclone DDS for the server's six connections (UDP on one\n"
    "  interface, multicast as Cyclone DDS uses it by default).\n"
    "  nav                    publish PositionVelocityAttitude and UTCTime\n"
    "  command [TEXT]         send one command (default BITSERVER_PING), resend every\n"
    "                         second until the response comes; exit 0 when answered\n"
    "  listen                 print one line per EventLog, MaintenanceEvent and Response\n"
    "Options:\n"
    "  --domain N             DDS domain 0..230 (default 0)\n"
    "  --count N              nav: pairs to send; listen: lines to print\n"
    "  --timeout S            nav, listen: stop after S seconds; command: wait S seconds\n"
    "                         for the server and its answer (default 10)\n"
    "  --interface NAME       network interface (default lo)\n"
    "  --pki DIR --identity NAME\n"
    "                         DDS Security with the identity NAME of a folder made by\n"
    "                         scripts/make-pki (NAME.pem, NAME.key, identity_ca.pem,\n"
    "                         permissions_ca.pem, governance.smime, permissions.smime)\n"
    "  --governance FILE      with --pki: this signed governance instead\n"
    "  --config FILE          more Cyclone DDS configuration (XML), applied after ours\n"
    "  --trace FILE           Cyclone DDS's trace of discovery and security to FILE\n"
    "nav: --navigator-id N (0..255, default 96) --lat DEG --lon DEG --alt M\n"
    "     --speed MPS (due north, default 10) --rate HZ (0.1..1000, default 10)\n"
    "command: --identifier N (1..2147483647, default random) --commander-id N (0..255)\n"
    "Exit status: 0 done (command: answered), 1 no answer or no peer in time,\n"
    "2 bad arguments or a failed set-up.\n";

namespace {

bool parseDouble(std::string const& text, double low, double high, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    double const v = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v) || v < low || v > high) return false;
    value = v;
    return true;
}

bool parseInteger(std::string const& text, long long low, long long high, long long& value) {
    if (text.empty() || text[0] == '+' || text[0] == ' ') return false;
    char* end = nullptr;
    errno = 0;
    long long const v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size() || v < low || v > high) return false;
    value = v;
    return true;
}

std::string compact(double v) {
    std::ostringstream out;
    out.precision(15);
    out << v;
    return out.str();
}

struct Range {
    double low, high;
};

}  // namespace

bool parsePeerOptions(std::vector<std::string> const& args, PeerOptions& out, std::string& error) {
    out = PeerOptions();
    if (args.empty()) {
        error = "no role given: nav, command or listen";
        return false;
    }
    std::string const& role = args[0];
    if (role == "--help" || role == "-h") {
        out.role = Role::Help;
        return true;
    }
    static std::map<std::string, Role> const roles{
        {"nav", Role::Nav}, {"command", Role::Command}, {"listen", Role::Listen}};
    auto const found = roles.find(role);
    if (found == roles.end()) {
        error = "unknown role \"" + role + "\": use nav, command or listen";
        return false;
    }
    out.role = found->second;

    std::string pki, identity, governance;
    bool textGiven = false;
    long long integer = 0;
    // Options with a number: where it goes, its range, and the roles it belongs to.
    struct Number {
        double* real;
        int* whole;
        long long* wide;
        Range range;
        std::vector<Role> roles;
    };
    std::map<std::string, Number> numbers{
        {"--domain", {nullptr, &out.domain, nullptr, {0, 230}, {}}},
        {"--count", {nullptr, nullptr, &out.count, {1, 1e12}, {Role::Nav, Role::Listen}}},
        {"--timeout", {&out.timeoutS, nullptr, nullptr, {0.1, 86400}, {}}},
        {"--navigator-id", {nullptr, &out.navigatorId, nullptr, {0, 255}, {Role::Nav}}},
        {"--lat", {&out.latDeg, nullptr, nullptr, {-90, 90}, {Role::Nav}}},
        {"--lon", {&out.lonDeg, nullptr, nullptr, {-180, 180}, {Role::Nav}}},
        {"--alt", {&out.altM, nullptr, nullptr, {-1000, 100000}, {Role::Nav}}},
        {"--speed", {&out.speedMps, nullptr, nullptr, {0, 1000}, {Role::Nav}}},
        {"--rate", {&out.rateHz, nullptr, nullptr, {0.1, 1000}, {Role::Nav}}},
        {"--identifier", {nullptr, nullptr, &integer, {1, 2147483647}, {Role::Command}}},
        {"--commander-id", {nullptr, &out.commanderId, nullptr, {0, 255}, {Role::Command}}},
    };
    std::map<std::string, std::string*> const texts{{"--interface", &out.interface}, {"--config", &out.configFile},
                                                    {"--trace", &out.traceFile},     {"--pki", &pki},
                                                    {"--identity", &identity},       {"--governance", &governance}};

    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string const& a = args[i];
        if (a.rfind("--", 0) != 0) {
            if (out.role != Role::Command || textGiven) {
                error = "unexpected argument \"" + a + "\"";
                return false;
            }
            if (a.empty()) {
                error = "the command text is empty";
                return false;
            }
            out.text = a;
            textGiven = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            error = a + " needs a value";
            return false;
        }
        std::string const& value = args[++i];
        if (auto t = texts.find(a); t != texts.end()) {
            if (value.empty()) {
                error = a + " needs a value";
                return false;
            }
            *t->second = value;
            continue;
        }
        auto n = numbers.find(a);
        if (n == numbers.end()) {
            error = "unknown option " + a;
            return false;
        }
        Number const& option = n->second;
        if (!option.roles.empty()) {
            bool applies = false;
            for (Role r : option.roles) applies = applies || r == out.role;
            if (!applies) {
                error = a + " does not apply to " + role;
                return false;
            }
        }
        bool ok = false;
        if (option.real != nullptr) {
            ok = parseDouble(value, option.range.low, option.range.high, *option.real);
        } else {
            long long v = 0;
            auto const low = static_cast<long long>(option.range.low);
            auto const high = static_cast<long long>(option.range.high);
            ok = parseInteger(value, low, high, v);
            if (ok && option.whole != nullptr) *option.whole = static_cast<int>(v);
            if (ok && option.wide != nullptr) *option.wide = v;
        }
        if (!ok) {
            error = a + " \"" + value + "\" is not a number in " + compact(option.range.low) + ".." +
                    compact(option.range.high);
            return false;
        }
    }
    out.identifier = static_cast<std::uint32_t>(integer);

    if (pki.empty() != identity.empty()) {
        error = "--pki and --identity go together";
        return false;
    }
    if (!governance.empty() && pki.empty()) {
        error = "--governance needs --pki and --identity";
        return false;
    }
    if (!pki.empty()) {
        if (pki[0] != '/' || (!governance.empty() && governance[0] != '/')) {
            error = "--pki and --governance need absolute paths";
            return false;
        }
        if (identity.find('/') != std::string::npos) {
            error = "--identity is a name of the PKI folder, not a path";
            return false;
        }
        std::string const dir = pki.back() == '/' ? pki : pki + "/";
        out.security = {dir + "identity_ca.pem",
                        dir + identity + ".pem",
                        dir + identity + ".key",
                        dir + "permissions_ca.pem",
                        governance.empty() ? dir + "governance.smime" : governance,
                        dir + "permissions.smime"};
    }
    return true;
}

}  // namespace cyclone_peer
