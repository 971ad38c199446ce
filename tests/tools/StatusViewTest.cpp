// pnt-status's view of an answer: the exit status for each combination of
// switches and states, the screen of a full answer, a screen that survives
// any JSON, and the command line.
#include "tools/pnt-status/StatusView.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using nlohmann::json;

json service(const char* name, bool on, const char* state) {
    return {{"name", name}, {"switched_on", on}, {"running", on}, {"state", state}};
}

TEST(StatusView, ExitStatusNeedsEverySwitchedOnServiceLive) {
    const struct {
        const char* what;
        json services;
        int status;
    } rows[] = {
        {"all live", {service("position", true, "live"), service("orientation", true, "live")}, PntStatus::kHealthy},
        {"a switched-off one does not count",
         {service("position", false, "off"), service("orientation", true, "live")},
         PntStatus::kHealthy},
        {"no data yet", {service("position", true, "no data yet")}, PntStatus::kUnhealthy},
        {"one lost", {service("position", true, "live"), service("orientation", true, "lost")}, PntStatus::kUnhealthy},
        {"invalid solution", {service("position", true, "invalid solution")}, PntStatus::kUnhealthy},
        {"sanitized", {service("position", true, "sanitized")}, PntStatus::kUnhealthy},
        {"all switched off",
         {service("position", false, "off"), service("orientation", false, "off")},
         PntStatus::kUnhealthy},
        {"no services", json::array(), PntStatus::kUnhealthy},
        {"services not an array", json("live"), PntStatus::kUnhealthy},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(PntStatus::exitStatusFor({{"services", r.services}}), r.status) << r.what;
    }
    EXPECT_EQ(PntStatus::exitStatusFor(json(42)), PntStatus::kUnhealthy);
}

const char* const kAnswer = R"json({"format":1,
 "server":{"name":"ZOziDaZodOduzuz","state":"started","uptime_s":3725.5,"version":"415 (x)","config_file":"/c.xml"},
 "source":{"pva_accepted":96,"pva_accepted_name":"FusionNavigator","utc_accepted":0,"utc_accepted_name":"any source",
           "pva_filtered":3,"utc_filtered":0,"last_foreign_source":200,"last_foreign_source_name":"(unknown ID 200)"},
 "intake":{"pva":{"count":100,"rate_hz":10.0,"last_tov_s":1000.25},"utc":{"count":99,"rate_hz":9.9,"last_tov_s":null},
           "delta_tov_s":{"last":0.0125,"max_60s":0.5},
           "pairs":{"told":40,"rate_hz":4.0,"refused":{"delta_tov":2,"rejected":1}},
           "navigation":{"lost":true,"waiting":false,"gap":"no UTC"}},
 "services":[{"name":"position","switched_on":true,"running":true,"state":"lost","last_tell_age_s":2.5,
              "values":{"latitude_deg":48.1234567,"longitude_deg":11.5,"altitude_m":512.25,"mgrs":"32UPU"},
              "faults":["navigation data lost"]},
             {"name":"orientation","switched_on":false,"running":false,"state":"off","last_tell_age_s":null,
              "values":{},"faults":[]}],
 "output":{"sanitized":false,"fault_test_output_off":true},
 "events":{"health":{"queued":1,"sent":20,"dropped":0},"maintenance":{"sent":2}},
 "dds":{"security":{"enabled":true,"identity":"ZOziDaZodOduzuz (certificate /c.pem)"},"receive_stalled":false,
        "connections":[{"name":"UTCTime","role":"subscriber","matched":1},{"name":"EventLog","role":"publisher","matched":2}]},
 "fpga":{"counter_rate_hz":58982459.0,"nominal_hz":58982400},
 "scheduling":{"policy":"SCHED_FIFO","priority":50,"cpus":"1"},
 "summary":{"state":"lost","line":"lost (no UTC): 0.0 pairs/s from navigator 96, age 2.50 s, 1 fault"}})json";

TEST(StatusView, ScreenShowsEveryItem) {
    const std::string screen = PntStatus::renderScreen(json::parse(kAnswer));
    for (const char* line : {
             "Server          : ZOziDaZodOduzuz started, up 0 d 01:02:05\n",
             "State           : lost (no UTC): 0.0 pairs/s from navigator 96, age 2.50 s, 1 fault\n",
             "Accepted source : PVA 96 (FusionNavigator), UTC any source\n",
             "Filtered out    : 3 PVA, 0 UTC; last foreign source 200 (unknown ID 200)\n",
             "UTC received    : 99 at 9.9/s, last time of validity - s\n",
             "|deltaTov|      : last 0.013 s, largest of the last minute 0.500 s\n",
             "Pairs           : 40 told at 4.0/s; refused: 2 deltaTov too large, 1 rejected\n",
             "Navigation      : lost (last cycle: no UTC)\n",
             "Position        : on, running, lost, told 2.50 s ago: 48.1234567 deg, 11.5000000 deg, 512.25 m, MGRS "
             "32UPU\n",
             "Orientation     : off, not running, off\n",
             "Faults          : position: navigation data lost\n",
             "Output          : normal, switched off by the fault test\n",
             "Health events   : 1 queued, 20 sent, 0 dropped\n",
             "DDS security    : on, identity ZOziDaZodOduzuz (certificate /c.pem)\n",
             "DDS matched     : UTCTime 1 writer, EventLog 2 readers\n",
             "FPGA counter    : 58982459 Hz (nominal 58982400 Hz, +1.0 ppm)\n",
             "Scheduling      : SCHED_FIFO priority 50, CPUs 1\n",
         }) {
        EXPECT_NE(screen.find(line), std::string::npos) << "missing: " << line << "in:\n" << screen;
    }
}

TEST(StatusView, ScreenOfAnyJsonShowsDashes) {
    for (const char* text : {"{}", "[]", "null", "17", R"({"server":[],"services":{"a":1},"intake":{"pva":"x"}})",
                             R"({"services":[1,null,{"values":[]}],"dds":{"connections":[7]}})"}) {
        std::string screen;
        EXPECT_NO_THROW(screen = PntStatus::renderScreen(json::parse(text))) << text;
        EXPECT_NE(screen.find("Server          : - -, up -\n"), std::string::npos) << screen;
    }
}

TEST(StatusView, CommandLine) {
    const struct {
        std::vector<std::string> args;
        bool json, watch, help;
        const char* socket;
        const char* error;
    } rows[] = {
        {{}, false, false, false, "", ""},
        {{"--json", "--watch"}, true, true, false, "", ""},
        {{"--socket", "/s"}, false, false, false, "/s", ""},
        {{"--socket=/t"}, false, false, false, "/t", ""},
        {{"-h"}, false, false, true, "", ""},
        {{"--socket"}, false, false, false, "", "--socket needs a path"},
        {{"--socket="}, false, false, false, "", "unknown argument '--socket='"},
        {{"status"}, false, false, false, "", "unknown argument 'status'"},
    };
    for (const auto& r : rows) {
        const PntStatus::Options o = PntStatus::parseOptions(r.args);
        EXPECT_EQ(o.error, r.error);
        if (o.error.empty()) {
            EXPECT_EQ(o.json, r.json);
            EXPECT_EQ(o.watch, r.watch);
            EXPECT_EQ(o.help, r.help);
            EXPECT_EQ(o.socket, r.socket);
        }
    }
}

}  // namespace
