#include "FACE/CV_TSS_Security.h"

#include "FACE/CV_Config_Helpers.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace FACE {
namespace TSS {
namespace Security {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
void freeBio(BIO* bio) { BIO_free_all(bio); }
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, freeBio>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using StorePtr = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using StoreContextPtr = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using Pkcs7Ptr = std::unique_ptr<PKCS7, Deleter<PKCS7, PKCS7_free>>;

// A problem found with one file: the line that names it.
struct Problem {
    std::string text;
};

[[noreturn]] void fail(std::string const& path, std::string const& what) { throw Problem{path + ": " + what}; }

// The reason of libcrypto's latest error, or `fallback` when it has none;
// the error queue is left empty.
std::string cryptoReason(char const* fallback) {
    unsigned long const code = ERR_peek_last_error();
    std::string reason = fallback;
    if (code != 0) {
        char const* text = ERR_reason_error_string(code);
        if (text != nullptr) {
            reason = text;
        }
    }
    ERR_clear_error();
    return reason;
}

// The file at `path`, opened for reading after checking that it is an
// absolute path to a regular, readable file.
BioPtr openFile(std::string const& path) {
    if (path.empty() || path.front() != '/') {
        fail(path, "not an absolute path");
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        fail(path, std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode)) {
        fail(path, "not a regular file");
    }
    BioPtr bio(BIO_new_file(path.c_str(), "r"));
    if (!bio) {
        int const error = errno;
        ERR_clear_error();
        fail(path, error != 0 ? std::strerror(error) : "cannot be opened");
    }
    return bio;
}

std::string timeText(ASN1_TIME const* time) {
    BioPtr memory(BIO_new(BIO_s_mem()));
    if (!memory || ASN1_TIME_print(memory.get(), time) != 1) {
        return "(unreadable time)";
    }
    char* data = nullptr;
    long const length = BIO_get_mem_data(memory.get(), &data);
    return std::string(data, static_cast<std::size_t>(length > 0 ? length : 0));
}

// A PEM certificate valid at `now`.
X509Ptr loadCertificate(std::string const& path, std::time_t now) {
    BioPtr bio = openFile(path);
    X509Ptr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!certificate) {
        fail(path, "not a PEM certificate (" + cryptoReason("no certificate") + ")");
    }
    std::time_t when = now;
    if (X509_cmp_time(X509_get0_notBefore(certificate.get()), &when) > 0) {
        fail(path, "certificate not valid before " + timeText(X509_get0_notBefore(certificate.get())));
    }
    if (X509_cmp_time(X509_get0_notAfter(certificate.get()), &when) < 0) {
        fail(path, "certificate expired on " + timeText(X509_get0_notAfter(certificate.get())));
    }
    return certificate;
}

// A store that trusts `ca` only, verifying at `now`.
StorePtr trusting(X509* ca, std::time_t now) {
    StorePtr store(X509_STORE_new());
    if (!store || X509_STORE_add_cert(store.get(), ca) != 1) {
        throw Problem{"cannot make a certificate store (" + cryptoReason("out of memory") + ")"};
    }
    X509_VERIFY_PARAM_set_time(X509_STORE_get0_param(store.get()), now);
    return store;
}

void checkIssuedBy(X509* certificate, std::string const& path, X509* ca, std::string const& caPath, std::time_t now) {
    StorePtr store = trusting(ca, now);
    StoreContextPtr context(X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store.get(), certificate, nullptr) != 1) {
        throw Problem{"cannot verify " + path + " (" + cryptoReason("out of memory") + ")"};
    }
    if (X509_verify_cert(context.get()) != 1) {
        std::string const reason = X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get()));
        ERR_clear_error();
        fail(path, "certificate not issued by the identity CA " + caPath + " (" + reason + ")");
    }
}

// Refuses a key that asks for a password: the transport has none to give.
int noPassword(char* /*buffer*/, int /*size*/, int /*writing*/, void* /*user*/) { return -1; }

void checkKey(std::string const& path, X509* certificate, std::string const& certificatePath) {
    BioPtr bio = openFile(path);
    KeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassword, nullptr));
    if (!key) {
        fail(path, "not an unencrypted PEM private key (" + cryptoReason("no key") + ")");
    }
    if (X509_check_private_key(certificate, key.get()) != 1) {
        ERR_clear_error();
        fail(path, "private key does not match the certificate " + certificatePath);
    }
}

