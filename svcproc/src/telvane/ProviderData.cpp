#include "ProviderData.h"

#include "Log.h"
#include "ResourceManager.h"

namespace telvane {

namespace {

unsigned Address(const void* p) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}

} // namespace

CProviderData::CProviderData() {
    LogQuick(LOG_INFO, "CProviderData Constructed");
}

CProviderData::~CProviderData() {
    StopListening();
    LogQuick(LOG_INFO, "CProviderData Destroyed");
}

bool CProviderData::Initialise() {
    if (m_bInit) {
        LogQuick(LOG_INFO, "CProviderData::Initialise - Already initialised");
        return true;
    }
    if (!m_DriverInterface.Initialise()) {
        return false;
    }
    CSensorHandleList sensorHandles;
    if (!m_DriverInterface.GetSensorHandles(sensorHandles)) {
        return false;
    }
    if (sensorHandles.m_Handles.empty()) {
        LogQuick(LOG_ERROR, "CProviderData::Initialise - GetSensorHandles - No handles");
        return false;
    }
    CLedHandleList ledHandles;
    if (!m_DriverInterface.GetLedHandles(ledHandles)) {
        return false;
    }
    if (ledHandles.m_Handles.empty()) {
        LogQuick(LOG_INFO,
                 "CProviderData::Initialise - GetLedHandles - No handles - continuing anyway");
    }
    if (!BuildSensorMap(sensorHandles) || !BuildLedMap(ledHandles)) {
        return false;
    }
    m_bInit = true;
    LogQuick(LOG_INFO, "CProviderData::Initialise - Initialised Ok");
    return true;
}

void CProviderData::RegisterSensorStateListener() {
    if (m_bListenerRegistered) {
        LogQuick(LOG_INFO, "CProviderData::RegisterSensorStateListener - Already registered");
        return;
    }
    ServiceApi::RegisterSensorStateListener(this);
    m_bListenerRegistered = true;
}

void CProviderData::StopListening() {
    if (m_bListenerRegistered) {
        ServiceApi::UnregisterSensorStateListener(this);
        m_bListenerRegistered = false;
    }
}

bool CProviderData::BuildSensorMap(CSensorHandleList& SensorHandles) {
    Log(LOG_TRACE, "CProviderData::BuildSensorMap([in out] SensorHandles&)");
    for (uint32_t handle : SensorHandles.m_Handles) {
        CSensorInformation info;
        if (!m_DriverInterface.GetSensorInformation(handle, info)) {
            return false;
        }
        auto* record = new (std::nothrow) CSpNumericSensor;
        if (!record) {
            LogQuick(LOG_ERROR,
                     "CProviderData::BuildSensorMap - Allocating VQX_SpNumericSensor failed");
            return false;
        }
        PopulateSensor(handle, record, info);
        if (!m_SensorMap.Put(record)) {
            std::wstring key;
            GetRecordKey(record->m_Name, &key);
            WLog(LOG_ERROR, L"CProviderData::BuildSensorMap - Inserting Sensor %s failed",
                 key.c_str());
            delete record;
            return false;
        }
    }
    if (m_SensorMap.Empty()) {
        LogQuick(LOG_ERROR, "CProviderData::BuildSensorMap - No Sensors in map");
        return false;
    }
    m_SensorMap.Lock();
    return true;
}

bool CProviderData::BuildLedMap(CLedHandleList& LedHandles) {
    Log(LOG_TRACE, "CProviderData::BuildLedMap([in out] LedHandles&)");
    for (uint32_t handle : LedHandles.m_Handles) {
        CLedInformation info;
        if (!m_DriverInterface.GetLedInformation(handle, info)) {
            return false;
        }
        auto* record = new (std::nothrow) CLedAlarmDevice;
        if (!record) {
            LogQuick(LOG_ERROR,
                     "CProviderData::BuildLedMap - Allocating VQX_LedAlarmDevice failed");
            return false;
        }
        PopulateLed(handle, record, info);
        if (!m_LedMap.Put(record)) {
            std::wstring key;
            GetRecordKey(record->m_Name, &key);
            WLog(LOG_ERROR, L"CProviderData::BuildLedMap - Inserting Led %s failed", key.c_str());
            delete record;
            return false;
        }
    }
    if (m_LedMap.Empty()) {
        LogQuick(LOG_INFO, "CProviderData::BuildLedMap - No Leds in map");
    }
    m_LedMap.Lock();
    return true;
}

