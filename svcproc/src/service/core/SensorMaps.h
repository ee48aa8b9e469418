// The reading and state maps of the three sensor kinds. The maps take no lock
// of their own: every access goes through the data cache, whose one lock
// guards all four maps (see CDataCache::Access).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include "core/InternalEntries.h"
#include "platform/sync/Sync.h"

// One design for voltages, fans and temperatures; the kinds differ only in
// the class name that starts every log line.
class CSensorMap {
public:
    using Entries = std::map<uint16_t, InternalSensor>;

    CSensorMap(const CSensorMap&) = delete;
    CSensorMap& operator=(const CSensorMap&) = delete;

    // False, and the map unchanged, when the key is already present.
    bool Insert(uint16_t key, const InternalSensor& entry);
    // Null when absent. Valid while the cache lock is held.
    const InternalSensor* Find(uint16_t key) const;
    size_t Size() const { return m_mEntries.size(); }
    Entries::const_iterator begin() const { return m_mEntries.begin(); }
    Entries::const_iterator end() const { return m_mEntries.end(); }

    // Sets the reading only; the state is left as it is.
    void UpdateReading(uint16_t key, int32_t reading);
    void UpdateState(uint16_t key, uint32_t state, int32_t reading);

    // The alert bit word last received for this kind.
    uint16_t m_wAlertBits = 0;
    // Tick count of the last refresh from the service processor.
    DWORD m_dwLastUpdate;

protected:
    explicit CSensorMap(const char* name);
    ~CSensorMap() = default;

private:
    Entries m_mEntries;
    const char* m_szName;
};

class CVoltageMap : public CSensorMap {
public:
    CVoltageMap();
    ~CVoltageMap();
};

class CFanMap : public CSensorMap {
public:
    CFanMap();
    ~CFanMap();
};

class CTemperatureMap : public CSensorMap {
public:
    CTemperatureMap();
    ~CTemperatureMap();
};
