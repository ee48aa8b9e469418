#include "SmbiosTableBuilder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace svcproc::sim {

namespace {
// A misuse of the builder is a bug in the test or profile that calls it.
[[noreturn]] void Misuse(const char* what) {
    std::fprintf(stderr, "SmbiosTableBuilder: %s\n", what);
    std::abort();
}
} // namespace

void SmbiosTableBuilder::Put16(std::vector<uint8_t>& v, uint16_t value) {
    v.push_back(static_cast<uint8_t>(value));
    v.push_back(static_cast<uint8_t>(value >> 8));
}

void SmbiosTableBuilder::Put32(std::vector<uint8_t>& v, uint32_t value) {
    Put16(v, static_cast<uint16_t>(value));
    Put16(v, static_cast<uint16_t>(value >> 16));
}

uint8_t SmbiosTableBuilder::AddString(Item& item, const std::string& text) {
    if (text.empty()) {
        return 0;
    }
    item.strings.push_back(text);
    return static_cast<uint8_t>(item.strings.size());
}

SmbiosTableBuilder::Item& SmbiosTableBuilder::Begin(uint8_t type, uint16_t handle) {
    Item item;
    item.formatted = {type, 0};
    Put16(item.formatted, handle);
    m_vItems.push_back(std::move(item));
    return m_vItems.back();
}

SmbiosTableBuilder::Item& SmbiosTableBuilder::Last() {
    if (m_vItems.empty() || m_vItems.back().raw) {
        Misuse("no structure to change");
    }
    return m_vItems.back();
}

SmbiosTableBuilder& SmbiosTableBuilder::Bios(const std::string& version, const BiosFields& fields,
                                             uint16_t handle) {
    Item& item = Begin(0, handle);
    std::vector<uint8_t>& f = item.formatted;
    f.push_back(AddString(item, fields.vendor));
    f.push_back(AddString(item, version));
    Put16(f, fields.startingSegment);
    f.push_back(AddString(item, fields.releaseDate));
    f.push_back(fields.romSize);
    f.insert(f.end(), fields.characteristics, fields.characteristics + 8);
    f.push_back(fields.extension1);
    f.push_back(fields.extension2);
    f.push_back(fields.biosMajor);
    f.push_back(fields.biosMinor);
    f.push_back(fields.firmwareMajor);
    f.push_back(fields.firmwareMinor);
    return *this;
}

SmbiosTableBuilder& SmbiosTableBuilder::ManagementDevice(uint16_t handle,
                                                         const std::string& description,
                                                         uint8_t deviceType, uint32_t address,
                                                         uint8_t addressType) {
    Item& item = Begin(34, handle);
    item.formatted.push_back(AddString(item, description));
    item.formatted.push_back(deviceType);
    Put32(item.formatted, address);
    item.formatted.push_back(addressType);
    return *this;
}

SmbiosTableBuilder& SmbiosTableBuilder::Probe(uint8_t type, uint16_t handle,
                                              const std::string& description,
                                              const ProbeValues& values, uint32_t oem) {
    Item& item = Begin(type, handle);
    std::vector<uint8_t>& f = item.formatted;
    f.push_back(AddString(item, description));
    f.push_back(values.locationAndStatus);
    Put16(f, values.maximum);
    Put16(f, values.minimum);
    Put16(f, values.resolution);
    Put16(f, values.tolerance);
    Put16(f, values.accuracy);
    Put32(f, oem);
    if (values.nominal) {
        Put16(f, *values.nominal);
    }
    return *this;
}

SmbiosTableBuilder& SmbiosTableBuilder::VoltageProbe(uint16_t handle,
                                                     const std::string& description,
                                                     const ProbeValues& values, uint32_t oem) {
    return Probe(26, handle, description, values, oem);
}

SmbiosTableBuilder& SmbiosTableBuilder::TemperatureProbe(uint16_t handle,
                                                         const std::string& description,
                                                         const ProbeValues& values, uint32_t oem) {
    return Probe(28, handle, description, values, oem);
}