CSpNumericSensor* CProviderData::Refresh(CSpNumericSensor* record, const char* readingFormat,
                                         const char* mappingFormat) {
    CSensorReading reading{};
    if (!m_DriverInterface.ReadSensor(record->m_Handle, reading)) {
        return nullptr;
    }
    Log(LOG_INFO, readingFormat, reading.m_Reading, reading.m_State);
    // Reading and state text change together for every reader.
    std::lock_guard<std::recursive_mutex> lock(RecordLock());
    StoreReading(record, reading.m_Reading);
    std::wstring text;
    if (!GetStateStringForValueMapping(record, reading.m_State, &text)) {
        Log(LOG_ERROR, mappingFormat, reading.m_State);
        return nullptr;
    }
    StoreStateText(record, text);
    return record;
}

CSpNumericSensor* CProviderData::GetSensorAt(int index) {
    if (index < 0 || index >= m_SensorMap.Count()) {
        Log(LOG_ERROR, "CSensorMap::GetSensorAt(%d) - index out of range", index);
        return nullptr;
    }
    return Refresh(m_SensorMap.At(index),
                   "CProviderData::GetSensorAt - SensorReading: Reading=%d, State=%d",
                   "CProviderData::GetSensorAt - GetStateStringForValueMapping failed - "
                   "StateIndex=0x%08x");
}

CSpNumericSensor* CProviderData::GetSensor(const std::wstring& key) {
    CSpNumericSensor* record = m_SensorMap.Get(key);
    if (!record) {
        return nullptr;
    }
    return Refresh(record, "CProviderData::GetSensor - SensorReading: Reading=%d, State=%d",
                   "CProviderData::GetSensor - GetStateStringForValueMapping failed - "
                   "StateIndex=0x%08x");
}

CLedAlarmDevice* CProviderData::GetLedAt(int index) {
    if (index < 0 || index >= m_LedMap.Count()) {
        Log(LOG_ERROR, "CLedMap::GetLedAt(%d) - index out of range", index);
        return nullptr;
    }
    CLedAlarmDevice* record = m_LedMap.At(index);
    CLedReading reading{};
    if (!m_DriverInterface.ReadLed(record->m_Handle, reading)) {
        return nullptr;
    }
    Log(LOG_INFO, "CProviderData::GetLedAt - LedReading: m_bOn=%x", reading.m_bOn ? 1u : 0u);
    StoreLedState(record, reading.m_bOn);
    return record;
}

void CProviderData::SensorStateChanged(uint32_t SensorHandle, uint32_t State, int32_t Reading) {
    Log(LOG_INFO, "CProviderData::SensorStateChanged SensorHandle=0x%08x, State=0x%x, Reading=%i",
        SensorHandle, State, Reading);
    CSpNumericSensor* found = nullptr;
    for (int index = 0; index < m_SensorMap.Count() && !found; ++index) {
        CSpNumericSensor* record = GetSensorAt(index);
        if (record && record->m_Handle == SensorHandle) {
            found = record;
        }
    }
    if (!found) {
        Log(LOG_ERROR,
            "CProviderData::SensorStateChanged - failed to find SensorHandle=0x%08x in Sensor map",
            SensorHandle);
        return;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(RecordLock());
        StoreReading(found, Reading);
        std::wstring text;
        if (!GetStateStringForValueMapping(found, State, &text)) {
            Log(LOG_ERROR,
                "CProviderData::SensorStateChanged - GetStateStringForValueMapping failed - "
                "StateIndex=0x%08x",
                State);
            return;
        }
        StoreStateText(found, text);
    }
    if (CResourceManager* manager = CResourceManager::s_pInstance) {
        manager->FireSensorStateChanged(found);
    } else {
        LogQuick(LOG_ERROR, "CResourceManager::FireSensorStateChanged - SensorProvider is NULL");
    }
}

