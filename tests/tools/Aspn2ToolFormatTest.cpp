// The tool's output lines and command line.

#include "tools/aspn2-tool/ToolFormat.h"
#include "tools/aspn2-tool/ToolOptions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace nav_sim;

// --- Escaping and numbers --------------------------------------------------

TEST(ToolFormat, JsonStringEscapesWhatJsonRequires) {
    struct Case {
        std::string in, out;
    } const cases[] = {
        {"", R"("")"},
        {"plain text", R"("plain text")"},
        {"say \"hi\" \\ back", R"("say \"hi\" \\ back")"},
        {"a\nb\tc\rd\be\ff", R"("a\nb\tc\rd\be\ff")"},
        {std::string("nul\0x", 5), R"("nul\u0000x")"},
        {"\x01\x1f\x7f", R"("\u0001\u001f\u007f")"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
        // Invalid UTF-8: a lone continuation byte, a truncated sequence, an
        // overlong form and a surrogate, byte by byte.
        {"\x80", R"("\u0080")"},
        {"\xe2\x82", R"("\u00e2\u0082")"},
        {"\xc0\xaf", R"("\u00c0\u00af")"},
        {"\xed\xa0\x80", R"("\u00ed\u00a0\u0080")"},
    };
    for (Case const& c : cases) EXPECT_EQ(jsonString(c.in), c.out) << c.out;
}

// --- Message lines ---------------------------------------------------------

aspn2_msgs::idl::EventLog sampleEvent() {
    aspn2_msgs::idl::EventLog m;
    m.header().seq_num(12);
    m.header().device_id(0x022D0100);
    m.header().timestamp_valid().sec(1700000000);
    m.header().timestamp_valid().nsec(5);
    m.header().timestamp_valid().time_code(101);
    m.event_log_type(aspn2_msgs::idl::EVENT_LOG_TYPE_STATUS);
    m.eventlog("ZOziDaZodOduzuz: \"running\"\n");
    return m;
}

// The line formats are what scripts read: pinned here once per form.
TEST(ToolFormat, EventLogLines) {
    EXPECT_EQ(formatEventLog(sampleEvent(), false),
              "EventLog seq=12 device_id=0x022D0100 system=2 server=45 server_name=ZOziDaZodOduzuz kind=1 topic=0 "
              "tov=1700000000.000000005 time_code=101 type=2 type_name=STATUS "
              "text=\"ZOziDaZodOduzuz: \\\"running\\\"\\n\"");
    EXPECT_EQ(formatEventLog(sampleEvent(), true),
              "{\"msg\":\"EventLog\",\"seq\":12,\"device_id\":\"0x022D0100\",\"system\":2,\"server\":45,"
              "\"server_name\":\"ZOziDaZodOduzuz\",\"kind\":1,\"topic\":0,\"tov\":1700000000.000000005,"
              "\"tov_sec\":1700000000,\"tov_nsec\":5,\"time_code\":101,\"type\":2,\"type_name\":\"STATUS\","
              "\"text\":\"ZOziDaZodOduzuz: \\\"running\\\"\\n\"}");
}

// JSON has no NaN or infinity: such numbers are null there.
TEST(ToolFormat, NonFiniteNumbersAreNullInJson) {
    aspn2_msgs::idl::PositionVelocityAttitude p;
    p.position().latitude(std::nan(""));
    p.velocity()[1] = INFINITY;
    std::string const pva = formatPva(p, true);
    EXPECT_TRUE(pva.find("\"lat_deg\":null") != std::string::npos &&
                pva.find("\"vel_ned\":[0.000,null,0.000]") != std::string::npos &&
                pva.find("nan") == std::string::npos && pva.find("inf") == std::string::npos)
        << pva;
    EXPECT_NE(formatPva(p, false).find("lat_deg=nan"), std::string::npos);
}

// --- Command line ------------------------------------------------------------

std::vector<std::string> words(std::string const& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

TEST(ToolOptions, AcceptedCommandLines) {
    ToolOptions o;
    std::string error;
    ASSERT_TRUE(parseToolOptions(words("nav --domain 95 --rate 50 --utc-rate 0 --speed 0 --nan latitude "
                                       "--nan covariance --wrong-source 0 --lat-override 100 --count 7"),
                                 o, error))
        << error;
    EXPECT_EQ(std::make_tuple(o.mode, o.common.domain, o.common.sourceId, o.common.count, o.nav.utcRateHz),
              std::make_tuple(ToolMode::Nav, 95, 96, 7, 0.0));
    EXPECT_EQ(o.nav.faults.nanFields, (std::vector<NanField>{NanField::Latitude, NanField::Covariance}));
    EXPECT_EQ(std::make_pair(o.nav.faults.wrongSourceId, o.nav.faults.overrideLatitude), std::make_pair(0, true));

    ASSERT_TRUE(parseToolOptions(words("command --type 1 --id 4294967295 -- --looks-like-an-option"), o, error))
        << error;
    EXPECT_EQ(std::make_tuple(o.command.text, o.command.type, o.command.identifier.value_or(0), o.common.sourceId),
              std::make_tuple(std::string("--looks-like-an-option"), 1u, 4294967295u, 50));
}

TEST(ToolOptions, RejectedCommandLines) {
    std::pair<char const*, char const*> const cases[] = {
        // command line, part of the error
        {"", "a mode is required"},
        {"fly", "unknown mode \"fly\""},
        {"nav --bogus", "unknown option --bogus"},
        {"nav --rate", "--rate needs a value"},
        {"nav --rate fast", "--rate needs a rate 0..1000 Hz, not \"fast\""},
        {"nav --rate nan", "--rate needs"},
        {"nav --rate 10x", "--rate needs"},
        {"nav --domain 233", "--domain needs"},
        {"nav --nan speed", "--nan needs"},
        {"nav --rate 0 --utc-rate 0", "cannot both be 0"},
        {"nav --all", "option --all does not apply to nav"},
        {"command", "command needs the command TEXT"},
        {"command A B", "unexpected argument \"B\""},
        {"command A --type -1", "--type needs"},
        {"listen --source-id 5", "does not apply to listen"},
    };
    for (auto const& [line, expected] : cases) {
        ToolOptions o;
        std::string error;
        EXPECT_FALSE(parseToolOptions(words(line), o, error)) << line;
        EXPECT_NE(error.find(expected), std::string::npos) << line << " -> " << error;
    }
}

}  // namespace
