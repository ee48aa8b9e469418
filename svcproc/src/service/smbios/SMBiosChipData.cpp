#include "SMBiosChipData.h"

#include "Log.h"
#include "SMBiosBytes.h"

using svcproc::smbios::ReadLe16;
using svcproc::smbios::ReadLe32;

namespace {
constexpr uint8_t kManagementDevice = 34;
// Fixed fields read from a Type 34 structure: up to the address type.
constexpr uint32_t kType34Bytes = 0x0B;
} // namespace

CSMBiosChipData::CSMBiosChipData() : m_bInit(false) {
    LogQuick(LOG_INFO, "CSMBiosChipData Constructed");
}

CSMBiosChipData::~CSMBiosChipData() {
    m_vDevices.clear();
    LogQuick(LOG_INFO, "CSMBiosChipData Destroyed");
}

bool CSMBiosChipData::Initialise(CRawSMBios& raw) {
    if (m_bInit) {
        LogQuick(LOG_INFO, "CSMBiosChipData::Initialise - Already initialised");
        return true;
    }
    AttachTable(raw);
    GetStructures();
    if (m_vDevices.empty()) {
        LogQuick(LOG_ERROR, "CSMBiosChipData::Initialise - No Type 34 devices found");
        return false;
    }
    m_bInit = true;
    Log(LOG_INFO, "CSMBiosChipData::Initialise - Initialised Ok - #device(s)=%d",
        static_cast<int>(m_vDevices.size()));
    return true;
}

void CSMBiosChipData::GetStructures() {
    ScanTable(
        "CSMBiosChipData::GetStructures - pTable=0x%x",
        [](uint8_t type, uint8_t) { return type == kManagementDevice ? kType34Bytes : 0u; },
        [this](const uint8_t* structure) {
            if (structure[0] != kManagementDevice) {
                return;
            }
            auto record = std::make_unique<ManagementDeviceRecord>();
            StoreType34(structure, *record);
            m_vDevices.push_back(std::move(record));
        });
}

void CSMBiosChipData::StoreType34(const uint8_t* s, ManagementDeviceRecord& record) {
    record.m_Type = s[0x00];
    record.m_Length = s[0x01];
    record.m_Handle = ReadLe16(s + 0x02);
    record.m_DescriptionNumber = s[0x04];
    record.m_DeviceType = s[0x05];
    record.m_Address = ReadLe32(s + 0x06);
    record.m_AddressType = s[0x0A];
    record.m_Description = GetStructureString(s, record.m_DescriptionNumber);
    LogQuick(LOG_INFO, "CSMBiosChipData::StoreType34");
    Log(LOG_INFO, "  Description: %s", record.m_Description.c_str());
    Log(LOG_INFO, "  Device Type: 0x%02x", record.m_DeviceType);
    Log(LOG_INFO, "  Address:     0x%08x", record.m_Address);
    Log(LOG_INFO, "  AddressType: 0x%02x", record.m_AddressType);
}
