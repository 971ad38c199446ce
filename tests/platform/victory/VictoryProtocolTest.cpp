// Configuration, VCL and data message formats of the services library.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "platform/victory/VictoryConfig.h"
#include "platform/victory/VictoryDataMessage.h"

using namespace victory;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ServiceConfig, ParsesValidTextsAndRejectsMalformedOnes) {
  const auto config = [](const std::string& bus, const std::string& extra = "") {
    return "<VictoryServiceConfig name='p'><DataBus " + bus + "/>" + extra + "</VictoryServiceConfig>";
  };
  const std::tuple<std::string, const char*, int, int> cases[] = {  // text, address (nullptr: rejected), ports
      {config("address='127.0.0.1' port='47001'", "<Management port='47101'/>"), "127.0.0.1", 47001, 47101},
      {config("address='10.1.2.3' port='65535'"), "10.1.2.3", 65535, 0},
      {config("address='127.0.0.1' port='1'", "<Management port='0'/>"), "127.0.0.1", 1, 0},
      {"<VictoryServiceConfig>", nullptr, 0, 0},
      {"<Config><DataBus address='127.0.0.1' port='1'/></Config>", nullptr, 0, 0},
      {config("address='localhost' port='1'"), nullptr, 0, 0},
      {config("address='127.0.0.1' port='0'"), nullptr, 0, 0},
      {config("address='127.0.0.1' port='65536'"), nullptr, 0, 0},
      {config("address='127.0.0.1' port='80x'"), nullptr, 0, 0},
      {config("address='127.0.0.1' port='1'", "<Management port='70000'/>"), nullptr, 0, 0},
  };
  for (const auto& [text, address, dataPort, managementPort] : cases) {
    ServiceConfig parsed;
    std::string error;
    ASSERT_EQ(parseServiceConfig(text.c_str(), parsed, error), address != nullptr) << text << ": " << error;
    EXPECT_EQ(error.empty(), address != nullptr) << text;
    if (address == nullptr) continue;
    EXPECT_EQ(std::make_tuple(parsed.dataAddress, parsed.dataPort, parsed.managementPort),
              std::make_tuple(std::string(address), dataPort, managementPort));
  }
}

TEST(VclUpdatePeriod, ReadsTheItemOfTheFirstDataElementOnly) {
  const auto vcl = [](const std::string& value) {
    return "<vcl:VCL><s type='X'><c type='VICTORY_DATA'><i name='updatePeriod' " + value + "/></c></s></vcl:VCL>";
  };
  const std::pair<std::string, long long> cases[] = {  // text, period (-1: rejected)
      {vcl("value='250'"), 250}, {vcl("value='4294967295'"), 4294967295LL},
      {vcl("value='4294967296'"), -1}, {vcl("value='-1'"), -1}, {vcl(""), -1},
      {"<vcl:VCL><c type='VICTORY_DATA'/><c type='VICTORY_DATA'><i name='updatePeriod' value='5'/></c></vcl:VCL>", -1},
      {"<vcl:VCL><i name='updatePeriod' value='5'/><c type='VICTORY_DATA'/></vcl:VCL>", -1},
  };
  for (const auto& [text, expected] : cases) {
    std::uint32_t period = 12345;
    std::string error;
    EXPECT_EQ(parseVclUpdatePeriod(text.c_str(), period, error), expected >= 0) << text;
    EXPECT_EQ(period, expected >= 0 ? expected : 12345) << text;
  }
}

TEST(EffectiveUpdatePeriod, IsTheLongerOfBothAndNeverOverflows) {
  using std::chrono::milliseconds;
  const std::tuple<std::uint32_t, double, std::chrono::nanoseconds> cases[] = {
      {250, 0.0, milliseconds(250)},   {250, 1.0, milliseconds(1000)},   {1500, 1.0, milliseconds(1500)},
      {0, 0.0, milliseconds(0)},       {4294967295u, 1.0, milliseconds(4294967295LL)},
      {10, kInf, kNeverPeriod},        {10, std::nan(""), kNeverPeriod}, {10, 1e300, kNeverPeriod},
      {10, -5.0, milliseconds(10)},
  };
  for (const auto& [periodMs, minimum, expected] : cases) {
    EXPECT_EQ(effectiveUpdatePeriod(periodMs, minimum), expected) << periodMs << " " << minimum;
  }
}

