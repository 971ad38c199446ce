// Command line of cyclone-peer, the second-vendor DDS test peer: the role
// (nav, command, listen) and its options, checked for range. Pure logic:
// no DDS entity is made here.
#ifndef TESTS_PEERS_CYCLONE_PEEROPTIONS_H
#define TESTS_PEERS_CYCLONE_PEEROPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

namespace cyclone_peer {

enum class Role { Nav, Command, Listen, Help };

/// The six files of a DDS Security identity, as absolute paths.
struct SecurityFiles {
    std::string identityCa, certificate, privateKey, permissionsCa, governance, permissions;
    bool any() const { return !identityCa.empty(); }
};

struct PeerOptions {
    Role role = Role::Help;
    int domain = 0;                ///< DDS domain, 0..230 (what this library accepts)
    long long count = -1;          ///< nav: pairs to send; listen: lines to print; < 0 no limit
    double timeoutS = -1.0;        ///< s; nav, listen: run this long; command: wait this long; < 0: none (command 10)
    std::string interface = "lo";  ///< network interface (multicast on it, as this library does by default)
    std::string configFile;        ///< extra configuration of the library (XML), merged after ours
    std::string traceFile;         ///< the library's trace (discovery, security) goes to this file
    SecurityFiles security;        ///< empty: no DDS Security

    // nav
    int navigatorId = 96;  ///< server id of the device id, 0..255 (96: the fusion navigator)
    double latDeg = 45.0, lonDeg = 7.5;
    double altM = 300.0;     ///< above the ellipsoid
    double speedMps = 10.0;  ///< due north
    double rateHz = 10.0;    ///< PVA and UTC each, 0.1..1000

    // command
    std::string text = "BITSERVER_PING";
    std::uint32_t identifier = 0;  ///< 0: a random one
    int commanderId = 50;          ///< server id of the device id (50: the command server)
};

/// Parses the arguments after the program name. False with a one-line
/// `error` for an unknown role or option, a missing or malformed value or
/// a value out of range. `--pki DIR --identity NAME` fills the security
/// files from a folder made by scripts/make-pki (NAME.pem, NAME.key, the
/// two CAs, governance.smime, permissions.smime); `--governance FILE`
/// replaces the governance. Never throws.
bool parsePeerOptions(std::vector<std::string> const& args, PeerOptions& out, std::string& error);

/// The usage text.
extern char const* const kPeerUsage;

}  // namespace cyclone_peer

#endif  // TESTS_PEERS_CYCLONE_PEEROPTIONS_H
