#include "SMBiosLedData.h"

#include "Log.h"
#include "SMBiosBytes.h"

using svcproc::smbios::ReadLe16;

namespace {
constexpr uint8_t kLed = 128;
// Fixed fields read from a Type 128 structure: up to the description number.
constexpr uint32_t kType128Bytes = 0x07;
} // namespace

CSMBiosLedData::CSMBiosLedData() : m_bInit(false) {
    LogQuick(LOG_INFO, "CSMBiosLedData Constructed");
}

CSMBiosLedData::~CSMBiosLedData() {
    m_vLeds.clear();
    LogQuick(LOG_INFO, "CSMBiosLedData Destroyed");
}

bool CSMBiosLedData::Initialise(CRawSMBios& raw) {
    if (m_bInit) {
        LogQuick(LOG_INFO, "CSMBiosLedData::Initialise - Already initialised");
        return true;
    }
    AttachTable(raw);
    GetStructures();
    if (m_vLeds.empty()) {
        LogQuick(LOG_INFO,
                 "CSMBiosLedData::Initialise - No Type 128 devices found - continuing anyway");
    }
    Log(LOG_INFO, "CSMBiosLedData::Initialise - Initialised Ok - #LED(s)=%d",
        static_cast<int>(m_vLeds.size()));
    m_bInit = true;
    return true;
}

void CSMBiosLedData::GetStructures() {
    ScanTable(
        "CSMBiosLedData::GetStructures - pTable=0x%x",
        [](uint8_t type, uint8_t) { return type == kLed ? kType128Bytes : 0u; },
        [this](const uint8_t* structure) {
            if (structure[0] == kLed) {
                StoreType128(structure);
            }
        });
}

void CSMBiosLedData::StoreType128(const uint8_t* s) {
    auto record = std::make_unique<LedRecord>();
    record->m_Type = s[0x00];
    record->m_Length = s[0x01];
    record->m_Handle = ReadLe16(s + 0x02);
    record->m_BitMap = ReadLe16(s + 0x04);
    record->m_DescriptionNumber = s[0x06];
    record->m_Description = GetStructureString(s, record->m_DescriptionNumber);
    LogQuick(LOG_INFO, "CSMBiosLedData::StoreType128");
    Log(LOG_INFO, "  Description: %s", record->m_Description.c_str());
    Log(LOG_INFO, "  BitMap: 0x%04x", record->m_BitMap);
    m_vLeds.push_back(std::move(record));
}
