// The boundary of libservice.so: result codes, handles, sensor states, the
// public records and the nine exported functions. Compiled into the library
// and into its callers from this one header, so both agree on one layout.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#define SERVICE_EXPORT __attribute__((visibility("default")))

enum SERVICE_CODE : uint32_t {
    SERVICE_SUCCESS = 0,
    SERVICE_NOT_INITIALISED = 1,
    SERVICE_NO_SMBIOS = 2,
    SERVICE_SMBIOS_INVALID = 3,
    SERVICE_NO_SERVICE_PROCESSOR = 5,
    SERVICE_IO_FAILURE = 6,
    SERVICE_INVALID_HANDLE = 7,
};

// A handle is kind * 0x10000 plus the object's 16-bit key (its SmbiosIndex).
using SERVICE_HANDLE = uint32_t;

enum SERVICE_HANDLE_KIND : uint32_t {
    HANDLE_KIND_VOLTAGE = 1,
    HANDLE_KIND_FAN = 2,
    HANDLE_KIND_TEMPERATURE = 3,
    HANDLE_KIND_LED = 4,
};

constexpr SERVICE_HANDLE MakeServiceHandle(uint32_t kind, uint16_t key) {
    return kind * 0x10000u + key;
}
constexpr uint32_t ServiceHandleKind(SERVICE_HANDLE handle) { return handle >> 16; }
constexpr uint16_t ServiceHandleKey(SERVICE_HANDLE handle) {
    return static_cast<uint16_t>(handle & 0xFFFFu);
}

// Index into CSensorInformation::m_vPossibleStates.
enum SENSOR_STATE : uint32_t {
    SENSOR_STATE_OK = 0,
    SENSOR_STATE_CRITICAL = 1,
};

// Marks an unknown value in every signed 32-bit field of the records.
constexpr int32_t SERVICE_VALUE_UNKNOWN = INT32_MIN;

class SERVICE_EXPORT CSensorHandleList {
public:
    CSensorHandleList();
    CSensorHandleList(const CSensorHandleList& other);
    CSensorHandleList& operator=(const CSensorHandleList& other);
    ~CSensorHandleList();

    std::list<uint32_t> m_Handles;
};

class SERVICE_EXPORT CLedHandleList {
public:
    CLedHandleList();
    CLedHandleList(const CLedHandleList& other);
    CLedHandleList& operator=(const CLedHandleList& other);
    ~CLedHandleList();

    std::list<uint32_t> m_Handles;
};

class SERVICE_EXPORT CSensorInformation {
public:
    CSensorInformation();
    CSensorInformation(const CSensorInformation& other);
    CSensorInformation& operator=(const CSensorInformation& other);
    ~CSensorInformation();

    int32_t m_Accuracy;
    uint16_t m_BaseUnits;
    std::wstring m_Description;
    int32_t m_Hysteresis;
    bool m_bIsLinear;
    int32_t m_LowerThresholdCritical;
    int32_t m_LowerThresholdFatal;
    int32_t m_LowerThresholdNonCritical;
    int32_t m_MaxReadable;
    int32_t m_MinReadable;
    int32_t m_NominalReading;
    std::wstring m_OtherSensorTypeDescription;
    std::vector<std::wstring> m_vPossibleStates;
    uint16_t m_RateUnits;
    int32_t m_Resolution;
    uint16_t m_SensorType;
    int32_t m_UnitModifier;
    int32_t m_UpperThresholdCritical;
    int32_t m_UpperThresholdFatal;
    int32_t m_UpperThresholdNonCritical;
};

class SERVICE_EXPORT CLedInformation {
public:
    CLedInformation();
    CLedInformation(const CLedInformation& other);
    CLedInformation& operator=(const CLedInformation& other);
    ~CLedInformation();

    uint16_t m_Urgency;
    std::wstring m_Description;
    uint16_t m_BitMap;
};

class CSensorReading {
public:
    CSensorReading() = default;
    CSensorReading(int32_t reading, uint32_t state) : m_Reading(reading), m_State(state) {}
    CSensorReading(const CSensorReading& other) = default;
    SERVICE_EXPORT CSensorReading& operator=(const CSensorReading& other);

    int32_t m_Reading = 0;
    uint32_t m_State = 0;
};

class CLedReading {
public:
    CLedReading() = default;
    explicit CLedReading(bool on) : m_bOn(on) {}
    CLedReading(const CLedReading& other) = default;
    SERVICE_EXPORT CLedReading& operator=(const CLedReading& other);

    bool m_bOn = false;
};

// Called on the library's polling thread for every change of a sensor's
// state. The reading is the one the service processor sent with the alert,
// as received (not scaled to the units of the sensor's information).
class ISensorStateListener {
public:
    SERVICE_EXPORT ISensorStateListener();
    SERVICE_EXPORT ISensorStateListener(const ISensorStateListener& other);
    SERVICE_EXPORT ISensorStateListener& operator=(const ISensorStateListener& other);

    virtual void SensorStateChanged(uint32_t handle, uint32_t state, int32_t reading) = 0;

protected:
    ~ISensorStateListener() = default;
};

namespace ServiceApi {
SERVICE_EXPORT SERVICE_CODE InitialiseServiceDriver();
SERVICE_EXPORT SERVICE_CODE EnumerateSensorHandles(CSensorHandleList& list);
SERVICE_EXPORT SERVICE_CODE EnumerateLedHandles(CLedHandleList& list);
SERVICE_EXPORT SERVICE_CODE GetSensorInformation(uint32_t handle, CSensorInformation& info);
SERVICE_EXPORT SERVICE_CODE GetLedInformation(uint32_t handle, CLedInformation& info);
SERVICE_EXPORT SERVICE_CODE ReadSensor(uint32_t handle, CSensorReading& reading);
SERVICE_EXPORT SERVICE_CODE ReadLed(uint32_t handle, CLedReading& reading);
SERVICE_EXPORT void RegisterSensorStateListener(ISensorStateListener* listener);
SERVICE_EXPORT void UnregisterSensorStateListener(ISensorStateListener* listener);
} // namespace ServiceApi
