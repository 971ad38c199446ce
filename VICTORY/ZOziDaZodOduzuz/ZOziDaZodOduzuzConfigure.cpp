// The server's settings from the top-level configuration file, the geoid,
// and the process's real-time priority and processor affinity. Configure
// only lists the steps in their order; each is its own function below.

#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "ASPN/HealthReporter.h"
#include "FACE/CV_Config.h"
#include "FACE/CV_Config_Helpers.h"
#include "VICTORY/ZOziDaZodOduzuz/ConfigCheck.h"
#include "VICTORY/ZOziDaZodOduzuz/CorvanePaths.h"
#include "VICTORY/ZOziDaZodOduzuz/SourcePosition.h"
#include "platform/Scheduling.h"

#include <GeographicLib/GeoCoords.hpp>
#include <GeographicLib/Geoid.hpp>

#include <exception>
#include <functional>
#include <iostream>
#include <string>

namespace {

using FACE::RETURN_CODE_TYPE::Value;

// Name of the system container of the top-level file.
constexpr const char* kSystemContainer = "Corvane";

// One key of the server's container: its name, the meaning text of its
// error line and how it is read (true when read).
struct ServerKey {
    const char* name;
    const char* meaning;
    std::function<bool(FACE::Configuration&, int)> read;
};

std::string text(const FACE::String& s) {
    return s.buffer() == nullptr ? std::string() : std::string(s.buffer(), s.length());
}

bool readText(FACE::Configuration& config, int handle, const char* key, FACE::String& target) {
    Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    CV_Config_Helpers::Get_String_Parameter(config, handle, key, target, rc);
    return rc == FACE::RETURN_CODE_TYPE::NO_ERROR;
}

bool readBoolean(FACE::Configuration& config, int handle, const char* key, bool& target) {
    Value rc = FACE::RETURN_CODE_TYPE::NO_ERROR;
    CV_Config_Helpers::Get_Boolean_Parameter(config, handle, key, target, rc);
    return rc == FACE::RETURN_CODE_TYPE::NO_ERROR;
}

// A number with automatic base (decimal, 0x hexadecimal, leading-zero
// octal; text that is no number reads as 0), cut to 16 bits. An empty or
// missing value leaves `target` alone.
bool readNumber(FACE::Configuration& config, int handle, const char* key, std::uint16_t& target) {
    const std::string value = CV_Config_Helpers::Details::Read_Config(config, handle, key);
    if (value.empty()) {
        return false;
    }
    target = static_cast<std::uint16_t>(CV_Config_Helpers::Details::Parse_Unsigned(value));
    return true;
}

}  // namespace

void ZOziDaZodOduzuz::Configure(FACE::String const& configFile, FACE::RETURN_CODE_TYPE::Value& rc) {
    m_configFilePath = text(configFile);
    checkTopLevelFile(configFile);
    ProcessTuning tuning;
    FACE::CV_Config config;
    Value status = FACE::RETURN_CODE_TYPE::NO_ERROR;
    config.Initialize(configFile, status);
    bool good = status == FACE::RETURN_CODE_TYPE::NO_ERROR && readSystemContainer(config);
    int serverHandle = 0;
    if (good) {
        config.Open(ASPN2::ServerIds::to_string(m_serverId), serverHandle, status);
        good = status == FACE::RETURN_CODE_TYPE::NO_ERROR;
    }
    if (good) {
        // Every key is read, and the geoid loaded, whatever the keys gave.
        good = readServerKeys(config, serverHandle, tuning);
        warnWithoutServices();
        good = loadGeoid() && good;
        config.Close(serverHandle, status);
    }
    // The summary line always; the scheduling only after a good reading.
    printSettings(tuning);
    good = good && applyTuning(tuning);
    rc = good ? FACE::RETURN_CODE_TYPE::NO_ERROR : FACE::RETURN_CODE_TYPE::INVALID_CONFIG;
}

void ZOziDaZodOduzuz::checkTopLevelFile(FACE::String const& configFile) {
    // What is wrong with the file, and where, before the lines of the
    // reading itself. The reading decides the outcome: the lines only say
    // in advance why it will fail, or what an odd value will do.
    ServerConfigCheck::Diagnostics diagnostics;
    const std::string file = text(configFile);
    const ServerConfigCheck::TopLevel top = ServerConfigCheck::checkTopLevel(file, diagnostics);
    ServerConfigCheck::checkGeoid(file, top.geoidLine, top.geoidModel, diagnostics);
    diagnostics.print(std::cout, m_name + ": Configure: ");
}

bool ZOziDaZodOduzuz::readSystemContainer(FACE::Configuration& config) {
    int systemHandle = 0;
    Value status = FACE::RETURN_CODE_TYPE::NO_ERROR;
    config.Open(kSystemContainer, systemHandle, status);
    if (status != FACE::RETURN_CODE_TYPE::NO_ERROR) {
        return false;
    }
    const bool haveSystem = readText(config, systemHandle, "System", m_systemName);
    const bool haveConfiguration = readText(config, systemHandle, "Configuration", m_configurationName);
    config.Close(systemHandle, status);
    return haveSystem && haveConfiguration;
}

