#include "DriverInterface.h"

#include "Log.h"

namespace telvane {

namespace {

// Logs the failure line of a library call; true on success.
bool Succeeded(SERVICE_CODE code, const char* failureFormat) {
    if (code != SERVICE_SUCCESS) {
        Log(LOG_ERROR, failureFormat, static_cast<unsigned>(code));
        return false;
    }
    return true;
}

} // namespace

CDriverInterface::CDriverInterface() {
    LogQuick(LOG_INFO, "CDriverInterface Constructed");
}

CDriverInterface::~CDriverInterface() {
    LogQuick(LOG_INFO, "CDriverInterface Destroyed");
}

bool CDriverInterface::Initialise() {
    if (m_bInit) {
        LogQuick(LOG_INFO, "CDriverInterface::Initialise - Already initialised");
        return true;
    }
    if (!Succeeded(ServiceApi::InitialiseServiceDriver(),
                   "CDriverInterface::Initialise - ServiceApi::InitialiseServiceDriver failed, "
                   "sscode=0x%x")) {
        return false;
    }
    m_bInit = true;
    LogQuick(LOG_INFO, "CDriverInterface::Initialise - Initialised Ok");
    return true;
}

bool CDriverInterface::GetSensorHandles(CSensorHandleList& handles) {
    if (!m_bInit) {
        LogQuick(LOG_ERROR, "CDriverInterface::GetSensorHandles - Not initialised");
        return false;
    }
    if (!Succeeded(ServiceApi::EnumerateSensorHandles(handles),
                   "CDriverInterface::GetSensorHandles - ServiceApi::EnumerateSensorHandles "
                   "failed, sscode=0x%x")) {
        return false;
    }
    Log(LOG_INFO, "CDriverInterface::GetSensorHandles - Retrieved %d Handles",
        static_cast<int>(handles.m_Handles.size()));
    return true;
}

bool CDriverInterface::GetLedHandles(CLedHandleList& handles) {
    if (!m_bInit) {
        LogQuick(LOG_ERROR, "CDriverInterface::GetLedHandles - Not initialised");
        return false;
    }
    if (!Succeeded(ServiceApi::EnumerateLedHandles(handles),
                   "CDriverInterface::GetLedHandles - ServiceApi::EnumerateLedHandles failed, "
                   "sscode=0x%x")) {
        return false;
    }
    Log(LOG_INFO, "CDriverInterface::GetLedHandles - Retrieved %d Handles",
        static_cast<int>(handles.m_Handles.size()));
    return true;
}

bool CDriverInterface::GetSensorInformation(uint32_t handle, CSensorInformation& info) {
    if (!m_bInit) {
        LogQuick(LOG_ERROR, "CDriverInterface::GetSensorInformation - Not initialised");
        return false;
    }
    return Succeeded(ServiceApi::GetSensorInformation(handle, info),
                     "CDriverInterface::GetSensorInformation - ServiceApi::GetSensorInformation "
                     "failed, sscode=0x%x");
}

bool CDriverInterface::GetLedInformation(uint32_t handle, CLedInformation& info) {
    if (!m_bInit) {
        LogQuick(LOG_ERROR, "CDriverInterface::GetLedInformation - Not initialised");
        return false;
    }
    return Succeeded(ServiceApi::GetLedInformation(handle, info),
                     "CDriverInterface::GetLedInformation - ServiceApi::GetLedInformation failed, "
                     "sscode=0x%x");
}

bool CDriverInterface::ReadSensor(uint32_t handle, CSensorReading& reading) {
    if (!m_bInit) {
        LogQuick(LOG_ERROR, "CDriverInterface::ReadSensor - Not initialised");
        return false;
    }
    return Succeeded(ServiceApi::ReadSensor(handle, reading),
                     "CDriverInterface::Readsensor - ServiceApi::ReadSensor failed, sscode=0x%x");
}

bool CDriverInterface::ReadLed(uint32_t handle, CLedReading& reading) {
    if (!m_bInit) {
        LogQuick(LOG_ERROR, "CDriverInterface::ReadLed - Not initialised");
        return false;
    }
    return Succeeded(ServiceApi::ReadLed(handle, reading),
                     "CDriverInterface::ReadLed - ServiceApi::ReadLed failed, sscode=0x%x");
}

} // namespace telvane
