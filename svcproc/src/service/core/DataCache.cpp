#include "core/DataCache.h"

#include "Log.h"
#include "core/BoardFamily.h"
#include "core/LibraryState.h"

namespace {
using Guard = std::lock_guard<std::recursive_mutex>;
}

CDataCache::CDataCache() {
    LogQuick(LOG_INFO, "CDataCache Constructed");
}

CDataCache::~CDataCache() {
    LogQuick(LOG_INFO, "CDataCache Destroyed");
}

void CDataCache::AddSensor(CSensorMap& map, const char* lockedLine, const wchar_t* insertedFormat,
                           const wchar_t* failedFormat, const CSensorInformation& info,
                           uint16_t smbiosIndex) {
    Guard guard(m_Mutex);
    if (m_bLocked) {
        LogQuick(LOG_ERROR, lockedLine);
        return;
    }
    InternalSensor entry;
    entry.m_Information = info;
    if (map.Insert(smbiosIndex, entry)) {
        WLog(LOG_INFO, insertedFormat, info.m_Description.c_str(), static_cast<int>(smbiosIndex));
    } else {
        WLog(LOG_ERROR, failedFormat, info.m_Description.c_str(), static_cast<int>(smbiosIndex));
    }
}

void CDataCache::AddVoltage(const CSensorInformation& info, uint16_t smbiosIndex) {
    AddSensor(m_VoltageMap, "CDataCache::AddVoltage - Map already locked",
              L"CDataCache::AddVoltage - Inserted InternalSensor=%s with SmbiosIndex=%i",
              L"CDataCache::AddVoltage - Insert InternalSensor=%s with SmbiosIndex=%i failed", info,
              smbiosIndex);
}

void CDataCache::AddFan(const CSensorInformation& info, uint16_t smbiosIndex) {
    AddSensor(m_FanMap, "CDataCache::AddFan - Map already locked",
              L"CDataCache::AddFan - Inserted InternalSensor=%swith SmbiosIndex=%i",
              L"CDataCache::AddFan - Insert InternalSensor=%s with SmbiosIndex=%i failed", info,
              smbiosIndex);
}

void CDataCache::AddTemperature(const CSensorInformation& info, uint16_t smbiosIndex) {
    AddSensor(m_TemperatureMap, "CDataCache::AddTemperature - Map already locked",
              L"CDataCache::AddTemperature - Inserted InternalSensor=%s with SmbiosIndex=%i",
              L"CDataCache::AddTemperature - Insert InternalSensor=%s with SmbiosIndex=%i failed",
              info, smbiosIndex);
}

void CDataCache::AddLed(const CLedInformation& info, uint16_t smbiosIndex) {
    Guard guard(m_Mutex);
    if (m_bLocked) {
        LogQuick(LOG_ERROR, "CDataCache::AddLed - Map already locked");
        return;
    }
    InternalLed entry;
    entry.m_Urgency = info.m_Urgency;
    entry.m_Description = info.m_Description;
    entry.m_BitMap = info.m_BitMap;
    if (m_LedMap.Insert(smbiosIndex, entry)) {
        WLog(LOG_INFO, L"CDataCache::AddLed - Inserted InternalLed=%s with SmbiosIndex=%i",
             info.m_Description.c_str(), static_cast<int>(smbiosIndex));
    } else {
        WLog(LOG_ERROR, L"CDataCache::AddLed - Insert InternalLed=%s with SmbiosIndex=%i failed",
             info.m_Description.c_str(), static_cast<int>(smbiosIndex));
    }
}

void CDataCache::Lock() {
    Guard guard(m_Mutex);
    m_bLocked = true;
}

bool CDataCache::IsLocked() {
    Guard guard(m_Mutex);
    return m_bLocked;
}

bool CDataCache::IsFanHiddenFromEnumeration(const InternalSensor& fan) const {
    using namespace svcproc::board;
    return IsBoardFamily(g_BiosVersion, BoardFamilyCode(kChassisFanHiddenFamily)) &&
           fan.m_Information.m_Description == kHiddenChassisFanDescription;
}

SERVICE_CODE CDataCache::EnumerateSensorHandles(std::list<uint32_t>& handles) {
    Guard guard(m_Mutex);
    for (const auto& [key, voltage] : m_VoltageMap) {
        handles.push_back(MakeServiceHandle(HANDLE_KIND_VOLTAGE, key));
    }
    for (const auto& [key, fan] : m_FanMap) {
        if (IsFanHiddenFromEnumeration(fan)) {
            WLog(LOG_INFO, L"CDataCache::EnumerateSensorHandles - Skipping enum of=%s",
                 fan.m_Information.m_Description.c_str());
            continue;
        }
        handles.push_back(MakeServiceHandle(HANDLE_KIND_FAN, key));
    }
    for (const auto& [key, temperature] : m_TemperatureMap) {
        handles.push_back(MakeServiceHandle(HANDLE_KIND_TEMPERATURE, key));
    }
    return SERVICE_SUCCESS;
}

