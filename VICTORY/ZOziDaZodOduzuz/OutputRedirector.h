#ifndef VICTORY_ZOZIDAZODODUZUZ_OUTPUTREDIRECTOR_H
#define VICTORY_ZOZIDAZODODUZUZ_OUTPUTREDIRECTOR_H

// Diverts what the process writes through the C standard I/O streams
// `stdout` and `stderr` to a callback, for instance so that texts a library
// prints can be turned into reports. Output written through std::cout and
// std::cerr is not affected: they keep writing to the original streams.
//
// At most one redirection exists in the process at a time; the saved
// streams are process-wide. Only the thread that owns the redirection should
// call redirect() and reset(); writes may come from any thread.

#include <functional>

class COutputRedirector {
public:
    /// Receives one chunk of text written to `stdout` or `stderr` (not
    /// NUL-terminated) and its length in bytes. A non-zero result means the
    /// text was consumed (the result is reported to the stream as the count
    /// written, so return `length` to consume all of it); 0 means "not
    /// consumed": the text then goes to the saved standard output unchanged.
    /// A writer that throws drops the text. The writer must not itself
    /// write through `stdout` or `stderr`.
    using Writer = std::function<int(const char* text, unsigned length)>;

    COutputRedirector() = default;

    /// Calls reset() (puts the saved streams back), then releases the writer.
    ~COutputRedirector();

    COutputRedirector(const COutputRedirector&) = delete;
    COutputRedirector& operator=(const COutputRedirector&) = delete;

    /// Makes `stdout` and `stderr` point to a new stream whose text goes to
    /// `writer`, saving the current two streams (pending output of both is
    /// flushed first). The new stream is unbuffered, so the text of each
    /// standard I/O call (one fputs, one fprintf) reaches the writer at once
    /// as one text, however many lines it holds. Returns false and
    /// changes nothing when a redirection already exists in the process;
    /// returns false and keeps the writer (unused) when the stream cannot be
    /// opened.
    bool redirect(Writer writer);

    /// If a redirection exists (in any object), delivers its pending text,
    /// points `stdout` and `stderr` back to the saved streams and closes the
    /// redirected stream. Otherwise does nothing.
    static void reset();

    /// The stream's write function. With a `cookie` (the redirecting
    /// object): 0 when the object has no writer or the writer throws;
    /// otherwise the writer's result when it is non-zero. Without a cookie,
    /// or when the writer returned 0: writes the text to the saved standard
    /// output, flushes it and returns `length`, or 0 when that fails or
    /// nothing is saved.
    static int file_write(void* cookie, const char* text, unsigned length);

private:
    Writer m_writer;
};

#endif  // VICTORY_ZOZIDAZODODUZUZ_OUTPUTREDIRECTOR_H