void CProviderData::PopulateSensor(uint32_t handle, CSpNumericSensor* record,
                                   const CSensorInformation& info) {
    Log(LOG_TRACE, "CProviderData::PopulateSensor(0x%08x,0x%08x,0x%08x)", Address(record),
        Address(&info), handle);
    record->m_Handle = handle;
    wchar_t hex[16];
    swprintf(hex, 16, L"%08x", handle);
    std::wstring name = info.m_Description + L"(" + hex + L")";
    std::wstring type = SensorTypeToString(info.m_SensorType);
    record->m_DeviceID.SetText(hex);
    record->m_Caption.SetText(type + L"(" + hex + L")");
    record->m_Description.SetText(name + L": " + type + L" sensor");
    record->m_Name.SetText(name);
    record->m_Accuracy.SetLong(info.m_Accuracy);
    record->m_BaseUnits.SetShort(static_cast<SHORT>(info.m_BaseUnits));
    record->m_CurrentReading.SetLong(0);
    record->m_CurrentState.SetText(L"Unknown");
    record->m_Hysteresis.SetLong(info.m_Hysteresis);
    record->m_IsLinear.SetBool(info.m_bIsLinear);
    record->m_LowerThresholdCritical.SetLong(info.m_LowerThresholdCritical);
    record->m_LowerThresholdFatal.SetLong(info.m_LowerThresholdFatal);
    record->m_LowerThresholdNonCritical.SetLong(info.m_LowerThresholdNonCritical);
    record->m_MaxReadable.SetLong(info.m_MaxReadable);
    record->m_MinReadable.SetLong(info.m_MinReadable);
    record->m_NominalReading.SetLong(info.m_NominalReading);
    record->m_OtherSensorTypeDescription.SetText(info.m_OtherSensorTypeDescription);
    record->m_PossibleStates.SetTextArray(info.m_vPossibleStates);
    record->m_RateUnits.SetShort(static_cast<SHORT>(info.m_RateUnits));
    record->m_Resolution.SetLong(info.m_Resolution);
    record->m_SensorType.SetShort(static_cast<SHORT>(info.m_SensorType));
    record->m_UnitModifier.SetLong(info.m_UnitModifier);
    record->m_UpperThresholdCritical.SetLong(info.m_UpperThresholdCritical);
    record->m_UpperThresholdFatal.SetLong(info.m_UpperThresholdFatal);
    record->m_UpperThresholdNonCritical.SetLong(info.m_UpperThresholdNonCritical);
}

void CProviderData::PopulateLed(uint32_t handle, CLedAlarmDevice* record,
                                const CLedInformation& info) {
    Log(LOG_TRACE, "CProviderData::PopulateLed(0x%08x,0x%08x,0x%08x)", Address(record),
        Address(&info), handle);
    record->m_Handle = handle;
    wchar_t hex[16];
    swprintf(hex, 16, L"%08x", handle);
    std::wstring name = info.m_Description + L"(" + hex + L")";
    record->m_DeviceID.SetText(hex);
    record->m_Caption.SetText(std::wstring(L"Brightwick LED(") + hex + L")");
    record->m_Description.SetText(name + L": Brightwick LED");
    record->m_Name.SetText(name);
    record->m_AlarmState.SetShort(0);
    record->m_Urgency.SetShort(static_cast<SHORT>(info.m_Urgency));
}

} // namespace telvane
