#ifndef FACE_CONFIGURATION_INJECTABLE_H
#define FACE_CONFIGURATION_INJECTABLE_H

// FACE::Configuration_Injectable::Injectable: implemented by services that
// read their settings through a FACE::Configuration handed to them by the
// component that owns them (the transport and the I/O service).

#include "FACE/Configuration.h"
#include "FACE/FACE_Common.h"

#include <memory>

namespace FACE {
namespace Configuration_Injectable {

class Injectable {
public:
    virtual ~Injectable() = default;

    /// Gives the service the configuration it reads from; the service keeps
    /// a shared reference. `interface_name` and `id` identify the injection
    /// point for services that have several. Reports through `return_code`,
    /// never throws.
    virtual void Set_Reference(FACE::String const& interface_name,
                               std::shared_ptr<FACE::Configuration> const& configuration, long long id,
                               FACE::RETURN_CODE_TYPE::Value& return_code) = 0;
};

}  // namespace Configuration_Injectable
}  // namespace FACE

#endif  // FACE_CONFIGURATION_INJECTABLE_H
