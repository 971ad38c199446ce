// Geoid height grids: reading the GTX format (as shipped with PROJ's data)
// and writing the 16-bit PGM format that GeographicLib::Geoid reads.
//
// GTX: big-endian; a 40-byte header of four doubles (latitude and longitude
// of the south-west node, latitude and longitude step, degrees) and two
// 32-bit integers (rows, columns), then rows x columns 32-bit floats in
// metres, rows from south to north, columns eastwards from the origin.
//
// PGM: "P5", comment lines "# Description ...", "# Offset O", "# Scale S",
// then "WIDTH HEIGHT", "65535" and WIDTH x HEIGHT big-endian 16-bit values v
// with height = O + S * v; row 0 at 90N, column 0 at 0E, HEIGHT rows down to
// 90S and WIDTH columns eastwards around the whole circle.
//
// Needs only the C++17 standard library, so that it can be compiled on its
// own by the install scripts.
#ifndef TOOLS_GEOID_GEOIDGRID_H
#define TOOLS_GEOID_GEOIDGRID_H

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace geoid {

struct GtxGrid {
    double southLatitude = 0;  // degrees, latitude of row 0
    double westLongitude = 0;  // degrees, longitude of column 0
    double latitudeStep = 0;   // degrees between rows, > 0
    double longitudeStep = 0;  // degrees between columns, > 0
    int rows = 0;
    int columns = 0;
    std::vector<float> heights;  // metres, row-major, row 0 south

    float at(int row, int column) const {
        return heights[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
                       static_cast<std::size_t>(column)];
    }
};

// The value GTX files use for "no data".
constexpr float kGtxNoData = -88.8888f;

// Reads a GTX grid. Throws std::runtime_error naming the problem: short or
// over-long data, non-positive or non-finite steps, impossible dimensions.
GtxGrid readGtx(std::istream& in);
GtxGrid readGtxFile(const std::string& path);

// Writes a GTX grid (used to make small test grids).
void writeGtx(std::ostream& out, const GtxGrid& grid);

struct PgmGeoid {
    int width = 0;   // even, >= 2
    int height = 0;  // odd, >= 3
    double offset = -108.0;
    double scale = 0.003;
    std::string description;
    std::vector<std::uint16_t> pixels;  // row-major, row 0 north
};

struct PgmLayout {
    int width = 1440;
    int height = 721;
    double offset = -108.0;
    double scale = 0.003;
    std::string description;
};

struct ConversionReport {
    std::size_t clamped = 0;          // nodes whose height did not fit 0..65535
    double largestRoundingError = 0;  // metres, at the nodes that fit
};

// The height at (latitude, longitude) in degrees, interpolated bilinearly
// between the four surrounding nodes (exactly the node's value on a node).
// Longitudes wrap around when the grid spans the whole circle. Throws
// std::runtime_error when the point lies outside the grid or a node used
// holds no data.
double sampleGtx(const GtxGrid& grid, double latitude, double longitude);

// The layout gtx2pgm converts `grid` to when no size is given: one column
// per longitude step around the circle, one row per latitude step from
// pole to pole (round(360 / longitudeStep) x round(180 / latitudeStep) + 1),
// the default offset and scale, no description.
PgmLayout layoutFor(const GtxGrid& grid);

// Largest PGM converted: the size of the finest geoid GeographicLib reads
// (1' grid, 21600 x 10801), and the longest side allowed.
constexpr long long kMaxPgmPixels = 21600LL * 10801LL;
constexpr int kMaxPgmSide = 21600;

// Resamples the grid onto a PGM layout (nodes at latitude
// 90 - row * 180 / (height - 1), longitude column * 360 / width) and
// quantises the heights. Throws std::runtime_error when the layout is
// invalid or larger than kMaxPgmPixels, or the grid does not cover the
// whole globe.
PgmGeoid convertToPgm(const GtxGrid& grid, const PgmLayout& layout, ConversionReport* report);

// Writes the PGM file. Throws std::runtime_error on a bad size.
void writePgm(std::ostream& out, const PgmGeoid& geoid);

}  // namespace geoid

#endif  // TOOLS_GEOID_GEOIDGRID_H
