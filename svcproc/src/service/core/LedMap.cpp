#include "core/LedMap.h"

#include "Log.h"

CLedMap::CLedMap() : m_dwLastUpdate(GetTickCount()) {
    LogQuick(LOG_INFO, "CLedMap Constructed");
}

CLedMap::~CLedMap() {
    LogQuick(LOG_INFO, "CLedMap destroyed");
}

bool CLedMap::Insert(uint16_t key, const InternalLed& entry) {
    return m_mEntries.emplace(key, entry).second;
}

const InternalLed* CLedMap::Find(uint16_t key) const {
    auto found = m_mEntries.find(key);
    return found == m_mEntries.end() ? nullptr : &found->second;
}

void CLedMap::UpdateStates(uint16_t stateWord) {
    if (m_mEntries.size() > kMaxLeds) {
        LogQuick(LOG_ERROR, "CLedMap::UpdateStates - Internal Error - too many LEDs in Map");
        return;
    }
    for (auto& [key, led] : m_mEntries) {
        led.m_bOn = (stateWord & led.m_BitMap) != 0;
    }
}
