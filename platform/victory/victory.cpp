// The C entry points of the services library: thin wrappers that map each
// family's handle onto one victory::Service and never let an exception
// cross into C code.
#include "platform/victory/victory.h"

#include "utilities/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/victory/VictoryConfig.h"
#include "platform/victory/VictoryService.h"
#include "platform/victory/victory_test.h"

using victory::Service;
using victory::ServiceKind;

// The handle types are opaque to callers; each wraps one service.
struct VpossService {
    std::unique_ptr<Service> service;
};
struct VorisService {
    std::unique_ptr<Service> service;
};
struct VdotsService {
    std::unique_ptr<Service> service;
};
struct VgpssService {
    std::unique_ptr<Service> service;
};
struct VgensService {
    std::unique_ptr<Service> service;
};
struct VapntsService {
    std::unique_ptr<Service> service;
};

namespace {

// The minimum update period in force: the caller's, unless the stand-in's
// override variable is set to a valid value (a bad value is reported and
// left aside).
double minUpdatePeriodInForce(ServiceKind kind, double requested) {
    const char* text = std::getenv(victory::kMinPeriodOverrideVariable);
    if (text == nullptr) return requested;
    double seconds = 0.0;
    std::string error;
    if (!victory::parseMinPeriodOverride(text, seconds, error)) {
        std::fprintf(stderr, "victory: %s service: %s: %s; minimum update period %g s kept\n",
                     victory::serviceKindName(kind), victory::kMinPeriodOverrideVariable, error.c_str(), requested);
        return requested;
    }
    return seconds;
}

template <typename Handle>
Handle* newService(ServiceKind kind, int systemId, int unitId, int instanceId, const char* config,
                   double minUpdatePeriod, const char* vcl) noexcept {
    try {
        const std::string source =
            std::to_string(systemId) + "." + std::to_string(unitId) + "." + std::to_string(instanceId);
        std::string error;
        std::unique_ptr<Service> service =
            Service::create(kind, source, config, minUpdatePeriodInForce(kind, minUpdatePeriod), vcl, error);
        if (!service) {
            std::fprintf(stderr, "victory: %s service not created: %s\n", victory::serviceKindName(kind),
                         error.c_str());
            return nullptr;
        }
        return new Handle{std::move(service)};
    } catch (const std::exception& e) {
        std::fprintf(stderr, "victory: %s service not created: %s\n", victory::serviceKindName(kind), e.what());
        return nullptr;
    }
}

template <typename Handle>
void startService(Handle* handle) noexcept {
    if (handle == nullptr) return;
    try {
        handle->service->start();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "victory: service not started: %s\n", e.what());
    }
}

template <typename Handle>
void deleteService(Handle* handle) noexcept {
    delete handle;
}

template <typename Handle, typename Callback>
int initSaveVclidCallback(Handle* handle, Callback callback, void* user) noexcept {
    if (handle == nullptr) return -1;
    try {
        if (callback == nullptr) {
            handle->service->setVclSaver(nullptr);
        } else {
            handle->service->setVclSaver(
                [handle, callback, user](const std::string& vcl) { return callback(user, handle, vcl.c_str()); });
        }
        return 0;
    } catch (const std::exception&) {
        return -1;
    }
}

template <typename Handle>
void tell(Handle* handle, const VictoryValue* a, const VictoryValue* b, const VictoryValue* c, const char* mgrs,
          const VictoryTime* time) noexcept {
    if (handle == nullptr) return;
    try {
        handle->service->tell(a, b, c, mgrs, time);
    } catch (const std::exception&) {
        // Only an allocation failure of the MGRS copy can get here; the tell is
        // then lost, which the next tell repairs.
    }
}

template <typename Handle>
int addFault(Handle* handle, const char* description, int acknowledged, VhlthcSeverity severity,
             VhlthcCategory category, VhlthcAction action) noexcept {
    if (handle == nullptr) return 0;
    try {
        return handle->service->addFault(description, acknowledged != 0, severity, category, action);
    } catch (const std::exception&) {
        return 0;
    }
}

