// DDS Security set-up of the transport: the check that names an unusable
// file, the "Security" container, and a secure participant made from the
// demo PKI (DDS domain 187).
#include "FACE/CV_Config.h"
#include "FACE/CV_TSS.h"
#include "FACE/CV_TSS_Security.h"
#include "tests/support/SecurityPki.h"

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <sys/stat.h>

namespace {

using corvane_test::SecurityPki;
namespace Security = FACE::TSS::Security;

Security::Files toFiles(const SecurityPki::Files& f) {
    return {f.identityCa, f.certificate, f.privateKey, f.permissionsCa, f.governance, f.permissions};
}

// A copy of `name` in the PKI folder with the first `from` replaced by `to`.
std::string tampered(const SecurityPki& pki, const std::string& name, const std::string& from, const std::string& to) {
    std::string text = SecurityPki::read(pki.file(name));
    const std::size_t at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("no " + from + " in " + name);
    text.replace(at, from.size(), to);
    const std::string path = pki.file("tampered-" + name);
    SecurityPki::write(path, text);
    return path;
}

TEST(SecurityCheck, NamesTheFileAndTheFault) {
    const SecurityPki pki(CORVANE_SOURCE_DIR);
    const Security::Files server = toFiles(pki.role("server"));
    ::mkdir(pki.file("folder").c_str(), 0700);

    ASSERT_FALSE(Security::Check(server, std::time(nullptr)).has_value())
        << *Security::Check(server, std::time(nullptr));
    ASSERT_FALSE(Security::Check(toFiles(pki.role("monitor", "governance-encrypt.smime")), std::time(nullptr)));

    const struct {
        const char* what;
        Security::Files files;
        std::string file;   // named in the message
        std::string fault;  // in the message
    } cases[] = {
        {"relative path",
         {"pki/identity_ca.pem", server.certificate, server.privateKey, server.permissionsCa, server.governance,
          server.permissions},
         "pki/identity_ca.pem",
         "not an absolute path"},
        {"missing file",
         {server.identityCa, pki.file("nobody.pem"), server.privateKey, server.permissionsCa, server.governance,
          server.permissions},
         pki.file("nobody.pem"),
         "No such file or directory"},
        {"folder as key",
         {server.identityCa, server.certificate, pki.file("folder"), server.permissionsCa, server.governance,
          server.permissions},
         pki.file("folder"),
         "not a regular file"},
        {"document as certificate",
         {server.identityCa, server.certificate, server.privateKey, server.governance, server.governance,
          server.permissions},
         server.governance,
         "not a PEM certificate"},
        {"expired certificate",
         {server.identityCa, pki.file("expired.pem"), pki.file("expired.key"), server.permissionsCa, server.governance,
          server.permissions},
         pki.file("expired.pem"),
         "certificate expired on Jan  1 00:00:00 2021 GMT"},
        {"certificate of another CA",
         {server.identityCa, pki.file("intruder.pem"), pki.file("intruder.key"), server.permissionsCa,
          server.governance, server.permissions},
         pki.file("intruder.pem"),
         "not issued by the identity CA " + server.identityCa},
        {"key of another identity",
         {server.identityCa, server.certificate, pki.file("navigator.key"), server.permissionsCa, server.governance,
          server.permissions},
         pki.file("navigator.key"),
         "private key does not match the certificate " + server.certificate},
        {"governance changed after signing",
         {server.identityCa, server.certificate, server.privateKey, server.permissionsCa,
          tampered(pki, "governance.smime", "<discovery_protection_kind>SIGN", "<discovery_protection_kind>NONE"),
          server.permissions},
         pki.file("tampered-governance.smime"),
         "signature does not verify against the permissions CA"},
        {"permissions changed after signing",
         {server.identityCa, server.certificate, server.privateKey, server.permissionsCa, server.governance,
          tampered(pki, "permissions.smime", "<default>DENY", "<default>ALLOW")},
         pki.file("tampered-permissions.smime"),
         "signature does not verify against the permissions CA"},
        {"permissions of another CA",
         {server.identityCa, server.certificate, server.privateKey, server.permissionsCa, server.governance,
          pki.file("intruder-permissions.smime")},
         pki.file("intruder-permissions.smime"),
         "signature does not verify against the permissions CA"},
        {"unsigned permissions",
         {server.identityCa, server.certificate, server.privateKey, server.permissionsCa, server.governance,
          CORVANE_SOURCE_DIR "/config/security/permissions.xml"},
         CORVANE_SOURCE_DIR "/config/security/permissions.xml",
         "not an S/MIME signed document"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<std::string> problem = Security::Check(c.files, std::time(nullptr));
        ASSERT_TRUE(problem.has_value());
        EXPECT_EQ(problem->rfind(c.file + ": ", 0), 0u) << *problem;
        EXPECT_NE(problem->find(c.fault), std::string::npos) << *problem;
    }

    // Validity is judged at the time given: in eleven years the CAs have expired.
    const std::optional<std::string> later = Security::Check(server, std::time(nullptr) + 11 * 366 * 86400);
    ASSERT_TRUE(later.has_value());
    EXPECT_EQ(later->rfind(server.identityCa + ": certificate expired on ", 0), 0u) << *later;
}

// Initialize with the container: a secure participant from good files; a
// refusal naming the file from bad ones; a configuration error when the
// container lacks a file. Never a participant without security.
TEST(SecurityCheck, TransportWithTheSecurityContainer) {
    const SecurityPki pki(CORVANE_SOURCE_DIR);
    std::string plain = SecurityPki::read(TSS_SAMPLE_CONFIG_DIR "/connections-udp.xml");
    const std::string domain = "<DomainId>0</DomainId>";
    ASSERT_NE(plain.find(domain), std::string::npos);
    plain.replace(plain.find(domain), domain.size(), "<DomainId>187</DomainId>");
    SecurityPki::write(pki.file("plain.xml"), plain);

    SecurityPki::Files expired = pki.role("server");
    expired.certificate = pki.file("expired.pem");
    expired.privateKey = pki.file("expired.key");
    SecurityPki::writeSecured(pki.file("plain.xml"), pki.file("secure.xml"), pki.role("server"));
    SecurityPki::writeSecured(pki.file("plain.xml"), pki.file("expired.xml"), expired);
    std::string incomplete = SecurityPki::read(pki.file("secure.xml"));
    const std::size_t key = incomplete.rfind("<PrivateKey>");  // the container's, after the commented sample
    incomplete.erase(key, incomplete.rfind("</PrivateKey>") + 13 - key);
    SecurityPki::write(pki.file("incomplete.xml"), incomplete);

    auto transport = [](const std::string& file, FACE::RETURN_CODE_TYPE::Value& rc) {
        auto tss = std::make_unique<FACE::TSS::CV_TSS>("SecurityTest");
        tss->Set_Reference("", std::make_shared<FACE::CV_Config>(), 0, rc);
        tss->Initialize(file.c_str(), rc);
        return tss;
    };
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    {
        auto tss = transport(pki.file("secure.xml"), rc);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::NO_ERROR);
        EXPECT_TRUE(tss->secure());
        EXPECT_NE(tss->participant(), nullptr);
    }
    {
        auto tss = transport(pki.file("incomplete.xml"), rc);
        EXPECT_EQ(rc, FACE::RETURN_CODE_TYPE::INVALID_CONFIG);
        EXPECT_EQ(tss->participant(), nullptr);
    }
    try {
        transport(pki.file("expired.xml"), rc);
        ADD_FAILURE() << "a participant with an expired certificate";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find(pki.file("expired.pem") + ": certificate expired"), std::string::npos)
            << e.what();
    }
}

}  // namespace
