#include "core/ServiceProcessor.h"

#include <cstdint>
#include <new>

#include "Log.h"
#include "core/BoardFamily.h"
#include "core/LibraryState.h"
#include "smbios/RawSMBios.h"
#include "smbios/SMBiosLedData.h"
#include "smbios/SMBiosSensorData.h"

namespace {
constexpr uint16_t kLedUrgencyCritical = 5;
constexpr int32_t kSensorHysteresis = 10;

constexpr uint16_t kBaseUnitsCelsius = 2;
constexpr uint16_t kBaseUnitsVolts = 5;
constexpr uint16_t kBaseUnitsRpm = 19;
constexpr uint16_t kSensorTypeTemperature = 2;
constexpr uint16_t kSensorTypeVoltage = 3;
constexpr uint16_t kSensorTypeTachometer = 5;
// SMBIOS resolutions are in tenths of a millivolt and thousandths of a degree;
// the records declare millivolts and tenths of a degree.
constexpr uint16_t kVoltageResolutionDivisor = 10;
constexpr uint16_t kTemperatureResolutionDivisor = 100;

unsigned Address(const void* p) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}

void CopyThresholds(const ThresholdValues& thresholds, CSensorInformation& info) {
    info.m_LowerThresholdNonCritical = SmbiosValue(thresholds.m_LowerNonCritical);
    info.m_UpperThresholdNonCritical = SmbiosValue(thresholds.m_UpperNonCritical);
    info.m_LowerThresholdCritical = SmbiosValue(thresholds.m_LowerCritical);
    info.m_UpperThresholdCritical = SmbiosValue(thresholds.m_UpperCritical);
    info.m_LowerThresholdFatal = SmbiosValue(thresholds.m_LowerNonRecoverable);
    info.m_UpperThresholdFatal = SmbiosValue(thresholds.m_UpperNonRecoverable);
}

void CopyProbeFields(const ProbeFields& probe, uint16_t resolutionDivisor,
                     CSensorInformation& info) {
    info.m_Accuracy = SmbiosValue(probe.m_Accuracy);
    info.m_MaxReadable = SmbiosValue(probe.m_MaximumValue);
    info.m_MinReadable = SmbiosValue(probe.m_MinimumValue);
    info.m_NominalReading = SmbiosValue(probe.m_NominalValue);
    info.m_Resolution = SmbiosResolution(probe.m_Resolution, resolutionDivisor);
}
} // namespace

int32_t SmbiosValue(uint16_t value) {
    return value == SMBIOS_VALUE_UNKNOWN ? SERVICE_VALUE_UNKNOWN : static_cast<int32_t>(value);
}

int32_t SmbiosResolution(uint16_t value, uint16_t divisor) {
    if (value == SMBIOS_VALUE_UNKNOWN) {
        return SERVICE_VALUE_UNKNOWN;
    }
    if (value == 0) {
        return 0;
    }
    int32_t scaled = value / divisor;
    return scaled == 0 ? 1 : scaled;
}

// Out of memory leaves the description empty rather than failing the
// initialisation (or throwing out of the library).
std::wstring WidenDescription(const std::string& text) {
    try {
        std::wstring wide;
        wide.reserve(text.size());
        for (char c : text) {
            wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
        }
        return wide;
    } catch (const std::bad_alloc&) {
        return std::wstring();
    }
}

CServiceProcessor::CServiceProcessor() : m_bInit(false), m_Cache(), m_IOUnit(&m_Cache) {
    LogQuick(LOG_INFO, "CServiceProcessor Constructed");
}

// The I/O unit (and its polling thread) goes before the cache it writes into.
CServiceProcessor::~CServiceProcessor() {
    LogQuick(LOG_INFO, "CServiceProcessor Destroyed");
}

