#include "FACE/RtpsGuardTransport.h"

#include <fastdds/rtps/transport/TransportReceiverInterface.h>

#include <exception>

namespace FACE {
namespace TSS {
namespace DatagramGuard {

using eprosima::fastdds::rtps::TransportDescriptorInterface;

eprosima::fastdds::rtps::TransportInterface* GuardDescriptor::create_transport() const {
    return new RtpsGuardTransport(low_level_descriptor, kind);
}

RtpsGuardTransport::RtpsGuardTransport(std::shared_ptr<TransportDescriptorInterface> lowLevel, TransportKind kind,
                                       Limits limits)
    : ChainingTransport(GuardDescriptor(lowLevel, kind)),
      m_descriptor(lowLevel, kind),
      m_kind(kind),
      m_limits(limits) {}

bool RtpsGuardTransport::OpenOutputChannel(eprosima::fastdds::rtps::SendResourceList& senders,
                                           eprosima::fastrtps::rtps::Locator_t const& locator) {
    return low_level_transport_->OpenOutputChannel(senders, locator);
}

bool RtpsGuardTransport::send(eprosima::fastrtps::rtps::SenderResource* lowSender,
                              eprosima::fastrtps::rtps::octet const* buffer, std::uint32_t size,
                              eprosima::fastrtps::rtps::LocatorsIterator* begin,
                              eprosima::fastrtps::rtps::LocatorsIterator* end,
                              std::chrono::steady_clock::time_point const& timeout) {
    return lowSender->send(buffer, size, begin, end, timeout);
}

void RtpsGuardTransport::receive(eprosima::fastdds::rtps::TransportReceiverInterface* next,
                                 eprosima::fastrtps::rtps::octet const* buffer, std::uint32_t size,
                                 eprosima::fastrtps::rtps::Locator_t const& local,
                                 eprosima::fastrtps::rtps::Locator_t const& remote) {
    ReceiveScope const scope(m_kind);
    Verdict const verdict = checkDatagram(buffer, size, m_limits);
    if (verdict != Verdict::kAccept) {
        std::uint32_t const address = (std::uint32_t{remote.address[12]} << 24) |
                                      (std::uint32_t{remote.address[13]} << 16) |
                                      (std::uint32_t{remote.address[14]} << 8) | remote.address[15];
        DropCounters::instance().drop(verdict, remote.kind, remote.port, address);
        return;
    }
    try {
        next->OnDataReceived(buffer, size, local, remote);
    } catch (...) {
        DropCounters::instance().exception();
    }
}

std::shared_ptr<eprosima::fastdds::rtps::UDPv4TransportDescriptor> protect(
    eprosima::fastdds::rtps::UDPv4TransportDescriptor const& udp) {
    return std::make_shared<GuardedDescriptor<eprosima::fastdds::rtps::UDPv4TransportDescriptor>>(
        udp, TransportKind::kUdpV4);
}

std::shared_ptr<eprosima::fastdds::rtps::SharedMemTransportDescriptor> protect(
    eprosima::fastdds::rtps::SharedMemTransportDescriptor const& shm) {
    return std::make_shared<GuardedDescriptor<eprosima::fastdds::rtps::SharedMemTransportDescriptor>>(
        shm, TransportKind::kSharedMemory);
}

std::shared_ptr<eprosima::fastdds::rtps::TCPv4TransportDescriptor> protect(
    eprosima::fastdds::rtps::TCPv4TransportDescriptor const& tcp) {
    return std::make_shared<GuardedDescriptor<eprosima::fastdds::rtps::TCPv4TransportDescriptor>>(
        tcp, TransportKind::kTcpV4);
}

}  // namespace DatagramGuard
}  // namespace TSS
}  // namespace FACE
