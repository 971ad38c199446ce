// A datagram on a VICTORY service's management port of the stand-in
// services library: the check it passes before it may replace the VCL in
// force, then the update period the library would take from it.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/victory/VictoryConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    std::uint32_t periodMs = 0;
    const std::string problem = victory::checkVclRequest(text, size, periodMs);
    if (!problem.empty()) {
        return 0;
    }
    // An accepted request is a whole VCL text: read as the library reads a
    // VCL file, it must give the same period.
    const std::string vcl(text, size);
    std::uint32_t again = 0;
    std::string error;
    if (!victory::parseVclUpdatePeriod(vcl.c_str(), again, error) || again != periodMs) {
        std::fprintf(stderr, "accepted VCL reads differently as a file: %s\n", error.c_str());
        std::abort();
    }
    for (const double minimum : {0.0, 0.25, 1e300}) {
        if (victory::effectiveUpdatePeriod(periodMs, minimum) > victory::kNeverPeriod) {
            std::abort();
        }
    }
    return 0;
}
