// Small geoid files for unit tests, in the 16-bit PGM format that
// GeographicLib::Geoid reads (GeographicLib::Geoid(name, directory, cubic)).
// Header-only, standard library only.
//
// A geoid grid has `height` rows from 90N (row 0) to 90S and `width`
// columns eastwards from 0E, wrapping around; each node holds a raw value
// v (0..65535) whose height is offset + scale * v metres. GeographicLib
// requires an even width and an odd height.
//
// The factories below build fields that both of GeographicLib's
// interpolations (bilinear and cubic) reproduce exactly, so tests can
// compare with expected() to 1e-9 m:
//   auto g = corvane_test::SyntheticGeoid::constant(25.5);
//   g.write(dir);                                   // dir/synthetic.pgm
//   GeographicLib::Geoid geoid("synthetic", dir, true);
//   EXPECT_NEAR(geoid(12.0, 34.0), g.expected(12.0, 34.0), 1e-9);
// A constant field is exact everywhere. A field linear in latitude is exact
// everywhere with bilinear interpolation, and with cubic interpolation
// except within one row of a pole (the cubic stencil reaches across the
// pole there). A field linear in longitude is not periodic and breaks at
// the 0E seam, so it is not offered.
#ifndef TESTS_SUPPORT_SYNTHETICGEOID_H
#define TESTS_SUPPORT_SYNTHETICGEOID_H

#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvane_test {

struct SyntheticGeoid {
  int width = 360;   // columns, even; column spacing 360 / width degrees
  int height = 181;  // rows, odd; row spacing 180 / (height - 1) degrees
  double offset = -108.0;
  double scale = 0.003;
  std::string description = "synthetic test geoid";
  // Raw value of each node.
  std::function<std::uint16_t(int row, int column)> raw = [](int, int) {
    return std::uint16_t{36000};
  };
  // Exact height in metres at (latitude, longitude) in degrees, when the
  // field has a closed form; empty otherwise.
  std::function<double(double latitude, double longitude)> expected;

  // Every node holds `value` (0..65535): height offset + scale * value.
  static SyntheticGeoid constantRaw(std::uint16_t value, int width = 360, int height = 181) {
    SyntheticGeoid g;
    g.width = width;
    g.height = height;
    g.raw = [value](int, int) { return value; };
    const double h = g.offset + g.scale * value;
    g.expected = [h](double, double) { return h; };
    return g;
  }

  // Every node at the representable height nearest to `metres`; use
  // expected() for the exact height.
  static SyntheticGeoid constant(double metres, int width = 360, int height = 181) {
    SyntheticGeoid probe;
    const double v = std::round((metres - probe.offset) / probe.scale);
    if (v < 0 || v > 65535) throw std::invalid_argument("SyntheticGeoid: height out of range");
    return constantRaw(static_cast<std::uint16_t>(v), width, height);
  }

  // Raw value atEquator + perRow * (rows north of the equator): a height
  // linear in latitude, scale * perRow metres per row.
  static SyntheticGeoid linearInLatitude(std::uint16_t atEquator, int perRow, int width = 360,
                                         int height = 181) {
    SyntheticGeoid g;
    g.width = width;
    g.height = height;
    const int equatorRow = (height - 1) / 2;
    const long top = atEquator + static_cast<long>(perRow) * equatorRow;
    const long bottom = atEquator - static_cast<long>(perRow) * equatorRow;
    if (top < 0 || top > 65535 || bottom < 0 || bottom > 65535) {
      throw std::invalid_argument("SyntheticGeoid: field leaves 0..65535");
    }
    g.raw = [atEquator, perRow, equatorRow](int row, int) {
      return static_cast<std::uint16_t>(atEquator + perRow * (equatorRow - row));
    };
    const double rowsPerDegree = (height - 1) / 180.0;
    const double offset = g.offset, scale = g.scale;
    g.expected = [=](double latitude, double) {
      return offset + scale * (atEquator + perRow * latitude * rowsPerDegree);
    };
    return g;
  }

  // Height stored at a node.
  double nodeHeight(int row, int column) const { return offset + scale * raw(row, column); }

  // The file's bytes.
  std::string bytes() const {
    if (width < 2 || width % 2 != 0 || height < 3 || height % 2 == 0) {
      throw std::invalid_argument("SyntheticGeoid: width must be even, height odd");
    }
    std::ostringstream header;
    header.precision(17);
    header << "P5\n# Description " << description << "\n# Offset " << offset << "\n# Scale "
           << scale << "\n"
           << width << " " << height << "\n65535\n";
    std::string out = header.str();
    out.reserve(out.size() + 2u * static_cast<std::size_t>(width) * height);
    for (int row = 0; row < height; ++row) {
      for (int column = 0; column < width; ++column) {
        const std::uint16_t v = raw(row, column);
        out.push_back(static_cast<char>(v >> 8));
        out.push_back(static_cast<char>(v & 0xff));
      }
    }
    return out;
  }

  // Writes directory/name.pgm and returns its path.
  std::string write(const std::string& directory, const std::string& name = "synthetic") const {
    const std::string path = directory + "/" + name + ".pgm";
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string data = bytes();
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("SyntheticGeoid: cannot write " + path);
    return path;
  }
};

}  // namespace corvane_test

#endif  // TESTS_SUPPORT_SYNTHETICGEOID_H
