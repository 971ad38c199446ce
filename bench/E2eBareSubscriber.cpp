// The baseline of bench/e2e-load: a bare Fast DDS process, written against
// the same legacy interface and with the same participant settings and QoS
// as the server's transport (UDP on 127.0.0.1 only, reliable, volatile,
// keep last 10), that subscribes to PositionVelocityAttitude and UTCTime
// and does nothing but take the samples.
//
//   e2e_bare_subscriber [--domain N] [--depth N]
//
// Prints "ready" once both subscribers exist; on SIGINT or SIGTERM prints
// "received pva=<n> utc=<n>" and ends with status 0.
#include "FACE/RtpsGuardTransport.h"
#include "aspn2_msgs/PositionVelocityAttitude.h"
#include "aspn2_msgs/PositionVelocityAttitudePubSubTypes.h"
#include "aspn2_msgs/UTCTime.h"
#include "aspn2_msgs/UTCTimePubSubTypes.h"

#include <fastdds/rtps/transport/UDPv4TransportDescriptor.h>
#include <fastrtps/Domain.h>
#include <fastrtps/attributes/ParticipantAttributes.h>
#include <fastrtps/attributes/SubscriberAttributes.h>
#include <fastrtps/participant/Participant.h>
#include <fastrtps/subscriber/SampleInfo.h>
#include <fastrtps/subscriber/Subscriber.h>
#include <fastrtps/subscriber/SubscriberListener.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

volatile sig_atomic_t g_stop = 0;

void onSignal(int) { g_stop = 1; }

// Takes every sample of type T as it arrives and counts it.
template <typename T>
class TakingListener : public eprosima::fastrtps::SubscriberListener {
public:
    void onNewDataMessage(eprosima::fastrtps::Subscriber* subscriber) override {
        eprosima::fastrtps::SampleInfo_t info;
        while (subscriber->takeNextData(&m_sample, &info)) {
            if (info.sampleKind == eprosima::fastrtps::rtps::ALIVE) ++count;
        }
    }
    std::atomic<long long> count{0};

private:
    T m_sample;
};

eprosima::fastrtps::SubscriberAttributes subscriberAttributes(const char* topic, const char* type, int depth) {
    eprosima::fastrtps::SubscriberAttributes a;
    a.topic.topicName = topic;
    a.topic.topicDataType = type;
    a.topic.topicKind = eprosima::fastrtps::rtps::NO_KEY;
    a.topic.historyQos.kind = eprosima::fastdds::dds::KEEP_LAST_HISTORY_QOS;
    a.topic.historyQos.depth = depth;
    a.topic.resourceLimitsQos.max_samples = depth;
    a.topic.resourceLimitsQos.max_instances = 1;
    a.topic.resourceLimitsQos.max_samples_per_instance = depth;
    a.topic.resourceLimitsQos.allocated_samples = depth;
    a.qos.m_reliability.kind = eprosima::fastdds::dds::RELIABLE_RELIABILITY_QOS;
    a.qos.m_durability.kind = eprosima::fastdds::dds::VOLATILE_DURABILITY_QOS;
    a.historyMemoryPolicy = eprosima::fastrtps::rtps::PREALLOCATED_WITH_REALLOC_MEMORY_MODE;
    return a;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned domain = 0;
    int depth = 10;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--domain") == 0 && hasValue) {
            domain = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (std::strcmp(argv[i], "--depth") == 0 && hasValue) {
            depth = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: e2e_bare_subscriber [--domain N] [--depth N]\n");
            return 2;
        }
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);

    eprosima::fastrtps::ParticipantAttributes pa;
    pa.domainId = domain;
    pa.rtps.builtin.discovery_config.leaseDuration = eprosima::fastrtps::Duration_t(5, 0);
    pa.rtps.setName("BareSubscriber");
    pa.rtps.useBuiltinTransports = false;
    eprosima::fastdds::rtps::UDPv4TransportDescriptor udp;
    udp.non_blocking_send = true;
    udp.interfaceWhiteList.emplace_back("127.0.0.1");
    // Behind the datagram guard, as every participant of the project.
    pa.rtps.userTransports.push_back(FACE::TSS::DatagramGuard::protect(udp));

    eprosima::fastrtps::Participant* participant = eprosima::fastrtps::Domain::createParticipant(pa);
    if (participant == nullptr) {
        std::fprintf(stderr, "e2e_bare_subscriber: no participant\n");
        return 1;
    }
    aspn2_msgs::idl::PositionVelocityAttitudePubSubType pvaType;
    aspn2_msgs::idl::UTCTimePubSubType utcType;
    eprosima::fastrtps::Domain::registerType(participant, &pvaType);
    eprosima::fastrtps::Domain::registerType(participant, &utcType);
    TakingListener<aspn2_msgs::idl::PositionVelocityAttitude> pvaListener;
    TakingListener<aspn2_msgs::idl::UTCTime> utcListener;
    const bool subscribed =
        eprosima::fastrtps::Domain::createSubscriber(
            participant,
            subscriberAttributes("PositionVelocityAttitude", "aspn2_msgs::idl::PositionVelocityAttitude", depth),
            &pvaListener) != nullptr &&
        eprosima::fastrtps::Domain::createSubscriber(
            participant, subscriberAttributes("UTCTime", "aspn2_msgs::idl::UTCTime", depth), &utcListener) != nullptr;
    if (!subscribed) {
        std::fprintf(stderr, "e2e_bare_subscriber: no subscriber\n");
        eprosima::fastrtps::Domain::removeParticipant(participant);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    eprosima::fastrtps::Domain::removeParticipant(participant);
    std::printf("received pva=%lld utc=%lld\n", pvaListener.count.load(), utcListener.count.load());
    return 0;
}
