// Everything the library knows about the service processor's sensors and
// LEDs: static descriptions, latest readings and states, keyed by SmbiosIndex.
//
// Locking: one recursive lock guards the lock flag and all four maps, so a
// lookup never sees a reading and its state half-updated. Every operation of
// the cache takes it for its own length. Code that must change several
// values as one step (a bulk read storing readings and the last-update time,
// alert processing comparing and replacing the alert word and storing
// states) holds a CDataCache::CAccess for that step; the lock being
// recursive, the cache's own operations may still be called meanwhile.
// Never call out of the library (a listener) while holding it.
#pragma once

#include <cstdint>
#include <list>
#include <mutex>

#include "ServiceApi.h"
#include "core/InternalEntries.h"
#include "core/LedMap.h"
#include "core/SensorMaps.h"

class CDataCache {
public:
    // Readings this old or older (in milliseconds) are refreshed before use.
    static constexpr DWORD kStaleAfterMs = 500;

    // Exclusive access to the maps for as long as the object lives.
    class CAccess {
    public:
        CVoltageMap& Voltages() const { return m_pCache->m_VoltageMap; }
        CFanMap& Fans() const { return m_pCache->m_FanMap; }
        CTemperatureMap& Temperatures() const { return m_pCache->m_TemperatureMap; }
        CLedMap& Leds() const { return m_pCache->m_LedMap; }

    private:
        friend class CDataCache;
        explicit CAccess(CDataCache& cache) : m_Guard(cache.m_Mutex), m_pCache(&cache) {}
        std::unique_lock<std::recursive_mutex> m_Guard;
        CDataCache* m_pCache;
    };

    CDataCache();
    ~CDataCache();
    CDataCache(const CDataCache&) = delete;
    CDataCache& operator=(const CDataCache&) = delete;

    CAccess Access() { return CAccess(*this); }

    // Refused once the cache is locked; a duplicate key keeps the first entry.
    void AddVoltage(const CSensorInformation& info, uint16_t smbiosIndex);
    void AddFan(const CSensorInformation& info, uint16_t smbiosIndex);
    void AddTemperature(const CSensorInformation& info, uint16_t smbiosIndex);
    void AddLed(const CLedInformation& info, uint16_t smbiosIndex);
    // Fixes the set of entries for good.
    void Lock();
    bool IsLocked();

    // Append to the list (never cleared); always SERVICE_SUCCESS.
    SERVICE_CODE EnumerateSensorHandles(std::list<uint32_t>& handles);
    SERVICE_CODE EnumerateLedHandles(std::list<uint32_t>& handles);

    // Lookups by the handle's lower 16 bits; the kind is the caller's
    // dispatch. The output is left untouched when the key is absent.
    bool GetVoltageInfo(uint32_t handle, CSensorInformation& info);
    bool GetFanInfo(uint32_t handle, CSensorInformation& info);
    bool GetTemperatureInfo(uint32_t handle, CSensorInformation& info);
    bool GetLedInfo(uint32_t handle, CLedInformation& info);
    bool GetVoltage(uint32_t handle, InternalSensor& entry);
    bool GetFan(uint32_t handle, InternalSensor& entry);
    bool GetTemperature(uint32_t handle, InternalSensor& entry);
    bool GetLed(uint32_t handle, InternalLed& entry);
    // Dispatches on the handle's kind: SERVICE_SUCCESS or SERVICE_INVALID_HANDLE.
    SERVICE_CODE GetSensor(uint32_t handle, InternalSensor& entry);

    // True when the kind's last refresh is kStaleAfterMs or more away from now.
    bool IsVoltageMapStale();
    bool IsFanMapStale();
    bool IsTemperatureMapStale();
    bool IsLedMapStale();

    // The staleness rule on two tick counts: absolute difference, unsigned.
    static bool IsStale(DWORD now, DWORD lastUpdate);

private:
    void AddSensor(CSensorMap& map, const char* lockedLine, const wchar_t* insertedFormat,
                   const wchar_t* failedFormat, const CSensorInformation& info,
                   uint16_t smbiosIndex);
    bool GetSensorInfo(const CSensorMap& map, const char* missFormat, uint32_t handle,
                       CSensorInformation& info);
    bool GetSensorEntry(const CSensorMap& map, const char* missFormat, uint32_t handle,
                        InternalSensor& entry);
    bool IsFanHiddenFromEnumeration(const InternalSensor& fan) const;

    std::recursive_mutex m_Mutex;
    bool m_bLocked = false;
    CVoltageMap m_VoltageMap;
    CFanMap m_FanMap;
    CTemperatureMap m_TemperatureMap;
    CLedMap m_LedMap;
};
