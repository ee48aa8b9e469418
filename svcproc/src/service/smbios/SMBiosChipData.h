// Parser of the management devices (SMBIOS Type 34) of the table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SMBiosData.h"

struct ManagementDeviceRecord {
    uint8_t m_Type = 0;
    uint8_t m_Length = 0;
    uint16_t m_Handle = 0;
    uint8_t m_DescriptionNumber = 0;
    uint8_t m_DeviceType = 0;
    uint32_t m_Address = 0;
    uint8_t m_AddressType = 0;
    std::string m_Description;
};

class CSMBiosChipData : public CSMBiosData {
public:
    CSMBiosChipData();
    ~CSMBiosChipData() override;

    // True when at least one management device was found.
    bool Initialise(CRawSMBios& raw) override;

    bool m_bInit;
    // Every Type 34 structure in table order.
    std::vector<std::unique_ptr<ManagementDeviceRecord>> m_vDevices;

private:
    void GetStructures();
    void StoreType34(const uint8_t* structure, ManagementDeviceRecord& record);
};
