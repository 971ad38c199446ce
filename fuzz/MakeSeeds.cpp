// Writes the seed corpora of the fuzz targets from the project's own
// encoders and sample configuration:
//   fuzz_make_seeds SOURCE_DIR OUTPUT_DIR
// makes OUTPUT_DIR/<target>/<name> for every target (scripts/fuzz --seeds
// writes them to fuzz/corpus/). Comments are stripped from the sample
// files to keep the seeds small.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <fastdds/rtps/common/SerializedPayload.h>

#include "ASPN/AspnCmdResponse.h"
#include "FACE/CV_Topic_Helpers.h"
#include "aspn2_msgs/BitReport.h"
#include "aspn2_msgs/CommandResponse.h"
#include "aspn2_msgs/CommandResponsePubSubTypes.h"
#include "aspn2_msgs/EventLog.h"
#include "aspn2_msgs/PositionVelocityAttitude.h"
#include "aspn2_msgs/UTCTime.h"
#include "fuzz/Aspn2Types.h"
#include "fuzz/FuzzSupport.h"
#include "platform/victory/VictoryDataMessage.h"
#include "tools/geoid/GeoidGrid.h"

namespace {

namespace fs = std::filesystem;
using eprosima::fastdds::dds::TopicDataType;
using eprosima::fastrtps::rtps::SerializedPayload_t;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The text without XML comments and without the blank lines they leave.
std::string stripComments(const std::string& xml) {
    std::string out;
    std::size_t at = 0;
    while (at < xml.size()) {
        const std::size_t open = xml.find("<!--", at);
        if (open == std::string::npos) {
            out += xml.substr(at);
            break;
        }
        out += xml.substr(at, open - at);
        const std::size_t close = xml.find("-->", open);
        at = close == std::string::npos ? xml.size() : close + 3;
    }
    std::string compact;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.find_first_not_of(" \t\r") != std::string::npos) {
            compact += line + "\n";
        }
    }
    return compact;
}

std::string replaceElementText(std::string xml, const std::string& tag, const std::string& value) {
    const std::string open = "<" + tag + ">";
    const std::size_t start = xml.find(open);
    const std::size_t end = xml.find("</" + tag + ">", start);
    if (start == std::string::npos || end == std::string::npos) {
        throw std::runtime_error("no element " + tag);
    }
    return xml.replace(start + open.size(), end - start - open.size(), value);
}

class Corpus {
public:
    Corpus(const fs::path& root, const std::string& target) : m_folder(root / target) {
        fs::create_directories(m_folder);
    }
    void add(const std::string& name, const std::string& bytes) { fuzz::writeFile((m_folder / name).string(), bytes); }

private:
    fs::path m_folder;
};

std::string encode(TopicDataType& type, void* sample) {
    SerializedPayload_t payload(type.getSerializedSizeProvider(sample)());
    if (!type.serialize(sample, &payload)) {
        throw std::runtime_error("cannot encode a sample");
    }
    return std::string(reinterpret_cast<const char*>(payload.data), payload.length);
}

void aspn2Seeds(const fs::path& out) {
    Corpus corpus(out, "fuzz_aspn2_decode");
    for (std::size_t i = 0; i < fuzz::kAspn2TypeCount; ++i) {
        std::unique_ptr<TopicDataType> type(FACE::TSS::Topics::GetPubSubType(fuzz::kAspn2TypeSupports[i]));
        void* sample = type->createData();
        std::string name = fuzz::kAspn2TypeSupports[i];
        name.resize(name.size() - std::string("PubSubType").size());
        corpus.add(name, std::string(1, static_cast<char>(i)) + encode(*type, sample));
        type->deleteData(sample);
    }
    auto index = [](const char* support) {
        for (std::size_t i = 0; i < fuzz::kAspn2TypeCount; ++i) {
            if (std::string(fuzz::kAspn2TypeSupports[i]) == support) return static_cast<char>(i);
        }
        throw std::runtime_error(support);
    };
    auto add = [&](const char* support, const char* name, void* sample) {
        std::unique_ptr<TopicDataType> type(FACE::TSS::Topics::GetPubSubType(support));
        corpus.add(name, std::string(1, index(support)) + encode(*type, sample));
    };

    ASPN2::CmdResponse builder;
    aspn2_msgs::idl::CommandResponse ping = builder.makeCommand("BITSERVER_PING");
    add("CommandResponsePubSubType", "CommandPing", &ping);
    aspn2_msgs::idl::CommandResponse pass = builder.makeResponse(ping, true);
    add("CommandResponsePubSubType", "ResponsePass", &pass);

    aspn2_msgs::idl::PositionVelocityAttitude pva;
    pva.header().device_id(0x01020300);
    pva.position().latitude(0.785398);
    pva.position().longitude(0.130899);
    pva.position().altitude(250.0);
    pva.velocity({10.0, 0.0, -0.15});
    pva.covariance()[0][0] = 1e-12;
    add("PositionVelocityAttitudePubSubType", "PositionVelocityAttitudeLive", &pva);

    aspn2_msgs::idl::EventLog event;
    event.eventlog("ZOziDaZodOduzuz started successfully.");
    add("EventLogPubSubType", "EventLogStarted", &event);

    aspn2_msgs::idl::BitReport bit;
    bit.bit_components().resize(2);
    add("BitReportPubSubType", "BitReportTwoComponents", &bit);
}