SmbiosTableBuilder& SmbiosTableBuilder::CoolingDevice(uint16_t handle,
                                                      uint16_t temperatureProbeHandle,
                                                      uint8_t deviceTypeAndStatus,
                                                      uint8_t unitGroup, uint32_t oem,
                                                      std::optional<uint16_t> nominalSpeed,
                                                      const std::string& description) {
    Item& item = Begin(27, handle);
    std::vector<uint8_t>& f = item.formatted;
    Put16(f, temperatureProbeHandle);
    f.push_back(deviceTypeAndStatus);
    f.push_back(unitGroup);
    Put32(f, oem);
    if (nominalSpeed || !description.empty()) {
        Put16(f, nominalSpeed.value_or(kUnknownValue));
    }
    if (!description.empty()) {
        f.push_back(AddString(item, description));
    }
    return *this;
}

SmbiosTableBuilder& SmbiosTableBuilder::Component(uint16_t handle, const std::string& description,
                                                  uint16_t managementDeviceHandle,
                                                  uint16_t componentHandle,
                                                  uint16_t thresholdHandle) {
    Item& item = Begin(35, handle);
    item.formatted.push_back(AddString(item, description));
    Put16(item.formatted, managementDeviceHandle);
    Put16(item.formatted, componentHandle);
    Put16(item.formatted, thresholdHandle);
    return *this;
}

SmbiosTableBuilder& SmbiosTableBuilder::Threshold(uint16_t handle, const ThresholdSet& values) {
    Item& item = Begin(36, handle);
    for (uint16_t value :
         {values.lowerNonCritical, values.upperNonCritical, values.lowerCritical,
          values.upperCritical, values.lowerNonRecoverable, values.upperNonRecoverable}) {
        Put16(item.formatted, value);
    }
    return *this;
}

SmbiosTableBuilder& SmbiosTableBuilder::Led(uint16_t handle, const std::string& description,
                                            uint16_t bitmap) {
    Item& item = Begin(128, handle);
    Put16(item.formatted, bitmap);
    item.formatted.push_back(AddString(item, description));
    return *this;
}

SmbiosTableBuilder& SmbiosTableBuilder::End(uint16_t handle) {
    Begin(127, handle);
    return *this;
}

SmbiosTableBuilder& SmbiosTableBuilder::Structure(uint8_t type, uint16_t handle,
                                                  const std::vector<uint8_t>& fields,
                                                  const std::vector<std::string>& strings) {
    Item& item = Begin(type, handle);
    item.formatted.insert(item.formatted.end(), fields.begin(), fields.end());
    item.strings = strings;
    return *this;
}

SmbiosTableBuilder& SmbiosTableBuilder::RawBytes(const std::vector<uint8_t>& bytes) {
    Item item;
    item.formatted = bytes;
    item.raw = true;
    m_vItems.push_back(std::move(item));
    return *this;
}

SmbiosTableBuilder& SmbiosTableBuilder::WithLength(uint8_t length) {
    Last().length = length;
    return *this;
}

SmbiosTableBuilder& SmbiosTableBuilder::WithByte(size_t offset, uint8_t value) {
    Item& item = Last();
    if (offset >= item.formatted.size()) {
        Misuse("WithByte offset beyond the formatted area");
    }
    item.formatted[offset] = value;
    return *this;
}

SmbiosTableBuilder& SmbiosTableBuilder::TruncateStringSet(size_t count) {
    Last().dropped += count;
    return *this;
}

