// Parser of the probes, cooling devices, components and thresholds of the
// table, and of the links that tie sensors to one management device.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SMBiosData.h"

// SMBIOS marks a 16-bit value that is not available with this.
constexpr uint16_t SMBIOS_VALUE_UNKNOWN = 0x8000;

enum SMBIOS_SENSOR_TYPE : int32_t {
    SMBIOS_SENSOR_VOLTAGE = 1,
    SMBIOS_SENSOR_COOLING = 2,
    SMBIOS_SENSOR_TEMPERATURE = 3,
};

// Fields of a voltage (Type 26) or temperature (Type 28) probe.
struct ProbeFields {
    uint8_t m_DescriptionNumber = 0;
    uint8_t m_LocationAndStatus = 0;
    uint16_t m_MaximumValue = SMBIOS_VALUE_UNKNOWN;
    uint16_t m_MinimumValue = SMBIOS_VALUE_UNKNOWN;
    uint16_t m_Resolution = SMBIOS_VALUE_UNKNOWN;
    uint16_t m_Tolerance = SMBIOS_VALUE_UNKNOWN;
    uint16_t m_Accuracy = SMBIOS_VALUE_UNKNOWN;
    uint16_t m_NominalValue = SMBIOS_VALUE_UNKNOWN;
};

// Fields of a cooling device (Type 27).
struct CoolingFields {
    uint16_t m_TemperatureProbeHandle = 0;
    uint8_t m_DeviceTypeAndStatus = 0;
    uint8_t m_CoolingUnitGroup = 0;
    uint16_t m_NominalSpeed = SMBIOS_VALUE_UNKNOWN;
};

// The six thresholds of a Type 36 structure, in its order.
struct ThresholdValues {
    uint16_t m_LowerNonCritical = SMBIOS_VALUE_UNKNOWN;
    uint16_t m_UpperNonCritical = SMBIOS_VALUE_UNKNOWN;
    uint16_t m_LowerCritical = SMBIOS_VALUE_UNKNOWN;
    uint16_t m_UpperCritical = SMBIOS_VALUE_UNKNOWN;
    uint16_t m_LowerNonRecoverable = SMBIOS_VALUE_UNKNOWN;
    uint16_t m_UpperNonRecoverable = SMBIOS_VALUE_UNKNOWN;
};

struct SensorDescriptor {
    uint8_t m_Type = 0;
    uint8_t m_Length = 0;
    uint16_t m_Handle = 0;
    int32_t m_SensorType = 0; // SMBIOS_SENSOR_TYPE, 0 until stored
    uint32_t m_OemDefined = 0;
    std::string m_Description;
    ThresholdValues m_Thresholds;
    ProbeFields m_Probe;     // sensor types 1 and 3
    CoolingFields m_Cooling; // sensor type 2
};

struct ComponentRecord {
    uint8_t m_Type = 0;
    uint8_t m_Length = 0;
    uint16_t m_Handle = 0;
    uint8_t m_DescriptionNumber = 0;
    uint16_t m_ManagementDeviceHandle = 0;
    uint16_t m_ComponentHandle = 0;
    uint16_t m_ThresholdHandle = 0;
    std::string m_Description;
};

struct ThresholdRecord {
    uint8_t m_Type = 0;
    uint8_t m_Length = 0;
    uint16_t m_Handle = 0;
    ThresholdValues m_Thresholds;
};

class CSMBiosSensorData : public CSMBiosData {
public:
    explicit CSMBiosSensorData(uint16_t chipHandle);
    ~CSMBiosSensorData() override;

    // True when at least one sensor is linked to the chip.
    bool Initialise(CRawSMBios& raw) override;

    SensorDescriptor* GetSensorForHandle(uint16_t handle);
    ThresholdRecord* GetThresholdForHandle(uint16_t handle);
    static const char* GetSensorTypeName(const SensorDescriptor& sensor);

    bool m_bInit;
    uint16_t m_wChipHandle;
    std::vector<std::unique_ptr<SensorDescriptor>> m_vAllSensors;
    std::vector<std::unique_ptr<ComponentRecord>> m_vAllComponents;
    std::vector<std::unique_ptr<ThresholdRecord>> m_vAllThresholds;
    // The result, in component order; borrowed from m_vAllSensors.
    std::vector<SensorDescriptor*> m_vChipSensors;

private:
    void GetStructures();
    void Dispatch(const uint8_t* structure);
    void StoreProbe(const uint8_t* structure, SensorDescriptor& sensor, const char* title);
    void StoreType26(const uint8_t* structure, SensorDescriptor& sensor);
    void StoreType27(const uint8_t* structure, SensorDescriptor& sensor);
    void StoreType28(const uint8_t* structure, SensorDescriptor& sensor);
    void StoreType35(const uint8_t* structure, ComponentRecord& record);
    void StoreType36(const uint8_t* structure, ThresholdRecord& record);
    void GetThisChipSensors();
    void LinkComponent(const ComponentRecord& component);
};
