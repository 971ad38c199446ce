// SOAP 1.2 fault texts that the services library writes to the process's
// standard output stream when a management request is rejected. A host
// program that watches `stdout` recognises them by their first line.
#ifndef PLATFORM_VICTORY_SOAPFAULT_H
#define PLATFORM_VICTORY_SOAPFAULT_H

#include <string>

namespace victory {

// First line of every fault caused by a bad request.
constexpr const char* kSenderFaultMarker = "SOAP 1.2 fault SOAP-ENV:Sender";

// The fault text: the marker line, the quoted reason and a "Detail:" line,
// each ending with a newline.
std::string senderFaultText(const std::string& reason, const std::string& detail);

// Writes `text` to the C stream stdout in one call and flushes it. Writers
// of different services are serialised, so texts never interleave.
void writeToStdout(const std::string& text);

}  // namespace victory

#endif  // PLATFORM_VICTORY_SOAPFAULT_H
