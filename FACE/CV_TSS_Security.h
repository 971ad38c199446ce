#ifndef FACE_CV_TSS_SECURITY_H
#define FACE_CV_TSS_SECURITY_H

// DDS Security for the transport: the optional "Security" container of a
// connections file, a check of its six files before the participant is
// made, and the participant properties that turn on Fast DDS's builtin
// plugins (authentication PKI-DH, access control Permissions, cryptography
// AES-GCM-GMAC).
//
// Fast DDS reports a refused security set-up only through its log and a
// null participant. The check here finds the usual faults first and names
// the file and what is wrong with it, using the same libcrypto that Fast
// DDS's security plugins use.

#include "FACE/Configuration.h"

#include <fastrtps/attributes/ParticipantAttributes.h>
#include <fastrtps/attributes/PublisherAttributes.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace FACE {
namespace TSS {
namespace Security {

/// The six files of a participant's security set-up, absolute paths.
struct Files {
    std::string identityCa;     ///< "IdentityCA": CA certificate (PEM) that signs every identity
    std::string certificate;    ///< "Certificate": this participant's identity certificate (PEM)
    std::string privateKey;     ///< "PrivateKey": its private key (PEM, unencrypted)
    std::string permissionsCa;  ///< "PermissionsCA": CA certificate (PEM) that signs the two documents
    std::string governance;     ///< "Governance": signed governance document (S/MIME)
    std::string permissions;    ///< "Permissions": signed permissions document (S/MIME)
};

/// Name of the container in a connections file.
inline constexpr char kContainer[] = "Security";

/// The parameter names of the container, in the order of Files' members.
inline constexpr std::array<char const*, 6> kParameters{"IdentityCA",    "Certificate", "PrivateKey",
                                                        "PermissionsCA", "Governance",  "Permissions"};

/// Outcome of reading the container.
enum class Section {
    Absent,     ///< no "Security" container: the transport runs without security
    Present,    ///< all six parameters read
    Incomplete  ///< the container lacks a parameter (one warning line each)
};

/// Reads the "Security" container from `config` (initialised already).
/// `files` is set only when the result is Present.
Section Read(FACE::Configuration& config, Files& files);

/// What is wrong with the set-up: "<file>: <problem>" for the first file
/// found unusable, or nothing when every check passes. Checks: each path
/// absolute and readable; the three certificates PEM and valid at `now`
/// (seconds since the epoch); the participant's certificate signed by the
/// identity CA; the private key readable without password and matching
/// the certificate; governance and permissions S/MIME documents whose
/// signature verifies against the permissions CA.
std::optional<std::string> Check(Files const& files, std::time_t now);

/// Messages protected with one session key before the next is derived
/// from the master key. The plugin's default (32) derives a key every few
/// samples at the navigator's rates, which costs more CPU than the
/// protection itself; 4096 renews the key every few seconds at 100 Hz,
/// far below the limit of AES-GCM with one key.
inline constexpr char kMessagesPerSessionKey[] = "4096";

/// Adds the properties that make Fast DDS use the builtin security plugins
/// with `files` ("file://" URIs) to `attributes`.
void Apply(Files const& files, eprosima::fastrtps::ParticipantAttributes& attributes);

/// Adds the endpoint properties of a secure participant's subscribers (the
/// session key renewal above) to `properties`.
void ApplyToEndpoint(eprosima::fastrtps::rtps::PropertyPolicy& properties);

/// Heartbeat period of a secure participant's publishers, nanoseconds.
inline constexpr std::uint32_t kSecureHeartbeatPeriodNs = 100000000;

/// The publisher settings of a secure participant: the endpoint properties,
/// and heartbeats every kSecureHeartbeatPeriodNs instead of one with every
/// sample. A keep-last writer whose history is full adds a heartbeat to
/// each sample and each heartbeat draws an acknack; with security each of
/// these is one more protected submessage, and on the receiving side the
/// plugin derives a session key for every one. Samples still go out at
/// once; only the repair of a lost one waits for the next heartbeat.
void ApplyToPublisher(eprosima::fastrtps::PublisherAttributes& attributes);

}  // namespace Security
}  // namespace TSS
}  // namespace FACE

#endif  // FACE_CV_TSS_SECURITY_H
