// The XML configuration service on one file (the input is the file's
// content), read in turn the way the server reads its top-level file, its
// connections file and its devices file: open the containers by name, read
// every parameter through the configuration helpers and walk the containers
// with Seek. (The server never writes its configuration, so no value is
// written back: the atomic save's flushes would only slow the run down.)

#include <cstddef>
#include <cstdint>
#include <string>

#include "FACE/CV_Config.h"
#include "FACE/CV_Config_Helpers.h"
#include "fuzz/FuzzSupport.h"

namespace {

namespace Code = FACE::RETURN_CODE_TYPE;
using CV_Config_Helpers::Details::Parse_Boolean;
using CV_Config_Helpers::Details::Parse_Signed;
using CV_Config_Helpers::Details::Parse_Unsigned;
using CV_Config_Helpers::Details::Read_Config;

struct Reader {
    FACE::CV_Config& config;

    int open(const char* name)
    {
        int handle = -1;
        Code::Value rc = Code::NO_ERROR;
        config.Open(FACE::String(name), handle, rc);
        return rc == Code::NO_ERROR ? handle : -1;
    }

    void close(int handle)
    {
        Code::Value rc = Code::NO_ERROR;
        config.Close(handle, rc);
    }

    void text(int handle, const char* key)
    {
        FACE::String value;
        Code::Value rc = Code::NO_ERROR;
        CV_Config_Helpers::Get_String_Parameter(config, handle, FACE::String(key), value, rc);
    }

    void boolean(int handle, const char* key)
    {
        bool value = false;
        Code::Value rc = Code::NO_ERROR;
        CV_Config_Helpers::Get_Boolean_Parameter(config, handle, FACE::String(key), value, rc);
    }

    void number(int handle, const char* key)
    {
        const std::string value = Read_Config(config, handle, FACE::String(key));
        (void)Parse_Unsigned(value);
        (void)Parse_Signed(value);
        (void)Parse_Boolean(value);
    }

    // Every container that shares the handle's tag, forwards and backwards.
    void walk(int handle)
    {
        Code::Value rc = Code::NO_ERROR;
        for (int step = 0; step < 64; ++step)
        {
            config.Seek(handle, FACE::Configuration::WHENCE_TYPE::SEEK_FROM_START, step, rc);
            if (rc != Code::NO_ERROR) break;
            (void)Read_Config(config, handle, FACE::String(""));
        }
        config.Seek(handle, FACE::Configuration::WHENCE_TYPE::SEEK_FROM_END, 1, rc);
        config.Seek(handle, FACE::Configuration::WHENCE_TYPE::SEEK_FROM_CURRENT, -1, rc);
    }
};

void readTopLevel(Reader& r)
{
    const int system = r.open("Corvane");
    if (system >= 0)
    {
        r.text(system, "System");
        r.text(system, "Configuration");
        r.walk(system);
        r.close(system);
    }
    const int server = r.open("ZOziDaZodOduzuz");
    if (server >= 0)
    {
        r.text(server, "Connections");
        r.text(server, "IODevices");
        r.boolean(server, "Debug");
        r.number(server, "PRI");
        r.number(server, "CPU");
        for (const char* flag : {"PARAM_1", "PARAM_2", "PARAM_3", "PARAM_4"})
        {
            r.boolean(server, flag);
        }
        r.text(server, "PARAM_5");
        r.number(server, "PARAM_6");
        r.number(server, "PARAM_7");
        r.close(server);
    }
}

void readConnections(Reader& r)
{
    const int domain = r.open("FastRtps");
    if (domain >= 0)
    {
        r.number(domain, "DomainId");
        r.number(domain, "HistoryDepth");
        r.boolean(domain, "UseBestEffort");
        r.boolean(domain, "BackFillHistory");
        r.text(domain, "UseTransport");
        r.text(domain, "TcpAddress");
        r.number(domain, "TcpPort");
        r.close(domain);
    }
    const int security = r.open("Security");
    if (security >= 0)
    {
        for (const char* key : {"IdentityCA", "Certificate", "PrivateKey", "PermissionsCA", "Governance",
                                "Permissions"})
        {
            r.text(security, key);
        }
        r.close(security);
    }
    for (const char* name : {"Command", "Response", "PositionVelocityAttitude", "EventLog", "UTCTime",
                             "MaintenanceEvent"})
    {
        const int connection = r.open(name);
        if (connection >= 0)
        {
            r.text(connection, "TopicType");
            r.text(connection, "PubSubType");
            r.walk(connection);
            r.close(connection);
        }
    }
}

void readDevices(Reader& r)
{
    for (const char* name : {"Processor_Interface", "Peripheral_Interface", "TimeStamp_Interface",
                             "PpsSlave_Interface", "PtpClock_Interface", "Ptfe_Interface0", "PulseGen_Interface0",
                             "Ptfe_Interface3", "PulseGen_Interface3"})
    {
        const int block = r.open(name);
        if (block >= 0)
        {
            r.number(block, "BaseAddress");
            r.number(block, "Size");
            r.close(block);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string path = fuzz::scratchFolder() + "/config.xml";
    fuzz::writeFile(path, data, size);
    for (void (*read)(Reader&) : {readTopLevel, readConnections, readDevices})
    {
        FACE::CV_Config config;
        Code::Value rc = Code::NO_ERROR;
        config.Initialize(FACE::String(path.c_str()), rc);
        if (rc != Code::NO_ERROR)
        {
            return 0;
        }
        Reader reader{config};
        read(reader);
    }
    return 0;
}
