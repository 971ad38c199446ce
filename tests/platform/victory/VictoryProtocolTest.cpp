// Data messages of the services library: malformed ones are refused with a
// reason, and random damage never crashes the parser or breaks its invariants;
// management datagrams are checked before they replace the VCL.
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

DataMessage sampleMessage() {
    DataMessage m;
    m.source = "1.1.1";
    m.seq = 18446744073709551615ull;
    m.values = {{"latitude", "rad", {0.84178, 1.5e-7, VPOSC_BASIS_MEASURED}},
                {"longitude", "rad", {-0.1 / 3.0, kInf, VPOSC_BASIS_ESTIMATED}},
                {"altitude", "m", {std::nan(""), -0.0, VPOSC_BASIS_INVALID}}};
    m.mgrs = "32UPU9171832133";
    m.time = VictoryTime{2024, 2, 29, 23, 59, 60, 999999999};
    m.told = TellStamp{42, 1733540000, 5};
    m.faults = {{1, "Fake <fault> & \"quoted\"", true, 35, 22, 1},
                {7, std::string("bell\x07\0nul", 9), false, 33, 0, 0}};
    m.faultCount = 2;
    return m;
}

TEST(DataMessage, RejectsMalformedMessagesAndSurvivesRandomBytes) {
    const std::string head = "<VictoryData service='position' seq='1'>",
                      fault = "<Fault id='1' severity='1' category='1' action='1' ";
    const std::string cases[] = {
        "",
        "not xml",
        "<Other/>",
        "<VictoryData service='nope' seq='1'/>",
        "<VictoryData service='position'/>",
        "<VictoryData service='position' seq='-1'/>",
        head + "<Value name='x' value='a' uncertainty='1' basis='MEASURED'/></VictoryData>",
        head + "<Value name='x' value='1' uncertainty='1' basis='GOOD'/></VictoryData>",
        head + "<Time year='2024'/></VictoryData>",
        head + "<Faults count='0'>" + fault + "acknowledged='0'/></Faults></VictoryData>",
        head + "<Faults count='1'>" + fault + "acknowledged='2'/></Faults></VictoryData>",
        head + "<Told count='1' realtime='12.5'/></VictoryData>",
        head + "<Told count='1' realtime='12.1234567890'/></VictoryData>",
        head + "<Told realtime='12.123456789'/></VictoryData>",
    };
    for (const std::string& text : cases) {
        DataMessage out;
        std::string error;
        EXPECT_FALSE(parseDataMessage(text.data(), text.size(), out, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    // The tell stamp reads back with its nine-digit fraction intact.
    {
        const std::string text = formatDataMessage(sampleMessage());
        DataMessage out;
        std::string error;
        ASSERT_TRUE(parseDataMessage(text.data(), text.size(), out, error)) << error;
        ASSERT_TRUE(out.told.has_value());
        EXPECT_EQ(std::make_tuple(out.told->count, out.told->seconds, out.told->nanoseconds),
                  std::make_tuple(std::uint64_t{42}, std::int64_t{1733540000}, 5));
        EXPECT_NE(text.find("realtime=\"1733540000.000000005\""), std::string::npos) << text;
    }
    // Texts with carriage returns write out to a message that reads back and
    // writes again unchanged (readers turn a carriage return into a line feed).
    {
        DataMessage m = sampleMessage();
        m.values[0].name = "lat\r\rit\r\nude";
        m.values[0].unit = "\rrad";
        m.mgrs = "32U\r\n";
        m.faults[0].description = "two\r\r\nlines &\r";
        const std::string once = formatDataMessage(m);
        DataMessage out;
        std::string error;
        ASSERT_TRUE(parseDataMessage(once.data(), once.size(), out, error)) << error;
        EXPECT_EQ(formatDataMessage(out), once);
        EXPECT_EQ(out.values[0].name, "lat\n\nit\n\nude");
    }
    std::mt19937 random(20240101);
    const std::string valid = formatDataMessage(sampleMessage());
    for (int round = 0; round < 2000; ++round) {
        std::string text = valid;
        for (int i = 1 + static_cast<int>(random() % 8); i > 0; --i)
            text[random() % text.size()] = static_cast<char>(random());
        DataMessage out;
        std::string error;
        const bool parsed = parseDataMessage(text.data(), text.size(), out, error);
        EXPECT_TRUE(parsed ? out.faults.size() <= out.faultCount : !error.empty());
    }
}

TEST(MinPeriodOverride, TakesSecondsInRangeAndRefusesTheRest) {
    struct Case {
        const char* text;
        bool valid;
        double seconds;
    };
    const Case cases[] = {
        {"0.02", true, 0.02},   {"0.001", true, 0.001}, {"3600", true, 3600.0}, {"1e-2", true, 0.01},
        {"0.0009", false, 0.0}, {"3600.5", false, 0.0}, {"0", false, 0.0},      {"-1", false, 0.0},
        {"nan", false, 0.0},    {"inf", false, 0.0},    {"0.02s", false, 0.0},  {"", false, 0.0},
        {" ", false, 0.0},      {"1e999", false, 0.0},
    };
    for (const Case& c : cases) {
        double seconds = -1.0;
        std::string error;
        EXPECT_EQ(victory::parseMinPeriodOverride(c.text, seconds, error), c.valid) << "'" << c.text << "'";
        if (c.valid) {
            EXPECT_DOUBLE_EQ(seconds, c.seconds) << c.text;
        } else {
            EXPECT_EQ(seconds, -1.0) << c.text;
            EXPECT_FALSE(error.empty()) << c.text;
        }
    }
    double seconds = -1.0;
    std::string error;
    EXPECT_FALSE(victory::parseMinPeriodOverride(nullptr, seconds, error));
}

}  // namespace

// A management datagram replaces the VCL in force only when it is a whole
// VCL document with a valid update period; every refusal says why.
TEST(ManagementRequest, AcceptsOnlyWholeVclDocuments) {
    const std::string vcl =
        "<vcl:VCL><vcl:component type='VICTORY_DATA'><vcl:configItem name='updatePeriod' value='250'/>"
        "</vcl:component></vcl:VCL>";
    const struct {
        std::string datagram;
        const char* problem;  // start of the reason, empty when accepted
    } cases[] = {
        {vcl, ""},
        {"", "Empty management message"},
        {vcl.substr(0, 20) + std::string(1, '\0') + vcl.substr(20), "Management message contains a NUL byte"},
        {vcl.substr(0, vcl.size() - 3), "Management message is not XML"},
        {"<VCL/>", "Management message is not a VCL document (root element 'VCL')"},
        {"<vcl:VCL><vcl:component type='VICTORY_DATA'/></vcl:VCL>", "VCL document rejected"},
        {"<vcl:VCL><vcl:component type='VICTORY_DATA'><vcl:configItem name='updatePeriod' value='4294967296'/>"
         "</vcl:component></vcl:VCL>",
         "VCL document rejected"},
    };
    for (const auto& c : cases) {
        std::uint32_t period = 7;
        const std::string problem = checkVclRequest(c.datagram.data(), c.datagram.size(), period);
        EXPECT_EQ(problem.substr(0, std::strlen(c.problem)), c.problem) << c.datagram;
        if (*c.problem == '\0') {
            EXPECT_EQ(period, 250u);
        }
    }
}
