#include "platform/victory/VictoryDataMessage.h"

#include <tinyxml2.h>

#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace victory {
namespace {

struct KindEntry {
    ServiceKind kind;
    const char* name;
};

constexpr KindEntry kKinds[] = {
    {ServiceKind::Position, "position"},
    {ServiceKind::Orientation, "orientation"},
    {ServiceKind::DirectionOfTravel, "directionOfTravel"},
    {ServiceKind::GpsReceiver, "gpsReceiver"},
    {ServiceKind::GenericEndNode, "genericEndNode"},
    {ServiceKind::Apnt, "apnt"},
};

// XML 1.0 cannot carry control characters other than tab and line breaks,
// not even escaped; replace them so that every message stays readable.
// A carriage return is written as a line feed: a reader turns it into one
// anyway, so writing it unchanged would give a text that reads back
// differently from what was written.
std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r')
            c = '\n';
        else if (u < 0x20 && c != '\t' && c != '\n')
            c = '?';
        if (u == 0x7f) c = '?';
    }
    return out;
}

bool parseDouble(const char* text, double& out) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (end == text || *end != '\0') return false;
    // Overflow gives +-HUGE_VAL, which is the value written for infinity
    // anyway; underflow to a denormal or zero is harmless.
    out = v;
    return true;
}

bool parseInteger(const char* text, long long min, long long max, long long& out) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || v < min || v > max) return false;
    out = v;
    return true;
}

bool parseUnsigned64(const char* text, std::uint64_t& out) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (*end != '\0' || errno == ERANGE) return false;
    out = v;
    return true;
}

bool basisFromName(const char* name, VposcBasis& basis) {
    if (name == nullptr) return false;
    if (std::strcmp(name, "INVALID") == 0)
        basis = VPOSC_BASIS_INVALID;
    else if (std::strcmp(name, "ESTIMATED") == 0)
        basis = VPOSC_BASIS_ESTIMATED;
    else if (std::strcmp(name, "MEASURED") == 0)
        basis = VPOSC_BASIS_MEASURED;
    else
        return false;
    return true;
}

bool intAttribute(const tinyxml2::XMLElement* e, const char* name, long long min, long long max, long long& out,
                  std::string& error) {
    if (!parseInteger(e->Attribute(name), min, max, out)) {
        error = std::string("element ") + e->Name() + ": attribute '" + name + "' missing or not an integer";
        return false;
    }
    return true;
}

bool parseValue(const tinyxml2::XMLElement* e, NamedValue& v, std::string& error) {
    const char* name = e->Attribute("name");
    if (name == nullptr) {
        error = "Value without 'name'";
        return false;
    }
    v.name = name;
    v.unit = e->Attribute("unit") != nullptr ? e->Attribute("unit") : "";
    if (!parseDouble(e->Attribute("value"), v.value.value) ||
        !parseDouble(e->Attribute("uncertainty"), v.value.uncertainty)) {
        error = "Value '" + v.name + "': 'value' or 'uncertainty' missing or not a number";
        return false;
    }
    if (!basisFromName(e->Attribute("basis"), v.value.basis)) {
        error = "Value '" + v.name + "': unknown 'basis'";
        return false;
    }
    return true;
}

bool parseTime(const tinyxml2::XMLElement* e, VictoryTime& t, std::string& error) {
    struct Field {
        const char* name;
        int32_t* target;
    };
    const Field fields[] = {
        {"year", &t.year},     {"month", &t.month},          {"day", &t.day}, {"hour", &t.hour}, {"minute", &t.minute},
        {"second", &t.second}, {"nanosecond", &t.nanosecond}};
    for (const Field& f : fields) {
        long long v = 0;
        if (!intAttribute(e, f.name, INT32_MIN, INT32_MAX, v, error)) return false;
        *f.target = static_cast<int32_t>(v);
    }
    return true;
}

std::string formatTellTime(const TellStamp& t) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%lld.%09d", static_cast<long long>(t.seconds),
                  static_cast<int>(t.nanoseconds));
    return buffer;
}

