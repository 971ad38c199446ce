/*
 * VICTORY services library: the C interface through which a data source
 * offers the VICTORY Position, Orientation and Direction of Travel services
 * (and the fault reporting of the GPS Receiver, Generic End Node and APNT
 * services) to the vehicle network.
 *
 * This header is usable from C and C++. The library is installed as
 * libvictory.so.5.0 with the soname libvictory.so.5; programs link it by
 * soname so that the vehicle's own library can take its place.
 *
 * Service life cycle (per service):
 *   NewService -> InitSaveVclidCallback -> tells -> StartService
 *   -> tells ... -> DeleteService.
 * A started service sends the latest told values on its data bus once per
 * update period (see NewService). A null handle is accepted by every call
 * and does nothing (AddFault then returns 0).
 *
 * Thread safety: calls on different handles are independent. On one handle,
 * tells, AddFault and RemoveFault may come from any thread; DeleteService
 * must not race with any other call on the same handle and must not be
 * called from inside the handle's own SaveVclid callback.
 */
#ifndef PLATFORM_VICTORY_VICTORY_H
#define PLATFORM_VICTORY_VICTORY_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define VICTORY_EXPORT __attribute__((visibility("default")))
#else
#define VICTORY_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Values ------------------------------------------------------------ */

/* How a told value was obtained. */
typedef enum VposcBasis {
    VPOSC_BASIS_INVALID = 0,   /* not usable */
    VPOSC_BASIS_ESTIMATED = 1, /* estimated, e.g. propagated without fresh data */
    VPOSC_BASIS_MEASURED = 2   /* from a current measurement */
} VposcBasis;

/* One told quantity: its value, its one-sigma uncertainty (same unit as the
 * value; +infinity when unknown) and its basis. Units are those of the tell
 * call that carries it. */
typedef struct VictoryValue {
    double value;
    double uncertainty;
    VposcBasis basis;
} VictoryValue;

/* A UTC instant. The fields are carried as told, without range checks. */
typedef struct VictoryTime {
    int32_t year;       /* e.g. 2024 */
    int32_t month;      /* 1..12 */
    int32_t day;        /* 1..31 */
    int32_t hour;       /* 0..23 */
    int32_t minute;     /* 0..59 */
    int32_t second;     /* 0..60 */
    int32_t nanosecond; /* 0..999999999 */
} VictoryTime;

/* ---- Health (fault) reporting ------------------------------------------ */

/* Severity of a reported fault. */
typedef enum VhlthcSeverity {
    VHLTHC_SEVERITY_OTHER = 32,
    VHLTHC_SEVERITY_WARNING = 33,
    VHLTHC_SEVERITY_ERROR = 34,
    VHLTHC_SEVERITY_CRITICAL = 35,
    VHLTHC_SEVERITY_ALERT = 36,
    VHLTHC_SEVERITY_EMERGENCY = 37
} VhlthcSeverity;

/* Category of a reported fault. Any value is carried unchanged; the names
 * below are the ones this system uses. */
typedef enum VhlthcCategory {
    VHLTHC_CATEGORY_UNSPECIFIED = 0,
    VHLTHC_CATEGORY_TEST = 22 /* raised on purpose, e.g. for compliance tests */
} VhlthcCategory;

/* Action recommended for a reported fault. Any value is carried unchanged. */
typedef enum VhlthcAction {
    VHLTHC_ACTION_NONE = 0,
    VHLTHC_ACTION_REPORT = 1 /* report to the operator / maintenance log */
} VhlthcAction;

/* ---- Handles ----------------------------------------------------------- */

typedef struct VpossService VpossService;   /* Position */
typedef struct VorisService VorisService;   /* Orientation */
typedef struct VdotsService VdotsService;   /* Direction of Travel */
typedef struct VgpssService VgpssService;   /* GPS Receiver */
typedef struct VgensService VgensService;   /* Generic End Node */
typedef struct VapntsService VapntsService; /* APNT */

/* ---- Service creation, start and deletion -------------------------------
 *
 * xxxNewService(systemId, unitId, instanceId, config, minUpdatePeriod, vcl)
 *   systemId, unitId, instanceId: identify the service on the data bus; they
 *     are carried unchanged in every data message ("source" attribute).
 *   config: the service's configuration text (XML, root
 *     "VictoryServiceConfig"; see the samples under config/victory/):
 *     the data bus destination (IPv4 address and UDP port) and the UDP
 *     management port on 127.0.0.1 (0 or absent: no management port).
 *   minUpdatePeriod: the shortest allowed interval between two data
 *     messages, in seconds (>= 0; +infinity: never send).
 *   vcl: the service's VCL text (XML, root "vcl:VCL"); the attribute "value"
 *     of the item whose "name" is "updatePeriod", inside the element whose
 *     "type" is "VICTORY_DATA", is the update period in milliseconds
 *     (0..4294967295).
 *   Returns a new, not yet started service, or null when a text is null or
 *   malformed, minUpdatePeriod is NaN or negative, or a socket cannot be
 *   opened or bound (a reason is written to stderr).
 *   The service sends every max(updatePeriod, minUpdatePeriod), the first
 *   message one period after StartService.
 *
 * xxxStartService(handle): starts sending (and listening on the management
 *   port). A second start does nothing.
 *
 * xxxDeleteService(handle): stops the service, waits for its threads, closes
 *   its sockets and frees the handle. The handle is invalid afterwards.
 * ------------------------------------------------------------------------ */