SERVICE_CODE CServiceProcessor::Initialise(CRawSMBios& raw, uint16_t chipHandle) {
    CSMBiosSensorData sensors(chipHandle);
    if (!sensors.Initialise(raw)) {
        return SERVICE_SMBIOS_INVALID;
    }
    FileSensors(sensors);
    CSMBiosLedData leds;
    leds.Initialise(raw);
    FileLeds(leds);
    m_Cache.Lock();

    uint32_t portBase = DeterminePortBase();
    if (portBase == 0) {
        LogQuick(LOG_ERROR, "Cannot determine Port Base Address");
        return SERVICE_SMBIOS_INVALID;
    }
    Log(LOG_INFO, "  Port Base: 0x%08x", portBase);
    if (!m_IOUnit.Initialise(portBase)) {
        return SERVICE_IO_FAILURE;
    }
    m_IOUnit.PollingThread().Run();
    m_bInit = true;
    return SERVICE_SUCCESS;
}

void CServiceProcessor::FileSensors(const CSMBiosSensorData& sensors) {
    for (const SensorDescriptor* sensor : sensors.m_vChipSensors) {
        if (sensor == nullptr) {
            continue;
        }
        CSensorInformation info;
        CopySensorInformation(*sensor, info);
    }
}

void CServiceProcessor::FileLeds(const CSMBiosLedData& leds) {
    for (const auto& led : leds.m_vLeds) {
        if (!led) {
            continue;
        }
        CLedInformation info;
        info.m_Urgency = kLedUrgencyCritical;
        info.m_Description = WidenDescription(led->m_Description);
        info.m_BitMap = led->m_BitMap;
        m_Cache.AddLed(info, led->m_BitMap);
    }
}

uint32_t CServiceProcessor::DeterminePortBase() {
    using namespace svcproc::board;
    for (int family = kFirstBoardFamily; family <= kLastBoardFamily; ++family) {
        if (IsBoardFamily(g_BiosVersion, BoardFamilyCode(family))) {
            return kServiceProcessorPortBase;
        }
    }
    return 0;
}

void CServiceProcessor::CopySensorInformation(const SensorDescriptor& sensor,
                                              CSensorInformation& info) {
    auto key = static_cast<uint16_t>(sensor.m_OemDefined & 0xFFu);
    info.m_Description = WidenDescription(sensor.m_Description);
    info.m_Hysteresis = kSensorHysteresis;
    info.m_bIsLinear = true;
    info.m_RateUnits = 0;
    info.m_OtherSensorTypeDescription.clear();
    info.m_vPossibleStates.push_back(L"Ok");
    info.m_vPossibleStates.push_back(L"Critical");
    CopyThresholds(sensor.m_Thresholds, info);

    switch (sensor.m_SensorType) {
    case SMBIOS_SENSOR_VOLTAGE:
        info.m_BaseUnits = kBaseUnitsVolts;
        info.m_SensorType = kSensorTypeVoltage;
        info.m_UnitModifier = -3;
        CopyProbeFields(sensor.m_Probe, kVoltageResolutionDivisor, info);
        m_Cache.AddVoltage(info, key);
        break;
    case SMBIOS_SENSOR_COOLING:
        info.m_BaseUnits = kBaseUnitsRpm;
        info.m_SensorType = kSensorTypeTachometer;
        info.m_UnitModifier = 0;
        info.m_Accuracy = SERVICE_VALUE_UNKNOWN;
        info.m_MaxReadable = SERVICE_VALUE_UNKNOWN;
        info.m_MinReadable = SERVICE_VALUE_UNKNOWN;
        info.m_NominalReading = SmbiosValue(sensor.m_Cooling.m_NominalSpeed);
        info.m_Resolution = SERVICE_VALUE_UNKNOWN;
        m_Cache.AddFan(info, key);
        break;
    case SMBIOS_SENSOR_TEMPERATURE:
        info.m_BaseUnits = kBaseUnitsCelsius;
        info.m_SensorType = kSensorTypeTemperature;
        info.m_UnitModifier = -1;
        CopyProbeFields(sensor.m_Probe, kTemperatureResolutionDivisor, info);
        m_Cache.AddTemperature(info, key);
        break;
    default:
        Log(LOG_ERROR, "CopySensorInformation - Unknown sensor type=0x%x",
            static_cast<unsigned>(sensor.m_SensorType));
        break;
    }
}

