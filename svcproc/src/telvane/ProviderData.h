// The service's model of the hardware: the library's sensors and LEDs as
// managed-object records in two maps, refreshed from the library on each
// request, and the library's state changes turned into alert events.
#pragma once

#include <string>

#include "DriverInterface.h"
#include "RecordMaps.h"

namespace telvane {

class CProviderData : public ISensorStateListener {
public:
    CProviderData();
    virtual void SensorStateChanged(uint32_t SensorHandle, uint32_t State,
                                    int32_t Reading) override;
    virtual ~CProviderData();
    CProviderData(const CProviderData&) = delete;
    CProviderData& operator=(const CProviderData&) = delete;

    bool Initialise();
    void RegisterSensorStateListener();
    // Unregisters from the library (waiting for a state change in flight);
    // nothing happens when not registered.
    void StopListening();

    CSpNumericSensor* GetSensorAt(int index);
    CSpNumericSensor* GetSensor(const std::wstring& key);
    CLedAlarmDevice* GetLedAt(int index);

    void PopulateSensor(uint32_t handle, CSpNumericSensor* record, const CSensorInformation& info);
    void PopulateLed(uint32_t handle, CLedAlarmDevice* record, const CLedInformation& info);

    bool m_bInit = false;
    bool m_bListenerRegistered = false;
    CDriverInterface m_DriverInterface;
    CSensorMap m_SensorMap;
    CLedMap m_LedMap;

private:
    bool BuildSensorMap(CSensorHandleList& SensorHandles);
    bool BuildLedMap(CLedHandleList& LedHandles);
    CSpNumericSensor* Refresh(CSpNumericSensor* record, const char* readingFormat,
                              const char* mappingFormat);
};

} // namespace telvane