VICTORY_EXPORT VpossService* vpossNewService(int systemId, int unitId, int instanceId, const char* config,
                                             double minUpdatePeriod, const char* vcl);
VICTORY_EXPORT VorisService* vorisNewService(int systemId, int unitId, int instanceId, const char* config,
                                             double minUpdatePeriod, const char* vcl);
VICTORY_EXPORT VdotsService* vdotsNewService(int systemId, int unitId, int instanceId, const char* config,
                                             double minUpdatePeriod, const char* vcl);
VICTORY_EXPORT VgpssService* vgpssNewService(int systemId, int unitId, int instanceId, const char* config,
                                             double minUpdatePeriod, const char* vcl);
VICTORY_EXPORT VgensService* vgensNewService(int systemId, int unitId, int instanceId, const char* config,
                                             double minUpdatePeriod, const char* vcl);
VICTORY_EXPORT VapntsService* vapntsNewService(int systemId, int unitId, int instanceId, const char* config,
                                               double minUpdatePeriod, const char* vcl);

VICTORY_EXPORT void vpossStartService(VpossService* handle);
VICTORY_EXPORT void vorisStartService(VorisService* handle);
VICTORY_EXPORT void vdotsStartService(VdotsService* handle);
VICTORY_EXPORT void vgpssStartService(VgpssService* handle);
VICTORY_EXPORT void vgensStartService(VgensService* handle);
VICTORY_EXPORT void vapntsStartService(VapntsService* handle);

VICTORY_EXPORT void vpossDeleteService(VpossService* handle);
VICTORY_EXPORT void vorisDeleteService(VorisService* handle);
VICTORY_EXPORT void vdotsDeleteService(VdotsService* handle);
VICTORY_EXPORT void vgpssDeleteService(VgpssService* handle);
VICTORY_EXPORT void vgensDeleteService(VgensService* handle);
VICTORY_EXPORT void vapntsDeleteService(VapntsService* handle);

/* ---- VCL persistence ----------------------------------------------------
 *
 * xxxInitSaveVclidCallback(handle, callback, user)
 *   Registers the function the library calls whenever the service's VCL
 *   text is replaced through its management port, with (user, handle, new
 *   VCL text); the callback returns 0 when it stored the text and non-zero
 *   otherwise (the library then reports the failure on stderr; the new VCL
 *   stays in force). It runs on the service's management thread. A null
 *   callback unregisters. Returns 0, or -1 for a null handle.
 * ------------------------------------------------------------------------ */

typedef int (*VpossSaveVclidCallback)(void* user, VpossService* handle, const char* newVcl);
typedef int (*VorisSaveVclidCallback)(void* user, VorisService* handle, const char* newVcl);
typedef int (*VdotsSaveVclidCallback)(void* user, VdotsService* handle, const char* newVcl);

VICTORY_EXPORT int vpossInitSaveVclidCallback(VpossService* handle, VpossSaveVclidCallback callback, void* user);
VICTORY_EXPORT int vorisInitSaveVclidCallback(VorisService* handle, VorisSaveVclidCallback callback, void* user);
VICTORY_EXPORT int vdotsInitSaveVclidCallback(VdotsService* handle, VdotsSaveVclidCallback callback, void* user);

/* ---- Tells --------------------------------------------------------------
 *
 * Each tell replaces the service's latest values; the next data message
 * carries them. A null record stores the placeholder {0, +infinity,
 * VPOSC_BASIS_INVALID}; a null time means "no sample time".
 * ------------------------------------------------------------------------ */

/* Position: latitude and longitude in radians, altitude in metres above the
 * geoid; uncertainties in the same units. Clears any MGRS told before. */
VICTORY_EXPORT void vpossTellPos(VpossService* handle, const VictoryValue* latitude, const VictoryValue* longitude,
                                 const VictoryValue* altitude, const VictoryTime* time);

/* As vpossTellPos, with the MGRS grid reference of the position (null or
 * empty: none; at most 63 characters are kept). */
