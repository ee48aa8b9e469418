// Temporary directories and SMBIOS table files for the core's tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "SmbiosTableBuilder.h"
#include "core/BoardFamily.h"

namespace coretest {

inline constexpr const char* kSpDescription = "Tessaro VQX Service Processor";
inline constexpr uint16_t kSpHandle = 0x0100;

// A directory made with mkdtemp and removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "svcp-core-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        if (mkdtemp(buffer.data()) != nullptr) {
            m_Path = buffer.data();
        }
    }
    ~TempDir() {
        std::error_code ignored;
        if (!m_Path.empty()) {
            std::filesystem::remove_all(m_Path, ignored);
        }
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_Path; }

private:
    std::string m_Path;
};

inline std::string BiosVersionOfFamily(int family) {
    return std::string(svcproc::board::BoardFamilyCode(family)) + "1.02";
}

// A service processor board: one voltage probe (position 0) with thresholds,
// one fan (position 1) and one temperature probe (position 2), two LEDs.
struct OtherDevice {
    uint16_t handle;
    std::string description;
};

// `before`: management devices laid out ahead of the service processor's.
inline svcproc::sim::SmbiosTableBuilder SpBoard(const std::string& biosVersion,
                                                const char* description = kSpDescription,
                                                const std::vector<OtherDevice>& before = {}) {
    using namespace svcproc::sim;
    SmbiosTableBuilder b;
    ProbeValues volts;
    volts.maximum = 15000;
    volts.minimum = 0;
    volts.resolution = 5;
    volts.accuracy = 150;
    volts.nominal = 12000;
    ProbeValues temps;
    temps.maximum = 1000;
    temps.minimum = 0;
    temps.resolution = 250;
    temps.accuracy = 0x8000;
    temps.nominal = 400;
    ThresholdSet limits;
    limits.lowerCritical = 11000;
    limits.upperCritical = 13000;
    limits.upperNonRecoverable = 0xFFFF;
    b.Bios(biosVersion);
    for (const auto& device : before) {
        b.ManagementDevice(device.handle, device.description, 0x03, 0x2B0, 0x04);
    }
    b.ManagementDevice(kSpHandle, description, 0x03, 0x2B0, 0x04)
        .VoltageProbe(0x0200, "12V probe", volts, 0x0000)
        .CoolingDevice(0x0201, kNoHandle, 0x63, 1, 0x0001, 3600)
        .TemperatureProbe(0x0202, "Board probe", temps, 0x0002)
        .Threshold(0x0400, limits)
        .Component(0x0300, "+12V", kSpHandle, 0x0200, 0x0400)
        .Component(0x0301, "CPU Fan", kSpHandle, 0x0201, kNoHandle)
        .Component(0x0302, "Board Temperature", kSpHandle, 0x0202, kNoHandle)
        .Led(0x0500, "Power", 0x0001)
        .Led(0x0501, "Fault", 0x0002);
    return b;
}

// Points SVCPROC_SMBIOS_TABLE at a table file and SVCPROC_RUNTIME_DIR at an
// empty runtime directory (no driver host there) for the fixture's life.
class TableEnvironment {
public:
    TableEnvironment() {
        m_TablePath = m_Dir.Path() + "/table.bin";
        std::filesystem::create_directories(m_Dir.Path() + "/run");
        setenv("SVCPROC_SMBIOS_TABLE", m_TablePath.c_str(), 1);
        setenv("SVCPROC_RUNTIME_DIR", (m_Dir.Path() + "/run").c_str(), 1);
    }
    ~TableEnvironment() {
        unsetenv("SVCPROC_SMBIOS_TABLE");
        unsetenv("SVCPROC_RUNTIME_DIR");
    }
    TableEnvironment(const TableEnvironment&) = delete;
    TableEnvironment& operator=(const TableEnvironment&) = delete;

    void Write(const std::vector<uint8_t>& bytes) {
        std::string error;
        ASSERT_TRUE(svcproc::sim::WriteFile(m_TablePath, bytes, &error)) << error;
    }
    void Write(svcproc::sim::SmbiosTableBuilder builder) { Write(builder.End().Build()); }
    void Remove() { std::filesystem::remove(m_TablePath); }
    const std::string& TablePath() const { return m_TablePath; }

private:
    TempDir m_Dir;
    std::string m_TablePath;
};

} // namespace coretest
