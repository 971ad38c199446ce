// Configuration, VCL and data message formats of the services library.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "platform/victory/VictoryConfig.h"
#include "platform/victory/VictoryDataMessage.h"

using namespace victory;

namespace {

// Configuration texts: one DataBus element with the given attributes and
// an optional extra element.
std::string config(const std::string& bus, const std::string& extra = "") {
  return "<VictoryServiceConfig name='p'><DataBus " + bus + "/>" + extra +
         "</VictoryServiceConfig>";
}

TEST(ServiceConfig, ParsesValidTexts) {
  struct Case {
    std::string text;
    const char* address;
    int dataPort, managementPort;
  };
  const Case cases[] = {
      {config("address='127.0.0.1' port='47001'", "<Management port='47101'/>"), "127.0.0.1",
       47001, 47101},
      {config("address='10.1.2.3' port='65535'"), "10.1.2.3", 65535, 0},
      {config("address='127.0.0.1' port='1'", "<Management port='0'/>"), "127.0.0.1", 1, 0},
  };
  for (const Case& c : cases) {
    ServiceConfig parsed;
    std::string error;
    ASSERT_TRUE(parseServiceConfig(c.text.c_str(), parsed, error)) << error;
    EXPECT_EQ(parsed.dataAddress, c.address);
    EXPECT_EQ(parsed.dataPort, c.dataPort);
    EXPECT_EQ(parsed.managementPort, c.managementPort);
  }
}

TEST(ServiceConfig, RejectsMalformedTexts) {
  const std::string cases[] = {
      "<VictoryServiceConfig>",
      "<Config><DataBus address='127.0.0.1' port='1'/></Config>",
      "<VictoryServiceConfig/>",
      config("address='localhost' port='1'"),
      config("port='1'"),
      config("address='127.0.0.1' port='0'"),
      config("address='127.0.0.1' port='65536'"),
      config("address='127.0.0.1' port='-1'"),
      config("address='127.0.0.1' port='80x'"),
      config("address='127.0.0.1' port='1'", "<Management/>"),
      config("address='127.0.0.1' port='1'", "<Management port='70000'/>"),
  };
  for (const std::string& text : cases) {
    ServiceConfig parsed;
    std::string error;
    EXPECT_FALSE(parseServiceConfig(text.c_str(), parsed, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
  std::string error;
  ServiceConfig parsed;
  EXPECT_FALSE(parseServiceConfig(nullptr, parsed, error));
}

// A VCL text whose VICTORY_DATA element holds the given item.
std::string vcl(const std::string& item) {
  return "<vcl:VCL><s type='X'><c type='VICTORY_DATA'>" + item + "</c></s></vcl:VCL>";
}

TEST(VclUpdatePeriod, ReadsTheItemOfTheFirstDataElementOnly) {
  const std::pair<std::string, long long> cases[] = {
      {vcl("<i name='updatePeriod' value='250'/>"), 250},
      {vcl("<i name='updatePeriod' value='0'/>"), 0},
      {vcl("<i name='updatePeriod' value='4294967295'/>"), 4294967295LL},
      {"<vcl:VCL type='VICTORY_DATA'><i name='updatePeriod' value='7'/></vcl:VCL>", 7},
      // Only the first VICTORY_DATA element counts, even when a later one
      // holds the item; an item outside it does not count either.
      {"<vcl:VCL><c type='VICTORY_DATA'/><c type='VICTORY_DATA'>"
       "<i name='updatePeriod' value='5'/></c></vcl:VCL>",
       -1},
      {"<vcl:VCL><i name='updatePeriod' value='5'/><c type='VICTORY_DATA'/></vcl:VCL>", -1},
      {vcl("<i name='updatePeriod' value='4294967296'/>"), -1},
      {vcl("<i name='updatePeriod' value='-1'/>"), -1},
      {vcl("<i name='updatePeriod' value='1.5'/>"), -1},
      {vcl("<i name='updatePeriod'/>"), -1},
      {"<VCL><c type='VICTORY_DATA'><i name='updatePeriod' value='5'/></c></VCL>", -1},
      {"vcl:VCL updatePeriod=5", -1},
  };
  for (const auto& c : cases) {
    std::uint32_t period = 12345;
    std::string error;
    EXPECT_EQ(parseVclUpdatePeriod(c.first.c_str(), period, error), c.second >= 0) << c.first;
    if (c.second >= 0) {
      EXPECT_EQ(period, c.second) << c.first;
    }
  }
}

TEST(EffectiveUpdatePeriod, IsTheLongerOfBothAndNeverOverflows) {
  using std::chrono::milliseconds;
  using std::chrono::nanoseconds;
  EXPECT_EQ(effectiveUpdatePeriod(250, 0.0), milliseconds(250));
  EXPECT_EQ(effectiveUpdatePeriod(250, 1.0), milliseconds(1000));
  EXPECT_EQ(effectiveUpdatePeriod(1500, 1.0), milliseconds(1500));
  EXPECT_EQ(effectiveUpdatePeriod(0, 0.0), nanoseconds(0));
  EXPECT_EQ(effectiveUpdatePeriod(4294967295u, 1.0), milliseconds(4294967295LL));
  EXPECT_EQ(effectiveUpdatePeriod(10, std::numeric_limits<double>::infinity()), kNeverPeriod);
  EXPECT_EQ(effectiveUpdatePeriod(10, std::nan("")), kNeverPeriod);
  EXPECT_EQ(effectiveUpdatePeriod(10, 1e300), kNeverPeriod);
  EXPECT_EQ(effectiveUpdatePeriod(10, -5.0), milliseconds(10));
}

DataMessage sampleMessage() {
  DataMessage m;
  m.kind = ServiceKind::Position;
  m.source = "1.1.1";
  m.seq = 18446744073709551615ull;
  m.values = {{"latitude", "rad", {0.84178, 1.5e-7, VPOSC_BASIS_MEASURED}},
              {"longitude", "rad", {-0.1 / 3.0, std::numeric_limits<double>::infinity(),
                                    VPOSC_BASIS_ESTIMATED}},
              {"altitude", "m", {std::nan(""), -0.0, VPOSC_BASIS_INVALID}}};
  m.mgrs = "32UPU9171832133";
  m.time = VictoryTime{2024, 2, 29, 23, 59, 60, 999999999};
  m.faults = {{1, "Fake <fault> & \"quoted\"", true, 35, 22, 1}, {7, "", false, 33, 0, 0}};
  m.faultCount = 2;
  return m;
}

void expectSameBits(double a, double b) {
  if (std::isnan(a)) {
    EXPECT_TRUE(std::isnan(b));
  } else {
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::signbit(a), std::signbit(b));
  }
}

TEST(DataMessage, RoundTripsEveryField) {
  const DataMessage in = sampleMessage();
  const std::string text = formatDataMessage(in);
  DataMessage out;
  std::string error;
  ASSERT_TRUE(parseDataMessage(text.data(), text.size(), out, error)) << error << "\n" << text;
  EXPECT_EQ(out.kind, in.kind);
  EXPECT_EQ(out.source, in.source);
  EXPECT_EQ(out.seq, in.seq);
  ASSERT_EQ(out.values.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(out.values[i].name, in.values[i].name);
    EXPECT_EQ(out.values[i].unit, in.values[i].unit);
    expectSameBits(out.values[i].value.value, in.values[i].value.value);
    expectSameBits(out.values[i].value.uncertainty, in.values[i].value.uncertainty);
    EXPECT_EQ(out.values[i].value.basis, in.values[i].value.basis);
  }
  EXPECT_EQ(out.mgrs, in.mgrs);
  ASSERT_TRUE(out.time.has_value());
  EXPECT_EQ(out.time->second, 60);
  EXPECT_EQ(out.time->nanosecond, 999999999);
  ASSERT_EQ(out.faults.size(), 2u);
  EXPECT_EQ(out.faults[0].description, in.faults[0].description);
  EXPECT_TRUE(out.faults[0].acknowledged);
  EXPECT_EQ(out.faults[1].id, 7);
  EXPECT_EQ(out.faults[1].severity, 33);
}

TEST(DataMessage, OptionalPartsStayAbsentAndControlCharactersAreReplaced) {
  DataMessage in;
  in.kind = ServiceKind::Apnt;
  in.faults = {{1, std::string("bell\x07 and\x01nul", 13), false, 34, 22, 1}};
  in.faultCount = 1;
  const std::string text = formatDataMessage(in);
  DataMessage out;
  std::string error;
  ASSERT_TRUE(parseDataMessage(text.data(), text.size(), out, error)) << error;
  EXPECT_FALSE(out.mgrs.has_value());
  EXPECT_FALSE(out.time.has_value());
  EXPECT_TRUE(out.values.empty());
  EXPECT_EQ(out.faults.at(0).description, "bell? and?nul");
}

TEST(DataMessage, ListsAtMostTheLimitButCountsAll) {
  DataMessage in;
  for (int i = 1; i <= 100; ++i) in.faults.push_back({i, std::string(255, 'x'), false, 33, 22, 1});
  in.faultCount = in.faults.size();
  const std::string text = formatDataMessage(in);
  EXPECT_LT(text.size(), 65507u);  // fits one UDP datagram
  DataMessage out;
  std::string error;
  ASSERT_TRUE(parseDataMessage(text.data(), text.size(), out, error)) << error;
  EXPECT_EQ(out.faultCount, 100u);
  EXPECT_EQ(out.faults.size(), kMaxListedFaults);
}

TEST(DataMessage, RejectsMalformedMessages) {
  const char* cases[] = {
      "",
      "not xml",
      "<Other/>",
      "<VictoryData service='nope' seq='1'/>",
      "<VictoryData service='position'/>",
      "<VictoryData service='position' seq='-1'/>",
      "<VictoryData service='position' seq='1'><Value name='x' value='a' uncertainty='1' "
      "basis='MEASURED'/></VictoryData>",
      "<VictoryData service='position' seq='1'><Value name='x' value='1' uncertainty='1' "
      "basis='GOOD'/></VictoryData>",
      "<VictoryData service='position' seq='1'><Time year='2024'/></VictoryData>",
      "<VictoryData service='position' seq='1'><Faults count='0'><Fault id='1' severity='1' "
      "category='1' action='1' acknowledged='0'/></Faults></VictoryData>",
      "<VictoryData service='position' seq='1'><Faults count='1'><Fault id='1' severity='1' "
      "category='1' action='1' acknowledged='2'/></Faults></VictoryData>",
  };
  for (const char* text : cases) {
    DataMessage out;
    std::string error;
    EXPECT_FALSE(parseDataMessage(text, std::strlen(text), out, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(DataMessage, RandomBytesNeverCrashTheParser) {
  std::mt19937 random(20240101);
  const std::string valid = formatDataMessage(sampleMessage());
  for (int round = 0; round < 2000; ++round) {
    std::string text = valid;
    const int flips = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < flips; ++i) {
      text[random() % text.size()] = static_cast<char>(random() % 256);
    }
    DataMessage out;
    std::string error;
    if (!parseDataMessage(text.data(), text.size(), out, error)) {
      EXPECT_FALSE(error.empty());
    } else {
      EXPECT_LE(out.faults.size(), out.faultCount);
    }
  }
}

TEST(FormatNumber, ReadsBackExactlyInAtMost17Digits) {
  EXPECT_EQ(formatNumber(0.1), "0.1");
  EXPECT_EQ(formatNumber(-std::numeric_limits<double>::infinity()), "-inf");
  EXPECT_EQ(formatNumber(std::nan("")), "nan");
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t bits = random();
    double value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value)) continue;
    const std::string text = formatNumber(value);
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
    EXPECT_LE(text.size(), 24u) << text;
  }
}

}  // namespace
