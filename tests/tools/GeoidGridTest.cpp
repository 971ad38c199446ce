// The GTX to PGM geoid converter and the geoid the build installs.
#include <GeographicLib/Geoid.hpp>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/support/TempDir.h"
#include "tools/geoid/GeoidGrid.h"

namespace {

using corvane_test::TempDir;

std::string readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A 45-degree global grid whose node (row, column) holds the raw PGM value
// 1000 * row + column + 1 on offset -108 / scale 0.003, so every node maps
// onto one exact 16-bit value that names its source position.
geoid::GtxGrid codedGrid(double westLongitude, int columns) {
  geoid::GtxGrid g;
  std::tie(g.southLatitude, g.westLongitude, g.latitudeStep, g.longitudeStep, g.rows, g.columns) =
      std::make_tuple(-90, westLongitude, 45, 45, 5, columns);
  for (int row = 0; row < g.rows; ++row) {
    for (int column = 0; column < columns; ++column) {
      g.heights.push_back(static_cast<float>(-108.0 + 0.003 * (1000 * row + column % 8 + 1)));
    }
  }
  return g;
}

std::uint16_t pixel(const std::string& file, std::size_t dataStart, int width, int row,
                    int column) {
  const std::size_t at = dataStart + 2 * (static_cast<std::size_t>(row) * width + column);
  return static_cast<std::uint16_t>((static_cast<unsigned char>(file[at]) << 8) |
                                    static_cast<unsigned char>(file[at + 1]));
}

// Whatever the grid's origin (180W, 0E, or 0E with the 360E column
// repeated), the PGM starts at 90N and 0E.
TEST(GeoidConverter, WritesNorthUpFromZeroEastWithAnExactLayout) {
  // west longitude, columns, column of 0E
  const std::tuple<double, int, int> cases[] = {{-180, 8, 4}, {0, 8, 0}, {0, 9, 0}, {360, 8, 0}};
  geoid::PgmLayout layout;
  std::tie(layout.width, layout.height, layout.description) = std::make_tuple(8, 5, "coded");
  for (const auto& [west, columns, columnOfZeroEast] : cases) {
    geoid::ConversionReport report;
    std::ostringstream out;
    geoid::writePgm(out, geoid::convertToPgm(codedGrid(west, columns), layout, &report));
    const std::string file = out.str();
    const std::string header = "P5\n# Description coded\n# Offset -108\n# Scale 0.003\n8 5\n65535\n";
    ASSERT_EQ(file.substr(0, header.size()), header) << west;
    ASSERT_EQ(file.size(), header.size() + 2 * 8 * 5) << west;
    EXPECT_TRUE(report.clamped == 0 && report.largestRoundingError < 1e-4);
    for (int row = 0; row < 5; ++row) {
      for (int column = 0; column < 8; ++column) {
        EXPECT_EQ(pixel(file, header.size(), 8, row, column), 1000 * (4 - row) + (column + columnOfZeroEast) % 8 + 1)
            << west << " " << columns << ": row " << row << " column " << column;
      }
    }
  }
}

// Broken files give an error, never a crash.
TEST(GeoidConverter, RejectsBrokenFiles) {
  std::stringstream good;
  geoid::writeGtx(good, codedGrid(-180, 8));
  const std::string bytes = good.str();
  const auto withDouble = [&bytes](std::size_t at, double value) {
    std::string copy = bytes;
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 7; i >= 0; --i, bits >>= 8) copy[at + i] = static_cast<char>(bits & 0xff);
    return copy;
  };
  const std::pair<const char*, std::string> files[] = {
      {"empty", ""}, {"header cut", bytes.substr(0, 30)}, {"data cut", bytes.substr(0, bytes.size() - 1)},
      {"extra data", bytes + "x"}, {"zero step", withDouble(16, 0.0)}, {"nan origin", withDouble(0, std::nan(""))},
      {"zero rows", bytes.substr(0, 32) + std::string(4, '\0') + bytes.substr(36)},
  };
  for (const auto& f : files) {
    std::istringstream in(f.second);
    EXPECT_THROW(geoid::readGtx(in), std::runtime_error) << f.first;
  }
}

TEST(GeoidConverter, ProgramWritesAtomicallyAndReportsFailures) {
  TempDir dir;
  {
    std::ofstream gtx(dir.file("grid.gtx"), std::ios::binary);
    geoid::writeGtx(gtx, codedGrid(-180, 8));
  }
  const std::string grid = " '" + dir.file("grid.gtx") + "' ", out = "'" + dir.file("x.pgm") + "'";
  const std::pair<std::string, int> cases[] = {
      {grid + "'" + dir.file("out.pgm") + "'", 0},
      {" '" + dir.file("missing.gtx") + "' " + out, 1},
      {" --width 7" + grid + out, 1},
      {" --scale 0.000001" + grid + out, 1},  // heights no longer fit 16 bits
      {" --width", 2},
      {" only-one-file", 2},
  };
  for (const auto& [args, status] : cases) {
    const int result = std::system((std::string(GTX2PGM_PATH) + args + " 2>/dev/null").c_str());
    EXPECT_EQ(WIFEXITED(result) ? WEXITSTATUS(result) : -1, status) << args;
  }
  const std::string pgm = readAll(dir.file("out.pgm"));
  EXPECT_EQ(pgm.find("P5\n# Description Geoid heights converted from grid.gtx\n"), 0u);
  EXPECT_NE(pgm.find("\n8 5\n65535\n"), std::string::npos);
  // No partial output or temporary file is left behind.
  std::set<std::string> entries;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) entries.insert(e.path().filename());
  EXPECT_EQ(entries, (std::set<std::string>{"grid.gtx", "out.pgm"}));
}

// NGA's published EGM96 check points, answered by the geoid the build
// converted from Debian's grid, with GeographicLib's cubic interpolation.
TEST(InstalledGeoid, MatchesTheEgm96CheckPoints) {
  const std::string directory = CORVANE_TEST_GEOID_DIR;
  const std::string file = readAll(directory + "/egm96-15.pgm");
  const std::size_t dataStart = file.find("\n65535\n") + 7;
  ASSERT_NE(dataStart, std::string::npos + 7);
  EXPECT_EQ(file.size(), dataStart + 2u * 1440 * 721);
  EXPECT_NE(file.find("\n# Offset -108\n"), std::string::npos);
  EXPECT_NE(file.find("\n# Scale 0.003\n"), std::string::npos);
  EXPECT_NE(file.find("\n1440 721\n"), std::string::npos);

  GeographicLib::Geoid geoid("egm96-15", directory, true);
  const std::tuple<double, double, double> points[] = {  // latitude, longitude, height
      {38.6281550, 269.7791550, -31.628}, {-14.6212170, 305.0211140, -2.969},
      {46.8743190, 102.4487290, -43.575}, {-23.6174460, 133.8747120, 15.871},
      {38.6254730, 359.9995000, 50.066},  {-0.4667440, 0.0023000, 17.329},
  };
  for (const auto& [latitude, longitude, height] : points) {
    EXPECT_NEAR(geoid(latitude, longitude), height, 0.05) << latitude << ", " << longitude;
  }
}

}  // namespace
