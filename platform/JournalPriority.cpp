#include "platform/JournalPriority.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace JournalPriority {

const char* prefixFor(const std::string& line) {
    const auto has = [&](const char* part) { return line.find(part) != std::string::npos; };
    if (line.compare(0, 6, "!!!!!!") == 0) {
        return has(" has exited. Signal: ") ? "" : "<3>";
    }
    if (has("error:") || has("failed") || has("EXCEPTION") || has("INVALID_CONFIG")) {
        return "<3>";
    }
    if (has("warning:")) {
        return "<4>";
    }
    return "";
}

bool isJournalStream(int fd, const char* journalStream) {
    if (journalStream == nullptr) {
        return false;
    }
    unsigned long long device = 0;
    unsigned long long inode = 0;
    int used = 0;
    if (std::sscanf(journalStream, "%llu:%llu%n", &device, &inode, &used) != 2 || journalStream[used] != '\0') {
        return false;
    }
    struct stat st {};
    return ::fstat(fd, &st) == 0 && static_cast<unsigned long long>(st.st_dev) == device &&
           static_cast<unsigned long long>(st.st_ino) == inode;
}

PrefixingBuffer::~PrefixingBuffer() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_line.empty()) {
        put('\n');
    }
    m_target->pubsync();
}

void PrefixingBuffer::put(char c) {
    if (c != '\n') {
        m_line.push_back(c);
        return;
    }
    const std::string out = prefixFor(m_line) + m_line + '\n';
    m_target->sputn(out.data(), static_cast<std::streamsize>(out.size()));
    m_line.clear();
}

PrefixingBuffer::int_type PrefixingBuffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    put(traits_type::to_char_type(c));
    return c;
}

std::streamsize PrefixingBuffer::xsputn(const char* s, std::streamsize n) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (std::streamsize i = 0; i < n; ++i) {
        put(s[i]);
    }
    return n;
}

int PrefixingBuffer::sync() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_target->pubsync();
}

ConsoleScope::ConsoleScope() {
    if (isJournalStream(STDOUT_FILENO, std::getenv("JOURNAL_STREAM"))) {
        m_saved = std::cout.rdbuf();
        m_buffer = new PrefixingBuffer(m_saved);
        std::cout.rdbuf(m_buffer);
    }
}

ConsoleScope::~ConsoleScope() {
    if (m_buffer != nullptr) {
        std::cout.rdbuf(m_saved);
        delete m_buffer;
    }
}

}  // namespace JournalPriority
