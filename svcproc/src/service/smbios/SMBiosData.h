// Common base of the SMBIOS parsers: a borrowed read-only view of the raw
// structure table, the bounded walk from structure to structure, string
// lookup by number and the BIOS information record of the first structure.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class CRawSMBios;

// SMBIOS Type 0, read from the first structure of the table.
struct BiosInformation {
    uint8_t m_Type = 0;
    uint8_t m_Length = 0;
    uint16_t m_Handle = 0;
    uint8_t m_VendorNumber = 0;
    uint8_t m_VersionNumber = 0;
    uint16_t m_StartingSegment = 0;
    uint8_t m_ReleaseDateNumber = 0;
    uint8_t m_RomSize = 0;
    uint8_t m_Characteristics[8] = {};
    uint8_t m_ExtensionByte1 = 0;
    uint8_t m_ExtensionByte2 = 0;
    uint8_t m_BiosMajorRelease = 0;
    uint8_t m_BiosMinorRelease = 0;
    uint8_t m_FirmwareMajorRelease = 0;
    uint8_t m_FirmwareMinorRelease = 0;
    std::string m_Vendor;
    std::string m_Version;
    std::string m_ReleaseDate;
};

class CSMBiosData {
public:
    CSMBiosData();
    virtual ~CSMBiosData();
    CSMBiosData(const CSMBiosData&) = delete;
    CSMBiosData& operator=(const CSMBiosData&) = delete;

    virtual bool Initialise(CRawSMBios& raw) = 0;

    // The structure after `current`, or null when the walk is over.
    const uint8_t* GetNextTable(const uint8_t* current);
    // String `number` of the structure's string set (0 and 1 both give the
    // first); the empty string for any number beyond the set.
    std::string GetStructureString(const uint8_t* structure, uint8_t number) const;
    // Fills m_Bios from the structure.
    void StoreType00(const uint8_t* structure);

    const uint8_t* m_pRawBytes;
    uint32_t m_nRawBytes;
    BiosInformation m_Bios;

protected:
    // Takes the table's address and byte count from the holder.
    void AttachTable(const CRawSMBios& raw);
    // The common scan: the first structure to StoreType00, then every further
    // structure logged with `addressLine` (a format with one %x) and its
    // header, checked to lie wholly in the table together with the
    // `fieldBytes(type, length)` bytes of fixed fields the parser reads, and handed to
    // `dispatch`. A structure that does not fit ends the walk.
    void ScanTable(const char* addressLine,
                   const std::function<uint32_t(uint8_t type, uint8_t length)>& fieldBytes,
                   const std::function<void(const uint8_t* structure)>& dispatch);
    // Bytes from the structure's first byte to the first byte after its
    // string set, or 0 when header, `fieldBytes` or string set leave the table.
    uint32_t StructureExtent(const uint8_t* structure, uint32_t fieldBytes) const;

private:
    bool Contains(const uint8_t* p) const;
    // Offset of the first of the two NULs that end the string set starting at
    // `from`, or m_nRawBytes when there is none inside the table.
    uint32_t FindStringSetEnd(uint32_t from) const;
};
