#include "SMBiosData.h"

#include "Log.h"
#include "RawSMBios.h"
#include "SMBiosBytes.h"

using svcproc::smbios::ReadLe16;

namespace {

constexpr uint32_t kHeaderBytes = 4;
constexpr uint8_t kEndOfTable = 127;
// Fixed fields of the BIOS information structure read from the first structure.
constexpr uint32_t kType00Bytes = 0x18;

unsigned Address(const void* p) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}

} // namespace

CSMBiosData::CSMBiosData() : m_pRawBytes(nullptr), m_nRawBytes(0) {
    LogQuick(LOG_INFO, "CSMBiosData Constructed");
}

CSMBiosData::~CSMBiosData() {
    LogQuick(LOG_INFO, "CSMBiosData Destroyed");
}

void CSMBiosData::AttachTable(const CRawSMBios& raw) {
    m_pRawBytes = raw.GetBytes();
    m_nRawBytes = m_pRawBytes ? raw.GetByteCount() : 0;
}

bool CSMBiosData::Contains(const uint8_t* p) const {
    return m_pRawBytes && p >= m_pRawBytes && p < m_pRawBytes + m_nRawBytes;
}

uint32_t CSMBiosData::FindStringSetEnd(uint32_t from) const {
    for (uint32_t at = from; at + 1 < m_nRawBytes; ++at) {
        if (m_pRawBytes[at] == 0 && m_pRawBytes[at + 1] == 0) {
            return at;
        }
    }
    return m_nRawBytes;
}

uint32_t CSMBiosData::StructureExtent(const uint8_t* structure, uint32_t fieldBytes) const {
    if (!Contains(structure)) {
        return 0;
    }
    uint32_t at = static_cast<uint32_t>(structure - m_pRawBytes);
    uint32_t room = m_nRawBytes - at;
    if (room < kHeaderBytes || room < fieldBytes) {
        return 0;
    }
    uint32_t setStart = at + structure[1];
    uint32_t setEnd = FindStringSetEnd(setStart);
    if (setEnd >= m_nRawBytes) {
        return 0;
    }
    return setEnd + 2 - at;
}

const uint8_t* CSMBiosData::GetNextTable(const uint8_t* current) {
    if (!m_pRawBytes) {
        LogQuick(LOG_ERROR, "CSMBiosData::GetNextTable - m_pRawBytes==NULL");
        return nullptr;
    }
    // Offsets rather than pointers: a pointer past the table is never formed.
    bool inside = current >= m_pRawBytes && current <= m_pRawBytes + m_nRawBytes;
    uint32_t at = inside ? static_cast<uint32_t>(current - m_pRawBytes) : 0;
    if (!inside || m_nRawBytes - at < kHeaderBytes) {
        Log(LOG_ERROR, "CSMBiosData::GetNextTable - Past end of SMBIOS, pCurrent=0x%08x",
            Address(current));
        return nullptr;
    }
    if (current[0] == kEndOfTable) {
        LogQuick(LOG_INFO, "CSMBiosData::GetNextTable - End Structure (127) found");
        return nullptr;
    }
    uint32_t setEnd = FindStringSetEnd(at + current[1]);
    if (setEnd >= m_nRawBytes) {
        return nullptr;
    }
    return m_pRawBytes + setEnd + 2;
}

std::string CSMBiosData::GetStructureString(const uint8_t* structure, uint8_t number) const {
    if (!Contains(structure) || m_nRawBytes - (structure - m_pRawBytes) < 2) {
        return std::string();
    }
    uint32_t at = static_cast<uint32_t>(structure - m_pRawBytes) + structure[1];
    uint32_t setEnd = FindStringSetEnd(at);
    if (setEnd >= m_nRawBytes) {
        return std::string();
    }
    // The set's last NUL; no string starts after it.
    uint32_t last = setEnd + 1;
    for (uint8_t taken = 1; taken < number; ++taken) {
        if (at >= last) {
            return std::string();
        }
        while (m_pRawBytes[at] != 0) {
            ++at;
        }
        ++at;
    }
    if (at > last) {
        return std::string();
    }
    const char* text = reinterpret_cast<const char*>(m_pRawBytes + at);
    uint32_t length = 0;
    while (m_pRawBytes[at + length] != 0) {
        ++length;
    }
    return std::string(text, length);
}

