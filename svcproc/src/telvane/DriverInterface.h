// A thin wrapper over the library's exported functions that logs each
// failure and refuses every call before the library is initialised.
#pragma once

#include "ServiceApi.h"

namespace telvane {

class CDriverInterface {
public:
    CDriverInterface();
    ~CDriverInterface();
    CDriverInterface(const CDriverInterface&) = delete;
    CDriverInterface& operator=(const CDriverInterface&) = delete;

    bool Initialise();
    bool GetSensorHandles(CSensorHandleList& handles);
    bool GetLedHandles(CLedHandleList& handles);
    bool GetSensorInformation(uint32_t handle, CSensorInformation& info);
    bool GetLedInformation(uint32_t handle, CLedInformation& info);
    bool ReadSensor(uint32_t handle, CSensorReading& reading);
    bool ReadLed(uint32_t handle, CLedReading& reading);

private:
    bool m_bInit = false;
};

} // namespace telvane
