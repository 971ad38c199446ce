#include "VICTORY/ZOziDaZodOduzuz/VictoryFaultHelper.h"

#include "VICTORY/ZOziDaZodOduzuz/kbhit.h"

#include <cstdio>
#include <iostream>

const char* const FaultModeString[7] = {
    "none.", "Position", "Orientation", "Direction of Travel", "GPS Receiver", "Generic End Node", "APNT",
};

namespace {

constexpr const char* kFaultDescription = "Fake Fault for Compliance Testing";

// Mode number and display name of each handle type.
template <class T>
struct ServiceTraits;
template <>
struct ServiceTraits<VpossService> {
    static constexpr int mode = 1;
    static constexpr const char* display = "Position ";
};
template <>
struct ServiceTraits<VorisService> {
    static constexpr int mode = 2;
    static constexpr const char* display = "Orientation ";
};
template <>
struct ServiceTraits<VdotsService> {
    static constexpr int mode = 3;
    static constexpr const char* display = "Direction of Travel ";
};
template <>
struct ServiceTraits<VgpssService> {
    static constexpr int mode = 4;
    static constexpr const char* display = "GPS Receiver ";
};
template <>
struct ServiceTraits<VgensService> {
    static constexpr int mode = 5;
    static constexpr const char* display = "Generic End Node ";
};
template <>
struct ServiceTraits<VapntsService> {
    static constexpr int mode = 6;
    static constexpr const char* display = "APNT";
};

bool validKey(int key) { return key >= 0 && key < VictoryFaultHelper::kKeyCount; }

}  // namespace

VictoryFaultHelper::VictoryFaultHelper(const std::string& nameIn) : name(nameIn) {}

VictoryFaultHelper::~VictoryFaultHelper() = default;

template <class T>
void VictoryFaultHelper::SetAvailableService(T* handle) {
    if (handle == nullptr) {
        return;
    }
    slot(handle) = handle;
    faultMode = ServiceTraits<T>::mode;
    availableServices += ServiceTraits<T>::display;
}

template <class T>
void VictoryFaultHelper::ReplaceService(T* handle) {
    slot(handle) = handle;
}

template void VictoryFaultHelper::SetAvailableService<VpossService>(VpossService*);
template void VictoryFaultHelper::SetAvailableService<VorisService>(VorisService*);
template void VictoryFaultHelper::SetAvailableService<VdotsService>(VdotsService*);
template void VictoryFaultHelper::SetAvailableService<VgpssService>(VgpssService*);
template void VictoryFaultHelper::SetAvailableService<VgensService>(VgensService*);
template void VictoryFaultHelper::SetAvailableService<VapntsService>(VapntsService*);
template void VictoryFaultHelper::ReplaceService<VpossService>(VpossService*);
template void VictoryFaultHelper::ReplaceService<VorisService>(VorisService*);
template void VictoryFaultHelper::ReplaceService<VdotsService>(VdotsService*);
template void VictoryFaultHelper::ReplaceService<VgpssService>(VgpssService*);
template void VictoryFaultHelper::ReplaceService<VgensService>(VgensService*);
template void VictoryFaultHelper::ReplaceService<VapntsService>(VapntsService*);

VhlthcSeverity VictoryFaultHelper::severityForKey(int key) {
    switch (key) {
        case 1:
        case 6:
            return VHLTHC_SEVERITY_EMERGENCY;
        case 2:
        case 7:
            return VHLTHC_SEVERITY_ALERT;
        case 3:
        case 8:
            return VHLTHC_SEVERITY_CRITICAL;
        case 4:
        case 9:
            return VHLTHC_SEVERITY_ERROR;
        case 5:
        case 0:
            return VHLTHC_SEVERITY_WARNING;
        default:
            return VHLTHC_SEVERITY_OTHER;
    }
}

const char* VictoryFaultHelper::severityWord(int key) {
    switch (severityForKey(key)) {
        case VHLTHC_SEVERITY_EMERGENCY:
            return "Emergency";
        case VHLTHC_SEVERITY_ALERT:
            return "Alert";
        case VHLTHC_SEVERITY_CRITICAL:
            return "Critical";
        case VHLTHC_SEVERITY_ERROR:
            return "Error";
        case VHLTHC_SEVERITY_WARNING:
            return "Warning";
        default:
            return "";
    }
}

int VictoryFaultHelper::faultId(int mode, int key) const {
    if (mode < 0 || mode >= kModeCount || !validKey(key)) {
        return 0;
    }
    return faultIds[mode][key];
}

bool VictoryFaultHelper::isRegistered(int mode) const {
    switch (mode) {
        case 1:
            return vpossService != nullptr;
        case 2:
            return vorisService != nullptr;
        case 3:
            return vdotsService != nullptr;
        case 4:
            return vgpssService != nullptr;
        case 5:
            return vgensService != nullptr;
        case 6:
            return vapntsService != nullptr;
        default:
            return false;
    }
}

void VictoryFaultHelper::displayHelpText() {
    std::cout << std::endl
              << name << " VictoryFaultHelper available keys:" << std::endl
              << "    1 = Send / Remove Acknowledged Emergency" << std::endl
              << "    2 = Send / Remove Acknowledged Alert" << std::endl
              << "    3 = Send / Remove Acknowledged Critical" << std::endl
              << "    4 = Send / Remove Acknowledged Error" << std::endl
              << "    5 = Send / Remove Acknowledged Warning" << std::endl
              << "    6 = Send / Remove Nonacknowledged Emergency" << std::endl
              << "    7 = Send / Remove Nonacknowledged Alert" << std::endl
              << "    8 = Send / Remove Nonacknowledged Critical" << std::endl
              << "    9 = Send / Remove Nonacknowledged Error" << std::endl
              << "    0 = Send / Remove Nonacknowledged Warning" << std::endl
              << "    p = Select Position fault mode" << std::endl
              << "    o = Select Orientation fault mode" << std::endl
              << "    d = Select Direction of Travel fault mode" << std::endl
              << "    g = Select GPS Receiver fault mode" << std::endl
              << "    e = Select Generic End Node fault mode" << std::endl
              << "    a = Select APNT fault mode" << std::endl
              << "    z = Disable VICTORY service \"Tell\" output" << std::endl
              << std::endl;
}