void configSeeds(const fs::path& source, const fs::path& out) {
    const fs::path config = source / "config";
    const std::string top = stripComments(readText(config / "ZOziDaZodOduzuz.xml"));
    const std::string udp = stripComments(readText(config / "connections-udp.xml"));
    const std::string shm = stripComments(readText(config / "connections-shm.xml"));
    const std::string devices = stripComments(readText(config / "devices.xml"));

    Corpus files(out, "fuzz_config_file");
    files.add("top-level", top);
    files.add("connections-udp", udp);
    files.add("devices", devices);

    const std::string rooted = replaceElementText(replaceElementText(top, "Connections", "@ROOT@/connections.xml"),
                                                  "IODevices", "@ROOT@/devices.xml");
    std::string victory;
    for (const char* name :
         {"PositionServiceConfig_1_9.xml", "Position_VCL_1_9.xml", "OrientationServiceConfig_1_9.xml",
          "Orientation_VCL_1_9.xml", "DoTServiceConfig_1_9.xml", "DoT_VCL_1_9.xml"}) {
        victory += '\0' + stripComments(readText(config / "victory" / name));
    }
    Corpus sets(out, "fuzz_check_config");
    const char nul = '\0';
    sets.add("set-udp", rooted + nul + udp + nul + devices + victory);
    sets.add("set-shm-position-only",
             replaceElementText(replaceElementText(rooted, "PARAM_2", "false"), "PARAM_3", "false") + nul + shm + nul +
                 devices + victory);

    Corpus vcl(out, "fuzz_victory_vcl");
    vcl.add("position", stripComments(readText(config / "victory" / "Position_VCL_1_9.xml")));
    vcl.add("direction-of-travel", stripComments(readText(config / "victory" / "DoT_VCL_1_9.xml")));
    vcl.add("smallest",
            "<vcl:VCL><vcl:component type=\"VICTORY_DATA\"><vcl:configItem name=\"updatePeriod\" "
            "value=\"250\"/></vcl:component></vcl:VCL>");
}

void victoryDataSeeds(const fs::path& out) {
    Corpus corpus(out, "fuzz_victory_data");
    for (const victory::ServiceKind kind :
         {victory::ServiceKind::Position, victory::ServiceKind::Orientation, victory::ServiceKind::DirectionOfTravel}) {
        victory::DataMessage m;
        m.kind = kind;
        m.source = "1.1.1";
        m.seq = 12;
        double v = 0.5;
        for (const victory::ValueSpec& spec : victory::valueSpecs(kind)) {
            victory::NamedValue value;
            value.name = spec.name;
            value.unit = spec.unit;
            value.value = VictoryValue{v, v / 1000, VPOSC_BASIS_MEASURED};
            v += 0.25;
            m.values.push_back(value);
        }
        if (kind == victory::ServiceKind::Position) {
            m.mgrs = "32TLQ8177784052";
            m.time = VictoryTime{2026, 12, 7, 1, 2, 3, 250000000};
            m.told = victory::TellStamp{12, 1796000000, 123456789};
            victory::FaultRecord fault;
            fault.id = 1;
            fault.description = "navigation data lost";
            fault.severity = 33;
            fault.category = 22;
            fault.action = 1;
            m.faults.push_back(fault);
            m.faultCount = 1;
        }
        corpus.add(victory::serviceKindName(kind), victory::formatDataMessage(m));
    }
}

void gtxSeeds(const fs::path& out) {
    Corpus corpus(out, "fuzz_gtx");
    for (const double step : {45.0, 90.0}) {
        geoid::GtxGrid grid;
        grid.southLatitude = -90;
        grid.westLongitude = 0;
        grid.latitudeStep = step;
        grid.longitudeStep = step;
        grid.rows = static_cast<int>(180 / step) + 1;
        grid.columns = static_cast<int>(360 / step);
        for (int i = 0; i < grid.rows * grid.columns; ++i) {
            grid.heights.push_back(static_cast<float>(i % 7) * 10.0f - 30.0f);
        }
        std::ostringstream text;
        geoid::writeGtx(text, grid);
        corpus.add("globe-" + std::to_string(static_cast<int>(step)) + "deg", text.str());
    }
}

void commandSeeds(const fs::path& out) {
    Corpus corpus(out, "fuzz_commands");
    // Flags, identifier, device id (system 1, server 2, kind 2), text.
    const std::string command("\x01\x07\x00\x00\x00\x00\x02\x02\x01", 9);
    const std::string response("\x00\x07\x00\x00\x00\x00\x02\x02\x01", 9);
    for (const char* text : {"BITSERVER_PING", "SYSTEM_MODE_SELECT_LIVE", "SYSTEM_MODE_SELECT_SIMULATION",
                             "START_ZEROIZE", "START_DESTROY", "LOAD_KEYS,1,2"}) {
        corpus.add(std::string("command-") + text, command + text);
    }
    corpus.add("response-BITSERVER_PING_PASS", response + "BITSERVER_PING_PASS");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_make_seeds SOURCE_DIR OUTPUT_DIR\n");
        return 2;
    }
    try {
        const fs::path source = argv[1];
        const fs::path out = argv[2];
        aspn2Seeds(out);
        configSeeds(source, out);
        victoryDataSeeds(out);
        gtxSeeds(out);
        commandSeeds(out);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_make_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
