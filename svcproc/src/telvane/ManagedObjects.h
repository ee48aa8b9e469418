// The managed-object records: one CSpNumericSensor per sensor and one
// CLedAlarmDevice per LED, living for the whole service run, copied into
// fresh WBEM instances on each request.
//
// Serialisation: the library's polling thread refreshes sensor records
// (state changes) while the providers refresh and copy them on WBEM threads.
// Every write of a record's dynamic properties and every read of a record's
// values (FillInstance, the alert's two values) happens under the one
// process-wide record lock, so no property is ever read while it is being
// replaced. The lock is held only around these in-memory steps, never
// across a call into the library or out to a client.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "WbemProperty.h"
#include "wbem/WbemInterfaces.h"

namespace telvane {

std::recursive_mutex& RecordLock();

inline constexpr uint32_t kNoHandle = 0xFFFFFFFFu;

class CSpNumericSensor {
public:
    CSpNumericSensor();

    uint32_t m_Handle = kNoHandle;
    CWbemProperty m_Accuracy{L"Accuracy", CIM_STRING};
    CWbemProperty m_BaseUnits{L"BaseUnits", CIM_UINT16};
    CWbemProperty m_Caption{L"Caption", CIM_STRING};
    CWbemProperty m_CreationClassName{L"CreationClassName", CIM_STRING};
    CWbemProperty m_CurrentReading{L"CurrentReading", CIM_SINT32};
    CWbemProperty m_CurrentState{L"CurrentState", CIM_STRING};
    CWbemProperty m_Description{L"Description", CIM_STRING};
    CWbemProperty m_DeviceID{L"DeviceID", CIM_STRING};
    CWbemProperty m_Hysteresis{L"Hysteresis", CIM_UINT32};
    CWbemProperty m_IsLinear{L"IsLinear", CIM_BOOLEAN};
    CWbemProperty m_LowerThresholdCritical{L"LowerThresholdCritical", CIM_SINT32};
    CWbemProperty m_LowerThresholdFatal{L"LowerThresholdFatal", CIM_SINT32};
    CWbemProperty m_LowerThresholdNonCritical{L"LowerThresholdNonCritical", CIM_SINT32};
    CWbemProperty m_MaxReadable{L"MaxReadable", CIM_SINT32};
    CWbemProperty m_MinReadable{L"MinReadable", CIM_SINT32};
    CWbemProperty m_Name{L"Name", CIM_STRING};
    CWbemProperty m_NominalReading{L"NominalReading", CIM_SINT32};
    CWbemProperty m_OtherSensorTypeDescription{L"OtherSensorTypeDescription", CIM_STRING};
    CWbemProperty m_PossibleStates{L"PossibleStates", CIM_STRING};
    CWbemProperty m_RateUnits{L"RateUnits", CIM_UINT16};
    CWbemProperty m_Resolution{L"Resolution", CIM_UINT32};
    CWbemProperty m_SensorType{L"SensorType", CIM_UINT16};
    CWbemProperty m_SystemName{L"SystemName", CIM_STRING};
    CWbemProperty m_SystemCreationClassName{L"SystemCreationClassName", CIM_STRING};
    CWbemProperty m_UnitModifier{L"UnitModifier", CIM_SINT32};
    CWbemProperty m_UpperThresholdCritical{L"UpperThresholdCritical", CIM_SINT32};
    CWbemProperty m_UpperThresholdFatal{L"UpperThresholdFatal", CIM_SINT32};
    CWbemProperty m_UpperThresholdNonCritical{L"UpperThresholdNonCritical", CIM_SINT32};

    std::array<CWbemProperty*, 28> Properties();
};

class CLedAlarmDevice {
public:
    CLedAlarmDevice();

    uint32_t m_Handle = kNoHandle;
    CWbemProperty m_AudibleAlarm{L"AudibleAlarm", CIM_BOOLEAN};
    CWbemProperty m_AlarmState{L"AlarmState", CIM_UINT16};
    CWbemProperty m_Caption{L"Caption", CIM_STRING};
    CWbemProperty m_CreationClassName{L"CreationClassName", CIM_STRING};
    CWbemProperty m_Description{L"Description", CIM_STRING};
    CWbemProperty m_DeviceID{L"DeviceID", CIM_STRING};
    CWbemProperty m_MotionAlarm{L"MotionAlarm", CIM_BOOLEAN};
    CWbemProperty m_Name{L"Name", CIM_STRING};
    CWbemProperty m_SystemName{L"SystemName", CIM_STRING};
    CWbemProperty m_SystemCreationClassName{L"SystemCreationClassName", CIM_STRING};
    CWbemProperty m_Urgency{L"Urgency", CIM_UINT16};
    CWbemProperty m_VisibleAlarm{L"VisibleAlarm", CIM_BOOLEAN};

    std::array<CWbemProperty*, 12> Properties();
};

const wchar_t* SensorTypeToString(uint16_t sensorType);

// The key of a record is the text of its Name: none unless it is a non-null
// VT_BSTR.
bool GetRecordKey(const CWbemProperty& name, std::wstring* key);

// The state text at `index` of the record's possible states; false when the
// value is not a string array based at 0 or the index has no text.
bool GetStateStringForValueMapping(CSpNumericSensor* record, uint32_t index, std::wstring* text);

void StoreReading(CSpNumericSensor* record, int32_t reading);
void StoreStateText(CSpNumericSensor* record, const std::wstring& text);
void StoreLedState(CLedAlarmDevice* record, bool on);

// Writes every property that has a value into the instance; WBEM's verdict
// on each is ignored.
void FillInstance(CSpNumericSensor* record, IWbemClassObject* instance);
void FillInstance(CLedAlarmDevice* record, IWbemClassObject* instance);

} // namespace telvane
