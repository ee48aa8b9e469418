// Parser of the front-panel LED structures (OEM Type 128).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SMBiosData.h"

struct LedRecord {
    uint8_t m_Type = 0;
    uint8_t m_Length = 0;
    uint16_t m_Handle = 0;
    uint8_t m_DescriptionNumber = 0;
    uint16_t m_BitMap = 0;
    std::string m_Description;
};

class CSMBiosLedData : public CSMBiosData {
public:
    CSMBiosLedData();
    ~CSMBiosLedData() override;

    // Always true; a table without LEDs is not an error.
    bool Initialise(CRawSMBios& raw) override;

    bool m_bInit;
    // Every Type 128 structure in table order.
    std::vector<std::unique_ptr<LedRecord>> m_vLeds;

private:
    void GetStructures();
    void StoreType128(const uint8_t* structure);
};