void VictoryFaultHelper::activateFault(int key, bool acknowledged) {
    if (!validKey(key)) {
        return;
    }
    std::cout << '\b' << name << "Added " << (acknowledged ? "" : "non-") << "acknowledged " << severityWord(key);

    int* entry = &faultIds[faultMode][key];
    *entry = faultMode == 0 ? 0 : raiseFault(faultMode, kFaultDescription, acknowledged, severityForKey(key));
    std::cout << " " << FaultModeString[faultMode] << " Fault: " << *entry << '\n';
}

void VictoryFaultHelper::deactivateFault(int key) {
    if (!validKey(key)) {
        return;
    }
    int& entry = faultIds[faultMode][key];
    clearFault(faultMode, entry);
    std::cout << '\b' << name << " Removed " << FaultModeString[faultMode] << " fault: " << entry << '\n';
    entry = 0;
}

int VictoryFaultHelper::raiseFault(int mode, const char* description, bool acknowledged, VhlthcSeverity severity,
                                   VhlthcCategory category) {
    if (!isRegistered(mode)) {
        return 0;
    }
    const int ack = acknowledged ? 1 : 0;
    const VhlthcAction action = VHLTHC_ACTION_REPORT;
    switch (mode) {
        case 1:
            return vpossAddFault(vpossService, description, ack, severity, category, action);
        case 2:
            return vorisAddFault(vorisService, description, ack, severity, category, action);
        case 3:
            return vdotsAddFault(vdotsService, description, ack, severity, category, action);
        case 4:
            return vgpssAddFault(vgpssService, description, ack, severity, category, action);
        case 5:
            return vgensAddFault(vgensService, description, ack, severity, category, action);
        case 6:
            return vapntsAddFault(vapntsService, description, ack, severity, category, action);
        default:
            return 0;
    }
}

void VictoryFaultHelper::clearFault(int mode, int id) {
    if (id == 0 || !isRegistered(mode)) {
        return;
    }
    switch (mode) {
        case 1:
            vpossRemoveFault(vpossService, id);
            break;
        case 2:
            vorisRemoveFault(vorisService, id);
            break;
        case 3:
            vdotsRemoveFault(vdotsService, id);
            break;
        case 4:
            vgpssRemoveFault(vgpssService, id);
            break;
        case 5:
            vgensRemoveFault(vgensService, id);
            break;
        case 6:
            vapntsRemoveFault(vapntsService, id);
            break;
        default:
            break;
    }
}

void VictoryFaultHelper::selectMode(int mode, bool registered, const char* confirmation, const char* refusal) {
    std::cout << std::endl << name;
    if (registered) {
        faultMode = mode;
        std::cout << confirmation;
    } else {
        std::cout << refusal << FaultModeString[faultMode];
    }
    std::cout << std::endl << std::flush;
}

void VictoryFaultHelper::ManageFaults(bool& tellDisabled) {
    if (_kbhit() == 0) {
        return;
    }
    const int c = std::getchar();
    if (c == EOF) {
        std::clearerr(stdin);
        return;
    }
    if (c >= '0' && c <= '9') {
        const int key = c - '0';
        if (faultIds[faultMode][key] == 0) {
            activateFault(key, key >= 1 && key <= 5);
        } else {
            deactivateFault(key);
        }
        return;
    }
    switch (c) {
        case 'p':
            selectMode(1, isRegistered(1), " VictoryFaultHelper : Changed to Position fault test mode",
                       " VictoryFaultHelper : CANNOT change fault test mode to Position Service! Mode remains: ");
            break;
        case 'o':
            selectMode(2, isRegistered(2), " VictoryFaultHelper : Changed to Orientation fault test mode",
                       " VictoryFaultHelper : CANNOT change fault test mode to Orientation Service! Mode remains: ");
            break;
        case 'd':
            selectMode(3, isRegistered(3), " VictoryFaultHelper : Changed to Direction of Travel fault test mode",
                       " VictoryFaultHelper : CANNOT change fault test mode to Direction of Travel Service! Mode "
                       "remains: ");
            break;
        case 'g':
            selectMode(4, isRegistered(4), " VictoryFaultHelper : GPS Receiver fault test mode",
                       " VictoryFaultHelper : CANNOT change fault test mode to GPS Receiver Service! Mode remains: ");
            break;
        case 'e':
            selectMode(5, isRegistered(5), " VictoryFaultHelper : Generic End Node fault test mode",
                       " VictoryFaultHelper : CANNOT change fault test mode to Generic End Node Service! Mode "
                       "remains: ");
            break;
        case 'a':
            selectMode(6, isRegistered(6), " VictoryFaultHelper : APNT fault test mode",
                       " VictoryFaultHelper : CANNOT change fault test mode to APNT Service! Mode remains: ");
            break;
        case 'z':
            tellDisabled = !tellDisabled;
            std::cout << '\b' << name << (tellDisabled ? "Tell disabled for " : "Tell enabled for ")
                      << availableServices << std::endl
                      << std::flush;
            break;
        case 'h':
        case '\n':
        case ' ':
            displayHelpText();
            break;
        default:
            break;
    }
}
