#ifndef TOOLS_ASPN2_TOOL_SAMPLERECORDER_H
#define TOOLS_ASPN2_TOOL_SAMPLERECORDER_H

// Writes a recorded-samples file (tools/aspn2-tool/SampleFile.h) as samples
// come, from any thread: the header at once, then each sample with its
// time since the recorder was made. Every record is flushed, so a recording
// cut short by a kill is readable up to its last whole record.

#include "tools/aspn2-tool/CdrCodec.h"
#include "tools/aspn2-tool/SampleFile.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>

namespace aspn2_tool {

class SampleRecorder {
public:
    /// Creates (or empties) `path`. Throws std::runtime_error naming the
    /// file and the system's reason when it cannot be written.
    explicit SampleRecorder(std::string const& path)
        : m_path(path), m_file(std::fopen(path.c_str(), "wb")), m_start(std::chrono::steady_clock::now()) {
        if (m_file == nullptr) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
        put(sampleFileHeader());
    }
    ~SampleRecorder() {
        if (m_file != nullptr) std::fclose(m_file);
    }
    SampleRecorder(SampleRecorder const&) = delete;
    SampleRecorder& operator=(SampleRecorder const&) = delete;

    /// Appends `message` on `topic`, stamped with the time since the
    /// recorder was made. False once a write failed (disk full, ...).
    template <typename T>
    bool record(char const* topic, T const& message) {
        RecordedSample sample;
        sample.topic = topic;
        sample.cdr = toCdr(message);
        std::lock_guard<std::mutex> lock(m_mutex);
        sample.timeNs = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - m_start).count());
        if (sample.cdr.empty()) return m_ok;
        put(encodeSample(sample));
        if (m_ok) ++m_samples;
        return m_ok;
    }

    /// Samples written so far.
    long long samples() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_samples;
    }
    bool ok() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ok;
    }
    std::string const& path() const { return m_path; }

private:
    void put(std::string const& bytes) {
        m_ok = m_ok && std::fwrite(bytes.data(), 1, bytes.size(), m_file) == bytes.size() && std::fflush(m_file) == 0;
    }

    std::string m_path;
    std::FILE* m_file;
    std::chrono::steady_clock::time_point m_start;
    mutable std::mutex m_mutex;
    bool m_ok = true;
    long long m_samples = 0;
};

}  // namespace aspn2_tool

#endif  // TOOLS_ASPN2_TOOL_SAMPLERECORDER_H
