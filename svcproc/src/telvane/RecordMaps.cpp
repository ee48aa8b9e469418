#include "RecordMaps.h"

#include "Log.h"

namespace telvane {

namespace {

// The UTF-16 code units of a text held as UTF-32.
std::u16string ToUtf16(const std::wstring& text) {
    std::u16string out;
    for (wchar_t c : text) {
        uint32_t cp = static_cast<uint32_t>(c);
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

} // namespace

bool Utf16Less::operator()(const std::wstring& a, const std::wstring& b) const {
    return ToUtf16(a) < ToUtf16(b);
}

template <typename Record> CRecordMap<Record>::CRecordMap(const Texts& texts) : m_Texts(texts) {
    LogQuick(LOG_INFO, m_Texts.constructed);
}

template <typename Record> CRecordMap<Record>::~CRecordMap() {
    m_vIndex.clear();
    m_Map.clear();
    LogQuick(LOG_INFO, m_Texts.destroyed);
}

template <typename Record> bool CRecordMap<Record>::Put(Record* record) {
    if (m_bLocked) {
        LogQuick(LOG_ERROR, m_Texts.locked);
        return false;
    }
    std::wstring key;
    if (record == nullptr || !GetRecordKey(record->m_Name, &key)) {
        return false;
    }
    bool inserted = false;
    if (m_Map.find(key) == m_Map.end()) {
        m_Map.emplace(key, std::unique_ptr<Record>(record));
        inserted = true;
    }
    Log(LOG_INFO, m_Texts.put, static_cast<unsigned>(reinterpret_cast<uintptr_t>(record)),
        inserted ? 1u : 0u);
    return inserted;
}

template <typename Record> Record* CRecordMap<Record>::Get(const std::wstring& key) const {
    auto found = m_Map.find(key);
    if (found == m_Map.end()) {
        WLog(LOG_ERROR, m_Texts.notInMap, key.c_str());
        return nullptr;
    }
    return found->second.get();
}

template <typename Record> void CRecordMap<Record>::Lock() {
    m_bLocked = true;
    m_vIndex.clear();
    for (auto& entry : m_Map) {
        m_vIndex.push_back(entry.second.get());
    }
}

template class CRecordMap<CSpNumericSensor>;
template class CRecordMap<CLedAlarmDevice>;

CSensorMap::CSensorMap()
    : CRecordMap({"CSensorMap Constructed", "CSensorMap Destroyed",
                  "CSensorMap::Put - Map already locked", "CSensorMap::Put(0x%08x) returns %x",
                  L"CSensorMap::Get(%s) - sensor not in map"}) {}

CLedMap::CLedMap()
    : CRecordMap({"CLedMap Constructed", "CLedMap Destroyed", "CLedMap::Put - Map already locked",
                  "CLedMap::Put(0x%08x) returns %x", L"CLedMap::Get(%s) - led not in map"}) {}

} // namespace telvane
