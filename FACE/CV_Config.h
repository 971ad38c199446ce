#ifndef FACE_CV_CONFIG_H
#define FACE_CV_CONFIG_H

// FACE::CV_Config: the Configuration service over one XML file.
//
// File format: the first top-level element "CV_Configurations" is the root.
// Its child elements are containers when they have a "Name" child with
// non-empty text; every other child is ignored. A container's "Parameters"
// child holds the parameters: each child tag is a parameter name (exact,
// case-sensitive match; the first child with a tag counts) and its text is
// the value. An element without text counts as a missing parameter.
//
// Containers are found by name: walking the root's children in document
// order, the first container whose "Name" text, or failing that whose tag,
// equals the requested name. Handles are shared per container tag: opening
// a second container with the same tag re-points the open handle. Handle
// numbers come from a counter shared by every instance of the process and
// are never reused.
//
// The file mutex serialises Initialize and the saving step of Write; the
// other operations take no lock, so an instance is used from one thread at
// a time. Every operation reports through its last argument, never throws.

#include "FACE/Configuration.h"
#include "FACE/FACE_Common.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace tinyxml2 {
class XMLDocument;
class XMLElement;
}  // namespace tinyxml2

namespace FACE {

class CV_Config : public FACE::Configuration {
public:
    CV_Config();
    ~CV_Config() override;
    CV_Config(CV_Config const&) = delete;
    CV_Config& operator=(CV_Config const&) = delete;

    /// Loads the XML file at `path` once. 0 (NO_ERROR) also when already
    /// initialised (the first file stays loaded). 4 (INVALID_CONFIG) when
    /// the path is invalid, names no regular file, or the file cannot be
    /// read or parsed (silently), or has no "CV_Configurations" root (then
    /// the line "Configuration XML - <path> Error: Unable to locate the
    /// CV_Configurations object" goes to standard output).
    void Initialize(FACE::String const& path, FACE::RETURN_CODE_TYPE::Value& return_code) override;

    /// Handle of the container `name`: an open handle whose current name is
    /// `name` is returned unchanged; otherwise the container is looked up
    /// forward and the open handle of its tag is re-pointed at it, or a new
    /// handle is made. 5 (INVALID_MODE) before a successful Initialize;
    /// 4 when no container matches; else 0.
    void Open(FACE::String const& name, int& handle, FACE::RETURN_CODE_TYPE::Value& return_code) override;

    /// Length in bytes of the value of `parameter` (empty: the container's
    /// "Name"). 4 for an unknown handle, a missing "Parameters" or
    /// parameter, or no text; else 0.
    void Get_Size(int handle, FACE::String const& parameter, int& size,
                  FACE::RETURN_CODE_TYPE::Value& return_code) override;

    /// Zero-fills all `size` bytes of `buffer` and copies min(value length,
    /// size) bytes of the value into it; `bytes` is that count. A value of
    /// `size` bytes or more leaves no terminating NUL. 4 for an unknown
    /// handle; 3 (INVALID_PARAM) for a missing "Parameters", parameter,
    /// "Name" or text, a negative size or a null buffer with a positive
    /// size; else 0. Never writes outside buffer[0, size).
    void Read(int handle, FACE::String const& parameter, void* buffer, int size, int& bytes,
              FACE::RETURN_CODE_TYPE::Value& return_code) override;

    /// Sets the value of `parameter` (which must exist and have text) to the
    /// `size` bytes of `buffer` (up to a NUL among them) and saves the whole
    /// document to the file, indented. The save keeps the file's owner,
    /// mode, hard links and symbolic links: where that allows it, as one
    /// atomic replacement (a temporary file in the same folder, flushed,
    /// renamed over the file, the folder flushed), so that a crash during
    /// the save leaves the previous file whole; otherwise, as when the
    /// folder is not writable or the file belongs to another user, by
    /// truncating and writing the file in place (utilities/AtomicFile.h). On
    /// success `bytes` = size and 0. 4 for an unknown handle; 3 for an empty
    /// name, a missing element or text, a negative size or a null buffer
    /// with a positive size; 1 (NO_ACTION) when the file cannot be written,
    /// in which case the new value stays in the loaded document.
    void Write(int handle, FACE::String const& parameter, void* buffer, int size, int& bytes,
               FACE::RETURN_CODE_TYPE::Value& return_code) override;

    /// Moves the handle among the containers that share its tag. Start:
    /// SEEK_FROM_START the first container found forward for the tag,
    /// SEEK_FROM_CURRENT the current one, SEEK_FROM_END the last found
    /// backward. A positive offset moves towards the end of the file (from
    /// the end: towards the start). Only containers (elements with the tag
    /// and a non-empty "Name") are counted. 4 for an unknown handle or
    /// whence; 3 when there is no start container or the move runs out of
    /// containers (handle unchanged); else 0.
    void Seek(int handle, FACE::Configuration::WHENCE_TYPE::Value whence, int offset,
              FACE::RETURN_CODE_TYPE::Value& return_code) override;

    /// Releases the handle. 4 for an unknown handle; else 0.
    void Close(int handle, FACE::RETURN_CODE_TYPE::Value& return_code) override;

private:
    struct config_set {
        tinyxml2::XMLElement* container;  // current container (owned by m_doc)
        std::string containerTag;         // tag the handle was created for
        std::string currentName;          // "Name" text of the current container
    };

    config_set* findHandle(int handle) const;

    // The element whose text Read or Write moves: null with return_code 4
    // for an unknown handle, 3 for an empty parameter name (unless
    // `nameAllowed`), a negative size, a null buffer with a positive size,
    // or a missing element or text.
    tinyxml2::XMLElement* transferElement(int handle, std::string const& parameter, bool nameAllowed,
                                          void const* buffer, int size,
                                          FACE::RETURN_CODE_TYPE::Value& return_code) const;

    // Process-wide source of handle numbers, starting at 0. Atomic so that
    // instances used on different threads still get distinct numbers.
    static std::atomic<int> s_HandleCount;

    std::string m_configFile;
    std::string m_schemaLocation;
    std::mutex m_fileMutex;
    std::unique_ptr<tinyxml2::XMLDocument> m_doc;
    std::map<int, std::unique_ptr<config_set>> m_handles;
    bool m_initialized;
};

}  // namespace FACE

#endif  // FACE_CV_CONFIG_H
