#ifndef FACE_LCM_H
#define FACE_LCM_H

// Life-cycle management (LCM) interfaces of a FACE component: the steps a
// process entry drives a component through (Initialize, Configure,
// Framework_Connect, state transitions, Framework_Disconnect, Finalize).
// Every operation reports its outcome through its last argument; none is
// expected to throw.

#include "FACE/FACE_Common.h"

#include <cstdint>

namespace FACE {
namespace LCM {

namespace Initializable {

/// First and last step of a component's life.
class InitializableInstance {
public:
    virtual ~InitializableInstance() = default;

    /// Prepares the component for configuration.
    virtual void Initialize(FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Releases what Initialize prepared.
    virtual void Finalize(FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

protected:
    InitializableInstance() = default;
    InitializableInstance(const InitializableInstance&) = default;
    InitializableInstance& operator=(const InitializableInstance&) = default;
};

}  // namespace Initializable

namespace Configurable {

/// A component that reads its settings from a configuration source.
class ConfigurableInstance {
public:
    virtual ~ConfigurableInstance() = default;

    /// Reads the settings from `configuration` (a file path for this
    /// system's components).
    virtual void Configure(FACE::String const& configuration, FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

protected:
    ConfigurableInstance() = default;
    ConfigurableInstance(const ConfigurableInstance&) = default;
    ConfigurableInstance& operator=(const ConfigurableInstance&) = default;
};

}  // namespace Configurable

namespace Connectable {

/// A component that connects to its frameworks (transport, I/O, ...).
class ConnectableInstance {
public:
    virtual ~ConnectableInstance() = default;

    /// Creates the framework connections; `configuration` names the
    /// configuration source.
    virtual void Framework_Connect(FACE::String const& configuration, FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Takes the framework connections down again.
    virtual void Framework_Disconnect(FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

protected:
    ConnectableInstance() = default;
    ConnectableInstance(const ConnectableInstance&) = default;
    ConnectableInstance& operator=(const ConnectableInstance&) = default;
};

}  // namespace Connectable

namespace Corvane {

namespace RequestedState {
/// A state that a component is asked to enter.
enum Value : std::uint32_t { START = 0, STOP = 1 };
}  // namespace RequestedState

namespace ReportedState {
/// The state a component reports: STARTED while it runs its work.
enum Value : std::uint32_t { STARTED = 0, STOPPED = 1 };
}  // namespace ReportedState

namespace RequestedState_ReportedState {
namespace Stateful {

/// A component with a run state that can be queried and changed.
class StatefulInstance {
public:
    virtual ~StatefulInstance() = default;

    /// The current state.
    virtual void Query_State(ReportedState::Value& reported_state, FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Asks for a change of state.
    virtual void Request_State_Transition(RequestedState::Value requested_state,
                                          FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

protected:
    StatefulInstance() = default;
    StatefulInstance(const StatefulInstance&) = default;
    StatefulInstance& operator=(const StatefulInstance&) = default;
};

}  // namespace Stateful
}  // namespace RequestedState_ReportedState

}  // namespace Corvane

}  // namespace LCM
}  // namespace FACE

#endif  // FACE_LCM_H
