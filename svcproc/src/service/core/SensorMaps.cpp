#include "core/SensorMaps.h"

#include "Log.h"

CSensorMap::CSensorMap(const char* name) : m_dwLastUpdate(GetTickCount()), m_szName(name) {}

bool CSensorMap::Insert(uint16_t key, const InternalSensor& entry) {
    return m_mEntries.emplace(key, entry).second;
}

const InternalSensor* CSensorMap::Find(uint16_t key) const {
    auto found = m_mEntries.find(key);
    return found == m_mEntries.end() ? nullptr : &found->second;
}

void CSensorMap::UpdateReading(uint16_t key, int32_t reading) {
    Log(LOG_TRACE, "%s::UpdateReading(%d,%d)", m_szName, key, reading);
    auto found = m_mEntries.find(key);
    if (found == m_mEntries.end()) {
        Log(LOG_INFO, "%s::UpdateReading - cannot find SmbiosIndex %d in Map", m_szName, key);
        return;
    }
    found->second.m_Reading = reading;
}

void CSensorMap::UpdateState(uint16_t key, uint32_t state, int32_t reading) {
    Log(LOG_TRACE, "%s::UpdateState(%d,%d,%d)", m_szName, key, static_cast<int>(state), reading);
    auto found = m_mEntries.find(key);
    if (found == m_mEntries.end()) {
        Log(LOG_INFO, "%s::UpdateState - cannot find SmbiosIndex %d in Map", m_szName, key);
        return;
    }
    found->second.m_State = state;
    found->second.m_Reading = reading;
}

CVoltageMap::CVoltageMap() : CSensorMap("CVoltageMap") {
    LogQuick(LOG_INFO, "CVoltageMap Constructed");
}
CVoltageMap::~CVoltageMap() {
    LogQuick(LOG_INFO, "CVoltageMap Destroyed");
}

CFanMap::CFanMap() : CSensorMap("CFanMap") {
    LogQuick(LOG_INFO, "CFanMap Constructed");
}
CFanMap::~CFanMap() {
    LogQuick(LOG_INFO, "CFanMap Destroyed");
}

CTemperatureMap::CTemperatureMap() : CSensorMap("CTemperatureMap") {
    LogQuick(LOG_INFO, "CTemperatureMap Constructed");
}
CTemperatureMap::~CTemperatureMap() {
    LogQuick(LOG_INFO, "CTemperatureMap Destroyed");
}