template <typename Handle>
void removeFault(Handle* handle, int id) noexcept {
    if (handle != nullptr) handle->service->removeFault(id);
}

void copyText(const std::string& text, char* buffer, std::size_t size) {
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

template <typename Handle>
int testGetState(const Handle* handle, VictoryTestState* state) noexcept {
    if (handle == nullptr || state == nullptr) return -1;
    try {
        const victory::ServiceSnapshot s = handle->service->snapshot();
        *state = VictoryTestState{};
        state->valueCount = static_cast<int>(victory::valueSpecs(handle->service->kind()).size());
        std::copy(s.values.begin(), s.values.end(), state->values);
        state->hasTime = s.time.has_value() ? 1 : 0;
        if (s.time) state->time = *s.time;
        state->hasMgrs = s.mgrs.has_value() ? 1 : 0;
        copyText(s.mgrs.value_or(""), state->mgrs, sizeof state->mgrs);
        state->updatePeriodMs = s.updatePeriodMs;
        state->effectivePeriodSeconds = std::chrono::duration<double>(s.period).count();
        state->started = s.started ? 1 : 0;
        state->messagesSent = s.messagesSent;
        state->tellCount = s.tellCount;
        state->faultCount = static_cast<int>(handle->service->faults().size());
        state->managementPort = s.managementPort;
        return 0;
    } catch (const std::exception&) {
        return -1;
    }
}

template <typename Handle>
int testGetFaults(const Handle* handle, VictoryTestFault* faults, int capacity) noexcept {
    if (handle == nullptr || capacity < 0 || (capacity > 0 && faults == nullptr)) return -1;
    try {
        const std::vector<victory::FaultRecord> active = handle->service->faults();
        for (std::size_t i = 0; i < active.size() && i < static_cast<std::size_t>(capacity); ++i) {
            VictoryTestFault& out = faults[i];
            out = VictoryTestFault{};
            out.id = active[i].id;
            out.acknowledged = active[i].acknowledged ? 1 : 0;
            out.severity = active[i].severity;
            out.category = active[i].category;
            out.action = active[i].action;
            copyText(active[i].description, out.description, sizeof out.description);
        }
        return static_cast<int>(active.size());
    } catch (const std::exception&) {
        return -1;
    }
}

template <typename Handle>
int testGetVcl(const Handle* handle, char* buffer, std::size_t size) noexcept {
    if (handle == nullptr || buffer == nullptr || size == 0) return -1;
    try {
        const std::string vcl = handle->service->snapshot().vcl;
        copyText(vcl, buffer, size);
        return static_cast<int>(vcl.size());
    } catch (const std::exception&) {
        return -1;
    }
}

}  // namespace

