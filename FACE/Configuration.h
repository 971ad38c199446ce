#ifndef FACE_CONFIGURATION_H
#define FACE_CONFIGURATION_H

// FACE::Configuration: the Configuration service interface. A service loads
// one configuration resource; callers open named containers of parameters
// by handle, read parameter values as bytes, move a handle between
// containers of the same kind, and write values back. Every operation
// reports through its last argument and never throws.

#include "FACE/FACE_Common.h"

#include <cstdint>

namespace FACE {

class Configuration {
public:
    /// Reference point of Seek.
    struct WHENCE_TYPE {
        enum Value : std::int32_t {
            SEEK_FROM_START = 0,    ///< the first container of the handle's kind
            SEEK_FROM_CURRENT = 1,  ///< the handle's current container
            SEEK_FROM_END = 2       ///< the last container of the handle's kind
        };
    };

    virtual ~Configuration() = default;

    /// Loads the configuration resource named by `configuration` (a path).
    virtual void Initialize(FACE::String const& configuration, FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Gives a handle to the container named `container_name`.
    virtual void Open(FACE::String const& container_name, int& handle, FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Size in bytes of the value of parameter `set_name` of the handle's
    /// current container (an empty name means the container's name).
    virtual void Get_Size(int handle, FACE::String const& set_name, int& size,
                          FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Copies up to `buffer_size` bytes of the value of `set_name` into
    /// `buffer`; `bytes_read` is the count copied.
    virtual void Read(int handle, FACE::String const& set_name, void* buffer, int buffer_size, int& bytes_read,
                      FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Replaces the value of `set_name` with the `buffer_size` bytes of
    /// `buffer` (which is only read) and stores the resource.
    virtual void Write(int handle, FACE::String const& set_name, void* buffer, int buffer_size, int& bytes_written,
                       FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Moves the handle `offset` containers of its kind from `whence`.
    virtual void Seek(int handle, WHENCE_TYPE::Value whence, int offset,
                      FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Releases the handle.
    virtual void Close(int handle, FACE::RETURN_CODE_TYPE::Value& return_code) = 0;
};

}  // namespace FACE

#endif  // FACE_CONFIGURATION_H
