// gtx2pgm's input: a GTX header and grid (the input is the file), read,
// then converted to the PGM layout the converter derives from the grid.

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tools/geoid/GeoidGrid.h"

namespace {
constexpr long long kMaxPixelsConverted = 1LL << 18;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    try {
        const geoid::GtxGrid grid = geoid::readGtx(in);
        const geoid::PgmLayout layout = geoid::layoutFor(grid);
        // Sizes beyond the converter's limit must be refused at once; within
        // it, larger layouts only repeat the same per-pixel work, which is
        // run here for up to 2^18 pixels to keep each input well under 1 s.
        const long long pixels = static_cast<long long>(layout.width) * layout.height;
        if (pixels > kMaxPixelsConverted && pixels <= geoid::kMaxPgmPixels && layout.width <= geoid::kMaxPgmSide &&
            layout.height <= geoid::kMaxPgmSide) {
            return 0;
        }
        geoid::ConversionReport report;
        const geoid::PgmGeoid pgm = geoid::convertToPgm(grid, layout, &report);
        std::ostringstream out;
        geoid::writePgm(out, pgm);
    } catch (const std::runtime_error&) {
        // Refused with a reason: what the converter prints.
    }
    return 0;
}