extern "C" {

// ---- Creation, start, deletion ---------------------------------------------

VpossService* vpossNewService(int a, int b, int c, const char* config, double minUpdatePeriod, const char* vcl) {
    return newService<VpossService>(ServiceKind::Position, a, b, c, config, minUpdatePeriod, vcl);
}
VorisService* vorisNewService(int a, int b, int c, const char* config, double minUpdatePeriod, const char* vcl) {
    return newService<VorisService>(ServiceKind::Orientation, a, b, c, config, minUpdatePeriod, vcl);
}
VdotsService* vdotsNewService(int a, int b, int c, const char* config, double minUpdatePeriod, const char* vcl) {
    return newService<VdotsService>(ServiceKind::DirectionOfTravel, a, b, c, config, minUpdatePeriod, vcl);
}
VgpssService* vgpssNewService(int a, int b, int c, const char* config, double minUpdatePeriod, const char* vcl) {
    return newService<VgpssService>(ServiceKind::GpsReceiver, a, b, c, config, minUpdatePeriod, vcl);
}
VgensService* vgensNewService(int a, int b, int c, const char* config, double minUpdatePeriod, const char* vcl) {
    return newService<VgensService>(ServiceKind::GenericEndNode, a, b, c, config, minUpdatePeriod, vcl);
}
VapntsService* vapntsNewService(int a, int b, int c, const char* config, double minUpdatePeriod, const char* vcl) {
    return newService<VapntsService>(ServiceKind::Apnt, a, b, c, config, minUpdatePeriod, vcl);
}

void vpossStartService(VpossService* h) { startService(h); }
void vorisStartService(VorisService* h) { startService(h); }
void vdotsStartService(VdotsService* h) { startService(h); }
void vgpssStartService(VgpssService* h) { startService(h); }
void vgensStartService(VgensService* h) { startService(h); }
void vapntsStartService(VapntsService* h) { startService(h); }

void vpossDeleteService(VpossService* h) { deleteService(h); }
void vorisDeleteService(VorisService* h) { deleteService(h); }
void vdotsDeleteService(VdotsService* h) { deleteService(h); }
void vgpssDeleteService(VgpssService* h) { deleteService(h); }
void vgensDeleteService(VgensService* h) { deleteService(h); }
void vapntsDeleteService(VapntsService* h) { deleteService(h); }

// ---- VCL persistence ---------------------------------------------------------

int vpossInitSaveVclidCallback(VpossService* h, VpossSaveVclidCallback cb, void* user) {
    return initSaveVclidCallback(h, cb, user);
}
int vorisInitSaveVclidCallback(VorisService* h, VorisSaveVclidCallback cb, void* user) {
    return initSaveVclidCallback(h, cb, user);
}
int vdotsInitSaveVclidCallback(VdotsService* h, VdotsSaveVclidCallback cb, void* user) {
    return initSaveVclidCallback(h, cb, user);
}

// ---- Tells -------------------------------------------------------------------

void vpossTellPos(VpossService* h, const VictoryValue* lat, const VictoryValue* lon, const VictoryValue* alt,
                  const VictoryTime* time) {
    tell(h, lat, lon, alt, nullptr, time);
}
void vpossTellPosWithMgrs(VpossService* h, const VictoryValue* lat, const VictoryValue* lon, const VictoryValue* alt,
                          const char* mgrs, const VictoryTime* time) {
    tell(h, lat, lon, alt, mgrs, time);
}
void vorisTellOrient(VorisService* h, const VictoryValue* roll, const VictoryValue* pitch, const VictoryValue* yaw,
                     const VictoryTime* time) {
    tell(h, roll, pitch, yaw, nullptr, time);
}
void vdotsTellDot(VdotsService* h, const VictoryValue* heading, const VictoryValue* speed, const VictoryValue* climb,
                  const VictoryTime* time) {
    tell(h, heading, speed, climb, nullptr, time);
}

// ---- Faults ------------------------------------------------------------------

int vpossAddFault(VpossService* h, const char* d, int ack, VhlthcSeverity s, VhlthcCategory c, VhlthcAction a) {
    return addFault(h, d, ack, s, c, a);
}
int vorisAddFault(VorisService* h, const char* d, int ack, VhlthcSeverity s, VhlthcCategory c, VhlthcAction a) {
    return addFault(h, d, ack, s, c, a);
}
int vdotsAddFault(VdotsService* h, const char* d, int ack, VhlthcSeverity s, VhlthcCategory c, VhlthcAction a) {
    return addFault(h, d, ack, s, c, a);
}
int vgpssAddFault(VgpssService* h, const char* d, int ack, VhlthcSeverity s, VhlthcCategory c, VhlthcAction a) {
    return addFault(h, d, ack, s, c, a);
}
int vgensAddFault(VgensService* h, const char* d, int ack, VhlthcSeverity s, VhlthcCategory c, VhlthcAction a) {
    return addFault(h, d, ack, s, c, a);
}
int vapntsAddFault(VapntsService* h, const char* d, int ack, VhlthcSeverity s, VhlthcCategory c, VhlthcAction a) {
    return addFault(h, d, ack, s, c, a);
}

void vpossRemoveFault(VpossService* h, int id) { removeFault(h, id); }
void vorisRemoveFault(VorisService* h, int id) { removeFault(h, id); }
void vdotsRemoveFault(VdotsService* h, int id) { removeFault(h, id); }
void vgpssRemoveFault(VgpssService* h, int id) { removeFault(h, id); }
void vgensRemoveFault(VgensService* h, int id) { removeFault(h, id); }
void vapntsRemoveFault(VapntsService* h, int id) { removeFault(h, id); }

// ---- File helpers --------------------------------------------------------------

int vutilReadStringFromFile(const char* path, size_t maxLength, char* buffer) {
    if (path == nullptr || buffer == nullptr || maxLength == 0) return VUTIL_ERR_ARGUMENT;
    buffer[0] = '\0';
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return VUTIL_ERR_OPEN;
    // Read one byte more than fits, to tell "exactly full" from "too long".
    size_t total = 0;
    int result = VUTIL_OK;
    char extra = 0;
    for (;;) {
        char* target = total < maxLength - 1 ? buffer + total : &extra;
        const size_t room = total < maxLength - 1 ? maxLength - 1 - total : 1;
        const ssize_t n = ::read(fd, target, room);
        if (n < 0) {
            if (errno == EINTR) continue;
            result = VUTIL_ERR_IO;
            break;
        }
        if (n == 0) break;
        if (target == &extra) {
            result = VUTIL_ERR_TOO_LONG;
            break;
        }
        total += static_cast<size_t>(n);
    }
    ::close(fd);
    if (result == VUTIL_OK && std::memchr(buffer, '\0', total) != nullptr) result = VUTIL_ERR_BINARY;
    buffer[result == VUTIL_OK ? total : 0] = '\0';
    return result;
}

int vutilWriteStringToFile(const char* text, const char* path) {
    if (text == nullptr || path == nullptr || *path == '\0') return VUTIL_ERR_ARGUMENT;
    const int error = AtomicFile::replaceContents(path, text, std::strlen(text));
    if (error == 0) return VUTIL_OK;
    return error == EACCES || error == ENOENT || error == ENOTDIR || error == EROFS ? VUTIL_ERR_OPEN : VUTIL_ERR_IO;
}

// ---- Inspection (victory_test.h) -----------------------------------------------

int vpossTestGetState(const VpossService* h, VictoryTestState* s) { return testGetState(h, s); }
int vorisTestGetState(const VorisService* h, VictoryTestState* s) { return testGetState(h, s); }
int vdotsTestGetState(const VdotsService* h, VictoryTestState* s) { return testGetState(h, s); }
int vgpssTestGetState(const VgpssService* h, VictoryTestState* s) { return testGetState(h, s); }
int vgensTestGetState(const VgensService* h, VictoryTestState* s) { return testGetState(h, s); }
int vapntsTestGetState(const VapntsService* h, VictoryTestState* s) { return testGetState(h, s); }

int vpossTestGetFaults(const VpossService* h, VictoryTestFault* f, int n) { return testGetFaults(h, f, n); }
int vorisTestGetFaults(const VorisService* h, VictoryTestFault* f, int n) { return testGetFaults(h, f, n); }
int vdotsTestGetFaults(const VdotsService* h, VictoryTestFault* f, int n) { return testGetFaults(h, f, n); }
int vgpssTestGetFaults(const VgpssService* h, VictoryTestFault* f, int n) { return testGetFaults(h, f, n); }
int vgensTestGetFaults(const VgensService* h, VictoryTestFault* f, int n) { return testGetFaults(h, f, n); }
int vapntsTestGetFaults(const VapntsService* h, VictoryTestFault* f, int n) { return testGetFaults(h, f, n); }

int vpossTestGetVcl(const VpossService* h, char* b, size_t n) { return testGetVcl(h, b, n); }
int vorisTestGetVcl(const VorisService* h, char* b, size_t n) { return testGetVcl(h, b, n); }
int vdotsTestGetVcl(const VdotsService* h, char* b, size_t n) { return testGetVcl(h, b, n); }

}  // extern "C"
