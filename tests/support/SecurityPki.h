// A demo PKI for DDS Security made by scripts/make-pki in a temporary
// directory, and connections files that use it: one identity per role.
// Header-only; needs CORVANE_SOURCE_DIR (the repository) and openssl.
#ifndef TESTS_SUPPORT_SECURITYPKI_H
#define TESTS_SUPPORT_SECURITYPKI_H

#include "tests/support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace corvane_test {

class SecurityPki {
public:
    // The six files of one participant, as the "Security" container names them.
    struct Files {
        std::string identityCa, certificate, privateKey, permissionsCa, governance, permissions;
    };

    // Runs make-pki with `options` (e.g. "--rsa");
    // throws when it fails.
    explicit SecurityPki(const std::string& sourceDir, const std::string& options = "") : m_dir("corvane-pki") {
        const std::string command = "'" + sourceDir + "/scripts/make-pki' " + options + " '" + m_dir.path() +
                                    "/pki' >'" + m_dir.path() + "/make-pki.log' 2>&1";
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("make-pki failed: " + read(m_dir.path() + "/make-pki.log"));
        }
    }

    std::string file(const std::string& name) const { return m_dir.path() + "/pki/" + name; }

    // A vehicle identity (server, navigator, commander, monitor, or expired)
    // with the vehicle's CAs and documents; `governance` picks the signed or
    // the encrypted governance.
    Files role(const std::string& name, const std::string& governance = "governance.smime") const {
        return {file("identity_ca.pem"),    file(name + ".pem"), file(name + ".key"),
                file("permissions_ca.pem"), file(governance),    file("permissions.smime")};
    }
    // The intruder: a navigator identity of another CA, with that CA's own
    // signed copies of the documents (a set-up that starts, but that the
    // vehicle does not trust).
    Files intruder() const {
        return {file("other_ca.pem"),
                file("intruder.pem"),
                file("intruder.key"),
                file("other_ca.pem"),
                file("intruder-governance.smime"),
                file("intruder-permissions.smime")};
    }

    // The monitor's vehicle identity with permissions that grant it
    // publishing, signed by the other CA (forged: the vehicle does not
    // accept them, though the participant starts).
    Files forgedMonitor() const {
        return {file("identity_ca.pem"),
                file("monitor.pem"),
                file("monitor.key"),
                file("other_ca.pem"),
                file("intruder-governance.smime"),
                file("forged-permissions.smime")};
    }

    // The "Security" container for `f`.
    static std::string container(const Files& f) {
        return "<Security><Name>Security</Name><Parameters><IdentityCA>" + f.identityCa + "</IdentityCA><Certificate>" +
               f.certificate + "</Certificate><PrivateKey>" + f.privateKey + "</PrivateKey><PermissionsCA>" +
               f.permissionsCa + "</PermissionsCA><Governance>" + f.governance + "</Governance><Permissions>" +
               f.permissions + "</Permissions></Parameters></Security>\n";
    }

    // Writes `to`: the connections file `from` with the container for `f`.
    static void writeSecured(const std::string& from, const std::string& to, const Files& f) {
        std::string text = read(from);
        const std::size_t end = text.rfind("</CV_Configurations>");
        if (end == std::string::npos) throw std::runtime_error("no CV_Configurations end in " + from);
        text.insert(end, container(f));
        write(to, text);
    }

    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void write(const std::string& path, const std::string& text) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out) throw std::runtime_error("cannot write " + path);
    }

private:
    TempDir m_dir;
};

}  // namespace corvane_test

#endif  // TESTS_SUPPORT_SECURITYPKI_H
