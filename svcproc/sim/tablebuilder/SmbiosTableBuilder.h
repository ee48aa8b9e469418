// Builds SMBIOS structure tables for tests and board profiles: the
// structures the service library reads, with handles and string sets, plus
// hooks to break them on purpose. Strings are numbered in the order given;
// an empty string gets number 0 and is not added to the set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace svcproc::sim {

inline constexpr uint16_t kNoHandle = 0xFFFF;
inline constexpr uint16_t kUnknownValue = 0x8000;

// Values of a voltage or temperature probe, in the structure's own units.
struct ProbeValues {
    uint8_t locationAndStatus = 0x67; // motherboard, OK
    uint16_t maximum = kUnknownValue;
    uint16_t minimum = kUnknownValue;
    uint16_t resolution = kUnknownValue;
    uint16_t tolerance = kUnknownValue;
    uint16_t accuracy = kUnknownValue;
    std::optional<uint16_t> nominal; // none: a structure of Length 0x14
};

struct ThresholdSet {
    uint16_t lowerNonCritical = kUnknownValue;
    uint16_t upperNonCritical = kUnknownValue;
    uint16_t lowerCritical = kUnknownValue;
    uint16_t upperCritical = kUnknownValue;
    uint16_t lowerNonRecoverable = kUnknownValue;
    uint16_t upperNonRecoverable = kUnknownValue;
};

struct BiosFields {
    std::string vendor = "Tessaro";
    std::string releaseDate = "01/15/2021";
    uint16_t startingSegment = 0xF000;
    uint8_t romSize = 0x0F; // (n+1) * 64 KiB
    uint8_t characteristics[8] = {0x80, 0x98, 0x8B, 0x3F, 0x01, 0x00, 0x00, 0x00};
    uint8_t extension1 = 0x01;
    uint8_t extension2 = 0x00;
    uint8_t biosMajor = 2;
    uint8_t biosMinor = 2;
    uint8_t firmwareMajor = 0xFF;
    uint8_t firmwareMinor = 0xFF;
};

enum class EntryPoint { Smbios2, Smbios3 };

class SmbiosTableBuilder {
public:
    // Type 0 (Length 0x18).
    SmbiosTableBuilder& Bios(const std::string& version, const BiosFields& fields = {},
                             uint16_t handle = 0x0000);
    // Type 34 (Length 0x0B).
    SmbiosTableBuilder& ManagementDevice(uint16_t handle, const std::string& description,
                                         uint8_t deviceType, uint32_t address, uint8_t addressType);
    // Types 26 and 28 (Length 0x16, or 0x14 without a nominal value).
    SmbiosTableBuilder& VoltageProbe(uint16_t handle, const std::string& description,
                                     const ProbeValues& values, uint32_t oem);
    SmbiosTableBuilder& TemperatureProbe(uint16_t handle, const std::string& description,
                                         const ProbeValues& values, uint32_t oem);
    // Type 27 (Length 0x0F with a description string, 0x0E with only a nominal
    // speed, 0x0C with neither).
    SmbiosTableBuilder& CoolingDevice(uint16_t handle, uint16_t temperatureProbeHandle,
                                      uint8_t deviceTypeAndStatus, uint8_t unitGroup, uint32_t oem,
                                      std::optional<uint16_t> nominalSpeed,
                                      const std::string& description = "");
    // Type 35 (Length 0x0B).
    SmbiosTableBuilder& Component(uint16_t handle, const std::string& description,
                                  uint16_t managementDeviceHandle, uint16_t componentHandle,
                                  uint16_t thresholdHandle);
    // Type 36 (Length 0x10).
    SmbiosTableBuilder& Threshold(uint16_t handle, const ThresholdSet& values);
    // OEM Type 128 LED (Length 0x07): BitMap at 0x04, description number at 0x06.
    SmbiosTableBuilder& Led(uint16_t handle, const std::string& description, uint16_t bitmap);
    // Type 127 (Length 0x04).
    SmbiosTableBuilder& End(uint16_t handle = 0xFEFF);

    // Any structure: `fields` is the formatted area after the 4-byte header.
    SmbiosTableBuilder& Structure(uint8_t type, uint16_t handle, const std::vector<uint8_t>& fields,
                                  const std::vector<std::string>& strings = {});
    // Bytes appended to the table as they are, outside any structure.
    SmbiosTableBuilder& RawBytes(const std::vector<uint8_t>& bytes);

    // Malformations of the structure added last (calling one with no
    // structure added, or with an offset beyond it, aborts: a caller's bug).
    // Writes `length` into its Length byte; the bytes laid out stay the same.
    SmbiosTableBuilder& WithLength(uint8_t length);
    // Overwrites one byte of its formatted area (say a string number beyond
    // the set).
    SmbiosTableBuilder& WithByte(size_t offset, uint8_t value);
    // Drops `count` bytes from the end of its string set (the final NULs
    // first), so its string set runs into what follows.
    SmbiosTableBuilder& TruncateStringSet(size_t count = 1);

    // The raw structure table, structures back to back.
    std::vector<uint8_t> Build() const;
    // Number of structures added (raw bytes not counted).
    size_t StructureCount() const;

private:
    struct Item {
        std::vector<uint8_t> formatted; // header included
        std::vector<std::string> strings;
        std::optional<uint8_t> length;
        size_t dropped = 0;
        bool raw = false;
    };
    Item& Last();
    static void Put16(std::vector<uint8_t>& v, uint16_t value);
    static void Put32(std::vector<uint8_t>& v, uint32_t value);
    static uint8_t AddString(Item& item, const std::string& text);
    SmbiosTableBuilder& Probe(uint8_t type, uint16_t handle, const std::string& description,
                              const ProbeValues& values, uint32_t oem);
    Item& Begin(uint8_t type, uint16_t handle);

    std::vector<Item> m_vItems;
};

// A `dmidecode --dump-bin` image: entry point at offset 0, table at 0x20.
std::vector<uint8_t> MakeDumpBin(const std::vector<uint8_t>& table,
                                 EntryPoint entryPoint = EntryPoint::Smbios3, uint8_t major = 3,
                                 uint8_t minor = 2, uint16_t structureCount = 0);
// Writes bytes to a file; false and *error on failure.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);

} // namespace svcproc::sim
