#include "tools/geoid/GeoidGrid.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>
#include <stdexcept>

namespace geoid {
namespace {

// Distances below this many grid steps count as "on the node"; they are
// rounding noise of the coordinate arithmetic.
constexpr double kSnap = 1e-9;

// Grid values read from a GTX stream at a time.
constexpr std::size_t kReadChunkValues = 1 << 16;

std::uint64_t readBigEndian(const unsigned char* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
    return v;
}

void writeBigEndian(std::ostream& out, std::uint64_t v, int bytes) {
    unsigned char b[8];
    for (int i = bytes - 1; i >= 0; --i) {
        b[i] = static_cast<unsigned char>(v & 0xff);
        v >>= 8;
    }
    out.write(reinterpret_cast<const char*>(b), bytes);
}

double toDouble(std::uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

float toFloat(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

std::string number(double v) {
    std::ostringstream s;
    s.precision(12);
    s << v;
    return s.str();
}

// The shortest decimal text that reads back as the same double.
std::string shortest(double v) {
    char buffer[40];
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, v);
        if (std::strtod(buffer, nullptr) == v) break;
    }
    return buffer;
}

// Number of columns in one full turn when the grid wraps around the globe
// (its longitude step divides 360 and it has at least that many columns);
// 0 otherwise.
long long columnsPerTurn(const GtxGrid& g) {
    const double turn = 360.0 / g.longitudeStep;
    const long long whole = std::llround(turn);
    if (std::fabs(turn - static_cast<double>(whole)) > 1e-6 || whole < 1) return 0;
    return g.columns >= whole ? whole : 0;
}

// Splits a grid coordinate into a node index and a fraction in [0, 1),
// snapping values within kSnap of a node onto it.
void split(double x, long long& index, double& fraction) {
    index = static_cast<long long>(std::floor(x));
    fraction = x - static_cast<double>(index);
    if (fraction < kSnap) {
        fraction = 0;
    } else if (fraction > 1 - kSnap) {
        ++index;
        fraction = 0;
    }
}

}  // namespace

GtxGrid readGtx(std::istream& in) {
    unsigned char header[40];
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) {
        throw std::runtime_error("GTX file shorter than its 40-byte header");
    }
    GtxGrid g;
    g.southLatitude = toDouble(readBigEndian(header, 8));
    g.westLongitude = toDouble(readBigEndian(header + 8, 8));
    g.latitudeStep = toDouble(readBigEndian(header + 16, 8));
    g.longitudeStep = toDouble(readBigEndian(header + 24, 8));
    g.rows = static_cast<std::int32_t>(readBigEndian(header + 32, 4));
    g.columns = static_cast<std::int32_t>(readBigEndian(header + 36, 4));

    if (!std::isfinite(g.southLatitude) || !std::isfinite(g.westLongitude)) {
        throw std::runtime_error("GTX origin is not finite");
    }
    if (!(g.latitudeStep > 0) || !(g.longitudeStep > 0) || !std::isfinite(g.latitudeStep) ||
        !std::isfinite(g.longitudeStep)) {
        throw std::runtime_error("GTX steps must be positive: " + number(g.latitudeStep) + ", " +
                                 number(g.longitudeStep));
    }
    constexpr int kMaxSide = 1 << 20;
    if (g.rows < 1 || g.columns < 1 || g.rows > kMaxSide || g.columns > kMaxSide ||
        static_cast<long long>(g.rows) * g.columns > (1LL << 30)) {
        throw std::runtime_error("GTX dimensions out of range: " + std::to_string(g.rows) + " x " +
                                 std::to_string(g.columns));
    }
    // Read in pieces, so that memory grows with the data actually there and
    // not with what a damaged header claims.
    const std::size_t count = static_cast<std::size_t>(g.rows) * static_cast<std::size_t>(g.columns);
    g.heights.reserve(std::min<std::size_t>(count, kReadChunkValues));
    std::vector<unsigned char> raw(std::min<std::size_t>(count, kReadChunkValues) * 4);
    for (std::size_t done = 0; done < count;) {
        const std::size_t values = std::min(count - done, kReadChunkValues);
        in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(values * 4));
        if (static_cast<std::size_t>(in.gcount()) != values * 4) {
            throw std::runtime_error("GTX data shorter than " + std::to_string(g.rows) + " x " +
                                     std::to_string(g.columns) + " values");
        }
        for (std::size_t i = 0; i < values; ++i) {
            g.heights.push_back(toFloat(static_cast<std::uint32_t>(readBigEndian(&raw[i * 4], 4))));
        }
        done += values;
    }
    if (in.peek() != std::char_traits<char>::eof()) {
        throw std::runtime_error("GTX file longer than its header says");
    }
    return g;
}

