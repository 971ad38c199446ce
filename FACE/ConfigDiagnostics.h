#ifndef FACE_CONFIGDIAGNOSTICS_H
#define FACE_CONFIGDIAGNOSTICS_H

// Checking configuration files before they are used: a collector of
// diagnostics (file, line, severity, message) and a read-only view of one
// configuration file that reports why it cannot be used.
//
// The view follows the lookup rules of FACE::CV_Config (root
// "CV_Configurations", containers found by "Name" text or tag, the first
// parameter element of a tag counts, whitespace preserved), so what it
// reports is what the configuration service will see. It never writes.

#include <tinyxml2.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace FACE {
namespace ConfigDiagnostics {

enum class Severity { Warning, Error };

struct Diagnostic {
    std::string file;  // the file the problem is in
    int line = 0;      // 1-based; 0 when it concerns the whole file
    Severity severity = Severity::Error;
    std::string message;
};

/// "file:line: error: message" ("file: error: message" for line 0;
/// "warning" for warnings).
std::string format(Diagnostic const& diagnostic);

/// Problems found, in the order found.
class Diagnostics {
public:
    void error(std::string const& file, int line, std::string const& message);
    void warning(std::string const& file, int line, std::string const& message);

    std::vector<Diagnostic> const& all() const { return m_all; }
    std::size_t errorCount() const;
    std::size_t warningCount() const;
    bool hasErrors() const { return errorCount() != 0; }

    /// Appends `other`'s diagnostics.
    void append(Diagnostics const& other);

    /// Writes each diagnostic as one line, `prefix` then format().
    void print(std::ostream& out, std::string const& prefix = "") const;

private:
    std::vector<Diagnostic> m_all;
};

/// A parameter as found in a container: present when its element exists.
struct Parameter {
    bool present = false;  // the element exists (its text may be empty)
    std::string value;     // its text, empty when it has none
    int line = 0;          // line of the element, else of the container
};

/// One configuration file loaded for checking.
class ConfigFile {
public:
    /// Loads `path`. `what` names the file in messages (e.g. "connections
    /// file"). On failure one error is added, naming the reason: not found,
    /// not a regular file, not readable, empty, XML error (TinyXML-2's line
    /// and message), or no "CV_Configurations" root; the view is then
    /// unusable (ok() false).
    ConfigFile(std::string path, std::string what, Diagnostics& diagnostics);
    ~ConfigFile();
    ConfigFile(ConfigFile const&) = delete;
    ConfigFile& operator=(ConfigFile const&) = delete;

    bool ok() const { return m_root != nullptr; }
    std::string const& path() const { return m_path; }
    std::string const& what() const { return m_what; }

    /// The container CV_Config's Open would find for `name`, or null.
    tinyxml2::XMLElement const* find(std::string const& name) const;

    /// find(), adding an error naming the container and the containers
    /// that exist when there is none. Also warns once when the same "Name"
    /// is given to a later container (the first wins).
    tinyxml2::XMLElement const* require(std::string const& name);

    /// The "Name" texts of all containers, in document order.
    std::vector<std::string> containerNames() const;

    /// Containers (elements with a non-empty "Name"), in document order.
    std::vector<tinyxml2::XMLElement const*> containers() const;

    /// The parameter `key` of `container` (first element of that tag). On
    /// the first look into a container, each parameter element given twice
    /// is reported with a warning (the first wins).
    Parameter parameter(tinyxml2::XMLElement const* container, std::string const& key);

    /// parameter(), adding an error when it is missing or empty: the key,
    /// `meaning` when not empty, and the container's name.
    Parameter require(tinyxml2::XMLElement const* container, std::string const& key, std::string const& meaning = "");

    /// Warns about each parameter element of `container` whose tag is not
    /// in `known` (a misspelt key is ignored by every reader).
    void warnUnknownParameters(tinyxml2::XMLElement const* container, std::vector<std::string> const& known);

    /// Line of an element (0 for null).
    static int lineOf(tinyxml2::XMLElement const* element);
    /// "Name" text of a container (empty when it has none).
    static std::string nameOf(tinyxml2::XMLElement const* container);

    void error(int line, std::string const& message) { m_diagnostics.error(m_path, line, message); }
    void warning(int line, std::string const& message) { m_diagnostics.warning(m_path, line, message); }

private:
    void warnDuplicateParameters(tinyxml2::XMLElement const* container);

    std::string m_path;
    std::string m_what;
    Diagnostics& m_diagnostics;
    std::unique_ptr<tinyxml2::XMLDocument> m_doc;
    tinyxml2::XMLElement const* m_root = nullptr;
    std::vector<tinyxml2::XMLElement const*> m_seenContainers;
    std::vector<std::string> m_seenNames;
};

/// Why `path` cannot be read as a file: "not found", "is not a regular
/// file (a directory)", "is not readable (Permission denied)", "is empty";
/// empty text when it can. `allowEmpty` skips the last test.
std::string fileProblem(std::string const& path, bool allowEmpty = false);

/// True when `text` is a whole unsigned number with automatic base
/// (decimal, "0x" hexadecimal, leading-zero octal), with optional
/// surrounding white space and no sign.
bool isWholeNumber(std::string const& text);

/// True when `text` reads as a boolean without guessing: "true" or "false"
/// in any case, or a whole number.
bool isBooleanText(std::string const& text);

/// `text` in double quotes, with control characters shown as "\n" etc. so
/// that spaces and line breaks in a value are visible.
std::string quoted(std::string const& text);

}  // namespace ConfigDiagnostics
}  // namespace FACE

#endif  // FACE_CONFIGDIAGNOSTICS_H
