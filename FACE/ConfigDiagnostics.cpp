#include "FACE/ConfigDiagnostics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace FACE {
namespace ConfigDiagnostics {

namespace {

constexpr char kRootTag[] = "CV_Configurations";
constexpr char kNameTag[] = "Name";
constexpr char kParametersTag[] = "Parameters";

char const* textOf(tinyxml2::XMLElement const* e) {
    if (e == nullptr) {
        return nullptr;
    }
    char const* t = e->GetText();
    return (t == nullptr || *t == '\0') ? nullptr : t;
}

std::string fileKind(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISFIFO(mode)) return "a pipe";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a file";
}

bool onlyWhiteSpace(std::string const& path) {
    std::ifstream in(path, std::ios::binary);
    char c = 0;
    while (in.get(c)) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string format(Diagnostic const& d) {
    std::ostringstream out;
    out << d.file;
    if (d.line > 0) {
        out << ':' << d.line;
    }
    out << (d.severity == Severity::Error ? ": error: " : ": warning: ") << d.message;
    return out.str();
}

void Diagnostics::error(std::string const& file, int line, std::string const& message) {
    m_all.push_back({file, line, Severity::Error, message});
}

void Diagnostics::warning(std::string const& file, int line, std::string const& message) {
    m_all.push_back({file, line, Severity::Warning, message});
}

std::size_t Diagnostics::errorCount() const {
    std::size_t n = 0;
    for (auto const& d : m_all) n += d.severity == Severity::Error ? 1 : 0;
    return n;
}

std::size_t Diagnostics::warningCount() const { return m_all.size() - errorCount(); }

void Diagnostics::append(Diagnostics const& other) {
    m_all.insert(m_all.end(), other.m_all.begin(), other.m_all.end());
}

void Diagnostics::print(std::ostream& out, std::string const& prefix) const {
    for (auto const& d : m_all) {
        out << prefix << format(d) << std::endl;
    }
}

std::string fileProblem(std::string const& path, bool allowEmpty) {
    if (path.empty()) {
        return "is not named";
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? "not found"
                                                   : std::string("cannot be examined (") + std::strerror(errno) + ")";
    }
    if (!S_ISREG(st.st_mode)) {
        return "is not a regular file (" + fileKind(st.st_mode) + ")";
    }
    int const fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::string("is not readable (") + std::strerror(errno) + ")";
    }
    ::close(fd);
    if (!allowEmpty && (st.st_size == 0 || onlyWhiteSpace(path))) {
        return "is empty";
    }
    return "";
}

ConfigFile::ConfigFile(std::string path, std::string what, Diagnostics& diagnostics)
    : m_path(std::move(path)), m_what(std::move(what)), m_diagnostics(diagnostics) {
    std::string const problem = fileProblem(m_path);
    if (!problem.empty()) {
        error(0, m_what + " " + problem);
        return;
    }
    m_doc = std::make_unique<tinyxml2::XMLDocument>(true, tinyxml2::PRESERVE_WHITESPACE);
    if (m_doc->LoadFile(m_path.c_str()) != tinyxml2::XML_SUCCESS) {
        char const* message = m_doc->ErrorStr();
        error(m_doc->ErrorLineNum(), m_what + ": XML error: " + (message != nullptr ? message : "unknown"));
        return;
    }
    m_root = m_doc->FirstChildElement(kRootTag);
    if (m_root == nullptr) {
        tinyxml2::XMLElement const* first = m_doc->FirstChildElement();
        error(lineOf(first), m_what + " has no <" + std::string(kRootTag) + "> root element" +
                                 (first != nullptr ? std::string(" (found <") + first->Name() + ">)" : ""));
    }
}

ConfigFile::~ConfigFile() = default;

int ConfigFile::lineOf(tinyxml2::XMLElement const* element) { return element == nullptr ? 0 : element->GetLineNum(); }

std::string ConfigFile::nameOf(tinyxml2::XMLElement const* container) {
    char const* n = container == nullptr ? nullptr : textOf(container->FirstChildElement(kNameTag));
    return n == nullptr ? std::string() : std::string(n);
}

std::vector<tinyxml2::XMLElement const*> ConfigFile::containers() const {
    std::vector<tinyxml2::XMLElement const*> out;
    if (m_root == nullptr) {
        return out;
    }
    for (auto const* e = m_root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        if (!nameOf(e).empty()) {
            out.push_back(e);
        }
    }
    return out;
}

std::vector<std::string> ConfigFile::containerNames() const {
    std::vector<std::string> out;
    for (auto const* e : containers()) out.push_back(nameOf(e));
    return out;
}

tinyxml2::XMLElement const* ConfigFile::find(std::string const& name) const {
    for (auto const* e : containers()) {
        if (nameOf(e) == name || name == e->Name()) {
            return e;
        }
    }
    return nullptr;
}

tinyxml2::XMLElement const* ConfigFile::require(std::string const& name) {
    if (m_root == nullptr) {
        return nullptr;
    }
    tinyxml2::XMLElement const* found = find(name);
    if (found == nullptr) {
        std::string names;
        for (auto const& n : containerNames()) names += (names.empty() ? "" : ", ") + quoted(n);
        error(lineOf(m_root), "container " + quoted(name) + " not found in the " + m_what + " (" +
                                  (names.empty() ? std::string("it has no containers") : "containers: " + names) + ")");
        return nullptr;
    }
    bool seenName = false;
    for (auto const& n : m_seenNames) seenName = seenName || n == name;
    if (!seenName) {
        m_seenNames.push_back(name);
        for (auto const* e : containers()) {
            if (e != found && nameOf(e) == nameOf(found) && lineOf(e) > lineOf(found)) {
                warning(lineOf(e), "container " + quoted(nameOf(e)) + " given again (first at line " +
                                       std::to_string(lineOf(found)) + "); this one is ignored");
            }
        }
    }
    return found;
}

void ConfigFile::warnDuplicateParameters(tinyxml2::XMLElement const* container) {
    for (auto const* seen : m_seenContainers) {
        if (seen == container) {
            return;
        }
    }
    m_seenContainers.push_back(container);
    tinyxml2::XMLElement const* params = container->FirstChildElement(kParametersTag);
    if (params == nullptr) {
        return;
    }
    for (auto const* e = params->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        tinyxml2::XMLElement const* first = params->FirstChildElement(e->Name());
        if (first != e) {
            char const* used = first->GetText();
            warning(lineOf(e), "<" + std::string(e->Name()) + "> given twice in container " +
                                   quoted(nameOf(container)) + " (first at line " + std::to_string(lineOf(first)) +
                                   "); the first, " + quoted(used == nullptr ? "" : used) +
                                   ", is used and this one ignored");
        }
    }
}

Parameter ConfigFile::parameter(tinyxml2::XMLElement const* container, std::string const& key) {
    Parameter p;
    if (container == nullptr) {
        return p;
    }
    warnDuplicateParameters(container);
    p.line = lineOf(container);
    tinyxml2::XMLElement const* params = container->FirstChildElement(kParametersTag);
    tinyxml2::XMLElement const* element = params == nullptr ? nullptr : params->FirstChildElement(key.c_str());
    if (element == nullptr) {
        return p;
    }
    p.present = true;
    p.line = lineOf(element);
    char const* t = element->GetText();
    p.value = t == nullptr ? "" : t;
    return p;
}

void ConfigFile::warnUnknownParameters(tinyxml2::XMLElement const* container, std::vector<std::string> const& known) {
    tinyxml2::XMLElement const* params = container == nullptr ? nullptr : container->FirstChildElement(kParametersTag);
    if (params == nullptr) {
        return;
    }
    for (auto const* e = params->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        bool isKnown = false;
        for (auto const& k : known) isKnown = isKnown || k == e->Name();
        if (!isKnown) {
            warning(lineOf(e), "unknown parameter <" + std::string(e->Name()) + "> in container " +
                                   quoted(nameOf(container)) + " is ignored");
        }
    }
}

Parameter ConfigFile::require(tinyxml2::XMLElement const* container, std::string const& key,
                              std::string const& meaning) {
    Parameter p = parameter(container, key);
    if (container != nullptr && p.value.empty()) {
        std::string const what = "parameter <" + key + ">" + (meaning.empty() ? "" : " (" + meaning + ")");
        error(p.line, what + (p.present ? " is empty" : " missing") + " in container " + quoted(nameOf(container)));
    }
    return p;
}

bool isWholeNumber(std::string const& text) {
    std::size_t begin = 0;
    while (begin < text.size() && std::isspace(static_cast<unsigned char>(text[begin]))) ++begin;
    if (begin == text.size() || !std::isdigit(static_cast<unsigned char>(text[begin]))) {
        return false;
    }
    char const* start = text.c_str() + begin;
    char* end = nullptr;
    errno = 0;
    (void)std::strtoull(start, &end, 0);
    if (errno == ERANGE) {
        return false;
    }
    for (char const* c = end; *c != '\0'; ++c) {
        if (!std::isspace(static_cast<unsigned char>(*c))) {
            return false;
        }
    }
    return end != start;
}

bool isBooleanText(std::string const& text) {
    std::string lower;
    for (char c : text) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == "true" || lower == "false" || isWholeNumber(text);
}

std::string quoted(std::string const& text) {
    std::string out = "\"";
    for (char c : text) {
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '"':
                out += "\\\"";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned>(c));
                    out += buffer;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

}  // namespace ConfigDiagnostics
}  // namespace FACE
