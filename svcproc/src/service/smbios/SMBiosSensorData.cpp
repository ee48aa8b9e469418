#include "SMBiosSensorData.h"

#include "Log.h"
#include "SMBiosBytes.h"

using svcproc::smbios::ReadLe16;
using svcproc::smbios::ReadLe32;

namespace {

constexpr uint8_t kVoltageProbe = 26;
constexpr uint8_t kCoolingDevice = 27;
constexpr uint8_t kTemperatureProbe = 28;
constexpr uint8_t kComponent = 35;
constexpr uint8_t kThreshold = 36;
constexpr uint16_t kNoHandle = 0xFFFF;

// Probe: fields to 0x13, the nominal value at 0x14 only when Length says so.
constexpr uint8_t kProbeNominalAt = 0x14;
// Cooling device: fields to 0x0B, the nominal speed at 0x0C likewise.
constexpr uint8_t kCoolingNominalAt = 0x0C;
constexpr uint32_t kType35Bytes = 0x0B;
constexpr uint32_t kType36Bytes = 0x10;

// Bytes at fixed offsets the parser reads from a structure of this type and
// Length; 0 for types it does not read.
uint32_t FieldBytes(uint8_t type, uint8_t length) {
    switch (type) {
    case kVoltageProbe:
    case kTemperatureProbe:
        return length > kProbeNominalAt ? kProbeNominalAt + 2u : kProbeNominalAt;
    case kCoolingDevice:
        return length > kCoolingNominalAt ? kCoolingNominalAt + 2u : kCoolingNominalAt;
    case kComponent:
        return kType35Bytes;
    case kThreshold:
        return kType36Bytes;
    default:
        return 0;
    }
}

ThresholdValues ReadThresholds(const uint8_t* s) {
    ThresholdValues t;
    t.m_LowerNonCritical = ReadLe16(s + 0x04);
    t.m_UpperNonCritical = ReadLe16(s + 0x06);
    t.m_LowerCritical = ReadLe16(s + 0x08);
    t.m_UpperCritical = ReadLe16(s + 0x0A);
    t.m_LowerNonRecoverable = ReadLe16(s + 0x0C);
    t.m_UpperNonRecoverable = ReadLe16(s + 0x0E);
    return t;
}

} // namespace

CSMBiosSensorData::CSMBiosSensorData(uint16_t chipHandle)
    : m_bInit(false), m_wChipHandle(chipHandle) {
    LogQuick(LOG_INFO, "CSMBiosSensorData Constructed");
}

CSMBiosSensorData::~CSMBiosSensorData() {
    m_vChipSensors.clear();
    m_vAllSensors.clear();
    m_vAllComponents.clear();
    m_vAllThresholds.clear();
    LogQuick(LOG_INFO, "CSMBiosSensorData Destroyed");
}

bool CSMBiosSensorData::Initialise(CRawSMBios& raw) {
    if (m_bInit) {
        LogQuick(LOG_INFO, "CSMBiosSensorData::Initialise - Already initialised");
        return true;
    }
    AttachTable(raw);
    GetStructures();
    if (m_vAllSensors.empty()) {
        LogQuick(LOG_ERROR, "CSMBiosSensorData::Initialise - No sensors found for any chip device");
        return false;
    }
    GetThisChipSensors();
    if (m_vChipSensors.empty()) {
        LogQuick(LOG_ERROR,
                 "CSMBiosSensorData::Initialise - No sensors found for this chip device");
        return false;
    }
    m_bInit = true;
    Log(LOG_INFO, "CSMBiosSensorData::Initialise - Initialised Ok - #sensor(s)=%d",
        static_cast<int>(m_vChipSensors.size()));
    return true;
}

void CSMBiosSensorData::GetStructures() {
    LogQuick(
        LOG_INFO,
        "CSMBiosSensorData::GetStructures - Parsing all Type 00, 26, 27, 28, 35, 36 structures");
    ScanTable("CSMBiosSensorData::GetStructures - pTable=0x%x", FieldBytes,
              [this](const uint8_t* structure) { Dispatch(structure); });
}

