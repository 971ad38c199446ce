#include "tests/peers/cyclone/PeerConfig.h"

namespace cyclone_peer {

std::string xmlEscape(std::string const& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string cycloneConfig(PeerOptions const& o) {
    auto file = [](std::string const& path) { return "file:" + xmlEscape(path); };
    std::string xml = "<CycloneDDS><Domain Id=\"any\"><General><Interfaces>";
    // The loopback interface has no MULTICAST flag, yet the kernel delivers
    // multicast on it (the server's own discovery relies on that): say so,
    // or the library would fall back to unicast there. Whether data also
    // goes by multicast stays the library's default (AllowMulticast).
    xml += "<NetworkInterface name=\"" + xmlEscape(o.interface) + "\" multicast=\"true\"/>";
    xml += "</Interfaces></General>";
    if (!o.traceFile.empty()) {
        xml += "<Tracing><Category>config,discovery,info,warning,error</Category><OutputFile>" +
               xmlEscape(o.traceFile) + "</OutputFile></Tracing>";
    }
    if (o.security.any()) {
        SecurityFiles const& s = o.security;
        // IncludeOptionalFields: the handshake reply repeats hash_c1, dh1
        // and challenge1 and carries hash_c2, which Fast DDS requires when
        // it starts the handshake.
        xml += "<Security><Authentication><IdentityCA>" + file(s.identityCa) + "</IdentityCA><IdentityCertificate>" +
               file(s.certificate) + "</IdentityCertificate><PrivateKey>" + file(s.privateKey) +
               "</PrivateKey><IncludeOptionalFields>true</IncludeOptionalFields></Authentication>"
               "<AccessControl><PermissionsCA>" +
               file(s.permissionsCa) + "</PermissionsCA><Governance>" + file(s.governance) +
               "</Governance><Permissions>" + file(s.permissions) + "</Permissions></AccessControl></Security>";
    }
    xml += "</Domain></CycloneDDS>";
    if (!o.configFile.empty()) xml += ",file://" + o.configFile;
    return xml;
}

}  // namespace cyclone_peer
