#include "ManagedObjects.h"

#include <vector>

namespace telvane {

std::recursive_mutex& RecordLock() {
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

CSpNumericSensor::CSpNumericSensor() {
    m_CreationClassName.SetText(L"VQX_SpNumericSensor");
    m_CurrentState.SetLong(0);
    m_SystemName.SetText(L"Brindlemoor");
    m_SystemCreationClassName.SetText(L"ComputerSystem");
}

std::array<CWbemProperty*, 28> CSpNumericSensor::Properties() {
    return {&m_Accuracy,
            &m_BaseUnits,
            &m_Caption,
            &m_CreationClassName,
            &m_CurrentReading,
            &m_CurrentState,
            &m_Description,
            &m_DeviceID,
            &m_Hysteresis,
            &m_IsLinear,
            &m_LowerThresholdCritical,
            &m_LowerThresholdFatal,
            &m_LowerThresholdNonCritical,
            &m_MaxReadable,
            &m_MinReadable,
            &m_Name,
            &m_NominalReading,
            &m_OtherSensorTypeDescription,
            &m_PossibleStates,
            &m_RateUnits,
            &m_Resolution,
            &m_SensorType,
            &m_SystemName,
            &m_SystemCreationClassName,
            &m_UnitModifier,
            &m_UpperThresholdCritical,
            &m_UpperThresholdFatal,
            &m_UpperThresholdNonCritical};
}

CLedAlarmDevice::CLedAlarmDevice() {
    m_AudibleAlarm.SetBool(false);
    m_AlarmState.SetLong(0);
    m_CreationClassName.SetText(L"VQX_LedAlarmDevice");
    m_MotionAlarm.SetBool(false);
    m_SystemName.SetText(L"Brindlemoor");
    m_SystemCreationClassName.SetText(L"ComputerSystem");
    m_Urgency.SetLong(0);
    m_VisibleAlarm.SetBool(true);
}

std::array<CWbemProperty*, 12> CLedAlarmDevice::Properties() {
    return {&m_AudibleAlarm, &m_AlarmState,
            &m_Caption,      &m_CreationClassName,
            &m_Description,  &m_DeviceID,
            &m_MotionAlarm,  &m_Name,
            &m_SystemName,   &m_SystemCreationClassName,
            &m_Urgency,      &m_VisibleAlarm};
}

const wchar_t* SensorTypeToString(uint16_t sensorType) {
    static const wchar_t* const kTexts[] = {
        L"Unknown", L"Other",  L"Temperature", L"Voltage",  L"Current",        L"Tachometer",
        L"Counter", L"Switch", L"Lock",        L"Humidity", L"SmokeDetection", L"Presence"};
    return sensorType < std::size(kTexts) ? kTexts[sensorType] : L"Unknown";
}

bool GetRecordKey(const CWbemProperty& name, std::wstring* key) {
    const VARIANT& value = name.Value();
    if (value.vt != VT_BSTR || value.bstrVal == nullptr) {
        return false;
    }
    key->assign(value.bstrVal, SysStringLen(value.bstrVal));
    return true;
}

bool GetStateStringForValueMapping(CSpNumericSensor* record, uint32_t index, std::wstring* text) {
    std::lock_guard<std::recursive_mutex> lock(RecordLock());
    const VARIANT& value = record->m_PossibleStates.Value();
    // Exactly an array of strings: a VT_ERROR or VT_VARIANT array shares
    // bits with VT_BSTR but holds no strings.
    if (value.vt != (VT_ARRAY | VT_BSTR) || value.parray == nullptr) {
        return false;
    }
    SAFEARRAY* array = value.parray;
    VARTYPE elementType = 0;
    LONG lowerBound = 0;
    if (SafeArrayGetDim(array) != 1 || FAILED(SafeArrayGetVartype(array, &elementType)) ||
        elementType != VT_BSTR || FAILED(SafeArrayGetLBound(array, 1, &lowerBound)) ||
        lowerBound != 0 || array->rgsabound[0].cElements >= 0x7FFFFFFFu) {
        return false;
    }
    std::vector<std::wstring> texts;
    for (LONG i = 0; i < static_cast<LONG>(array->rgsabound[0].cElements); ++i) {
        BSTR element = nullptr;
        if (SUCCEEDED(SafeArrayGetElement(array, &i, &element)) && element != nullptr) {
            texts.emplace_back(element, SysStringLen(element));
        }
        SysFreeString(element);
    }
    if (index >= texts.size()) {
        return false;
    }
    *text = texts[index];
    return true;
}

void StoreReading(CSpNumericSensor* record, int32_t reading) {
    std::lock_guard<std::recursive_mutex> lock(RecordLock());
    record->m_CurrentReading.SetLong(reading);
}

void StoreStateText(CSpNumericSensor* record, const std::wstring& text) {
    std::lock_guard<std::recursive_mutex> lock(RecordLock());
    record->m_CurrentState.SetText(text);
}

void StoreLedState(CLedAlarmDevice* record, bool on) {
    std::lock_guard<std::recursive_mutex> lock(RecordLock());
    record->m_AlarmState.SetShort(on ? 2 : 1);
}

namespace {

template <typename Properties> void PutAll(Properties properties, IWbemClassObject* instance) {
    std::lock_guard<std::recursive_mutex> lock(RecordLock());
    for (CWbemProperty* property : properties) {
        if (!property->IsUnset()) {
            instance->Put(property->Name().c_str(), 0, property->MutableValue(), 0);
        }
    }
}

} // namespace

void FillInstance(CSpNumericSensor* record, IWbemClassObject* instance) {
    PutAll(record->Properties(), instance);
}

void FillInstance(CLedAlarmDevice* record, IWbemClassObject* instance) {
    PutAll(record->Properties(), instance);
}

} // namespace telvane