VICTORY_EXPORT void vpossTellPosWithMgrs(VpossService* handle, const VictoryValue* latitude,
                                         const VictoryValue* longitude, const VictoryValue* altitude, const char* mgrs,
                                         const VictoryTime* time);

/* Orientation: roll, pitch and yaw in radians. */
VICTORY_EXPORT void vorisTellOrient(VorisService* handle, const VictoryValue* roll, const VictoryValue* pitch,
                                    const VictoryValue* yaw, const VictoryTime* time);

/* Direction of travel: heading in radians (0 north, positive east), speed
 * and climb (positive upwards) in metres per second. */
VICTORY_EXPORT void vdotsTellDot(VdotsService* handle, const VictoryValue* heading, const VictoryValue* speed,
                                 const VictoryValue* climb, const VictoryTime* time);

/* ---- Faults -------------------------------------------------------------
 *
 * xxxAddFault(handle, description, acknowledged, severity, category, action)
 *   Raises a fault on the service; it is listed in every data message until
 *   removed. description: text (null: empty; at most 255 characters kept);
 *   acknowledged: non-zero when the fault is raised as already acknowledged.
 *   Returns the fault's id: 1 for the first fault of the service, counting
 *   up; 0 for a null handle.
 *
 * xxxRemoveFault(handle, id): clears the fault; unknown ids are ignored.
 * ------------------------------------------------------------------------ */

VICTORY_EXPORT int vpossAddFault(VpossService* handle, const char* description, int acknowledged,
                                 VhlthcSeverity severity, VhlthcCategory category, VhlthcAction action);
VICTORY_EXPORT int vorisAddFault(VorisService* handle, const char* description, int acknowledged,
                                 VhlthcSeverity severity, VhlthcCategory category, VhlthcAction action);
VICTORY_EXPORT int vdotsAddFault(VdotsService* handle, const char* description, int acknowledged,
                                 VhlthcSeverity severity, VhlthcCategory category, VhlthcAction action);
VICTORY_EXPORT int vgpssAddFault(VgpssService* handle, const char* description, int acknowledged,
                                 VhlthcSeverity severity, VhlthcCategory category, VhlthcAction action);
VICTORY_EXPORT int vgensAddFault(VgensService* handle, const char* description, int acknowledged,
                                 VhlthcSeverity severity, VhlthcCategory category, VhlthcAction action);
VICTORY_EXPORT int vapntsAddFault(VapntsService* handle, const char* description, int acknowledged,
                                  VhlthcSeverity severity, VhlthcCategory category, VhlthcAction action);

VICTORY_EXPORT void vpossRemoveFault(VpossService* handle, int id);
VICTORY_EXPORT void vorisRemoveFault(VorisService* handle, int id);
VICTORY_EXPORT void vdotsRemoveFault(VdotsService* handle, int id);
VICTORY_EXPORT void vgpssRemoveFault(VgpssService* handle, int id);
VICTORY_EXPORT void vgensRemoveFault(VgensService* handle, int id);
VICTORY_EXPORT void vapntsRemoveFault(VapntsService* handle, int id);

/* ---- File helpers -------------------------------------------------------
 *
 * vutilReadStringFromFile(path, maxLength, buffer)
 *   Reads the whole file into buffer as a NUL-terminated string. maxLength
 *   is the size of buffer in bytes, the terminating NUL included, so the
 *   file may hold at most maxLength - 1 bytes. On failure buffer holds an
 *   empty string (when maxLength > 0). Returns VUTIL_OK (0) or one of the
 *   VUTIL_ERR_* codes.
 *
 * vutilWriteStringToFile(text, path)
 *   Replaces the file's contents with text (without its NUL), atomically: a
 *   temporary file in the same folder is written, synced and renamed over
 *   path, then the folder is synced, so a failure or a crash leaves the old
 *   contents. Returns VUTIL_OK (0) or a
 *   VUTIL_ERR_* code.
 * ------------------------------------------------------------------------ */

enum {
    VUTIL_OK = 0,
    VUTIL_ERR_ARGUMENT = 1, /* null pointer or zero maxLength */
    VUTIL_ERR_OPEN = 2,     /* file cannot be opened / created */
    VUTIL_ERR_IO = 3,       /* read, write, sync or rename failed */
    VUTIL_ERR_TOO_LONG = 4, /* file longer than maxLength - 1 bytes */
    VUTIL_ERR_BINARY = 5    /* file contains a NUL byte */
};

VICTORY_EXPORT int vutilReadStringFromFile(const char* path, size_t maxLength, char* buffer);
VICTORY_EXPORT int vutilWriteStringToFile(const char* text, const char* path);

#ifdef __cplusplus
}
#endif

#endif /* PLATFORM_VICTORY_VICTORY_H */