GtxGrid readGtxFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    try {
        return readGtx(in);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}

void writeGtx(std::ostream& out, const GtxGrid& g) {
    const double header[4] = {g.southLatitude, g.westLongitude, g.latitudeStep, g.longitudeStep};
    for (const double d : header) {
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        writeBigEndian(out, bits, 8);
    }
    writeBigEndian(out, static_cast<std::uint32_t>(g.rows), 4);
    writeBigEndian(out, static_cast<std::uint32_t>(g.columns), 4);
    for (const float f : g.heights) {
        std::uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        writeBigEndian(out, bits, 4);
    }
}

double sampleGtx(const GtxGrid& g, double latitude, double longitude) {
    const double y = (latitude - g.southLatitude) / g.latitudeStep;
    if (!(y >= -kSnap && y <= g.rows - 1 + kSnap)) {
        throw std::runtime_error("latitude " + number(latitude) + " lies outside the grid");
    }
    long long row = 0;
    double fy = 0;
    split(y, row, fy);
    if (row < 0) row = 0;
    if (row >= g.rows - 1) {
        row = g.rows - 1;
        fy = 0;
    }

    const long long turn = columnsPerTurn(g);
    double x = (longitude - g.westLongitude) / g.longitudeStep;
    if (turn > 0) {
        x = std::fmod(x, static_cast<double>(turn));
        if (x < 0) x += static_cast<double>(turn);
    } else if (!(x >= -kSnap && x <= g.columns - 1 + kSnap)) {
        throw std::runtime_error("longitude " + number(longitude) + " lies outside the grid");
    }
    long long column = 0;
    double fx = 0;
    split(x, column, fx);
    long long nextColumn = column + 1;
    if (turn > 0) {
        column %= turn;
        nextColumn %= turn;
    } else {
        if (column < 0) column = 0;
        if (column >= g.columns - 1) {
            column = g.columns - 1;
            fx = 0;
        }
        nextColumn = std::min<long long>(column + 1, g.columns - 1);
    }

    double sum = 0;
    const long long rowsUsed[2] = {row, std::min<long long>(row + 1, g.rows - 1)};
    const long long columnsUsed[2] = {column, nextColumn};
    const double wy[2] = {1 - fy, fy};
    const double wx[2] = {1 - fx, fx};
    for (int i = 0; i < 2; ++i) {
        for (int j = 0; j < 2; ++j) {
            const double w = wy[i] * wx[j];
            if (w == 0) continue;
            const float h = g.at(static_cast<int>(rowsUsed[i]), static_cast<int>(columnsUsed[j]));
            if (!std::isfinite(h) || h == kGtxNoData) {
                throw std::runtime_error("no data at row " + std::to_string(rowsUsed[i]) + ", column " +
                                         std::to_string(columnsUsed[j]));
            }
            sum += w * static_cast<double>(h);
        }
    }
    return sum;
}

PgmLayout layoutFor(const GtxGrid& grid) {
    PgmLayout layout;
    // Steps too fine for an int give a size that convertToPgm refuses.
    auto count = [](double turns) {
        return turns < kMaxPgmSide ? static_cast<int>(std::lround(turns)) : kMaxPgmSide + 1;
    };
    layout.width = count(360.0 / grid.longitudeStep);
    layout.height = count(180.0 / grid.latitudeStep) + 1;
    return layout;
}