SERVICE_CODE CDataCache::EnumerateLedHandles(std::list<uint32_t>& handles) {
    Guard guard(m_Mutex);
    for (const auto& [key, led] : m_LedMap) {
        handles.push_back(MakeServiceHandle(HANDLE_KIND_LED, key));
    }
    return SERVICE_SUCCESS;
}

bool CDataCache::GetSensorInfo(const CSensorMap& map, const char* missFormat, uint32_t handle,
                               CSensorInformation& info) {
    Guard guard(m_Mutex);
    const InternalSensor* entry = map.Find(ServiceHandleKey(handle));
    if (entry == nullptr) {
        Log(LOG_ERROR, missFormat, ServiceHandleKey(handle));
        return false;
    }
    info = entry->m_Information;
    return true;
}

bool CDataCache::GetSensorEntry(const CSensorMap& map, const char* missFormat, uint32_t handle,
                                InternalSensor& entry) {
    Guard guard(m_Mutex);
    const InternalSensor* found = map.Find(ServiceHandleKey(handle));
    if (found == nullptr) {
        Log(LOG_ERROR, missFormat, ServiceHandleKey(handle));
        return false;
    }
    entry = *found;
    return true;
}

bool CDataCache::GetVoltageInfo(uint32_t handle, CSensorInformation& info) {
    return GetSensorInfo(m_VoltageMap, "CDataCache::GetVoltageInfo - Handle 0x%04x not found",
                         handle, info);
}

bool CDataCache::GetFanInfo(uint32_t handle, CSensorInformation& info) {
    return GetSensorInfo(m_FanMap, "CDataCache::GetFanInfo - Handle 0x%04x not found", handle,
                         info);
}

bool CDataCache::GetTemperatureInfo(uint32_t handle, CSensorInformation& info) {
    return GetSensorInfo(m_TemperatureMap,
                         "CDataCache::GetTemperatureInfo - Handle 0x%04x not found", handle, info);
}

bool CDataCache::GetLedInfo(uint32_t handle, CLedInformation& info) {
    Guard guard(m_Mutex);
    const InternalLed* led = m_LedMap.Find(ServiceHandleKey(handle));
    if (led == nullptr) {
        Log(LOG_ERROR, "CDataCache::GetLedInfo - Handle 0x%04x not found",
            ServiceHandleKey(handle));
        return false;
    }
    info.m_Urgency = led->m_Urgency;
    info.m_Description = led->m_Description;
    info.m_BitMap = led->m_BitMap;
    return true;
}

bool CDataCache::GetVoltage(uint32_t handle, InternalSensor& entry) {
    return GetSensorEntry(m_VoltageMap, "CDataCache::GetVoltage - Handle 0x%04x not found", handle,
                          entry);
}

bool CDataCache::GetFan(uint32_t handle, InternalSensor& entry) {
    return GetSensorEntry(m_FanMap, "CDataCache::GetFan - Handle 0x%04x not found", handle, entry);
}

bool CDataCache::GetTemperature(uint32_t handle, InternalSensor& entry) {
    return GetSensorEntry(m_TemperatureMap, "CDataCache::GetTemperature - Handle 0x%04x not found",
                          handle, entry);
}

bool CDataCache::GetLed(uint32_t handle, InternalLed& entry) {
    Guard guard(m_Mutex);
    const InternalLed* led = m_LedMap.Find(ServiceHandleKey(handle));
    if (led == nullptr) {
        Log(LOG_ERROR, "CDataCache::GetLed - Handle 0x%04x not found", ServiceHandleKey(handle));
        return false;
    }
    entry = *led;
    return true;
}

SERVICE_CODE CDataCache::GetSensor(uint32_t handle, InternalSensor& entry) {
    bool found = false;
    switch (ServiceHandleKind(handle)) {
    case HANDLE_KIND_VOLTAGE:
        found = GetVoltage(handle, entry);
        break;
    case HANDLE_KIND_FAN:
        found = GetFan(handle, entry);
        break;
    case HANDLE_KIND_TEMPERATURE:
        found = GetTemperature(handle, entry);
        break;
    default:
        break;
    }
    return found ? SERVICE_SUCCESS : SERVICE_INVALID_HANDLE;
}

bool CDataCache::IsStale(DWORD now, DWORD lastUpdate) {
    DWORD difference = now >= lastUpdate ? now - lastUpdate : lastUpdate - now;
    return difference >= kStaleAfterMs;
}

bool CDataCache::IsVoltageMapStale() {
    Guard guard(m_Mutex);
    return IsStale(GetTickCount(), m_VoltageMap.m_dwLastUpdate);
}

bool CDataCache::IsFanMapStale() {
    Guard guard(m_Mutex);
    return IsStale(GetTickCount(), m_FanMap.m_dwLastUpdate);
}

bool CDataCache::IsTemperatureMapStale() {
    Guard guard(m_Mutex);
    return IsStale(GetTickCount(), m_TemperatureMap.m_dwLastUpdate);
}

bool CDataCache::IsLedMapStale() {
    Guard guard(m_Mutex);
    return IsStale(GetTickCount(), m_LedMap.m_dwLastUpdate);
}