// "SECONDS.NNNNNNNNN" with exactly nine digits after the point.
bool parseTold(const tinyxml2::XMLElement* e, TellStamp& t, std::string& error) {
    long long count = 0;
    if (!intAttribute(e, "count", 0, LLONG_MAX, count, error)) return false;
    const char* text = e->Attribute("realtime");
    const char* point = text != nullptr ? std::strchr(text, '.') : nullptr;
    long long seconds = 0, nanoseconds = 0;
    if (point == nullptr || std::strlen(point + 1) != 9 ||
        !parseInteger(std::string(text, point).c_str(), 0, LLONG_MAX, seconds) ||
        !parseInteger(point + 1, 0, 999999999, nanoseconds)) {
        error = "element Told: attribute 'realtime' missing or not SECONDS.NNNNNNNNN";
        return false;
    }
    t.count = static_cast<std::uint64_t>(count);
    t.seconds = seconds;
    t.nanoseconds = static_cast<std::int32_t>(nanoseconds);
    return true;
}

bool parseFault(const tinyxml2::XMLElement* e, FaultRecord& f, std::string& error) {
    long long id = 0, severity = 0, category = 0, action = 0, ack = 0;
    if (!intAttribute(e, "id", INT_MIN, INT_MAX, id, error) ||
        !intAttribute(e, "severity", INT_MIN, INT_MAX, severity, error) ||
        !intAttribute(e, "category", INT_MIN, INT_MAX, category, error) ||
        !intAttribute(e, "action", INT_MIN, INT_MAX, action, error) ||
        !intAttribute(e, "acknowledged", 0, 1, ack, error)) {
        return false;
    }
    f.id = static_cast<int>(id);
    f.severity = static_cast<int>(severity);
    f.category = static_cast<int>(category);
    f.action = static_cast<int>(action);
    f.acknowledged = ack != 0;
    f.description = e->GetText() != nullptr ? e->GetText() : "";
    return true;
}

}  // namespace

const char* serviceKindName(ServiceKind kind) {
    for (const KindEntry& k : kKinds) {
        if (k.kind == kind) return k.name;
    }
    return "unknown";
}

bool serviceKindFromName(const std::string& name, ServiceKind& kind) {
    for (const KindEntry& k : kKinds) {
        if (name == k.name) {
            kind = k.kind;
            return true;
        }
    }
    return false;
}

std::vector<ValueSpec> valueSpecs(ServiceKind kind) {
    switch (kind) {
        case ServiceKind::Position:
            return {{"latitude", "lat", "rad"}, {"longitude", "lon", "rad"}, {"altitude", "alt", "m"}};
        case ServiceKind::Orientation:
            return {{"roll", "roll", "rad"}, {"pitch", "pitch", "rad"}, {"yaw", "yaw", "rad"}};
        case ServiceKind::DirectionOfTravel:
            return {{"heading", "heading", "rad"}, {"speed", "speed", "m/s"}, {"climb", "climb", "m/s"}};
        default:
            return {};
    }
}

const char* basisName(int basis) {
    switch (basis) {
        case VPOSC_BASIS_INVALID:
            return "INVALID";
        case VPOSC_BASIS_ESTIMATED:
            return "ESTIMATED";
        case VPOSC_BASIS_MEASURED:
            return "MEASURED";
        default:
            return "UNKNOWN";
    }
}

std::string formatNumber(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char buffer[40];
    for (int precision = 15; precision <= 17; ++precision) {
        std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
        if (std::strtod(buffer, nullptr) == value) break;
    }
    return buffer;
}