void CSMBiosData::StoreType00(const uint8_t* structure) {
    m_Bios = BiosInformation();
    // A first structure shorter than the fields read (or one that leaves the
    // table) gives a record of zeros and empty strings.
    uint32_t extent = StructureExtent(structure, kType00Bytes);
    if (extent >= kType00Bytes) {
        const uint8_t* s = structure;
        m_Bios.m_Type = s[0x00];
        m_Bios.m_Length = s[0x01];
        m_Bios.m_Handle = ReadLe16(s + 0x02);
        m_Bios.m_VendorNumber = s[0x04];
        m_Bios.m_VersionNumber = s[0x05];
        m_Bios.m_StartingSegment = ReadLe16(s + 0x06);
        m_Bios.m_ReleaseDateNumber = s[0x08];
        m_Bios.m_RomSize = s[0x09];
        for (int i = 0; i < 8; ++i) {
            m_Bios.m_Characteristics[i] = s[0x0A + i];
        }
        m_Bios.m_ExtensionByte1 = s[0x12];
        m_Bios.m_ExtensionByte2 = s[0x13];
        m_Bios.m_BiosMajorRelease = s[0x14];
        m_Bios.m_BiosMinorRelease = s[0x15];
        m_Bios.m_FirmwareMajorRelease = s[0x16];
        m_Bios.m_FirmwareMinorRelease = s[0x17];
        m_Bios.m_Vendor = GetStructureString(s, m_Bios.m_VendorNumber);
        m_Bios.m_Version = GetStructureString(s, m_Bios.m_VersionNumber);
        m_Bios.m_ReleaseDate = GetStructureString(s, m_Bios.m_ReleaseDateNumber);
    }
    LogQuick(LOG_INFO, "CSMBiosChipData::StoreType00");
    Log(LOG_INFO, "  BIOS Vendor:            %s", m_Bios.m_Vendor.c_str());
    Log(LOG_INFO, "  BIOS Version:           %s", m_Bios.m_Version.c_str());
    Log(LOG_INFO, "  BIOS Release Date:      %s", m_Bios.m_ReleaseDate.c_str());
    Log(LOG_INFO, "  BIOS Start Seg:         0x%04x", m_Bios.m_StartingSegment);
    Log(LOG_INFO, "  BIOS ROM Size:          0x%02x", m_Bios.m_RomSize);
    Log(LOG_INFO, "  BIOS Characteristics:   0x%02x", m_Bios.m_Characteristics[0]);
    for (int i = 1; i < 8; ++i) {
        Log(LOG_INFO, "                          0x%02x", m_Bios.m_Characteristics[i]);
    }
    Log(LOG_INFO, "  Extension Byte 1:       0x%02x", m_Bios.m_ExtensionByte1);
    Log(LOG_INFO, "  Extension Byte 2:       0x%02x", m_Bios.m_ExtensionByte2);
    Log(LOG_INFO, "  BIOS Major Release:     0x%02x", m_Bios.m_BiosMajorRelease);
    Log(LOG_INFO, "  BIOS Minor Release:     0x%02x", m_Bios.m_BiosMinorRelease);
    Log(LOG_INFO, "  Firmware Major Release: 0x%02x", m_Bios.m_FirmwareMajorRelease);
    Log(LOG_INFO, "  Firmware Minor Release: 0x%02x", m_Bios.m_FirmwareMinorRelease);
}

void CSMBiosData::ScanTable(const char* addressLine,
                            const std::function<uint32_t(uint8_t type, uint8_t length)>& fieldBytes,
                            const std::function<void(const uint8_t* structure)>& dispatch) {
    if (m_pRawBytes) {
        StoreType00(m_pRawBytes);
        if (m_pRawBytes[0] != kEndOfTable && StructureExtent(m_pRawBytes, 0) == 0 &&
            m_nRawBytes >= kHeaderBytes) {
            // The first structure's string set leaves the table: no further
            // structure can be found.
            Log(LOG_ERROR, "CSMBiosData::GetNextTable - Past end of SMBIOS, pCurrent=0x%08x",
                Address(m_pRawBytes));
            return;
        }
    }
    const uint8_t* current = m_pRawBytes;
    while ((current = GetNextTable(current)) != nullptr) {
        if (m_nRawBytes - static_cast<uint32_t>(current - m_pRawBytes) < kHeaderBytes) {
            // Not even its header fits: nothing of it is read.
            Log(LOG_ERROR, "CSMBiosData::GetNextTable - Past end of SMBIOS, pCurrent=0x%08x",
                Address(current));
            return;
        }
        uint8_t type = current[0];
        Log(LOG_INFO, addressLine, Address(current));
        LogQuick(LOG_INFO, "Header:");
        Log(LOG_INFO, "  Type:   0x%02x, (%d)", type, type);
        Log(LOG_INFO, "  Length: 0x%02x", current[1]);
        Log(LOG_INFO, "  Handle: 0x%04x", ReadLe16(current + 2));
        if (type == kEndOfTable) {
            continue;
        }
        if (StructureExtent(current, fieldBytes(type, current[1])) == 0) {
            Log(LOG_ERROR, "CSMBiosData::GetNextTable - Past end of SMBIOS, pCurrent=0x%08x",
                Address(current));
            return;
        }
        dispatch(current);
    }
}
