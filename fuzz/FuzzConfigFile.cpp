// The XML configuration service on one file (the input is the file's
// content), read in turn the way the server reads its top-level file, its
// connections file and its devices file: open the containers by name, read
// every parameter through the configuration helpers and walk the containers
// with Seek. (The server never writes its configuration, so no value is
// written back: the atomic save's flushes would only slow the run down.)

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

    int open(const char* name) {
        int handle = -1;
        Code::Value rc = Code::NO_ERROR;
        config.Open(FACE::String(name), handle, rc);
        return rc == Code::NO_ERROR ? handle : -1;
    }

    void close(int handle) {
        Code::Value rc = Code::NO_ERROR;
        config.Close(handle, rc);
    }

    void text(int handle, const char* key) {
        FACE::String value;
        Code::Value rc = Code::NO_ERROR;
        CV_Config_Helpers::Get_String_Parameter(config, handle, FACE::String(key), value, rc);
    }

    void boolean(int handle, const char* key) {
        bool value = false;
        Code::Value rc = Code::NO_ERROR;
        CV_Config_Helpers::Get_Boolean_Parameter(config, handle, FACE::String(key), value, rc);
    }

    void number(int handle, const char* key) {
        const std::string value = Read_Config(config, handle, FACE::String(key));
        (void)Parse_Unsigned(value);
        (void)Parse_Signed(value);
        (void)Parse_Boolean(value);
    }

    // Every container that shares the handle's tag, forwards and backwards.
    void walk(int handle) {
        Code::Value rc = Code::NO_ERROR;
        for (int step = 0; step < 64; ++step) {
            config.Seek(handle, FACE::Configuration::WHENCE_TYPE::SEEK_FROM_START, step, rc);
            if (rc != Code::NO_ERROR) break;
            (void)Read_Config(config, handle, FACE::String(""));
        }
        config.Seek(handle, FACE::Configuration::WHENCE_TYPE::SEEK_FROM_END, 1, rc);
        config.Seek(handle, FACE::Configuration::WHENCE_TYPE::SEEK_FROM_CURRENT, -1, rc);
    }
};

enum class Kind { Text, Number, Boolean };

struct Key {
    Kind kind;
    const char* name;
};

// A container the server opens by name, the parameters it reads from it,
// and whether it walks the containers of the same tag.
struct Container {
    std::string name;
    std::vector<Key> keys;
    bool walk;
};

using File = std::vector<Container>;

void read(Reader& r, const Container& container) {
    const int handle = r.open(container.name.c_str());
    if (handle < 0) return;
    for (const Key& key : container.keys) {
        switch (key.kind) {
            case Kind::Text:
                r.text(handle, key.name);
                break;
            case Kind::Number:
                r.number(handle, key.name);
                break;
            case Kind::Boolean:
                r.boolean(handle, key.name);
                break;
        }
    }
    if (container.walk) r.walk(handle);
    r.close(handle);
}

// The three files as the server reads them: top-level, connections, devices.
std::vector<File> serverFiles() {
    constexpr Kind T = Kind::Text, N = Kind::Number, B = Kind::Boolean;
    const File topLevel = {
        {"Corvane", {{T, "System"}, {T, "Configuration"}}, true},
        {"ZOziDaZodOduzuz",
         {{T, "Connections"},
          {T, "IODevices"},
          {B, "Debug"},
          {N, "PRI"},
          {N, "CPU"},
          {B, "PARAM_1"},
          {B, "PARAM_2"},
          {B, "PARAM_3"},
          {B, "PARAM_4"},
          {T, "PARAM_5"},
          {N, "PARAM_6"},
          {N, "PARAM_7"}},
         false},
    };
    File connections = {
        {"FastRtps",
         {{N, "DomainId"},
          {N, "HistoryDepth"},
          {B, "UseBestEffort"},
          {B, "BackFillHistory"},
          {T, "UseTransport"},
          {T, "TcpAddress"},
          {N, "TcpPort"}},
         false},
        {"Security",
         {{T, "IdentityCA"},
          {T, "Certificate"},
          {T, "PrivateKey"},
          {T, "PermissionsCA"},
          {T, "Governance"},
          {T, "Permissions"}},
         false},
    };
    for (const char* name :
         {"Command", "Response", "PositionVelocityAttitude", "EventLog", "UTCTime", "MaintenanceEvent"}) {
        connections.push_back({name, {{T, "TopicType"}, {T, "PubSubType"}}, true});
    }
    File devices;
    for (const char* name :
         {"Processor_Interface", "Peripheral_Interface", "TimeStamp_Interface", "PpsSlave_Interface",
          "PtpClock_Interface", "Ptfe_Interface0", "PulseGen_Interface0", "Ptfe_Interface3", "PulseGen_Interface3"}) {
        devices.push_back({name, {{N, "BaseAddress"}, {N, "Size"}}, false});
    }
    return {topLevel, connections, devices};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz::scratchFolder() + "/config.xml";
    fuzz::writeFile(path, data, size);
    static const std::vector<File> files = serverFiles();
    for (const File& file : files) {
        FACE::CV_Config config;
        Code::Value rc = Code::NO_ERROR;
        config.Initialize(FACE::String(path.c_str()), rc);
        if (rc != Code::NO_ERROR) {
            return 0;
        }
        Reader reader{config};
        for (const Container& container : file) read(reader, container);
    }
    return 0;
}