DataMessage sampleMessage() {
  DataMessage m;
  m.source = "1.1.1";
  m.seq = 18446744073709551615ull;
  m.values = {{"latitude", "rad", {0.84178, 1.5e-7, VPOSC_BASIS_MEASURED}},
              {"longitude", "rad", {-0.1 / 3.0, kInf, VPOSC_BASIS_ESTIMATED}},
              {"altitude", "m", {std::nan(""), -0.0, VPOSC_BASIS_INVALID}}};
  m.mgrs = "32UPU9171832133";
  m.time = VictoryTime{2024, 2, 29, 23, 59, 60, 999999999};
  m.faults = {{1, "Fake <fault> & \"quoted\"", true, 35, 22, 1}, {7, std::string("bell\x07\0nul", 9), false, 33, 0, 0}};
  m.faultCount = 2;
  return m;
}

DataMessage roundTrip(const DataMessage& in) {
  const std::string text = formatDataMessage(in);
  EXPECT_LT(text.size(), 65507u);  // fits one UDP datagram
  DataMessage out;
  std::string error;
  EXPECT_TRUE(parseDataMessage(text.data(), text.size(), out, error)) << error << "\n" << text;
  return out;
}

// Equal values, with NaN equal to NaN and the sign of zero kept.
bool sameBits(double a, double b) { return std::isnan(a) ? std::isnan(b) : a == b && std::signbit(a) == std::signbit(b); }

TEST(DataMessage, RoundTripsEveryFieldReplacesControlCharactersAndCutsLongFaultLists) {
  DataMessage in = sampleMessage();
  DataMessage out = roundTrip(in);
  EXPECT_EQ(std::make_tuple(out.kind, out.source, out.seq, out.mgrs), std::make_tuple(in.kind, in.source, in.seq, in.mgrs));
  ASSERT_EQ(out.values.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const NamedValue &a = out.values[i], &b = in.values[i];
    EXPECT_EQ(std::make_tuple(a.name, a.unit, a.value.basis), std::make_tuple(b.name, b.unit, b.value.basis));
    EXPECT_TRUE(sameBits(a.value.value, b.value.value) && sameBits(a.value.uncertainty, b.value.uncertainty)) << i;
  }
  ASSERT_TRUE(out.time.has_value());
  EXPECT_EQ(std::make_pair(out.time->second, out.time->nanosecond), std::make_pair(60, 999999999));
  ASSERT_EQ(out.faults.size(), 2u);
  EXPECT_EQ(std::make_tuple(out.faults[0].description, out.faults[0].acknowledged, out.faults[1].id,
                            out.faults[1].severity, out.faults[1].description),
            std::make_tuple(in.faults[0].description, true, 7, 33, std::string("bell??nul")));

  DataMessage bare;  // optional parts stay absent; only so many faults fit
  bare.kind = ServiceKind::Apnt;
  for (int i = 1; i <= 100; ++i) bare.faults.push_back({i, std::string(255, 'x'), false, 33, 22, 1});
  bare.faultCount = bare.faults.size();
  out = roundTrip(bare);
  EXPECT_TRUE(out.kind == ServiceKind::Apnt && !out.mgrs && !out.time && out.values.empty());
  EXPECT_EQ(std::make_pair(out.faultCount, out.faults.size()), std::make_pair(std::size_t{100}, kMaxListedFaults));
}

TEST(DataMessage, RejectsMalformedMessagesAndSurvivesRandomBytes) {
  const std::string head = "<VictoryData service='position' seq='1'>", fault = "<Fault id='1' severity='1' category='1' action='1' ";
  const std::string cases[] = {
      "", "not xml", "<Other/>", "<VictoryData service='nope' seq='1'/>", "<VictoryData service='position'/>",
      "<VictoryData service='position' seq='-1'/>",
      head + "<Value name='x' value='a' uncertainty='1' basis='MEASURED'/></VictoryData>",
      head + "<Value name='x' value='1' uncertainty='1' basis='GOOD'/></VictoryData>",
      head + "<Time year='2024'/></VictoryData>",
      head + "<Faults count='0'>" + fault + "acknowledged='0'/></Faults></VictoryData>",
      head + "<Faults count='1'>" + fault + "acknowledged='2'/></Faults></VictoryData>",
  };
  for (const std::string& text : cases) {
    DataMessage out;
    std::string error;
    EXPECT_FALSE(parseDataMessage(text.data(), text.size(), out, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  std::mt19937 random(20240101);
  const std::string valid = formatDataMessage(sampleMessage());
  for (int round = 0; round < 2000; ++round) {
    std::string text = valid;
    for (int i = 1 + static_cast<int>(random() % 8); i > 0; --i) text[random() % text.size()] = static_cast<char>(random());
    DataMessage out;
    std::string error;
    const bool parsed = parseDataMessage(text.data(), text.size(), out, error);
    EXPECT_TRUE(parsed ? out.faults.size() <= out.faultCount : !error.empty());
  }
}

}  // namespace
