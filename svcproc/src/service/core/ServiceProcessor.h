// The one service processor the service manager found: turns its SMBIOS
// sensors and LEDs into the cache, starts the I/O and answers the requests.
#pragma once

#include <cstdint>
#include <list>
#include <string>

#include "ServiceApi.h"
#include "core/DataCache.h"
#include "io/IOUnit.h"

class CRawSMBios;
class CSMBiosLedData;
class CSMBiosSensorData;
struct SensorDescriptor;

// T: a 16-bit SMBIOS value widened, 0x8000 (unknown) to SERVICE_VALUE_UNKNOWN.
int32_t SmbiosValue(uint16_t value);
// R: a resolution brought to the record's units by the divisor; a non-zero
// resolution never rounds down to 0.
int32_t SmbiosResolution(uint16_t value, uint16_t divisor);
// SMBIOS text is 8-bit ASCII: each byte becomes the same wide character.
std::wstring WidenDescription(const std::string& text);

class CServiceProcessor {
public:
    CServiceProcessor();
    ~CServiceProcessor();
    CServiceProcessor(const CServiceProcessor&) = delete;
    CServiceProcessor& operator=(const CServiceProcessor&) = delete;

    // SERVICE_SUCCESS, SERVICE_SMBIOS_INVALID or SERVICE_IO_FAILURE.
    SERVICE_CODE Initialise(CRawSMBios& raw, uint16_t chipHandle);
    // Fills the record from the descriptor and files it in the cache.
    void CopySensorInformation(const SensorDescriptor& sensor, CSensorInformation& info);

    SERVICE_CODE EnumerateSensorHandles(CSensorHandleList& list);
    SERVICE_CODE EnumerateLedHandles(CLedHandleList& list);
    SERVICE_CODE GetSensorInformation(uint32_t handle, CSensorInformation& info);
    SERVICE_CODE GetLedInformation(uint32_t handle, CLedInformation& info);
    SERVICE_CODE ReadSensor(uint32_t handle, CSensorReading& reading);
    SERVICE_CODE ReadLed(uint32_t handle, CLedReading& reading);
    void RegisterSensorStateListener(ISensorStateListener* listener);
    void UnregisterSensorStateListener(ISensorStateListener* listener);

    CDataCache& Cache() { return m_Cache; }

private:
    void FileSensors(const CSMBiosSensorData& sensors);
    void FileLeds(const CSMBiosLedData& leds);
    // The port base of the recognised board family, or 0 for none.
    static uint32_t DeterminePortBase();

    bool m_bInit;
    CDataCache m_Cache;
    CIOUnit m_IOUnit;
};
