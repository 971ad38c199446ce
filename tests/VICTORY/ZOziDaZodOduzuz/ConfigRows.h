// Changes to a runtime root's configuration files, as rows of the
// configuration tables describe them, and what the rows' checks share.
#ifndef TESTS_VICTORY_ZOZIDAZODODUZUZ_CONFIGROWS_H
#define TESTS_VICTORY_ZOZIDAZODODUZUZ_CONFIGROWS_H

#include "tests/support/LoggedProcess.h"
#include "tests/support/RuntimeRoot.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace config_rows {

using corvane_test::LoggedProcess;
using corvane_test::RuntimeRoot;

// A listening TCP socket on a free loopback port, for "port in use".
class ListeningSocket {
public:
    ListeningSocket() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        socklen_t n = sizeof a;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), n) != 0 || ::listen(m_fd, 1) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &n) != 0) {
            throw std::runtime_error("ListeningSocket: no socket");
        }
        m_port = ntohs(a.sin_port);
    }
    ~ListeningSocket() { ::close(m_fd); }
    ListeningSocket(const ListeningSocket&) = delete;
    ListeningSocket& operator=(const ListeningSocket&) = delete;
    std::uint16_t port() const { return m_port; }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

// The runtime root of one row and what the row changes in it.
struct Setup {
    RuntimeRoot& root;
    std::string topLevel;                    // the file handed to the server
    std::vector<std::string> expectedExtra;  // lines a row adds to what it expects
};

using Spoil = std::function<void(Setup&)>;

// --- changes -----------------------------------------------------------

inline Spoil servers(const std::map<std::string, std::string>& values) {
    return [=](Setup& s) {
        auto t = s.root.defaultTopLevel();
        for (const auto& [key, value] : values) t.server[key] = value;
        s.root.writeTopLevel(t);
    };
}
inline Spoil server(const std::string& key, const std::string& value) { return servers({{key, value}}); }
inline Spoil withoutServerKey(const std::string& key) {
    return [=](Setup& s) {
        auto t = s.root.defaultTopLevel();
        t.server.erase(key);
        s.root.writeTopLevel(t);
    };
}
inline Spoil system(const std::string& key, const std::string& value) {
    return [=](Setup& s) {
        auto t = s.root.defaultTopLevel();
        t.system[key] = value;
        s.root.writeTopLevel(t);
    };
}
inline Spoil withoutSystemKey(const std::string& key) {
    return [=](Setup& s) {
        auto t = s.root.defaultTopLevel();
        t.system.erase(key);
        s.root.writeTopLevel(t);
    };
}
enum File { kTop, kConnections, kDevices };
inline std::string pathOf(const RuntimeRoot& r, File f) {
    return f == kTop ? r.topLevelFile() : f == kConnections ? r.connectionsFile() : r.devicesFile();
}
// Replaces the first `from` in a file by `to`.
inline Spoil replace(File f, const std::string& from, const std::string& to) {
    return [=](Setup& s) {
        const std::string path = pathOf(s.root, f);
        std::string text = RuntimeRoot::readFile(path);
        const std::size_t at = text.find(from);
        if (at == std::string::npos) throw std::runtime_error("no " + from + " in " + path);
        RuntimeRoot::writeFile(path, text.replace(at, from.size(), to));
    };
}
inline Spoil content(File f, const std::string& text) {
    return [=](Setup& s) { RuntimeRoot::writeFile(pathOf(s.root, f), text); };
}
inline Spoil victoryFile(const std::string& name, const std::string& text) {
    return [=](Setup& s) { RuntimeRoot::writeFile(s.root.configDir() + "/" + name, text); };
}
inline Spoil removeVictoryFile(const std::string& name) {
    return [=](Setup& s) { ::unlink((s.root.configDir() + "/" + name).c_str()); };
}
inline Spoil topLevelPath(const std::string& relative) {
    return [=](Setup& s) { s.topLevel = relative.empty() ? s.root.configDir() : s.root.configDir() + "/" + relative; };
}
inline Spoil both(Spoil a, Spoil b) {
    return [=](Setup& s) {
        a(s);
        b(s);
    };
}
inline Spoil transport(const std::string& from, const std::string& to) { return replace(kConnections, from, to); }
// Sets the DDS domain of the connections file, whatever the root's is.
inline Spoil domain(const std::string& value) {
    return [=](Setup& s) {
        const std::string path = s.root.connectionsFile();
        const std::string text = RuntimeRoot::readFile(path);
        RuntimeRoot::writeFile(path, std::regex_replace(text, std::regex("<DomainId>[^<]*</DomainId>"),
                                                        "<DomainId>" + value + "</DomainId>"));
    };
}

inline std::string withRoot(std::string text, const std::string& root) {
    for (std::size_t at; (at = text.find("{root}")) != std::string::npos;) text.replace(at, 6, root);
    return text;
}

// Index of the first line containing `part` (the line count when none).
inline std::size_t firstIndex(const LoggedProcess& p, const std::string& part) {
    const std::size_t total = p.countLines(part);
    std::size_t i = 0;
    while (i < p.lineCount() && p.countLines(part, i + 1) == total) ++i;
    return total == 0 ? p.lineCount() : i;
}

}  // namespace config_rows

#endif  // TESTS_VICTORY_ZOZIDAZODODUZUZ_CONFIGROWS_H
