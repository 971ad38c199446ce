// VICTORY publication next to its parts measured alone in the same run: the
// geoid height query, the MGRS conversion and the bare library tells.

#include "VICTORY/ZOziDaZodOduzuz/VictoryReports.h"
#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"
#include "platform/victory/victory.h"
#include "tests/VICTORY/ZOziDaZodOduzuz/ZoziTestSupport.h"

#include <GeographicLib/GeoCoords.hpp>
#include <GeographicLib/Geoid.hpp>
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kInputs = 1024;  // power of two, indexed with a mask
constexpr double kPi = 3.141592653589793;

struct Point {
    double latDeg, lonDeg;
};

std::vector<Point> points() {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> lat(-80.0, 84.0);
    std::uniform_real_distribution<double> lon(-180.0, 180.0);
    std::vector<Point> v(kInputs);
    for (auto& p : v) p = {lat(rng), lon(rng)};
    return v;
}

GeographicLib::Geoid& geoid() {
    static GeographicLib::Geoid g("egm96-15", CORVANE_GEOID_DIR, true, false);
    static const bool cached = (g.CacheAll(), true);
    (void)cached;
    return g;
}

// A server with the installed geoid and three created (not started)
// services; the services stay for the whole run.
struct Fixture {
    zozi_test::Services services;
    ZOziDaZodOduzuz server;
    ZOziDaZodOduzuzTestAccess access{server};
    VpossService* position = services.position;
    VorisService* orientation = services.orientation;
    VdotsService* dot = services.dot;

    Fixture() {
        access.loadGeoid("egm96-15", CORVANE_GEOID_DIR);
        access.positionService() = position;
        access.orientationService() = orientation;
        access.dotService() = dot;
        access.pva() = zozi_test::defaultPva();
        access.utc() = zozi_test::defaultUtc();
    }
    void moveTo(const Point& p) {
        access.pva().position().latitude(p.latDeg * kPi / 180.0);
        access.pva().position().longitude(p.lonDeg * kPi / 180.0);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// --- Position -----------------------------------------------------------------

void BM_Baseline_GeoidHeight(benchmark::State& state) {
    const auto pts = points();
    GeographicLib::Geoid& g = geoid();
    std::size_t i = 0;
    for (auto _ : state) {
        const Point& p = pts[i++ & (kInputs - 1)];
        benchmark::DoNotOptimize(g(p.latDeg, p.lonDeg));
    }
}
BENCHMARK(BM_Baseline_GeoidHeight);

void BM_Baseline_Mgrs(benchmark::State& state) {
    const auto pts = points();
    GeographicLib::GeoCoords coords;
    std::size_t i = 0;
    for (auto _ : state) {
        const Point& p = pts[i++ & (kInputs - 1)];
        coords.Reset(p.latDeg, p.lonDeg);
        std::string mgrs = coords.MGRSRepresentation(0);
        benchmark::DoNotOptimize(mgrs);
    }
}
BENCHMARK(BM_Baseline_Mgrs);

void BM_Baseline_TellPosWithMgrs(benchmark::State& state) {
    Fixture& f = fixture();
    const auto r = VictoryReports::makePositionReport(f.access.pva(), 0.0);
    const VictoryTime t = VictoryReports::sampleTime(f.access.utc());
    const std::string mgrs = "15SYC4192779178";
    for (auto _ : state) {
        vpossTellPosWithMgrs(f.position, &r.latitude, &r.longitude, &r.altitudeValue, mgrs.c_str(), &t);
    }
}
BENCHMARK(BM_Baseline_TellPosWithMgrs);

void BM_PublishPosition(benchmark::State& state) {
    Fixture& f = fixture();
    const auto pts = points();
    std::size_t i = 0;
    for (auto _ : state) {
        f.moveTo(pts[i++ & (kInputs - 1)]);
        f.access.publishPosition();
    }
}
BENCHMARK(BM_PublishPosition);

void BM_PublishPosition_Invalid(benchmark::State& state) {
    Fixture& f = fixture();
    const auto pts = points();
    const double saved = f.access.pva().covariance()[0][0];
    f.access.pva().covariance()[0][0] = 1e9;  // unusable: no MGRS
    std::size_t i = 0;
    for (auto _ : state) {
        f.moveTo(pts[i++ & (kInputs - 1)]);
        f.access.publishPosition();
    }
    f.access.pva().covariance()[0][0] = saved;
}
BENCHMARK(BM_PublishPosition_Invalid);

// The civil UTC time of the sample, which every report computes.
void BM_Baseline_SampleTime(benchmark::State& state) {
    const auto utc = zozi_test::defaultUtc();
    for (auto _ : state) {
        benchmark::DoNotOptimize(VictoryReports::sampleTime(utc));
    }
}
BENCHMARK(BM_Baseline_SampleTime);

// --- Orientation and direction of travel --------------------------------------

void BM_Baseline_TellOrient(benchmark::State& state) {
    Fixture& f = fixture();
    const auto r = VictoryReports::makeOrientationReport(f.access.pva());
    const VictoryTime t = VictoryReports::sampleTime(f.access.utc());
    for (auto _ : state) {
        vorisTellOrient(f.orientation, &r.roll, &r.pitch, &r.yaw, &t);
    }
}
BENCHMARK(BM_Baseline_TellOrient);

void BM_PublishOrientation(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        f.access.publishOrientation();
    }
}
BENCHMARK(BM_PublishOrientation);

void BM_Baseline_TellDot(benchmark::State& state) {
    Fixture& f = fixture();
    const auto r = VictoryReports::makeDirectionReport(f.access.pva());
    const VictoryTime t = VictoryReports::sampleTime(f.access.utc());
    for (auto _ : state) {
        vdotsTellDot(f.dot, &r.heading, &r.speed, &r.climb, &t);
    }
}
BENCHMARK(BM_Baseline_TellDot);

void BM_PublishDirectionOfTravel(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        f.access.publishDirectionOfTravel();
    }
}
BENCHMARK(BM_PublishDirectionOfTravel);

}  // namespace

BENCHMARK_MAIN();