std::string formatDataMessage(const DataMessage& message) {
    // One line, no indentation: the message travels in one datagram.
    constexpr bool kCompact = true;
    tinyxml2::XMLPrinter printer(nullptr, kCompact);
    printer.OpenElement("VictoryData", kCompact);
    printer.PushAttribute("service", serviceKindName(message.kind));
    printer.PushAttribute("source", printable(message.source).c_str());
    printer.PushAttribute("seq", std::to_string(message.seq).c_str());
    for (const NamedValue& v : message.values) {
        printer.OpenElement("Value", kCompact);
        printer.PushAttribute("name", printable(v.name).c_str());
        printer.PushAttribute("unit", printable(v.unit).c_str());
        printer.PushAttribute("value", formatNumber(v.value.value).c_str());
        printer.PushAttribute("uncertainty", formatNumber(v.value.uncertainty).c_str());
        printer.PushAttribute("basis", basisName(v.value.basis));
        printer.CloseElement(kCompact);
    }
    if (message.mgrs) {
        printer.OpenElement("Mgrs", kCompact);
        printer.PushText(printable(*message.mgrs).c_str());
        printer.CloseElement(kCompact);
    }
    if (message.time) {
        const VictoryTime& t = *message.time;
        printer.OpenElement("Time", kCompact);
        printer.PushAttribute("year", t.year);
        printer.PushAttribute("month", t.month);
        printer.PushAttribute("day", t.day);
        printer.PushAttribute("hour", t.hour);
        printer.PushAttribute("minute", t.minute);
        printer.PushAttribute("second", t.second);
        printer.PushAttribute("nanosecond", t.nanosecond);
        printer.CloseElement(kCompact);
    }
    if (message.told) {
        printer.OpenElement("Told", kCompact);
        printer.PushAttribute("count", std::to_string(message.told->count).c_str());
        printer.PushAttribute("realtime", formatTellTime(*message.told).c_str());
        printer.CloseElement(kCompact);
    }
    printer.OpenElement("Faults", kCompact);
    printer.PushAttribute("count", std::to_string(message.faultCount).c_str());
    std::size_t listed = 0;
    for (const FaultRecord& f : message.faults) {
        if (listed++ == kMaxListedFaults) break;
        printer.OpenElement("Fault", kCompact);
        printer.PushAttribute("id", f.id);
        printer.PushAttribute("severity", f.severity);
        printer.PushAttribute("category", f.category);
        printer.PushAttribute("action", f.action);
        printer.PushAttribute("acknowledged", f.acknowledged ? 1 : 0);
        printer.PushText(printable(f.description).c_str());
        printer.CloseElement(kCompact);
    }
    printer.CloseElement(kCompact);  // Faults
    printer.CloseElement(kCompact);  // VictoryData
    return std::string(printer.CStr(), static_cast<std::size_t>(printer.CStrSize() - 1));
}

bool parseDataMessage(const char* data, std::size_t size, DataMessage& message, std::string& error) {
    tinyxml2::XMLDocument doc;
    if (data == nullptr || size == 0) {
        error = "empty message";
        return false;
    }
    if (doc.Parse(data, size) != tinyxml2::XML_SUCCESS) {
        error = std::string("not XML: ") + doc.ErrorStr();
        return false;
    }
    const tinyxml2::XMLElement* root = doc.RootElement();
    if (root == nullptr || std::strcmp(root->Name(), "VictoryData") != 0) {
        error = "root element is not VictoryData";
        return false;
    }
    DataMessage m;
    const char* kind = root->Attribute("service");
    if (kind == nullptr || !serviceKindFromName(kind, m.kind)) {
        error = "unknown service kind";
        return false;
    }
    m.source = root->Attribute("source") != nullptr ? root->Attribute("source") : "";
    if (!parseUnsigned64(root->Attribute("seq"), m.seq)) {
        error = "attribute 'seq' missing or not an unsigned integer";
        return false;
    }
    for (const tinyxml2::XMLElement* e = root->FirstChildElement(); e != nullptr; e = e->NextSiblingElement()) {
        const char* name = e->Name();
        if (std::strcmp(name, "Value") == 0) {
            NamedValue v;
            if (!parseValue(e, v, error)) return false;
            m.values.push_back(v);
        } else if (std::strcmp(name, "Mgrs") == 0) {
            m.mgrs = e->GetText() != nullptr ? e->GetText() : "";
        } else if (std::strcmp(name, "Time") == 0) {
            VictoryTime t{};
            if (!parseTime(e, t, error)) return false;
            m.time = t;
        } else if (std::strcmp(name, "Told") == 0) {
            TellStamp t;
            if (!parseTold(e, t, error)) return false;
            m.told = t;
        } else if (std::strcmp(name, "Faults") == 0) {
            long long count = 0;
            if (!intAttribute(e, "count", 0, LLONG_MAX, count, error)) return false;
            m.faultCount = static_cast<std::size_t>(count);
            for (const tinyxml2::XMLElement* f = e->FirstChildElement("Fault"); f != nullptr;
                 f = f->NextSiblingElement("Fault")) {
                FaultRecord record;
                if (!parseFault(f, record, error)) return false;
                m.faults.push_back(record);
            }
            if (m.faults.size() > m.faultCount) {
                error = "more faults listed than counted";
                return false;
            }
        }
        // Unknown elements are skipped so that later additions stay readable.
    }
    message = std::move(m);
    return true;
}

}  // namespace victory
