#include "platform/victory/VictoryConfig.h"

#include <arpa/inet.h>
#include <tinyxml2.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace victory {
namespace {

// A decimal integer in [min, max] with nothing else around it.
bool parseBounded(const char* text, unsigned long long max, unsigned long long& out) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (*end != '\0' || errno == ERANGE || v > max) return false;
    out = v;
    return true;
}

// Depth-first, document order, including `element` itself.
const tinyxml2::XMLElement* findWithAttribute(const tinyxml2::XMLElement* element, const char* attribute,
                                              const char* value) {
    if (element == nullptr) return nullptr;
    const char* a = element->Attribute(attribute);
    if (a != nullptr && std::strcmp(a, value) == 0) return element;
    for (const tinyxml2::XMLElement* child = element->FirstChildElement(); child != nullptr;
         child = child->NextSiblingElement()) {
        if (const tinyxml2::XMLElement* found = findWithAttribute(child, attribute, value)) {
            return found;
        }
    }
    return nullptr;
}

// Parses `text` into `doc` and returns its root element when that is named
// `rootName`; otherwise null with `error` saying why ("no <what> text",
// "<what> is not XML: ...", "<what> root element is not <rootName>").
const tinyxml2::XMLElement* parseRoot(tinyxml2::XMLDocument& doc, const char* text, const char* what,
                                      const char* rootName, std::string& error) {
    if (text == nullptr) {
        error = std::string("no ") + what + " text";
        return nullptr;
    }
    if (doc.Parse(text) != tinyxml2::XML_SUCCESS) {
        error = std::string(what) + " is not XML: " + doc.ErrorStr();
        return nullptr;
    }
    const tinyxml2::XMLElement* root = doc.RootElement();
    if (root == nullptr || std::strcmp(root->Name(), rootName) != 0) {
        error = std::string(what) + " root element is not " + rootName;
        return nullptr;
    }
    return root;
}

}  // namespace

bool parseServiceConfig(const char* text, ServiceConfig& config, std::string& error) {
    tinyxml2::XMLDocument doc;
    const tinyxml2::XMLElement* root = parseRoot(doc, text, "configuration", "VictoryServiceConfig", error);
    if (root == nullptr) return false;
    ServiceConfig c;
    if (const char* name = root->Attribute("name")) c.name = name;

    const tinyxml2::XMLElement* bus = root->FirstChildElement("DataBus");
    if (bus == nullptr) {
        error = "configuration has no DataBus element";
        return false;
    }
    const char* address = bus->Attribute("address");
    in_addr parsed{};
    if (address == nullptr || inet_pton(AF_INET, address, &parsed) != 1) {
        error = "DataBus 'address' missing or not a dotted IPv4 address";
        return false;
    }
    c.dataAddress = address;
    unsigned long long port = 0;
    if (!parseBounded(bus->Attribute("port"), 65535, port) || port == 0) {
        error = "DataBus 'port' missing or not in 1..65535";
        return false;
    }
    c.dataPort = static_cast<std::uint16_t>(port);

    if (const tinyxml2::XMLElement* mgmt = root->FirstChildElement("Management")) {
        if (!parseBounded(mgmt->Attribute("port"), 65535, port)) {
            error = "Management 'port' missing or not in 0..65535";
            return false;
        }
        c.managementPort = static_cast<std::uint16_t>(port);
    }
    config = c;
    return true;
}

bool parseVclUpdatePeriod(const char* text, std::uint32_t& periodMs, std::string& error) {
    tinyxml2::XMLDocument doc;
    const tinyxml2::XMLElement* root = parseRoot(doc, text, "VCL", "vcl:VCL", error);
    if (root == nullptr) return false;
    const tinyxml2::XMLElement* data = findWithAttribute(root, "type", "VICTORY_DATA");
    if (data == nullptr) {
        error = "VCL has no element of type VICTORY_DATA";
        return false;
    }
    const tinyxml2::XMLElement* item = findWithAttribute(data, "name", "updatePeriod");
    if (item == nullptr) {
        error = "VCL has no updatePeriod item in its VICTORY_DATA element";
        return false;
    }
    unsigned long long value = 0;
    if (!parseBounded(item->Attribute("value"), 4294967295ULL, value)) {
        error = "VCL updatePeriod value missing or not in 0..4294967295";
        return false;
    }
    periodMs = static_cast<std::uint32_t>(value);
    return true;
}

std::chrono::nanoseconds effectiveUpdatePeriod(std::uint32_t periodMs, double minPeriodSeconds) {
    // Work in double seconds: 4294967295 ms and an infinite minimum both fit
    // there without overflow, and the clamp below keeps the result in range.
    double seconds = static_cast<double>(periodMs) / 1000.0;
    if (std::isnan(minPeriodSeconds)) minPeriodSeconds = INFINITY;
    if (minPeriodSeconds > seconds) seconds = minPeriodSeconds;
    const double never = std::chrono::duration<double>(kNeverPeriod).count();
    if (!(seconds < never)) return kNeverPeriod;
    return std::chrono::nanoseconds(static_cast<std::int64_t>(std::llround(seconds * 1e9)));
}

bool parseMinPeriodOverride(const char* text, double& seconds, std::string& error) {
    if (text == nullptr || *text == '\0') {
        error = "empty";
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || errno == ERANGE) {
        error = "'" + std::string(text) + "' is not a number of seconds";
        return false;
    }
    if (!(value >= 0.001 && value <= 3600.0)) {
        error = "'" + std::string(text) + "' is not in 0.001..3600 s";
        return false;
    }
    seconds = value;
    return true;
}

std::string checkVclRequest(const char* data, std::size_t size, std::uint32_t& periodMs) {
    if (size == 0) return "Empty management message";
    if (std::memchr(data, '\0', size) != nullptr) return "Management message contains a NUL byte";
    const std::string text(data, size);
    tinyxml2::XMLDocument doc;
    if (doc.Parse(text.c_str(), text.size()) != tinyxml2::XML_SUCCESS) {
        return std::string("Management message is not XML: ") + doc.ErrorStr();
    }
    const tinyxml2::XMLElement* root = doc.RootElement();
    if (root == nullptr || std::strcmp(root->Name(), "vcl:VCL") != 0) {
        return std::string("Management message is not a VCL document (root element '") +
               (root != nullptr ? root->Name() : "") + "')";
    }
    std::string error;
    if (!parseVclUpdatePeriod(text.c_str(), periodMs, error)) {
        return "VCL document rejected: " + error;
    }
    return "";
}

}  // namespace victory