PgmGeoid convertToPgm(const GtxGrid& g, const PgmLayout& layout, ConversionReport* report) {
    if (layout.width < 2 || layout.width % 2 != 0 || layout.height < 3 || layout.height % 2 == 0) {
        throw std::runtime_error("PGM size must be an even width >= 2 and an odd height >= 3");
    }
    if (layout.width > kMaxPgmSide || layout.height > kMaxPgmSide ||
        static_cast<long long>(layout.width) * layout.height > kMaxPgmPixels) {
        throw std::runtime_error("PGM size " + std::to_string(layout.width) + " x " + std::to_string(layout.height) +
                                 " is larger than the finest geoid (" + std::to_string(kMaxPgmPixels) + " pixels)");
    }
    if (!(layout.scale > 0) || !std::isfinite(layout.scale) || !std::isfinite(layout.offset)) {
        throw std::runtime_error("PGM scale must be positive and offset finite");
    }
    const double north = g.southLatitude + (g.rows - 1) * g.latitudeStep;
    if (g.southLatitude > -90 + kSnap || north < 90 - kSnap) {
        throw std::runtime_error("grid covers latitudes " + number(g.southLatitude) + " to " + number(north) +
                                 ", not the whole globe");
    }
    if (columnsPerTurn(g) == 0) {
        throw std::runtime_error("grid does not wrap around the globe (longitude step " + number(g.longitudeStep) +
                                 ", " + std::to_string(g.columns) + " columns)");
    }

    PgmGeoid out;
    out.width = layout.width;
    out.height = layout.height;
    out.offset = layout.offset;
    out.scale = layout.scale;
    out.description = layout.description;
    out.pixels.resize(static_cast<std::size_t>(layout.width) * layout.height);
    ConversionReport r;
    for (int row = 0; row < layout.height; ++row) {
        const double latitude = 90.0 - row * 180.0 / (layout.height - 1);
        for (int column = 0; column < layout.width; ++column) {
            const double longitude = column * 360.0 / layout.width;
            const double h = sampleGtx(g, latitude, longitude);
            double v = std::round((h - layout.offset) / layout.scale);
            if (v < 0 || v > 65535) {
                ++r.clamped;
                v = v < 0 ? 0 : 65535;
            } else {
                r.largestRoundingError =
                    std::max(r.largestRoundingError, std::fabs(layout.offset + layout.scale * v - h));
            }
            out.pixels[static_cast<std::size_t>(row) * layout.width + column] = static_cast<std::uint16_t>(v);
        }
    }
    if (report != nullptr) *report = r;
    return out;
}

void writePgm(std::ostream& out, const PgmGeoid& geoid) {
    if (geoid.width < 1 || geoid.height < 1 ||
        geoid.pixels.size() != static_cast<std::size_t>(geoid.width) * geoid.height) {
        throw std::runtime_error("PGM pixel count does not match its size");
    }
    // GeographicLib reads a comment only when '#' stands apart from the key.
    std::string description = geoid.description;
    std::replace(description.begin(), description.end(), '\n', ' ');
    std::replace(description.begin(), description.end(), '\r', ' ');
    std::ostringstream header;
    header << "P5\n";
    if (!description.empty()) header << "# Description " << description << "\n";
    header << "# Offset " << shortest(geoid.offset) << "\n";
    header << "# Scale " << shortest(geoid.scale) << "\n";
    header << geoid.width << " " << geoid.height << "\n65535\n";
    out << header.str();
    std::vector<unsigned char> bytes(geoid.pixels.size() * 2);
    for (std::size_t i = 0; i < geoid.pixels.size(); ++i) {
        bytes[2 * i] = static_cast<unsigned char>(geoid.pixels[i] >> 8);
        bytes[2 * i + 1] = static_cast<unsigned char>(geoid.pixels[i] & 0xff);
    }
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace geoid
