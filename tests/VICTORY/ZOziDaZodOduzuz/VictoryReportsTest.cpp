// Report values that publication does not reach easily: the pole and the
// corner cases of the direction uncertainty.
#include "VICTORY/ZOziDaZodOduzuz/VictoryReports.h"

#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using namespace VictoryReports;

TEST(VictoryReports, LongitudeUncertaintyIsBoundedAtThePoles) {
    for (const double lat : {kPi / 2, -kPi / 2, std::nextafter(kPi / 2, 0.0), 2.0, 1.0}) {
        auto pva = zozi_test::defaultPva();  // east variance 9
        pva.position().latitude(lat);
        const double c = std::max(std::cos(lat), kSmallestCosine);
        EXPECT_DOUBLE_EQ(makePositionReport(pva, 0.0).lonUncDeg, 3.0 / (111132.0 * c)) << lat;
    }
}

TEST(VictoryReports, DirectionUncertainty) {
    const double dueNorth = kPi / 2 - std::atan2(9.0, 1.0);  // about 0.1107; the other corner 0.0907
    const struct {
        double a, varA, b, varB, expected;
    } cases[] = {
        {10.0, 1.0, 0.0, 1.0, dueNorth}, {-10.0, 1.0, -0.0, 1.0, dueNorth},  // signs play no part
        {0.5, 1.0, -0.5, 1.0, kPi},                                            // box holds the origin
        {1.0, 1.0, 1.0, 1.0, kPi / 4},                                         // sigma = speed: not inside
        {0.0, 0.0, 0.0, 0.0, 0.0},                                             // standstill, exact
        {0.0, 1.0, 0.0, 0.0, kPi / 2},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(directionUncertainty(c.a, c.varA, c.b, c.varB), c.expected, 1e-15) << c.a << ", " << c.b;
    }
    EXPECT_NEAR(dueNorth, 0.1107, 5e-5);
    EXPECT_TRUE(std::isnan(directionUncertainty(1.0, -1.0, 1.0, 1.0)));

    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> speed(-50.0, 50.0), var(0.0, 100.0);
    for (int i = 0; i < 10000; ++i) {
        const double a = speed(rng), b = speed(rng), va = var(rng), vb = var(rng);
        const double u = directionUncertainty(a, va, b, vb);
        ASSERT_TRUE(u >= 0.0 && u <= kPi) << a << " " << va << " " << b << " " << vb;
    }
}

TEST(VictoryReports, StandstillHeadsNorthWithoutUncertainty) {
    auto pva = zozi_test::defaultPva();
    pva.velocity({0.0, 0.0, 0.0});
    for (int i = 3; i < 6; ++i) pva.covariance()[i][i] = 0.0;
    const auto d = makeDirectionReport(pva);
    EXPECT_EQ(d.heading.value, 0.0);
    EXPECT_EQ(d.heading.uncertainty, 0.0);
    EXPECT_EQ(d.speed.value, 0.0);
    EXPECT_EQ(d.speed.uncertainty, 0.0);
    EXPECT_STREQ(basisName(3), "unknown");
}

}  // namespace
