#include "VICTORY/ZOziDaZodOduzuz/SecurityDomainCheck.h"

#include "FACE/CV_Config_Helpers.h"

#include <tinyxml2.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

namespace ServerConfigCheck {

namespace {

using FACE::ConfigDiagnostics::ConfigFile;
using FACE::ConfigDiagnostics::Diagnostics;
using FACE::ConfigDiagnostics::quoted;

constexpr std::uint64_t kUnbounded = std::numeric_limits<std::uint64_t>::max();

// A decimal domain id, blanks around it allowed.
bool parseId(char const* text, std::uint64_t& value) {
    if (text == nullptr) return false;
    while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
    if (*text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long const v = std::strtoull(text, &end, 10);
    while (*end == ' ' || *end == '\t' || *end == '\r' || *end == '\n') ++end;
    if (errno != 0 || *end != '\0') return false;
    value = v;
    return true;
}

void collect(tinyxml2::XMLElement const* element, int lineOffset, bool inRule, std::vector<DomainSpan>& spans) {
    for (; element != nullptr; element = element->NextSiblingElement()) {
        char const* name = element->Name();
        bool const rule = inRule || std::strcmp(name, "domain_rule") == 0;
        if (std::strcmp(name, "domains") == 0) {
            for (auto const* d = element->FirstChildElement(); d != nullptr; d = d->NextSiblingElement()) {
                DomainSpan span;
                span.line = d->GetLineNum() + lineOffset;
                span.inGovernanceRule = rule;
                bool ok = false;
                if (std::strcmp(d->Name(), "id") == 0) {
                    ok = parseId(d->GetText(), span.min);
                    span.max = span.min;
                } else if (std::strcmp(d->Name(), "id_range") == 0) {
                    auto const* min = d->FirstChildElement("min");
                    auto const* max = d->FirstChildElement("max");
                    span.max = kUnbounded;
                    ok = (min != nullptr || max != nullptr) && (min == nullptr || parseId(min->GetText(), span.min)) &&
                         (max == nullptr || parseId(max->GetText(), span.max)) && span.min <= span.max;
                    if (max != nullptr) span.line = max->GetLineNum() + lineOffset;
                }
                if (ok) spans.push_back(span);
            }
        } else {
            collect(element->FirstChildElement(), lineOffset, rule, spans);
        }
    }
}

// "5", "0..230" or "5.." (no upper end).
std::string spanText(DomainSpan const& s) {
    if (s.min == s.max) return std::to_string(s.min);
    return std::to_string(s.min) + ".." + (s.max == kUnbounded ? std::string() : std::to_string(s.max));
}

std::string describe(DomainSpan const& s) { return (s.min == s.max ? "domain " : "domains ") + spanText(s); }

bool readText(std::string const& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return !in.bad();
}

}  // namespace

bool documentDomains(std::string const& text, std::vector<DomainSpan>& spans) {
    spans.clear();
    // Signed documents are S/MIME messages with the XML as their first,
    // clear-text part: parse from the XML declaration (or the root) to the
    // root's end, and count lines from the file's start.
    std::size_t start = text.find("<?xml");
    if (start == std::string::npos) start = text.find("<dds");
    std::size_t const end = text.find("</dds>", start == std::string::npos ? 0 : start);
    if (start == std::string::npos || end == std::string::npos) return false;
    tinyxml2::XMLDocument document;
    if (document.Parse(text.data() + start, end + 6 - start) != tinyxml2::XML_SUCCESS) return false;
    int lineOffset = 0;
    for (std::size_t i = 0; i < start; ++i) lineOffset += text[i] == '\n' ? 1 : 0;
    auto const* root = document.RootElement();
    if (root == nullptr || std::strcmp(root->Name(), "dds") != 0) return false;
    collect(root->FirstChildElement(), lineOffset, false, spans);
    return true;
}

void checkSecurityDomains(std::string const& connectionsFile, Diagnostics& diagnostics) {
    // The connections file's own problems are reported by its check.
    Diagnostics ignored;
    ConfigFile file(connectionsFile, "connections file", ignored);
    if (!file.ok()) return;
    auto const* security = file.find("Security");
    auto const* transport = file.find("FastRtps");
    if (security == nullptr) return;

    struct Document {
        char const* key;
        char const* name;
    };
    for (Document const d : {Document{"Governance", "governance"}, Document{"Permissions", "permissions document"}}) {
        const std::string path = file.parameter(security, d.key).value;
        std::string text;
        std::vector<DomainSpan> spans;
        if (path.empty() || !readText(path, text) || !documentDomains(text, spans)) continue;
        for (DomainSpan const& s : spans) {
            if (s.max <= kMaxPortableDomainId) continue;
            diagnostics.warning(path, s.line,
                                "the " + std::string(d.name) + "'s " + describe(s) +
                                    (s.min == s.max ? " lies beyond " : " reach beyond ") +
                                    std::to_string(kMaxPortableDomainId) +
                                    ": not accepted by some DDS implementations (Cyclone DDS refuses the whole "
                                    "document), so their participants could not join");
        }
        if (std::strcmp(d.key, "Governance") != 0 || transport == nullptr) continue;

        const FACE::ConfigDiagnostics::Parameter domain = file.parameter(transport, "DomainId");
        if (domain.value.empty() || domain.value[0] == '-') continue;  // refused by the transport check
        const std::uint64_t id = static_cast<std::uint32_t>(CV_Config_Helpers::Details::Parse_Unsigned(domain.value));
        std::string ranges;
        bool covered = false, anyRule = false;
        for (DomainSpan const& s : spans) {
            if (!s.inGovernanceRule) continue;
            anyRule = true;
            covered = covered || (id >= s.min && id <= s.max);
            ranges += (ranges.empty() ? "" : ", ") + spanText(s);
        }
        if (anyRule && !covered) {
            diagnostics.warning(connectionsFile, domain.line,
                                "<DomainId> " + quoted(domain.value) +
                                    " lies outside the governance's domain ranges (" + ranges + " in " + path +
                                    "): DDS Security would refuse the participant");
        }
    }
}

}  // namespace ServerConfigCheck
