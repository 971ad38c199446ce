// Small geoid files for tests, in the 16-bit PGM format the geoid library
// reads: 181 rows from 90N to 90S, 360 columns eastwards from 0E, a node
// value v meaning offset + scale * v metres. The fields offered (constant,
// or linear in latitude) are reproduced exactly by bilinear interpolation
// and by cubic interpolation away from the poles, so expected() is exact.
#ifndef TESTS_SUPPORT_SYNTHETICGEOID_H
#define TESTS_SUPPORT_SYNTHETICGEOID_H

#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

namespace corvane_test {

struct SyntheticGeoid {
    static constexpr int kWidth = 360, kHeight = 181;
    static constexpr double kOffset = -108.0, kScale = 0.003;
    std::function<std::uint16_t(int row)> raw;
    // Exact height in metres at (latitude, longitude) in degrees.
    std::function<double(double latitude, double longitude)> expected;

    // Raw value atEquator + perRow per degree north: scale * perRow metres
    // per degree.
    static SyntheticGeoid linearInLatitude(std::uint16_t atEquator, int perRow) {
        if (atEquator + 90L * std::abs(perRow) > 65535 || atEquator - 90L * std::abs(perRow) < 0) {
            throw std::invalid_argument("SyntheticGeoid: field leaves 0..65535");
        }
        SyntheticGeoid g;
        g.raw = [=](int row) { return static_cast<std::uint16_t>(atEquator + perRow * (90 - row)); };
        g.expected = [=](double latitude, double) { return kOffset + kScale * (atEquator + perRow * latitude); };
        return g;
    }

    // Every node at the representable height nearest to `metres`.
    static SyntheticGeoid constant(double metres) {
        return linearInLatitude(static_cast<std::uint16_t>(std::lround((metres - kOffset) / kScale)), 0);
    }

    // Writes directory/name.pgm and returns its path.
    std::string write(const std::string& directory, const std::string& name = "synthetic") const {
        std::string out = "P5\n# Description synthetic test geoid\n# Offset -108\n# Scale 0.003\n360 181\n65535\n";
        for (int row = 0; row < kHeight; ++row) {
            const std::uint16_t v = raw(row);
            for (int column = 0; column < kWidth; ++column)
                out += {static_cast<char>(v >> 8), static_cast<char>(v & 0xff)};
        }
        const std::string path = directory + "/" + name + ".pgm";
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << out;
        if (!file) throw std::runtime_error("SyntheticGeoid: cannot write " + path);
        return path;
    }
};

}  // namespace corvane_test

#endif  // TESTS_SUPPORT_SYNTHETICGEOID_H
