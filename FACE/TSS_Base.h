#ifndef FACE_TSS_BASE_H
#define FACE_TSS_BASE_H

// The Transport Services interfaces: FACE::TSS::Base (the transport: its
// set-up and its named connections), FACE::TSS::TypedTS<T> (sending and
// receiving messages of one type over the connections of a transport) and
// FACE::TSS::Base_Injectable::Injectable (how a typed transport is given
// its transport). Every operation reports through its last argument.

#include "FACE/FACE_Common.h"
#include "FACE/TSS_Types.h"

#include <memory>

namespace FACE {
namespace TSS {

class Base {
public:
    virtual ~Base() = default;

    /// Reads the transport settings from `configuration_file` and starts the
    /// transport.
    virtual void Initialize(FACE::String const& configuration_file, FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Gives the id of the connection named `connection_name` (made on
    /// first use from its settings). `unused` and `unused_out` are kept for
    /// the interface's shape; `connection_id` is -1 on failure.
    virtual void Create_Connection(FACE::String const& connection_name, long long unused, long long& connection_id,
                                   int& unused_out, FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Ends the use of a connection.
    virtual void Destroy_Connection(long long connection_id, FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Removes the connection's sender, if it has one.
    virtual void Unregister_Sender(long long connection_id, FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Removes the connection's receive callback, if it has one.
    virtual void Unregister_Callback(long long connection_id, FACE::RETURN_CODE_TYPE::Value& return_code) = 0;
};

/// Sending and receiving messages of type T.
template <typename T>
class TypedTS {
public:
    virtual ~TypedTS() = default;

    /// Polling reception of one message.
    virtual void Receive_Message(long long connection_id, long long timeout, long long& transaction_id, T& message,
                                 HEADER_TYPE& header, FACE::Sequence<QoS_Element>& qos_parameters,
                                 FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Sends `message` on the connection.
    virtual void Send_Message(long long connection_id, long long timeout, long long& transaction_id, T const& message,
                              FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Makes this process a sender on the connection.
    virtual void Register_Sender(long long connection_id, FACE::RETURN_CODE_TYPE::Value& return_code) = 0;

    /// Has `callback` called for every message arriving on the connection.
    virtual void Register_Callback(long long connection_id, Read_Callback<T> callback,
                                   FACE::RETURN_CODE_TYPE::Value& return_code) = 0;
};

namespace Base_Injectable {

/// Implemented by services that work over a transport handed to them.
class Injectable {
public:
    virtual ~Injectable() = default;

    /// Gives the service the transport it works over; the service keeps a
    /// shared reference. `interface_name` and `id` identify the injection
    /// point for services that have several. Never throws.
    virtual void Set_Reference(FACE::String const& interface_name, std::shared_ptr<FACE::TSS::Base> const& transport,
                               long long id, FACE::RETURN_CODE_TYPE::Value& return_code) = 0;
};

}  // namespace Base_Injectable

}  // namespace TSS
}  // namespace FACE

#endif  // FACE_TSS_BASE_H
