#ifndef VICTORY_ZOZIDAZODODUZUZ_VICTORYFAULTHELPER_H
#define VICTORY_ZOZIDAZODODUZUZ_VICTORYFAULTHELPER_H

// Keyboard-driven fault test mode of the VICTORY services: an operator at
// the console raises and clears artificial faults on a chosen service and
// switches the services' data output off and on, one key press at a time.
//
// Keys (read from standard input, one per ManageFaults call):
//   1..5   raise / clear an acknowledged fault (Emergency, Alert, Critical,
//          Error, Warning)
//   6..9,0 the same, not acknowledged
//   p o d g e a   select the Position, Orientation, Direction of Travel, GPS
//          Receiver, Generic End Node or APNT service (refused when that
//          service is not registered)
//   z      switch the VICTORY data output ("tell") off / on
//   h, space, newline   help text
// Every other character is ignored. Faults are tracked per service: each
// digit toggles its fault on the service selected at the time.
//
// All output goes to standard output (std::cout), each line starting with
// the server name given at construction. Not thread-safe: its callers
// serialise (the server holds its data lock around every call after
// registration: the worker's key handling and its navigation-loss faults,
// and the service restarts of a data-rate change).

#include "platform/victory/victory.h"

#include <string>

// Display names of the fault modes, indexed by mode: 0 "none.",
// 1 "Position", 2 "Orientation", 3 "Direction of Travel", 4 "GPS Receiver",
// 5 "Generic End Node", 6 "APNT".
extern const char* const FaultModeString[7];

class VictoryFaultHelper {
public:
    static constexpr int kModeCount = 7;  // modes 0 (none) to 6
    static constexpr int kKeyCount = 10;  // key indices 0 to 9

    /// Mode 0, no fault active, no service registered; `name` starts every
    /// console line.
    explicit VictoryFaultHelper(const std::string& name);
    virtual ~VictoryFaultHelper();

    VictoryFaultHelper(const VictoryFaultHelper&) = delete;
    VictoryFaultHelper& operator=(const VictoryFaultHelper&) = delete;

    /// Registers a running service. T is one of VpossService, VorisService,
    /// VdotsService, VgpssService, VgensService, VapntsService (modes 1 to
    /// 6). A null handle changes nothing. Otherwise stores the handle, makes
    /// its mode the current one and appends its display name ("Position ",
    /// "Orientation ", "Direction of Travel ", "GPS Receiver ",
    /// "Generic End Node ", "APNT") to the available services. Register each
    /// service once.
    template <class T>
    void SetAvailableService(T* handle);

    /// Keeps a registration current when its service is deleted and created
    /// again (e.g. to change its data rate): replaces the stored handle of
    /// type T by `handle` (null when the service is gone) without changing
    /// the mode, the active fault table or the available services. Fault
    /// ids recorded for the old service stay in the table; the next press
    /// of such a key removes that id from the new service (the library
    /// ignores unknown ids) and clears the entry. While the stored handle is
    /// null, the mode key of the service is refused and fault keys in its
    /// mode raise nothing (the library answers id 0 for a null handle).
    /// Call it on the thread that drives the fault test, or while that
    /// thread is stopped.
    template <class T>
    void ReplaceService(T* handle);

    /// Prints the key list.
    void displayHelpText();

    /// Raises the fault of key index `key` (0..9; others are ignored) on the
    /// service of the current mode with the key's severity, as acknowledged
    /// or not, records the library's fault id and prints an "Added" line.
    /// Mode 0 raises nothing and records nothing (the line shows id 0).
    void activateFault(int key, bool acknowledged);

    /// Clears the recorded fault of key index `key` (0..9; others are
    /// ignored) on the service of the current mode, prints a "Removed" line
    /// and forgets the id.
    void deactivateFault(int key);

    /// Raises a fault with `description`, `severity` and `category`, and
    /// the action (report) of the fault test keys, on the registered
    /// service of `mode` (1..6), printing nothing. Returns the library's id;
    /// 0 when no service of that mode is registered or `mode` is out of
    /// range. The fault test keys raise category 22 (test); the server's
    /// own conditions on the services use another category.
    int raiseFault(int mode, const char* description, bool acknowledged, VhlthcSeverity severity,
                   VhlthcCategory category = VHLTHC_CATEGORY_TEST);

    /// Clears fault `id` on the registered service of `mode` (1..6),
    /// printing nothing; nothing for id 0, an unregistered service or a mode
    /// out of range.
    void clearFault(int mode, int id);

    /// Handles at most one waiting key press; returns at once when none is
    /// waiting (never blocks). 'z' inverts `tellDisabled`.
    void ManageFaults(bool& tellDisabled);

    /// Current mode, 0..6.
    int mode() const { return faultMode; }
    /// The recorded fault id of `key` in `mode`; 0 when none is active or
    /// either index is out of range.
    int faultId(int mode, int key) const;
    /// Display names of the registered services, in registration order.
    const std::string& services() const { return availableServices; }

    /// Severity of key index `key`: 37 for 1 and 6, 36 for 2 and 7, 35 for 3
    /// and 8, 34 for 4 and 9, 33 for 5 and 0, 32 for any other value.
    static VhlthcSeverity severityForKey(int key);
    /// Word for severityForKey(key): "Emergency", "Alert", "Critical",
    /// "Error", "Warning", or "" for 32.
    static const char* severityWord(int key);

private:
    // Selects `mode` when its handle is registered; prints the confirmation
    // or the refusal.
    void selectMode(int mode, bool registered, const char* confirmation, const char* refusal);
    // Whether the handle of `mode` (1..6) is set.
    bool isRegistered(int mode) const;
    // The handle field of a handle type.
    VpossService*& slot(VpossService*) { return vpossService; }
    VorisService*& slot(VorisService*) { return vorisService; }
    VdotsService*& slot(VdotsService*) { return vdotsService; }
    VgpssService*& slot(VgpssService*) { return vgpssService; }
    VgensService*& slot(VgensService*) { return vgensService; }
    VapntsService*& slot(VapntsService*) { return vapntsService; }

    int faultMode = 0;
    int faultIds[kModeCount][kKeyCount] = {};
    std::string name;
    std::string availableServices;
    VpossService* vpossService = nullptr;
    VorisService* vorisService = nullptr;
    VdotsService* vdotsService = nullptr;
    VgpssService* vgpssService = nullptr;
    VgensService* vgensService = nullptr;
    VapntsService* vapntsService = nullptr;
};

#endif  // VICTORY_ZOZIDAZODODUZUZ_VICTORYFAULTHELPER_H
