#ifndef PLATFORM_JOURNALPRIORITY_H
#define PLATFORM_JOURNALPRIORITY_H

// Syslog priority prefixes ("<3>" and so on) on the console's fault lines
// when the console is the systemd journal, which files each line under the
// priority of its prefix. On a terminal or in a file the lines stay as they
// are.

#include <mutex>
#include <streambuf>
#include <string>

namespace JournalPriority {

/// The prefix of one console line (without its newline): "<3>" (error) for
/// a failure ("!!!!!!" lines other than the orderly exit, "error:",
/// "failed", "EXCEPTION", "INVALID_CONFIG"), "<4>" (warning) for "warning:"
/// lines, "" for the rest.
const char* prefixFor(const std::string& line);

/// Whether `fd` is the stream JOURNAL_STREAM names ("<device>:<inode>",
/// decimal, as systemd sets it); false for null or malformed text.
bool isJournalStream(int fd, const char* journalStream);

/// A line filter in front of `target`: each complete line goes to `target`
/// with its prefix. A partial line waits for its newline (or the
/// destruction). Thread-safe.
class PrefixingBuffer : public std::streambuf {
public:
    explicit PrefixingBuffer(std::streambuf* target) : m_target(target) {}
    ~PrefixingBuffer() override;

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    void put(char c);  // m_mutex held

    std::streambuf* m_target;
    std::string m_line;
    std::mutex m_mutex;
};

/// For the process: while it lives, std::cout goes through a
/// PrefixingBuffer when standard output is the journal stream.
class ConsoleScope {
public:
    ConsoleScope();
    ~ConsoleScope();
    ConsoleScope(const ConsoleScope&) = delete;
    ConsoleScope& operator=(const ConsoleScope&) = delete;

private:
    std::streambuf* m_saved = nullptr;
    PrefixingBuffer* m_buffer = nullptr;
};

}  // namespace JournalPriority

#endif  // PLATFORM_JOURNALPRIORITY_H
