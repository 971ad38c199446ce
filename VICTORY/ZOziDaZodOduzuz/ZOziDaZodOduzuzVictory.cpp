// Creation, start and deletion of the three VICTORY services, and the
// persistence of their VCL texts.

#include "VICTORY/ZOziDaZodOduzuz/ZOziDaZodOduzuz.h"

#include "ASPN/HealthReporter.h"
#include "VICTORY/ZOziDaZodOduzuz/ConfigCheck.h"
#include "VICTORY/ZOziDaZodOduzuz/CorvanePaths.h"
#include "VICTORY/ZOziDaZodOduzuz/SourcePosition.h"

#include <iostream>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Size of the buffers the configuration and VCL texts are read into, the
// terminating NUL included.
constexpr std::size_t kTextBufferSize = 65536;

// Shortest interval between two data messages of the orientation and
// direction of travel services, seconds.
constexpr double minDeviceUpdatePeriod = 1.0;

// Value told before the first navigation solution arrives.
constexpr VictoryValue kPlaceholder = {0.0, std::numeric_limits<double>::infinity(), VPOSC_BASIS_INVALID};

// Integers that identify each service to the library.
constexpr int kSystemId = 1;
constexpr int kUnitId = 1;
constexpr int kInstanceId = 1;

// The texts of one service, read from its files.
struct ServiceTexts {
    std::vector<char> configString = std::vector<char>(kTextBufferSize, '\0');
    std::vector<char> vclidString = std::vector<char>(kTextBufferSize, '\0');
    const char* vcl = nullptr;  // vclidString, or the caller's text

    // Reads the configuration file and, when `vclText` is null, the VCL
    // file. False when a read fails.
    bool read(const char* configFile, const char* vclFile, const char* vclText) {
        if (vutilReadStringFromFile(corvanePath(configFile), kTextBufferSize, configString.data()) != VUTIL_OK) {
            return false;
        }
        if (vclText != nullptr) {
            vcl = vclText;
            return true;
        }
        if (vutilReadStringFromFile(corvanePath(vclFile), kTextBufferSize, vclidString.data()) != VUTIL_OK) {
            return false;
        }
        vcl = vclidString.data();
        return true;
    }
};

// The SaveVclid user data: the path of the service's VCL file, valid for the
// life of the process.
void* vclFileUserData(const char* vclFile) { return const_cast<char*>(corvanePath(vclFile)); }

int saveVcl(void* user, const char* newVcl) {
    if (user == nullptr || newVcl == nullptr) {
        return 1;
    }
    return vutilWriteStringToFile(newVcl, static_cast<const char*>(user)) == VUTIL_OK ? 0 : 1;
}

}  // namespace

bool ZOziDaZodOduzuz::startVictoryServices(const std::string& prefix) {
    {
        // The texts go to the library as they are; these lines only say in
        // advance what is odd about them.
        ServerConfigCheck::Diagnostics diagnostics;
        ServerConfigCheck::checkVictoryFiles(m_processPosition, m_processOrientation, m_processDirectionOfTravel,
                                             diagnostics);
        diagnostics.print(std::cout, prefix);
    }
    bool servicesUp = true;
    if (m_processPosition) {
        servicesUp = InitializeVictoryPosition(nullptr) && servicesUp;
    }
    if (m_processOrientation) {
        servicesUp = InitializeVictoryOrientation(nullptr) && servicesUp;
    }
    if (m_processDirectionOfTravel) {
        servicesUp = InitializeVictoryDirectionOfTravel(nullptr) && servicesUp;
    }
    m_faultHelper.SetAvailableService(m_positionService);
    m_faultHelper.SetAvailableService(m_orientationService);
    m_faultHelper.SetAvailableService(m_dotService);
    return servicesUp;
}

void ZOziDaZodOduzuz::stopVictoryServices() {
    if (m_processPosition) {
        ShutdownVictoryPosition();
    }
    if (m_processOrientation) {
        ShutdownVictoryOrientation();
    }
    if (m_processDirectionOfTravel) {
        ShutdownVictoryDirectionOfTravel();
    }
    // A sanitize command starts every service, switched on or not; those
    // the configuration switched off go here too rather than stay behind.
    ShutdownVictoryPosition();
    ShutdownVictoryOrientation();
    ShutdownVictoryDirectionOfTravel();
    {
        // The faults went with their services.
        std::lock_guard<std::mutex> lock(m_dataMutex);
        for (int& id : m_navLossFaultIds) {
            id = 0;
        }
    }
}

bool ZOziDaZodOduzuz::InitializeVictoryPosition(const char* vclText) {
    if (m_positionInitialized) {
        return false;
    }
    ServiceTexts texts;
    if (!texts.read(positionConfigFileName, positionVclFileName, vclText)) {
        const std::string text = m_name + ": Error reading VICTORY position configuration files.";
        SEND_HEALTH_EVENT(HealthReporter::eFault, text);
        std::cout << SOURCE_POSITION() << " "
                  << "InitializeVictoryPosition" << text << std::endl;
        return false;
    }
    m_positionService =
        vpossNewService(kSystemId, kUnitId, kInstanceId, texts.configString.data(), m_positionUpdatePeriod, texts.vcl);
    if (m_positionService == nullptr) {
        return false;
    }
    vpossInitSaveVclidCallback(m_positionService, &ZOziDaZodOduzuz::PositionSaveVclidCallback,
                               vclFileUserData(positionVclFileName));
    vpossTellPos(m_positionService, &kPlaceholder, &kPlaceholder, &kPlaceholder, nullptr);
    vpossStartService(m_positionService);
    m_positionInitialized = true;
    m_faultHelper.ReplaceService(m_positionService);

    const std::string started = m_name + ": VPosServer shared service started";
    SEND_HEALTH_EVENT(HealthReporter::eStatus, started);
    if (m_debug) {
        std::cout << started << std::endl;
    }
    return true;
}

