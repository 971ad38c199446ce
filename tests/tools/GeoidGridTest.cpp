// The GTX to PGM geoid converter and the geoid the build installs (whose
// check points also prove the converter's row and column order).
#include <GeographicLib/Geoid.hpp>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "tests/support/TempDir.h"
#include "tools/geoid/GeoidGrid.h"

namespace {

using corvane_test::TempDir;

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A 45-degree global grid of 8 x 5 nodes from 180W.
geoid::GtxGrid smallGrid() {
    geoid::GtxGrid g;
    std::tie(g.southLatitude, g.westLongitude, g.latitudeStep, g.longitudeStep, g.rows, g.columns) =
        std::make_tuple(-90, -180, 45, 45, 5, 8);
    for (int node = 0; node < 40; ++node) g.heights.push_back(static_cast<float>(-100.0 + node));
    return g;
}

TEST(GeoidConverter, ProgramWritesAtomicallyAndReportsFailures) {
    TempDir dir;
    {
        std::ofstream gtx(dir.file("grid.gtx"), std::ios::binary);
        geoid::writeGtx(gtx, smallGrid());
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
    const std::tuple<double, double, double> points[] = {
        // latitude, longitude, height
        {38.6281550, 269.7791550, -31.628}, {-14.6212170, 305.0211140, -2.969}, {46.8743190, 102.4487290, -43.575},
        {-23.6174460, 133.8747120, 15.871}, {38.6254730, 359.9995000, 50.066},  {-0.4667440, 0.0023000, 17.329},
    };
    for (const auto& [latitude, longitude, height] : points) {
        EXPECT_NEAR(geoid(latitude, longitude), height, 0.05) << latitude << ", " << longitude;
    }
}

}  // namespace

namespace {

std::string gtxHeader(int rows, int columns, double step) {
    geoid::GtxGrid g;
    std::tie(g.southLatitude, g.westLongitude, g.latitudeStep, g.longitudeStep, g.rows, g.columns) =
        std::make_tuple(-90, 0, step, step, rows, columns);
    std::ostringstream out;
    geoid::writeGtx(out, g);  // no heights: the header alone
    return out.str();
}

}  // namespace

// Damaged GTX files are refused with a reason, and a header that claims
// more values than the file holds costs no more memory than the file.
TEST(GeoidConverter, RefusesDamagedGtxFiles) {
    const std::string whole = [] {
        std::ostringstream out;
        geoid::writeGtx(out, smallGrid());
        return out.str();
    }();
    const struct {
        std::string file;
        const char* reason;
    } cases[] = {
        {whole.substr(0, 39), "shorter than its 40-byte header"},
        {whole.substr(0, whole.size() - 1), "data shorter than 5 x 8 values"},
        {whole + "x", "longer than its header says"},
        {gtxHeader(1 << 15, 1 << 15, 45) + std::string(64, '\0'), "data shorter than 32768 x 32768 values"},
        {gtxHeader(0, 8, 45), "dimensions out of range"},
        {gtxHeader(5, 8, -45), "steps must be positive"},
    };
    for (const auto& c : cases) {
        std::istringstream in(c.file);
        try {
            geoid::readGtx(in);
            ADD_FAILURE() << "accepted, expected: " << c.reason;
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
    }
}

// The default layout follows the grid's steps; sizes beyond the finest
// geoid (fine steps, or steps too fine for an int) are refused before any
// pixel is allocated.
TEST(GeoidConverter, DefaultLayoutAndSizeLimit) {
    geoid::GtxGrid grid = smallGrid();
    const geoid::PgmLayout layout = geoid::layoutFor(grid);
    EXPECT_EQ(layout.width, 8);
    EXPECT_EQ(layout.height, 5);
    EXPECT_NO_THROW(geoid::convertToPgm(grid, layout, nullptr));

    for (const double step : {1.0 / 120, 1e-300}) {
        geoid::GtxGrid fine = grid;
        fine.latitudeStep = fine.longitudeStep = step;
        EXPECT_THROW(geoid::convertToPgm(grid, geoid::layoutFor(fine), nullptr), std::runtime_error) << step;
    }
    geoid::PgmLayout wide = layout;
    wide.width = geoid::kMaxPgmSide + 2;
    EXPECT_THROW(geoid::convertToPgm(grid, wide, nullptr), std::runtime_error);
}