bool ZOziDaZodOduzuz::readServerKeys(FACE::Configuration& config, int handle, ProcessTuning& tuning) {
    std::uint16_t utcSource = 0;
    std::uint16_t pvaSource = 0;
    const ServerKey keys[] = {
        {"Connections", "Connections file",
         [&](FACE::Configuration& c, int h) { return readText(c, h, "Connections", m_connectionsFile); }},
        {"IODevices", "Devices file",
         [&](FACE::Configuration& c, int h) { return readText(c, h, "IODevices", m_ioDevicesFile); }},
        {"Debug", "debug flag", [&](FACE::Configuration& c, int h) { return readBoolean(c, h, "Debug", m_debug); }},
        {"PRI", "process priority",
         [&](FACE::Configuration& c, int h) { return readNumber(c, h, "PRI", tuning.priority); }},
        {"CPU", "CPU value", [&](FACE::Configuration& c, int h) { return readNumber(c, h, "CPU", tuning.cpu); }},
        {"PARAM_1", "process position flag",
         [&](FACE::Configuration& c, int h) { return readBoolean(c, h, "PARAM_1", m_processPosition); }},
        {"PARAM_2", "process orientation flag",
         [&](FACE::Configuration& c, int h) { return readBoolean(c, h, "PARAM_2", m_processOrientation); }},
        {"PARAM_3", "process direction of travel flag",
         [&](FACE::Configuration& c, int h) { return readBoolean(c, h, "PARAM_3", m_processDirectionOfTravel); }},
        {"PARAM_4", "fault test enabled flag",
         [&](FACE::Configuration& c, int h) { return readBoolean(c, h, "PARAM_4", m_faultTestEnabled); }},
        {"PARAM_5", "active geoid model (default is egm96-15)",
         [&](FACE::Configuration& c, int h) { return readText(c, h, "PARAM_5", m_geoidModel); }},
        {"PARAM_6", "UTC source fusion navigator server ID for UTC and PVA",
         [&](FACE::Configuration& c, int h) { return readNumber(c, h, "PARAM_6", utcSource); }},
        {"PARAM_7", "PVA fusion navigator server ID for UTC and PVA",
         [&](FACE::Configuration& c, int h) { return readNumber(c, h, "PARAM_7", pvaSource); }},
    };
    bool good = true;
    for (const ServerKey& key : keys) {
        if (!key.read(config, handle)) {
            std::cout << SOURCE_POSITION() << " GetConfigParameters : error or could not find setting, " << key.name
                      << " (" << key.meaning << ") in configuration file!" << std::endl;
            good = false;
        }
    }
    m_utcSourceNavigatorServerId = static_cast<std::uint8_t>(utcSource);
    m_pvaSourceNavigatorServerId = static_cast<std::uint8_t>(pvaSource);
    return good;
}

void ZOziDaZodOduzuz::warnWithoutServices() {
    if (m_processPosition || m_processOrientation || m_processDirectionOfTravel) {
        return;
    }
    const std::string warning = m_name +
                                ": Warning! Position, Orientation and Direction of Travel services are all disabled in "
                                "configuration.";
    SEND_HEALTH_EVENT(HealthReporter::eFault, warning);
    if (m_debug) {
        std::cout << warning << std::endl;
    }
}

bool ZOziDaZodOduzuz::loadGeoid() {
    // A process without the geoid cannot run; its failure is reported here
    // in plain words instead of ending the process with an unhandled error.
    bool loaded = true;
    const std::string model = text(m_geoidModel);
    const char* directory = corvanePath(GeoidFilePath);
    try {
        auto geoid = std::make_unique<GeographicLib::Geoid>(model, directory, true, false);
        geoid->CacheArea(-90.0, 0.0, 90.0, 360.0);
        m_geoid = std::move(geoid);
    } catch (const std::exception& e) {
        std::cout << m_name << ": Configure: cannot load geoid model '" << model << "' from " << directory << ": "
                  << e.what() << std::endl;
        loaded = false;
    }
    m_geoCoords = std::make_unique<GeographicLib::GeoCoords>();
    return loaded;
}

void ZOziDaZodOduzuz::printSettings(const ProcessTuning& tuning) const {
    std::cout << m_name << ": configuration parameters: "
              << " m_debug = " << (m_debug ? 1 : 0) << ", priority = " << tuning.priority << ", cpu = " << tuning.cpu
              << ", m_processPosition = " << (m_processPosition ? 1 : 0)
              << ", m_processOrientation = " << (m_processOrientation ? 1 : 0)
              << ", m_processDirectionOfTravel = " << (m_processDirectionOfTravel ? 1 : 0)
              << ", m_faultTestEnabled = " << (m_faultTestEnabled ? 1 : 0) << ", m_geoidModel = " << m_geoidModel
              << ", m_utcSourceNavigatorServerId = " << static_cast<unsigned>(m_utcSourceNavigatorServerId)
              << ", m_pvaSourceNavigatorServerId = " << static_cast<unsigned>(m_pvaSourceNavigatorServerId)
              << std::endl;
}

bool ZOziDaZodOduzuz::applyTuning(const ProcessTuning& tuning) {
    // Priority, then affinity, also when the priority was refused. Both are
    // printed as the 16-bit values read and passed on in 8 bits.
    bool good = true;
    if (tuning.priority != 0) {
        const bool set = okSetRealtimeProcessPriority(static_cast<std::uint8_t>(tuning.priority));
        std::cout << (set ? "Successfully set " : "FAILED to set ") << m_name << ": realtime process priority to "
                  << tuning.priority << std::endl;
        good = good && set;
    }
    if (tuning.cpu != 0) {
        const bool set = okSetCpuAffinity(static_cast<std::uint8_t>(tuning.cpu));
        std::cout << (set ? "Successfully set " : "FAILED to set ") << m_name << ": cpu affinity to " << tuning.cpu
                  << std::endl;
        good = good && set;
    }
    return good;
}