void CSMBiosSensorData::Dispatch(const uint8_t* s) {
    switch (s[0]) {
    case kVoltageProbe:
    case kCoolingDevice:
    case kTemperatureProbe: {
        auto sensor = std::make_unique<SensorDescriptor>();
        if (s[0] == kVoltageProbe) {
            StoreType26(s, *sensor);
            sensor->m_SensorType = SMBIOS_SENSOR_VOLTAGE;
        } else if (s[0] == kCoolingDevice) {
            StoreType27(s, *sensor);
            sensor->m_SensorType = SMBIOS_SENSOR_COOLING;
        } else {
            StoreType28(s, *sensor);
            sensor->m_SensorType = SMBIOS_SENSOR_TEMPERATURE;
        }
        m_vAllSensors.push_back(std::move(sensor));
        break;
    }
    case kComponent: {
        auto record = std::make_unique<ComponentRecord>();
        StoreType35(s, *record);
        m_vAllComponents.push_back(std::move(record));
        break;
    }
    case kThreshold: {
        auto record = std::make_unique<ThresholdRecord>();
        StoreType36(s, *record);
        m_vAllThresholds.push_back(std::move(record));
        break;
    }
    default:
        break;
    }
}

void CSMBiosSensorData::StoreProbe(const uint8_t* s, SensorDescriptor& sensor, const char* title) {
    sensor.m_Type = s[0x00];
    sensor.m_Length = s[0x01];
    sensor.m_Handle = ReadLe16(s + 0x02);
    ProbeFields& p = sensor.m_Probe;
    p.m_DescriptionNumber = s[0x04];
    p.m_LocationAndStatus = s[0x05];
    p.m_MaximumValue = ReadLe16(s + 0x06);
    p.m_MinimumValue = ReadLe16(s + 0x08);
    p.m_Resolution = ReadLe16(s + 0x0A);
    p.m_Tolerance = ReadLe16(s + 0x0C);
    p.m_Accuracy = ReadLe16(s + 0x0E);
    sensor.m_OemDefined = ReadLe32(s + 0x10);
    p.m_NominalValue =
        sensor.m_Length > kProbeNominalAt ? ReadLe16(s + kProbeNominalAt) : SMBIOS_VALUE_UNKNOWN;
    sensor.m_Description = GetStructureString(s, p.m_DescriptionNumber);
    LogQuick(LOG_INFO, title);
    Log(LOG_INFO, "  Description:        %s", sensor.m_Description.c_str());
    Log(LOG_INFO, "  Location & Status:  0x%02x", p.m_LocationAndStatus);
    Log(LOG_INFO, "  Maximium Value:     0x%04x", p.m_MaximumValue);
    Log(LOG_INFO, "  Minimium Value:     0x%04x", p.m_MinimumValue);
    Log(LOG_INFO, "  Resolution:         0x%04x", p.m_Resolution);
    Log(LOG_INFO, "  Tolerance:          0x%04x", p.m_Tolerance);
    Log(LOG_INFO, "  Accuracy:           0x%04x", p.m_Accuracy);
    Log(LOG_INFO, "  OEM DWord:          0x%08x", sensor.m_OemDefined);
    Log(LOG_INFO, "  Nominal Value:      0x%04x", p.m_NominalValue);
}

void CSMBiosSensorData::StoreType26(const uint8_t* s, SensorDescriptor& sensor) {
    StoreProbe(s, sensor, "CSMBiosSensorData::StoreType26");
}

void CSMBiosSensorData::StoreType28(const uint8_t* s, SensorDescriptor& sensor) {
    StoreProbe(s, sensor, "CSMBiosSensorData::StoreType28");
}

void CSMBiosSensorData::StoreType27(const uint8_t* s, SensorDescriptor& sensor) {
    sensor.m_Type = s[0x00];
    sensor.m_Length = s[0x01];
    sensor.m_Handle = ReadLe16(s + 0x02);
    CoolingFields& c = sensor.m_Cooling;
    c.m_TemperatureProbeHandle = ReadLe16(s + 0x04);
    c.m_DeviceTypeAndStatus = s[0x06];
    c.m_CoolingUnitGroup = s[0x07];
    sensor.m_OemDefined = ReadLe32(s + 0x08);
    c.m_NominalSpeed = sensor.m_Length > kCoolingNominalAt ? ReadLe16(s + kCoolingNominalAt)
                                                           : SMBIOS_VALUE_UNKNOWN;
    LogQuick(LOG_INFO, "CSMBiosSensorData::StoreType27");
    Log(LOG_INFO, "  Description:                %s", sensor.m_Description.c_str());
    Log(LOG_INFO, "  Temperature Probe Handle:   0x%04x", c.m_TemperatureProbeHandle);
    Log(LOG_INFO, "  Device Type & Status:       0x%02x", c.m_DeviceTypeAndStatus);
    Log(LOG_INFO, "  Cooling Unit Grooup:        0x%02x", c.m_CoolingUnitGroup);
    Log(LOG_INFO, "  OEM DWord:                  0x%08x", sensor.m_OemDefined);
    Log(LOG_INFO, "  Nominal Value:              0x%04x", c.m_NominalSpeed);
}

