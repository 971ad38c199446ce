#ifndef VICTORY_ZOZIDAZODODUZUZ_SECURITYDOMAINCHECK_H
#define VICTORY_ZOZIDAZODODUZUZ_SECURITYDOMAINCHECK_H

// The DDS domains named by the DDS Security documents of the connections
// file's "Security" container (governance and permissions, signed S/MIME
// or plain XML). Two warnings, never an error (the documents are read as
// they are):
//   - a domain range reaching beyond kMaxPortableDomainId: other DDS
//     implementations refuse the whole document (Cyclone DDS accepts ids
//     up to 230), so their participants could not join;
//   - the connections file's DomainId in none of the governance's domain
//     rules: the plugin refuses to make the participant.
// A document that is missing or unreadable is left to the start-up check
// of the security files, which names it.

#include "FACE/ConfigDiagnostics.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ServerConfigCheck {

/// Highest DDS domain id that every DDS implementation accepts in a
/// governance or permissions document.
constexpr std::uint64_t kMaxPortableDomainId = 230;

/// One <id> or <id_range> of a <domains> element: min..max inclusive
/// (an id_range without <min> starts at 0, one without <max> is
/// unbounded: max = UINT64_MAX); `line` in the document's file.
struct DomainSpan {
    std::uint64_t min = 0;
    std::uint64_t max = 0;
    int line = 0;
    bool inGovernanceRule = false;  // under domain_access_rules/domain_rule
};

/// The domain spans of a document's text: the XML itself or an S/MIME
/// message that carries it in clear (openssl smime -sign -text). False
/// when the text holds no parsable <dds> document.
bool documentDomains(std::string const& text, std::vector<DomainSpan>& spans);

/// The two warnings above for the documents named by `connectionsFile`'s
/// "Security" container; nothing when the file has no such container.
void checkSecurityDomains(std::string const& connectionsFile, FACE::ConfigDiagnostics::Diagnostics& diagnostics);

}  // namespace ServerConfigCheck

#endif  // VICTORY_ZOZIDAZODODUZUZ_SECURITYDOMAINCHECK_H
