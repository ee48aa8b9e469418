// The LED map: one entry per front-panel LED, keyed by its bit mask in the
// service processor's LED state word. Guarded by the data cache's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>

#include "core/InternalEntries.h"
#include "platform/sync/Sync.h"

class CLedMap {
public:
    using Entries = std::map<uint16_t, InternalLed>;
    // One LED per bit of the 16-bit state word.
    static constexpr size_t kMaxLeds = 16;

    CLedMap();
    ~CLedMap();
    CLedMap(const CLedMap&) = delete;
    CLedMap& operator=(const CLedMap&) = delete;

    bool Insert(uint16_t key, const InternalLed& entry);
    const InternalLed* Find(uint16_t key) const;
    size_t Size() const { return m_mEntries.size(); }
    Entries::const_iterator begin() const { return m_mEntries.begin(); }
    Entries::const_iterator end() const { return m_mEntries.end(); }

    // Rewrites every entry's on-flag from the state word.
    void UpdateStates(uint16_t stateWord);

    DWORD m_dwLastUpdate;

private:
    Entries m_mEntries;
};