bool ZOziDaZodOduzuz::InitializeVictoryOrientation(const char* vclText) {
    if (m_orientationInitialized) {
        std::cout << m_name << ": " << SOURCE_POSITION() << " "
                  << ", "
                  << "InitializeVictoryOrientation"
                  << " : Already initialized error" << std::endl;
        return false;
    }
    ServiceTexts texts;
    if (!texts.read(orientationConfigFileName, orientationVclFileName, vclText)) {
        const std::string text = m_name + ": Error reading VICTORY orientation configuration files.";
        SEND_HEALTH_EVENT(HealthReporter::eFault, text);
        std::cout << SOURCE_POSITION() << " "
                  << "InitializeVictoryOrientation" << text << std::endl;
        return false;
    }
    m_orientationService =
        vorisNewService(kSystemId, kUnitId, kInstanceId, texts.configString.data(), minDeviceUpdatePeriod, texts.vcl);
    if (m_orientationService == nullptr) {
        return false;
    }
    vorisInitSaveVclidCallback(m_orientationService, &ZOziDaZodOduzuz::OrientationSaveVclidCallback,
                               vclFileUserData(orientationVclFileName));
    vorisTellOrient(m_orientationService, &kPlaceholder, &kPlaceholder, &kPlaceholder, nullptr);
    vorisStartService(m_orientationService);
    m_orientationInitialized = true;
    m_faultHelper.ReplaceService(m_orientationService);

    const std::string started = m_name + ": VorisService shared service started";
    SEND_HEALTH_EVENT(HealthReporter::eStatus, started);
    if (m_debug) {
        std::cout << started << std::endl;
    }
    return true;
}

bool ZOziDaZodOduzuz::InitializeVictoryDirectionOfTravel(const char* vclText) {
    if (m_dotInitialized) {
        return false;
    }
    ServiceTexts texts;
    if (!texts.read(DOTconfigFileName, DOTvclFileName, vclText)) {
        const std::string text = m_name + " Error reading VICTORY direction of travel configuration files.";
        SEND_HEALTH_EVENT(HealthReporter::eFault, text);
        std::cout << SOURCE_POSITION() << ", "
                  << "InitializeVictoryDirectionOfTravel"
                  << " : " << text << std::endl;
        return false;
    }
    m_dotService =
        vdotsNewService(kSystemId, kUnitId, kInstanceId, texts.configString.data(), minDeviceUpdatePeriod, texts.vcl);
    if (m_dotService == nullptr) {
        return false;
    }
    vdotsInitSaveVclidCallback(m_dotService, &ZOziDaZodOduzuz::DOTSaveVclidCallback, vclFileUserData(DOTvclFileName));
    vdotsTellDot(m_dotService, &kPlaceholder, &kPlaceholder, &kPlaceholder, nullptr);
    vdotsStartService(m_dotService);
    m_dotInitialized = true;
    m_faultHelper.ReplaceService(m_dotService);

    const std::string started = m_name + ": VdotsService shared service started";
    SEND_HEALTH_EVENT(HealthReporter::eStatus, started);
    if (m_debug) {
        std::cout << started << std::endl;
    }
    return true;
}

bool ZOziDaZodOduzuz::ShutdownVictoryPosition() {
    if (!m_positionInitialized) {
        return false;
    }
    vpossDeleteService(m_positionService);
    m_positionInitialized = false;
    m_positionService = nullptr;
    m_faultHelper.ReplaceService<VpossService>(nullptr);

    const std::string exited = m_name + ": VPosServer shared service exited";
    SEND_HEALTH_EVENT(HealthReporter::eStatus, exited);
    if (m_debug) {
        std::cout << exited << std::endl;
    }
    return true;
}

bool ZOziDaZodOduzuz::ShutdownVictoryOrientation() {
    if (!m_orientationInitialized) {
        return false;
    }
    vorisDeleteService(m_orientationService);
    m_orientationInitialized = false;
    m_orientationService = nullptr;
    m_faultHelper.ReplaceService<VorisService>(nullptr);

    const std::string exited = m_name + " : VorisService shared service exited";
    SEND_HEALTH_EVENT(HealthReporter::eStatus, exited);
    if (m_debug) {
        std::cout << exited << std::endl;
    }
    return true;
}

bool ZOziDaZodOduzuz::ShutdownVictoryDirectionOfTravel() {
    if (!m_dotInitialized) {
        return false;
    }
    vdotsDeleteService(m_dotService);
    m_dotInitialized = false;
    m_dotService = nullptr;
    m_faultHelper.ReplaceService<VdotsService>(nullptr);

    const std::string exited = m_name + ": VdotsService shared service exited";
    SEND_HEALTH_EVENT(HealthReporter::eStatus, exited);
    if (m_debug) {
        std::cout << exited << std::endl;
    }
    return true;
}

int ZOziDaZodOduzuz::PositionSaveVclidCallback(void* user, VpossService* /*handle*/, const char* newVcl) {
    return saveVcl(user, newVcl);
}

int ZOziDaZodOduzuz::OrientationSaveVclidCallback(void* user, VorisService* /*handle*/, const char* newVcl) {
    return saveVcl(user, newVcl);
}

int ZOziDaZodOduzuz::DOTSaveVclidCallback(void* user, VdotsService* /*handle*/, const char* newVcl) {
    return saveVcl(user, newVcl);
}