void CSMBiosSensorData::StoreType35(const uint8_t* s, ComponentRecord& record) {
    record.m_Type = s[0x00];
    record.m_Length = s[0x01];
    record.m_Handle = ReadLe16(s + 0x02);
    record.m_DescriptionNumber = s[0x04];
    record.m_ManagementDeviceHandle = ReadLe16(s + 0x05);
    record.m_ComponentHandle = ReadLe16(s + 0x07);
    record.m_ThresholdHandle = ReadLe16(s + 0x09);
    record.m_Description = GetStructureString(s, record.m_DescriptionNumber);
    LogQuick(LOG_INFO, "CSMBiosSensorData::StoreType35");
    Log(LOG_INFO, "  Description:                %s", record.m_Description.c_str());
    Log(LOG_INFO, "  Management Device Handle:   0x%04x", record.m_ManagementDeviceHandle);
    Log(LOG_INFO, "  Component Handle:           0x%04x", record.m_ComponentHandle);
    Log(LOG_INFO, "  Threshold Handle:           0x%04x", record.m_ThresholdHandle);
}

void CSMBiosSensorData::StoreType36(const uint8_t* s, ThresholdRecord& record) {
    record.m_Type = s[0x00];
    record.m_Length = s[0x01];
    record.m_Handle = ReadLe16(s + 0x02);
    record.m_Thresholds = ReadThresholds(s);
    const ThresholdValues& t = record.m_Thresholds;
    LogQuick(LOG_INFO, "CSMBiosSensorData::StoreType36");
    Log(LOG_INFO, "  Lower Threshold Non Critical:       0x%04x", t.m_LowerNonCritical);
    Log(LOG_INFO, "  Upper Threshold Non Critical:       0x%04x", t.m_UpperNonCritical);
    Log(LOG_INFO, "  Lower Threshold Critical:           0x%04x", t.m_LowerCritical);
    Log(LOG_INFO, "  Upper Threshold Critical:           0x%04x", t.m_UpperCritical);
    Log(LOG_INFO, "  Lower Threshold Non Recoverable:    0x%04x", t.m_LowerNonRecoverable);
    Log(LOG_INFO, "  Upper Threshold Non Recoverable:    0x%04x", t.m_UpperNonRecoverable);
}

SensorDescriptor* CSMBiosSensorData::GetSensorForHandle(uint16_t handle) {
    if (m_vAllSensors.empty()) {
        LogQuick(LOG_ERROR, "CSMBiosSensorData::GetSensorForHandle - m_vAllSensors is empty");
        return nullptr;
    }
    for (const auto& sensor : m_vAllSensors) {
        if (sensor->m_Handle == handle) {
            return sensor.get();
        }
    }
    return nullptr;
}

ThresholdRecord* CSMBiosSensorData::GetThresholdForHandle(uint16_t handle) {
    if (m_vAllThresholds.empty()) {
        LogQuick(LOG_ERROR, "CSMBiosSensorData::GetThresholdForHandle - m_vAllThresholds is empty");
        return nullptr;
    }
    for (const auto& threshold : m_vAllThresholds) {
        if (threshold->m_Handle == handle) {
            return threshold.get();
        }
    }
    return nullptr;
}

const char* CSMBiosSensorData::GetSensorTypeName(const SensorDescriptor& sensor) {
    switch (sensor.m_SensorType) {
    case SMBIOS_SENSOR_VOLTAGE:
        return "Voltage";
    case SMBIOS_SENSOR_COOLING:
        return "Cooling";
    case SMBIOS_SENSOR_TEMPERATURE:
        return "Temperature";
    default:
        return "Unknown";
    }
}

