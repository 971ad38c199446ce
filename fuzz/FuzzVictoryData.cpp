// A datagram from a VICTORY data bus port as victory-monitor reads it: the
// data-message parser, then both console line formats. A message that
// parses must write back to a text that parses to the same message (the
// written text is compared).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/victory/VictoryDataMessage.h"
#include "tools/victory-monitor/MonitorFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    victory::DataMessage message;
    std::string error;
    if (!victory::parseDataMessage(reinterpret_cast<const char*>(data), size, message, error)) {
        return 0;
    }
    (void)victory_monitor::formatHuman(message);
    (void)victory_monitor::formatJson(message, 47001);

    const std::string written = victory::formatDataMessage(message);
    victory::DataMessage reread;
    if (!victory::parseDataMessage(written.data(), written.size(), reread, error)) {
        std::fprintf(stderr, "a parsed message writes to a text that does not parse: %s\n%s\n", error.c_str(),
                     written.c_str());
        std::abort();
    }
    if (victory::formatDataMessage(reread) != written) {
        std::fprintf(stderr, "a message changes when written and read again:\n%s\n", written.c_str());
        std::abort();
    }
    return 0;
}
