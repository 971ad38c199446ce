#ifndef FACE_RTPSGUARDTRANSPORT_H
#define FACE_RTPSGUARDTRANSPORT_H

// The datagram guard: a Fast DDS chaining transport in front of one
// low-level transport (UDPv4, shared memory or TCPv4) that lets a received
// RTPS message reach the library only when RtpsDatagramCheck accepts it,
// counts the others per reason (DatagramGuardStatus.h) and records, per
// receiving thread, since when it has been inside the library with one
// message. Sending goes straight to the low-level transport: its sender
// resources are handed to the participant as they are, so the low-level
// transport still recognises and reuses its own ones (Fast DDS 2.9.1's
// chaining wrapper hides them, and the shared-memory transport would then
// add a sender per remote locator and send every message once per sender).
//
// What the low-level transports hand to `receive`: UDPv4 one datagram;
// shared memory one message as its sender wrote it; TCPv4 one RTPS message
// with the TCP framing (its 14-byte header) already taken off by the
// transport, which handles its own control messages (RTCP) itself.
//
// Use: protect() wraps a descriptor of one of the three kinds in a
// descriptor of the same kind (the participant recognises a shared-memory
// descriptor by its type) whose transport is the guard:
//   attributes.rtps.userTransports.push_back(DatagramGuard::protect(udp));

#include "FACE/DatagramGuardStatus.h"
#include "FACE/RtpsDatagramCheck.h"

#include <fastdds/rtps/transport/ChainingTransport.h>
#include <fastdds/rtps/transport/ChainingTransportDescriptor.h>
#include <fastdds/rtps/transport/TCPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastdds/rtps/transport/shared_mem/SharedMemTransportDescriptor.h>

#include <memory>
#include <utility>

namespace FACE {
namespace TSS {
namespace DatagramGuard {

/// The guard's own description: the low-level descriptor and its kind.
struct GuardDescriptor : eprosima::fastdds::rtps::ChainingTransportDescriptor {
    GuardDescriptor(std::shared_ptr<eprosima::fastdds::rtps::TransportDescriptorInterface> lowLevel,
                    TransportKind transportKind)
        : ChainingTransportDescriptor(std::move(lowLevel)), kind(transportKind) {}
    eprosima::fastdds::rtps::TransportInterface* create_transport() const override;
    TransportKind kind;
};

class RtpsGuardTransport : public eprosima::fastdds::rtps::ChainingTransport {
public:
    /// A guard in front of the transport `lowLevel` describes; `kind` names
    /// it in progress records and messages.
    RtpsGuardTransport(std::shared_ptr<eprosima::fastdds::rtps::TransportDescriptorInterface> lowLevel,
                       TransportKind kind, Limits limits = Limits{});

    eprosima::fastdds::rtps::TransportDescriptorInterface* get_configuration() override { return &m_descriptor; }

    /// The low-level transport's own sender resources, unwrapped.
    bool OpenOutputChannel(eprosima::fastdds::rtps::SendResourceList& senders,
                           eprosima::fastrtps::rtps::Locator_t const& locator) override;

    /// Passes through (only reached through a chaining sender resource,
    /// which this transport does not make).
    bool send(eprosima::fastrtps::rtps::SenderResource* lowSender, eprosima::fastrtps::rtps::octet const* buffer,
              std::uint32_t size, eprosima::fastrtps::rtps::LocatorsIterator* begin,
              eprosima::fastrtps::rtps::LocatorsIterator* end,
              std::chrono::steady_clock::time_point const& timeout) override;

    /// Checks the message; an accepted one goes to `next` (the library)
    /// inside a ReceiveScope, a refused one is counted and dropped. An
    /// exception out of the library is caught and counted: letting it
    /// escape would end the process.
    void receive(eprosima::fastdds::rtps::TransportReceiverInterface* next,
                 eprosima::fastrtps::rtps::octet const* buffer, std::uint32_t size,
                 eprosima::fastrtps::rtps::Locator_t const& local,
                 eprosima::fastrtps::rtps::Locator_t const& remote) override;

    void shutdown() override { low_level_transport_->shutdown(); }

private:
    GuardDescriptor m_descriptor;
    TransportKind m_kind;
    Limits m_limits;
};

/// A descriptor of type Base whose transport is a guard in front of a
/// Base transport made from a copy of this descriptor's settings.
template <typename Base>
class GuardedDescriptor : public Base {
public:
    GuardedDescriptor(Base const& settings, TransportKind kind) : Base(settings), m_kind(kind) {}

    eprosima::fastdds::rtps::TransportInterface* create_transport() const override {
        return new RtpsGuardTransport(std::make_shared<Base>(static_cast<Base const&>(*this)), m_kind);
    }

private:
    TransportKind m_kind;
};

/// The guarded form of each low-level descriptor (its settings copied).
std::shared_ptr<eprosima::fastdds::rtps::UDPv4TransportDescriptor> protect(
    eprosima::fastdds::rtps::UDPv4TransportDescriptor const& udp);
std::shared_ptr<eprosima::fastdds::rtps::SharedMemTransportDescriptor> protect(
    eprosima::fastdds::rtps::SharedMemTransportDescriptor const& shm);
std::shared_ptr<eprosima::fastdds::rtps::TCPv4TransportDescriptor> protect(
    eprosima::fastdds::rtps::TCPv4TransportDescriptor const& tcp);

}  // namespace DatagramGuard
}  // namespace TSS
}  // namespace FACE

#endif  // FACE_RTPSGUARDTRANSPORT_H