void CSMBiosSensorData::GetThisChipSensors() {
    LogQuick(LOG_INFO, "CSMBiosSensorData::GetThisChipSensors - Parsing all Type 35 components");
    for (const auto& component : m_vAllComponents) {
        LinkComponent(*component);
    }
}

void CSMBiosSensorData::LinkComponent(const ComponentRecord& c) {
    const uint16_t sensorHandle = c.m_ComponentHandle;
    const uint16_t thresholdHandle = c.m_ThresholdHandle;
    Log(LOG_INFO, "CSMBiosSensorData::GetThisChipSensors --- Type 35: Handle 0x%04x", c.m_Handle);
    if (c.m_ManagementDeviceHandle == kNoHandle) {
        Log(LOG_INFO, "CSMBiosSensorData::GetThisChipSensors - Type 35: 0x%04x - No Type 34",
            c.m_Handle);
        return;
    }
    if (c.m_ManagementDeviceHandle != m_wChipHandle) {
        return;
    }
    Log(LOG_INFO,
        "CSMBiosSensorData::GetThisChipSensors - Found sensor handle: 0x%04x associated with chip "
        "handle 0x%04x",
        sensorHandle, m_wChipHandle);
    Log(LOG_INFO,
        "CSMBiosSensorData::GetThisChipSensors - Found threshold handle: 0x%04x associated with "
        "chip handle 0x%04x",
        thresholdHandle, m_wChipHandle);
    if (sensorHandle == kNoHandle) {
        Log(LOG_INFO,
            "CSMBiosSensorData::GetThisChipSensors - Type 35(0x%04x) - Sensor handle=0xffff",
            c.m_Handle);
        return;
    }
    SensorDescriptor* sensor = GetSensorForHandle(sensorHandle);
    if (!sensor) {
        Log(LOG_INFO,
            "CSMBiosSensorData::GetThisChipSensors - Type 35(0x%04x) - No Sensor found for Sensor "
            "handle 0x%04x",
            c.m_Handle, sensorHandle);
        return;
    }
    Log(LOG_INFO,
        "CSMBiosSensorData::GetThisChipSensors - Found sensor of type %d for handle 0x%04x",
        sensor->m_SensorType, sensorHandle);
    Log(LOG_TRACE, "CSMBiosSensorData::GetThisChipSensors - Type %d is %s", sensor->m_SensorType,
        GetSensorTypeName(*sensor));
    Log(LOG_INFO, "CSMBiosSensorData::GetThisChipSensors - Adding sensor handle 0x%04x to list",
        sensorHandle);
    m_vChipSensors.push_back(sensor);
    Log(LOG_INFO,
        "CSMBiosSensorData::GetThisChipSensors - Attaching component description [%s] to sensor "
        "0x%04x",
        c.m_Description.c_str(), sensorHandle);
    Log(LOG_TRACE,
        "CSMBiosSensorData::GetThisChipSensors - Type 35(0x%04x) description: [%s] overwrites "
        "Sensor description [%s]",
        c.m_Handle, c.m_Description.c_str(), sensor->m_Description.c_str());
    sensor->m_Description = c.m_Description;
    Log(LOG_TRACE,
        "CSMBiosSensorData::GetThisChipSensors - Type 35(0x%04x) New sensor description is [%s]",
        c.m_Handle, sensor->m_Description.c_str());
    if (thresholdHandle == kNoHandle) {
        Log(LOG_INFO,
            "CSMBiosSensorData::GetThisChipSensors - Type 35(0x%04x) - Threshold handle=0xffff",
            c.m_Handle);
        return;
    }
    ThresholdRecord* threshold = GetThresholdForHandle(thresholdHandle);
    if (!threshold) {
        Log(LOG_INFO,
            "CSMBiosSensorData::GetThisChipSensors - Type 35(0x%04x) - No Threshold found for "
            "Threshold handle 0x%04x",
            c.m_Handle, thresholdHandle);
        return;
    }
    Log(LOG_INFO,
        "CSMBiosSensorData::GetThisChipSensors - Attaching Threshold 0x%04x information to sensor "
        "0x%04x",
        thresholdHandle, sensorHandle);
    sensor->m_Thresholds = threshold->m_Thresholds;
    Log(LOG_INFO,
        "CSMBiosSensorData::GetThisChipSensors - Sensor(0x%04x) <--- Type 35(0x%04x) ---> Type "
        "36(0x%04x)",
        sensorHandle, c.m_Handle, thresholdHandle);
}