std::vector<uint8_t> SmbiosTableBuilder::Build() const {
    std::vector<uint8_t> table;
    for (const Item& item : m_vItems) {
        if (item.raw) {
            table.insert(table.end(), item.formatted.begin(), item.formatted.end());
            continue;
        }
        std::vector<uint8_t> bytes = item.formatted;
        bytes[1] = item.length.value_or(static_cast<uint8_t>(item.formatted.size()));
        for (const std::string& text : item.strings) {
            bytes.insert(bytes.end(), text.begin(), text.end());
            bytes.push_back(0);
        }
        bytes.push_back(0);
        if (item.strings.empty()) {
            bytes.push_back(0);
        }
        size_t setStart = item.formatted.size();
        size_t drop = std::min(item.dropped, bytes.size() - setStart);
        bytes.resize(bytes.size() - drop);
        table.insert(table.end(), bytes.begin(), bytes.end());
    }
    return table;
}

size_t SmbiosTableBuilder::StructureCount() const {
    size_t count = 0;
    for (const Item& item : m_vItems) {
        count += item.raw ? 0 : 1;
    }
    return count;
}

namespace {

constexpr size_t kTableOffset = 0x20;

void Put16At(std::vector<uint8_t>& v, size_t at, uint16_t value) {
    v[at] = static_cast<uint8_t>(value);
    v[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32At(std::vector<uint8_t>& v, size_t at, uint32_t value) {
    Put16At(v, at, static_cast<uint16_t>(value));
    Put16At(v, at + 2, static_cast<uint16_t>(value >> 16));
}

uint8_t Checksum(const std::vector<uint8_t>& v, size_t from, size_t count) {
    uint8_t sum = 0;
    for (size_t i = from; i < from + count; ++i) {
        sum = static_cast<uint8_t>(sum + v[i]);
    }
    return static_cast<uint8_t>(0x100 - sum);
}

// Structures up to and including the end-of-table structure, as a reader
// that follows the string sets counts them.
uint16_t CountStructures(const std::vector<uint8_t>& table) {
    size_t at = 0;
    uint16_t count = 0;
    while (at + 4 <= table.size()) {
        ++count;
        if (table[at] == 127) {
            break;
        }
        size_t p = at + table[at + 1];
        while (p + 1 < table.size() && (table[p] != 0 || table[p + 1] != 0)) {
            ++p;
        }
        if (p + 1 >= table.size()) {
            break;
        }
        at = p + 2;
    }
    return count;
}

} // namespace

std::vector<uint8_t> MakeDumpBin(const std::vector<uint8_t>& table, EntryPoint entryPoint,
                                 uint8_t major, uint8_t minor, uint16_t structureCount) {
    std::vector<uint8_t> image(kTableOffset, 0);
    if (entryPoint == EntryPoint::Smbios3) {
        const char anchor[] = "_SM3_";
        std::copy(anchor, anchor + 5, image.begin());
        image[0x06] = 0x18;
        image[0x07] = major;
        image[0x08] = minor;
        image[0x09] = 0;
        image[0x0A] = 1;
        Put32At(image, 0x0C, static_cast<uint32_t>(table.size()));
        Put32At(image, 0x10, kTableOffset);
        image[0x05] = Checksum(image, 0, 0x18);
    } else {
        const char anchor[] = "_SM_";
        const char dmi[] = "_DMI_";
        std::copy(anchor, anchor + 4, image.begin());
        image[0x05] = 0x1F;
        image[0x06] = major;
        image[0x07] = minor;
        Put16At(image, 0x08, 0x100);
        std::copy(dmi, dmi + 5, image.begin() + 0x10);
        Put16At(image, 0x16, static_cast<uint16_t>(table.size()));
        Put32At(image, 0x18, kTableOffset);
        Put16At(image, 0x1C, structureCount ? structureCount : CountStructures(table));
        image[0x1E] = static_cast<uint8_t>((major << 4) | (minor & 0x0F));
        image[0x15] = Checksum(image, 0x10, 0x0F);
        image[0x04] = Checksum(image, 0, 0x1F);
    }
    image.insert(image.end(), table.begin(), table.end());
    return image;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        if (error) {
            *error = "cannot create " + path;
        }
        return false;
    }
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = (std::fclose(file) == 0) && ok;
    if (!ok && error) {
        *error = "cannot write " + path;
    }
    return ok;
}

} // namespace svcproc::sim