void checkSigned(std::string const& path, X509* ca, std::string const& caPath, std::time_t now) {
    BioPtr bio = openFile(path);
    BIO* content = nullptr;
    Pkcs7Ptr document(SMIME_read_PKCS7(bio.get(), &content));
    BioPtr contentOwner(content);
    if (!document) {
        fail(path, "not an S/MIME signed document (" + cryptoReason("no signature") + ")");
    }
    StorePtr store = trusting(ca, now);
    BioPtr out(BIO_new(BIO_s_mem()));
    if (PKCS7_verify(document.get(), nullptr, store.get(), content, out.get(), PKCS7_TEXT) != 1) {
        fail(path, "signature does not verify against the permissions CA " + caPath + " (" +
                       cryptoReason("verification failure") + ")");
    }
}

}  // namespace

Section Read(FACE::Configuration& config, Files& files) {
    int handle = -1;
    FACE::RETURN_CODE_TYPE::Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    config.Open(FACE::String(kContainer), handle, rc);
    if (rc != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        return Section::Absent;
    }
    std::array<std::string, kParameters.size()> values;
    bool complete = true;
    for (std::size_t i = 0; i < kParameters.size(); ++i) {
        values[i] = CV_Config_Helpers::Details::Read_Config(config, handle, FACE::String(kParameters[i]));
        complete = complete && !values[i].empty();
    }
    FACE::RETURN_CODE_TYPE::Value ignored = FACE::RETURN_CODE_TYPE::NO_ERROR;
    config.Close(handle, ignored);
    if (!complete) {
        return Section::Incomplete;
    }
    files = Files{values[0], values[1], values[2], values[3], values[4], values[5]};
    return Section::Present;
}

std::optional<std::string> Check(Files const& files, std::time_t now) {
    try {
        X509Ptr const identityCa = loadCertificate(files.identityCa, now);
        X509Ptr const certificate = loadCertificate(files.certificate, now);
        checkIssuedBy(certificate.get(), files.certificate, identityCa.get(), files.identityCa, now);
        checkKey(files.privateKey, certificate.get(), files.certificate);
        X509Ptr const permissionsCa = loadCertificate(files.permissionsCa, now);
        checkSigned(files.governance, permissionsCa.get(), files.permissionsCa, now);
        checkSigned(files.permissions, permissionsCa.get(), files.permissionsCa, now);
    } catch (Problem const& problem) {
        return problem.text;
    }
    return std::nullopt;
}

void Apply(Files const& files, eprosima::fastrtps::ParticipantAttributes& attributes) {
    auto& properties = attributes.rtps.properties.properties();
    auto const add = [&](char const* name, std::string const& value) { properties.emplace_back(name, value); };
    auto const uri = [](std::string const& path) { return "file://" + path; };
    add("dds.sec.auth.plugin", "builtin.PKI-DH");
    add("dds.sec.auth.builtin.PKI-DH.identity_ca", uri(files.identityCa));
    add("dds.sec.auth.builtin.PKI-DH.identity_certificate", uri(files.certificate));
    add("dds.sec.auth.builtin.PKI-DH.private_key", uri(files.privateKey));
    add("dds.sec.access.plugin", "builtin.Access-Permissions");
    add("dds.sec.access.builtin.Access-Permissions.permissions_ca", uri(files.permissionsCa));
    add("dds.sec.access.builtin.Access-Permissions.governance", uri(files.governance));
    add("dds.sec.access.builtin.Access-Permissions.permissions", uri(files.permissions));
    add("dds.sec.crypto.plugin", "builtin.AES-GCM-GMAC");
    add("dds.sec.crypto.maxblockspersession", kMessagesPerSessionKey);
}

void ApplyToEndpoint(eprosima::fastrtps::rtps::PropertyPolicy& properties) {
    properties.properties().emplace_back("dds.sec.crypto.maxblockspersession", kMessagesPerSessionKey);
}

void ApplyToPublisher(eprosima::fastrtps::PublisherAttributes& attributes) {
    ApplyToEndpoint(attributes.properties);
    attributes.qos.disable_heartbeat_piggyback = true;
    attributes.times.heartbeatPeriod = eprosima::fastrtps::Duration_t(0, kSecureHeartbeatPeriodNs);
}

}  // namespace Security
}  // namespace TSS
}  // namespace FACE