SERVICE_CODE CServiceProcessor::GetSensorInformation(uint32_t handle, CSensorInformation& info) {
    Log(LOG_TRACE, "CServiceProcessor::GetSensorInformation(0x%08x,0x%08x), m_bInit=%x", handle,
        Address(&info), m_bInit);
    bool found = false;
    switch (ServiceHandleKind(handle)) {
    case HANDLE_KIND_VOLTAGE:
        found = m_Cache.GetVoltageInfo(handle, info);
        break;
    case HANDLE_KIND_FAN:
        found = m_Cache.GetFanInfo(handle, info);
        break;
    case HANDLE_KIND_TEMPERATURE:
        found = m_Cache.GetTemperatureInfo(handle, info);
        break;
    default:
        break;
    }
    SERVICE_CODE result = found ? SERVICE_SUCCESS : SERVICE_INVALID_HANDLE;
    Log(LOG_TRACE, "CServiceProcessor::GetSensorInformation exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE CServiceProcessor::GetLedInformation(uint32_t handle, CLedInformation& info) {
    Log(LOG_TRACE, "CServiceProcessor::GetLedInformation(0x%08x,0x%08x), m_bInit=%x", handle,
        Address(&info), m_bInit);
    SERVICE_CODE result = SERVICE_INVALID_HANDLE;
    if (ServiceHandleKind(handle) == HANDLE_KIND_LED && m_Cache.GetLedInfo(handle, info)) {
        result = SERVICE_SUCCESS;
    }
    Log(LOG_TRACE, "CServiceProcessor::GetLedInformation exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE CServiceProcessor::EnumerateSensorHandles(CSensorHandleList& list) {
    Log(LOG_TRACE, "CServiceProcessor::EnumerateSensorHandles(0x%08x), m_bInit=%x", Address(&list),
        m_bInit);
    SERVICE_CODE result = m_Cache.EnumerateSensorHandles(list.m_Handles);
    Log(LOG_TRACE, "CServiceProcessor::EnumerateSensorHandles exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE CServiceProcessor::EnumerateLedHandles(CLedHandleList& list) {
    Log(LOG_TRACE, "CServiceProcessor::EnumerateLedHandles(0x%08x), m_bInit=%x", Address(&list),
        m_bInit);
    SERVICE_CODE result = m_Cache.EnumerateLedHandles(list.m_Handles);
    Log(LOG_TRACE, "CServiceProcessor::EnumerateLedHandles exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE CServiceProcessor::ReadSensor(uint32_t handle, CSensorReading& reading) {
    Log(LOG_TRACE, "CServiceProcessor::ReadSensor(0x%08x,0x%08x), m_bInit=%x", handle,
        Address(&reading), m_bInit);
    SERVICE_CODE result = m_IOUnit.ReadSensor(handle, reading);
    Log(LOG_TRACE, "CServiceProcessor::ReadSensor exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE CServiceProcessor::ReadLed(uint32_t handle, CLedReading& reading) {
    Log(LOG_TRACE, "CServiceProcessor::ReadLed(0x%08x,0x%08x), m_bInit=%x", handle,
        Address(&reading), m_bInit);
    SERVICE_CODE result = m_IOUnit.ReadLed(handle, reading);
    Log(LOG_TRACE, "CServiceProcessor::ReadLed exit, sscode=0x%x", result);
    return result;
}

void CServiceProcessor::RegisterSensorStateListener(ISensorStateListener* listener) {
    Log(LOG_TRACE, "CServiceProcessor::RegisterSensorStateListener(0x%08x), m_bInit=%x",
        Address(listener), m_bInit);
    m_IOUnit.RegisterSensorStateListener(listener);
    LogQuick(LOG_TRACE, "CServiceProcessor::RegisterSensorStateListener exit");
}

void CServiceProcessor::UnregisterSensorStateListener(ISensorStateListener* listener) {
    Log(LOG_TRACE, "CServiceProcessor::UnregisterSensorStateListener(0x%08x), m_bInit=%x",
        Address(listener), m_bInit);
    m_IOUnit.UnregisterSensorStateListener(listener);
    LogQuick(LOG_TRACE, "CServiceProcessor::UnregisterSensorStateListener exit");
}
