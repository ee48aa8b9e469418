// The single object behind the exported functions: runs the initialisation
// from the SMBIOS table to a running service processor and forwards every
// other request to it.
#pragma once

#include <cstdint>

#include "ServiceApi.h"
#include "core/ServiceProcessor.h"

class CSMBiosChipData;

class CServiceManager {
public:
    CServiceManager();
    ~CServiceManager();
    CServiceManager(const CServiceManager&) = delete;
    CServiceManager& operator=(const CServiceManager&) = delete;

    // 0, 2, 3 or 5, or the service processor's own 3 or 6. Runs the whole
    // sequence each time, reading the table afresh.
    SERVICE_CODE InitialiseServiceDriver();

    SERVICE_CODE EnumerateSensorHandles(CSensorHandleList& list);
    SERVICE_CODE EnumerateLedHandles(CLedHandleList& list);
    SERVICE_CODE GetSensorInformation(uint32_t handle, CSensorInformation& info);
    SERVICE_CODE GetLedInformation(uint32_t handle, CLedInformation& info);
    SERVICE_CODE ReadSensor(uint32_t handle, CSensorReading& reading);
    SERVICE_CODE ReadLed(uint32_t handle, CLedReading& reading);
    void RegisterSensorStateListener(ISensorStateListener* listener);
    void UnregisterSensorStateListener(ISensorStateListener* listener);

    CServiceProcessor& ServiceProcessor() { return m_ServiceProcessor; }

private:
    SERVICE_CODE InitialiseFromDevices(CRawSMBios& raw, const CSMBiosChipData& chip);

    bool m_bInit;
    CServiceProcessor m_ServiceProcessor;
};
