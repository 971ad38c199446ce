// The Cyclone DDS configuration of the test peer and the QoS that match the
// server's connections. Pure logic: text and plain values only.
#ifndef TESTS_PEERS_CYCLONE_PEERCONFIG_H
#define TESTS_PEERS_CYCLONE_PEERCONFIG_H

#include "tests/peers/cyclone/PeerOptions.h"

#include <string>

namespace cyclone_peer {

/// The server's connections, one DDS topic each, with their registered
/// type names (the connections file's TopicType).
struct TopicName {
    char const* topic;
    char const* type;
};
constexpr TopicName kPvaTopic{"PositionVelocityAttitude", "aspn2_msgs::idl::PositionVelocityAttitude"};
constexpr TopicName kUtcTopic{"UTCTime", "aspn2_msgs::idl::UTCTime"};
constexpr TopicName kCommandTopic{"Command", "aspn2_msgs::idl::CommandResponse"};
constexpr TopicName kResponseTopic{"Response", "aspn2_msgs::idl::CommandResponse"};
constexpr TopicName kEventLogTopic{"EventLog", "aspn2_msgs::idl::EventLog"};
constexpr TopicName kMaintenanceTopic{"MaintenanceEvent", "aspn2_msgs::idl::MaintenanceEvent"};

/// Every connection's QoS as the server's transport sets it: reliable, keep
/// last 10 samples (the sample files' HistoryDepth), writers transient
/// local. Readers here are transient local too, so that a reader started
/// while discovery is still under way gets the events published meanwhile.
constexpr int kHistoryDepth = 10;

/// `text` with the five XML special characters escaped.
std::string xmlEscape(std::string const& text);

/// The configuration handed to the library for `o`: one inline XML
/// document (interface with multicast on, tracing, DDS Security with
/// file: URIs), followed by `,file://<configFile>` when one is given, so
/// that the caller's file is applied last.
std::string cycloneConfig(PeerOptions const& o);

}  // namespace cyclone_peer

#endif  // TESTS_PEERS_CYCLONE_PEERCONFIG_H
