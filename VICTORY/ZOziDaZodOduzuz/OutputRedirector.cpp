#include "VICTORY/ZOziDaZodOduzuz/OutputRedirector.h"

#include <sys/types.h>

#include <climits>
#include <cstdio>
#include <utility>

namespace {

// The streams `stdout` and `stderr` pointed to before the redirection; both
// null while nothing is redirected.
FILE* originalStdOutStreamDest = nullptr;
FILE* originalStdErrStreamDest = nullptr;
// The redirected stream, closed by reset().
FILE* redirectedStream = nullptr;

// fopencookie's write signature over file_write. Standard I/O hands over at
// most one buffer at a time, far below UINT_MAX; larger requests are cut.
ssize_t cookieWrite(void* cookie, const char* text, size_t length) {
    const unsigned n = length > UINT_MAX ? UINT_MAX : static_cast<unsigned>(length);
    const int written = COutputRedirector::file_write(cookie, text, n);
    return written < 0 ? 0 : static_cast<ssize_t>(written);
}

}  // namespace

COutputRedirector::~COutputRedirector() {
    reset();
    m_writer = nullptr;
}

bool COutputRedirector::redirect(Writer writer) {
    if (originalStdOutStreamDest != nullptr) {
        return false;
    }
    m_writer = std::move(writer);

    cookie_io_functions_t functions{};
    functions.write = cookieWrite;
    FILE* stream = ::fopencookie(this, "w", functions);
    if (stream == nullptr) {
        return false;
    }
    // Unbuffered: each standard I/O call reaches the writer as one text at
    // once. A line-buffered stream would cut a multi-line text written in
    // one call (a SOAP fault) into its lines, and the writer would see the
    // fault's first line alone.
    std::setvbuf(stream, nullptr, _IONBF, 0);

    std::fflush(stdout);
    std::fflush(stderr);
    originalStdOutStreamDest = stdout;
    originalStdErrStreamDest = stderr;
    redirectedStream = stream;
    stdout = stream;
    stderr = stream;
    return true;
}

void COutputRedirector::reset() {
    if (originalStdOutStreamDest == nullptr || originalStdErrStreamDest == nullptr) {
        return;
    }
    // Pending text still goes to the writer (or the saved standard output)
    // while both are in place.
    FILE* stream = redirectedStream;
    if (stream != nullptr) {
        std::fflush(stream);
    }
    stdout = originalStdOutStreamDest;
    stderr = originalStdErrStreamDest;
    originalStdOutStreamDest = nullptr;
    originalStdErrStreamDest = nullptr;
    redirectedStream = nullptr;
    if (stream != nullptr) {
        std::fclose(stream);
    }
}

int COutputRedirector::file_write(void* cookie, const char* text, unsigned length) {
    if (cookie != nullptr) {
        const auto* self = static_cast<const COutputRedirector*>(cookie);
        if (!self->m_writer) {
            return 0;
        }
        try {
            const int consumed = self->m_writer(text, length);
            if (consumed != 0) {
                return consumed;
            }
        } catch (...) {
            return 0;
        }
    }
    FILE* out = originalStdOutStreamDest;
    if (out == nullptr || (length > 0 && text == nullptr)) {
        return 0;
    }
    if (std::fwrite(text, 1, length, out) != length || std::fflush(out) != 0) {
        return 0;
    }
    return static_cast<int>(length);
}
