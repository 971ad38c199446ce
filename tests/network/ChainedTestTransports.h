// Two chaining transports of the tests (never shipped):
//  - RecordingTransport keeps a copy of every message its low-level
//    transport receives, with the local port and whether it came by
//    multicast, before passing it on;
//  - BlockingTransport holds a receiving thread inside `receive` while its
//    gate is closed, standing in for a library call that does not return.
// Both hand the participant the low-level transport's own sender
// resources, as the guard does.
#ifndef TESTS_NETWORK_CHAINEDTESTTRANSPORTS_H
#define TESTS_NETWORK_CHAINEDTESTTRANSPORTS_H

#include <fastdds/rtps/transport/ChainingTransport.h>
#include <fastdds/rtps/transport/ChainingTransportDescriptor.h>
#include <fastdds/rtps/transport/TransportReceiverInterface.h>
#include <fastrtps/utils/IPLocator.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace corvane_test {
namespace net {

using eprosima::fastdds::rtps::ChainingTransportDescriptor;
using eprosima::fastdds::rtps::TransportDescriptorInterface;
using eprosima::fastdds::rtps::TransportReceiverInterface;
using eprosima::fastrtps::rtps::Locator_t;
using eprosima::fastrtps::rtps::octet;

// The common part: unwrapped senders, pass-through send; the descriptor
// of type Descriptor kept for get_configuration.
template <typename Descriptor>
class TestChainingTransport : public eprosima::fastdds::rtps::ChainingTransport {
public:
    explicit TestChainingTransport(Descriptor const& d) : ChainingTransport(d), m_descriptor(d) {}
    TransportDescriptorInterface* get_configuration() override { return &m_descriptor; }
    bool OpenOutputChannel(eprosima::fastdds::rtps::SendResourceList& senders, Locator_t const& locator) override {
        return low_level_transport_->OpenOutputChannel(senders, locator);
    }
    bool send(eprosima::fastrtps::rtps::SenderResource* low, octet const* buffer, std::uint32_t size,
              eprosima::fastrtps::rtps::LocatorsIterator* begin, eprosima::fastrtps::rtps::LocatorsIterator* end,
              std::chrono::steady_clock::time_point const& timeout) override {
        return low->send(buffer, size, begin, end, timeout);
    }
    void shutdown() override { low_level_transport_->shutdown(); }

private:
    Descriptor m_descriptor;
};

// --- Recording ------------------------------------------------------------------

struct Captured {
    std::vector<std::uint8_t> bytes;
    std::uint32_t localPort = 0;
    bool multicast = false;
};

// Thread-safe store of what a RecordingTransport received while recording.
class CaptureStore {
public:
    void add(octet const* data, std::uint32_t size, Locator_t const& local) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_recording) return;
        m_captured.push_back(Captured{std::vector<std::uint8_t>(data, data + size), local.port,
                                      eprosima::fastrtps::rtps::IPLocator::isMulticast(local)});
    }
    void record(bool on) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_recording = on;
    }
    std::vector<Captured> all() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_captured;
    }

private:
    mutable std::mutex m_mutex;
    bool m_recording = true;
    std::vector<Captured> m_captured;
};

struct RecordingDescriptor : ChainingTransportDescriptor {
    RecordingDescriptor(std::shared_ptr<TransportDescriptorInterface> low, std::shared_ptr<CaptureStore> s)
        : ChainingTransportDescriptor(std::move(low)), store(std::move(s)) {}
    eprosima::fastdds::rtps::TransportInterface* create_transport() const override;
    std::shared_ptr<CaptureStore> store;
};

class RecordingTransport : public TestChainingTransport<RecordingDescriptor> {
public:
    explicit RecordingTransport(RecordingDescriptor const& d) : TestChainingTransport(d), m_store(d.store) {}
    void receive(TransportReceiverInterface* next, octet const* buffer, std::uint32_t size, Locator_t const& local,
                 Locator_t const& remote) override {
        m_store->add(buffer, size, local);
        next->OnDataReceived(buffer, size, local, remote);
    }

private:
    std::shared_ptr<CaptureStore> m_store;
};

inline eprosima::fastdds::rtps::TransportInterface* RecordingDescriptor::create_transport() const {
    return new RecordingTransport(*this);
}

// --- Blocking -------------------------------------------------------------------

// Closed: a thread that enters waits until it opens. Counts the threads
// held.
class Gate {
public:
    void close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    void open() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_closed = false;
        }
        m_changed.notify_all();
    }
    void pass() {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_closed) return;
        ++m_held;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_closed; });
        --m_held;
    }
    // Waits up to `timeout` until a thread is held.
    bool waitHeld(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_held > 0; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_closed = false;
    int m_held = 0;
};

struct BlockingDescriptor : ChainingTransportDescriptor {
    BlockingDescriptor(std::shared_ptr<TransportDescriptorInterface> low, std::shared_ptr<Gate> g)
        : ChainingTransportDescriptor(std::move(low)), gate(std::move(g)) {}
    eprosima::fastdds::rtps::TransportInterface* create_transport() const override;
    std::shared_ptr<Gate> gate;
};

class BlockingTransport : public TestChainingTransport<BlockingDescriptor> {
public:
    explicit BlockingTransport(BlockingDescriptor const& d) : TestChainingTransport(d), m_gate(d.gate) {}
    void receive(TransportReceiverInterface* next, octet const* buffer, std::uint32_t size, Locator_t const& local,
                 Locator_t const& remote) override {
        m_gate->pass();
        next->OnDataReceived(buffer, size, local, remote);
    }

private:
    std::shared_ptr<Gate> m_gate;
};

inline eprosima::fastdds::rtps::TransportInterface* BlockingDescriptor::create_transport() const {
    return new BlockingTransport(*this);
}

}  // namespace net
}  // namespace corvane_test

#endif  // TESTS_NETWORK_CHAINEDTESTTRANSPORTS_H
