/*
 * Inspection calls of the stand-in VICTORY services library, for tests and
 * diagnostics. They are not part of the library interface that programs
 * rely on (the vehicle's library does not offer them); only tests include
 * this header. Usable from C and C++.
 */
#ifndef PLATFORM_VICTORY_VICTORY_TEST_H
#define PLATFORM_VICTORY_VICTORY_TEST_H

#include "platform/victory/victory.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What a service holds at the moment of the call. */
typedef struct VictoryTestState {
    int valueCount;                /* 3 for position, orientation, direction of
                                   travel; 0 for the fault-only families */
    VictoryValue values[3];        /* latest told records, in tell order */
    int hasTime;                   /* 1 when the latest tell carried a time */
    VictoryTime time;              /* zero when hasTime is 0 */
    int hasMgrs;                   /* 1 when the latest tell carried an MGRS */
    char mgrs[64];                 /* NUL-terminated; empty when hasMgrs is 0 */
    uint32_t updatePeriodMs;       /* update period of the VCL in force */
    double effectivePeriodSeconds; /* interval between data messages:
                                    max(updatePeriodMs, minimum period) */
    int started;                   /* 1 after a successful StartService */
    uint64_t messagesSent;         /* data messages sent so far */
    uint64_t tellCount;            /* tells received so far */
    int faultCount;                /* active faults */
    int managementPort;            /* 0 when none */
} VictoryTestState;

/* One active fault. */
typedef struct VictoryTestFault {
    int id;
    int acknowledged; /* 0 or 1 */
    int severity;     /* VhlthcSeverity value as passed */
    int category;     /* VhlthcCategory value as passed */
    int action;       /* VhlthcAction value as passed */
    char description[256];
} VictoryTestFault;

/* xxxTestGetState(handle, state): fills *state. Returns 0, or -1 when a
 * pointer is null. */
VICTORY_EXPORT int vpossTestGetState(const VpossService* handle, VictoryTestState* state);
VICTORY_EXPORT int vorisTestGetState(const VorisService* handle, VictoryTestState* state);
VICTORY_EXPORT int vdotsTestGetState(const VdotsService* handle, VictoryTestState* state);
VICTORY_EXPORT int vgpssTestGetState(const VgpssService* handle, VictoryTestState* state);
VICTORY_EXPORT int vgensTestGetState(const VgensService* handle, VictoryTestState* state);
VICTORY_EXPORT int vapntsTestGetState(const VapntsService* handle, VictoryTestState* state);

/* xxxTestGetFaults(handle, faults, capacity): copies up to `capacity`
 * active faults, in increasing id order, into faults[] (which may be null
 * when capacity is 0). Returns the number of active faults (which may
 * exceed capacity), or -1 for a null handle or negative capacity. */
VICTORY_EXPORT int vpossTestGetFaults(const VpossService* handle, VictoryTestFault* faults, int capacity);
VICTORY_EXPORT int vorisTestGetFaults(const VorisService* handle, VictoryTestFault* faults, int capacity);
VICTORY_EXPORT int vdotsTestGetFaults(const VdotsService* handle, VictoryTestFault* faults, int capacity);
VICTORY_EXPORT int vgpssTestGetFaults(const VgpssService* handle, VictoryTestFault* faults, int capacity);
VICTORY_EXPORT int vgensTestGetFaults(const VgensService* handle, VictoryTestFault* faults, int capacity);
VICTORY_EXPORT int vapntsTestGetFaults(const VapntsService* handle, VictoryTestFault* faults, int capacity);

/* xxxTestGetVcl(handle, buffer, size): copies the VCL text in force into
 * buffer (NUL-terminated, cut to size - 1 bytes). Returns the full length
 * of the text, or -1 for a null pointer or zero size. */
VICTORY_EXPORT int vpossTestGetVcl(const VpossService* handle, char* buffer, size_t size);
VICTORY_EXPORT int vorisTestGetVcl(const VorisService* handle, char* buffer, size_t size);
VICTORY_EXPORT int vdotsTestGetVcl(const VdotsService* handle, char* buffer, size_t size);

#ifdef __cplusplus
}
#endif

#endif /* PLATFORM_VICTORY_VICTORY_TEST_H */
