// The sensor and LED maps: records filed under their key (the Name text)
// and, once locked, an index of them in key order. Keys compare as UTF-16
// code units (unsigned 16-bit each), case-sensitive, a proper prefix first.
// After locking the structure never changes, so lookups and index walks
// need no lock.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ManagedObjects.h"

namespace telvane {

struct Utf16Less {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

template <typename Record> class CRecordMap {
public:
    struct Texts {
        const char* constructed;
        const char* destroyed;
        const char* locked;
        const char* put;
        const wchar_t* notInMap;
    };

    explicit CRecordMap(const Texts& texts);
    ~CRecordMap();
    CRecordMap(const CRecordMap&) = delete;
    CRecordMap& operator=(const CRecordMap&) = delete;

    // Takes the record when it returns true; the caller keeps it otherwise.
    bool Put(Record* record);
    Record* Get(const std::wstring& key) const;
    void Lock();
    int Count() const { return static_cast<int>(m_vIndex.size()); }
    Record* At(int index) const { return m_vIndex[static_cast<size_t>(index)]; }
    bool IsLocked() const { return m_bLocked; }
    bool Empty() const { return m_Map.empty(); }

private:
    Texts m_Texts;
    std::map<std::wstring, std::unique_ptr<Record>, Utf16Less> m_Map;
    std::vector<Record*> m_vIndex;
    bool m_bLocked = false;
};

extern template class CRecordMap<CSpNumericSensor>;
extern template class CRecordMap<CLedAlarmDevice>;

class CSensorMap : public CRecordMap<CSpNumericSensor> {
public:
    CSensorMap();
};

class CLedMap : public CRecordMap<CLedAlarmDevice> {
public:
    CLedMap();
};

} // namespace telvane
