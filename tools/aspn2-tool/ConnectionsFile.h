#ifndef TOOLS_ASPN2_TOOL_CONNECTIONSFILE_H
#define TOOLS_ASPN2_TOOL_CONNECTIONSFILE_H

// A connections file with its DDS domain replaced. The transport reads its
// settings only from a file, so a different domain means a copy of the
// file with another "DomainId" in its "FastRtps" container.

#include <string>

namespace aspn2_tool {

/// Largest DDS domain id whose UDP ports still fit (7400 + 250 * id + 11).
constexpr unsigned kMaxDomainId = 232;

/// The XML text of the connections file at `path` with the "DomainId" of
/// the container named "FastRtps" set to `domain` (the parameter is added
/// when missing). Throws std::runtime_error with the file name and the
/// reason when the file cannot be read or parsed or has no "FastRtps"
/// container.
std::string connectionsWithDomain(std::string const& path, unsigned domain);

/// A private copy of a connections file with another domain, in a fresh
/// directory under $TMPDIR (or /tmp); both are removed when the object goes.
class TemporaryConnectionsFile {
public:
    /// Throws std::runtime_error as connectionsWithDomain does, or when the
    /// copy cannot be written.
    TemporaryConnectionsFile(std::string const& path, unsigned domain);
    ~TemporaryConnectionsFile();
    TemporaryConnectionsFile(TemporaryConnectionsFile const&) = delete;
    TemporaryConnectionsFile& operator=(TemporaryConnectionsFile const&) = delete;

    std::string const& path() const { return m_file; }

private:
    std::string m_dir;
    std::string m_file;
};

}  // namespace aspn2_tool

#endif  // TOOLS_ASPN2_TOOL_CONNECTIONSFILE_H
