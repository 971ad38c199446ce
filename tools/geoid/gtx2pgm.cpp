// gtx2pgm: converts a GTX geoid grid into the PGM geoid format read by
// GeographicLib::Geoid.
//
//   gtx2pgm [--width W] [--height H] [--offset O] [--scale S]
//           [--description TEXT] INPUT.gtx OUTPUT.pgm
//   gtx2pgm --help
//
// Defaults: the grid's own resolution (360 / longitude step columns,
// 180 / latitude step + 1 rows), offset -108 m, scale 0.003 m. The output
// is written to a temporary file next to OUTPUT and renamed into place, so
// a failed run never leaves a partial file. Exit status 0 on success, 1 on
// a conversion error (message on stderr), 2 on a bad command line (one
// line naming the problem).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include <unistd.h>

#include "tools/geoid/GeoidGrid.h"

namespace {

constexpr const char* kUsage =
    "usage: gtx2pgm [--width W] [--height H] [--offset O] [--scale S] [--description TEXT]\n"
    "               INPUT.gtx OUTPUT.pgm\n"
    "Converts a GTX geoid grid into the PGM geoid format (written to a\n"
    "temporary file and renamed into place).\n"
    "  --width W, --height H   grid size (default: the input's resolution)\n"
    "  --offset O, --scale S   height = O + S * pixel, metres (-108, 0.003)\n"
    "  --description TEXT      the file's Description line\n";

bool parseNumber(const char* text, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(out);
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
    geoid::PgmLayout layout;
    layout.width = 0;
    layout.height = 0;
    std::string input, output;
    bool haveDescription = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        double v = 0;
        if ((arg == "--width" || arg == "--height" || arg == "--offset" || arg == "--scale") && hasValue) {
            if (!parseNumber(argv[++i], v)) {
                std::fprintf(stderr, "gtx2pgm: %s needs a number (see --help)\n", arg.c_str());
                return 2;
            }
            if (arg == "--width" || arg == "--height") {
                if (v != std::floor(v) || v < 1 || v > 1e6) {
                    std::fprintf(stderr, "gtx2pgm: %s needs a whole number (see --help)\n", arg.c_str());
                    return 2;
                }
                (arg == "--width" ? layout.width : layout.height) = static_cast<int>(v);
            } else {
                (arg == "--offset" ? layout.offset : layout.scale) = v;
            }
        } else if (arg == "--description" && hasValue) {
            layout.description = argv[++i];
            haveDescription = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!arg.empty() && arg[0] != '-' && input.empty()) {
            input = arg;
        } else if (!arg.empty() && arg[0] != '-' && output.empty()) {
            output = arg;
        } else {
            std::fprintf(stderr, "gtx2pgm: unexpected argument '%s' (see --help)\n", arg.c_str());
            return 2;
        }
    }
    if (input.empty() || output.empty()) {
        std::fprintf(stderr, "gtx2pgm: %s (see --help)\n",
                     input.empty() ? "no input and output files given" : "no output file given");
        return 2;
    }

    const std::string temporary = output + ".tmp." + std::to_string(::getpid());
    try {
        const geoid::GtxGrid grid = geoid::readGtxFile(input);
        const geoid::PgmLayout derived = geoid::layoutFor(grid);
        if (layout.width == 0) layout.width = derived.width;
        if (layout.height == 0) layout.height = derived.height;
        if (!haveDescription) layout.description = "Geoid heights converted from " + baseName(input);
        geoid::ConversionReport report;
        const geoid::PgmGeoid pgm = geoid::convertToPgm(grid, layout, &report);
        if (report.clamped > 0) {
            throw std::runtime_error(std::to_string(report.clamped) + " heights do not fit the offset and scale");
        }
        {
            std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
            if (!out) throw std::runtime_error("cannot create " + temporary);
            geoid::writePgm(out, pgm);
            out.flush();
            if (!out) throw std::runtime_error("cannot write " + temporary);
        }
        if (std::rename(temporary.c_str(), output.c_str()) != 0) {
            throw std::runtime_error("cannot rename " + temporary + " to " + output);
        }
    } catch (const std::exception& e) {
        std::remove(temporary.c_str());
        std::fprintf(stderr, "gtx2pgm: %s\n", e.what());
        return 1;
    }
    return 0;
}
