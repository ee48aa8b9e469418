// Our parsers against dmidecode on built tables, and against the real
// firmware tables of the corpus.
#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <unistd.h>

#include "SmbiosCorpus.h"
#include "SmbiosTestSupport.h"
#include "smbios/SMBiosChipData.h"
#include "smbios/SMBiosLedData.h"
#include "smbios/SMBiosSensorData.h"

using namespace smbiostest;
using svcproc::sim::EntryPoint;
using svcproc::sim::kNoHandle;
using svcproc::sim::MakeDumpBin;
using svcproc::sim::ProbeValues;
using svcproc::sim::SmbiosTableBuilder;
using svcproc::sim::ThresholdSet;

namespace {

// dmidecode's decoded output: per handle, its "Key: value" lines.
using Decoded = std::map<uint16_t, std::map<std::string, std::string>>;

bool RunDmidecode(const std::string& file, Decoded* out) {
    std::string command = "dmidecode --from-dump '" + file + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        return false;
    }
    std::string text;
    std::array<char, 4096> buffer;
    size_t got;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        text.append(buffer.data(), got);
    }
    if (pclose(pipe) != 0) {
        return false;
    }
    std::istringstream lines(text);
    std::string line;
    int handle = -1;
    bool inStrings = false;
    while (std::getline(lines, line)) {
        unsigned h;
        if (std::sscanf(line.c_str(), "Handle 0x%4x,", &h) == 1) {
            handle = static_cast<int>(h);
            inStrings = false;
            continue;
        }
        if (handle < 0 || line.size() < 2 || line[0] != '\t') {
            continue;
        }
        std::string body = line.substr(line.find_first_not_of('\t'));
        if (inStrings) {
            (*out)[handle]["String"] = body;
            inStrings = false;
        } else if (body == "Strings:") {
            inStrings = true;
        } else if (size_t colon = body.find(": "); colon != std::string::npos) {
            (*out)[handle][body.substr(0, colon)] = body.substr(colon + 2);
        } else if (line.rfind("\t\t", 0) == 0 && (*out)[handle].count("Data") == 0) {
            (*out)[handle]["Data"] = body;
        }
    }
    return true;
}

// A decimal text scaled to an integer count of `unit`s ("12.600 V" -> 12600).
long Scaled(const std::string& text, double factor) {
    return std::lround(std::strtod(text.c_str(), nullptr) * factor);
}

std::string Hex(unsigned value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%0*X", digits, value);
    return buffer;
}

bool HaveDmidecode() {
    return std::system("command -v dmidecode >/dev/null 2>&1") == 0;
}

class PeerTest : public ::testing::TestWithParam<EntryPoint> {
protected:
    LogCapture m_log;
    TableFile m_file;
};

TEST_P(PeerTest, DmidecodeAndOurParsersAgreeOnEveryFieldBothRead) {
    if (!HaveDmidecode()) {
        GTEST_SKIP() << "dmidecode not installed";
    }
    const uint16_t chip = 0x0020;
    ProbeValues volts;
    volts.maximum = 12600;
    volts.minimum = 11400;
    volts.resolution = 5;
    volts.tolerance = 60;
    volts.accuracy = 150;
    volts.nominal = 12000;
    ProbeValues temp;
    temp.maximum = 1000;
    temp.minimum = 0;
    temp.resolution = 250;
    temp.tolerance = 20;
    temp.accuracy = 100;
    temp.nominal = 450;
    ThresholdSet limits;
    limits.lowerNonCritical = 11500;
    limits.upperNonCritical = 12500;
    limits.lowerCritical = 11400;
    limits.upperCritical = 12600;
    limits.lowerNonRecoverable = 11000;
    limits.upperNonRecoverable = 13000;
    SmbiosTableBuilder b;
    b.Bios("1.0.0 AB12")
        .ManagementDevice(chip, "Tessaro VQX Service Processor", 0x0C, 0x2B0, 0x03)
        .ManagementDevice(0x21, "Other Chip", 0x03, 0x12345678, 0x05)
        .VoltageProbe(0x30, "VCC", volts, 0x00000102)
        .TemperatureProbe(0x31, "CPU", temp, 0x00000003)
        .CoolingDevice(0x32, 0x31, 0x67, 1, 0x00000201, 3000)
        .Threshold(0x40, limits)
        .Component(0x50, "Voltage 12V", chip, 0x30, 0x40)
        .Component(0x51, "CPU Temp", chip, 0x31, 0x40)
        .Component(0x52, "Fan 1", chip, 0x32, kNoHandle)
        .Led(0x60, "Fault", 0x0004)
        .End();
    std::vector<uint8_t> image =
        MakeDumpBin(b.Build(), GetParam(), GetParam() == EntryPoint::Smbios2 ? 2 : 3, 8);
    m_file.Write(image);
    Decoded peer;
    ASSERT_TRUE(RunDmidecode(m_file.Path(), &peer));

    CRawSMBios raw;
    ASSERT_TRUE(raw.Initialise());
    CSMBiosChipData chips;
    ASSERT_TRUE(chips.Initialise(raw));
    CSMBiosSensorData sensors(chip);
    ASSERT_TRUE(sensors.Initialise(raw));
    CSMBiosLedData leds;
    ASSERT_TRUE(leds.Initialise(raw));

    EXPECT_EQ(peer[0]["Version"], chips.m_Bios.m_Version);
    EXPECT_EQ(peer[0]["Vendor"], chips.m_Bios.m_Vendor);
    EXPECT_EQ(peer[0]["Release Date"], chips.m_Bios.m_ReleaseDate);
    EXPECT_EQ(peer[0]["Address"], Hex(chips.m_Bios.m_StartingSegment * 16u, 5));

    const char* deviceTypes[] = {"",        "Other",   "Unknown", "LM75",    "LM78",
                                 "LM79",    "LM80",    "LM81",    "ADM9240", "DS1780",
                                 "MAX1617", "GL518SM", "W83781D", "HT82H791"};
    const char* addressTypes[] = {"", "Other", "Unknown", "I/O Port", "Memory", "SMBus"};
    ASSERT_EQ(chips.m_vDevices.size(), 2u);
    for (const auto& device : chips.m_vDevices) {
        auto& fields = peer[device->m_Handle];
        EXPECT_EQ(fields["Description"], device->m_Description);
        EXPECT_EQ(fields["Address"], Hex(device->m_Address, 8));
        ASSERT_LT(device->m_AddressType, 6);
        EXPECT_EQ(fields["Address Type"], addressTypes[device->m_AddressType]);
        ASSERT_LT(device->m_DeviceType, 14);
        EXPECT_EQ(fields["Type"], deviceTypes[device->m_DeviceType]);
    }

    for (const auto& sensor : sensors.m_vAllSensors) {
        auto& fields = peer[sensor->m_Handle];
        EXPECT_EQ(fields["OEM-specific Information"], Hex(sensor->m_OemDefined, 8));
        if (sensor->m_SensorType == SMBIOS_SENSOR_COOLING) {
            EXPECT_EQ(fields["Temperature Probe Handle"],
                      Hex(sensor->m_Cooling.m_TemperatureProbeHandle, 4));
            EXPECT_EQ(fields["Cooling Unit Group"],
                      std::to_string(sensor->m_Cooling.m_CoolingUnitGroup));
            EXPECT_EQ(Scaled(fields["Nominal Speed"], 1), sensor->m_Cooling.m_NominalSpeed);
            continue;
        }
        const ProbeFields& p = sensor->m_Probe;
        // Volts to millivolts, degrees to tenths; resolutions to tenths of a
        // millivolt or thousandths of a degree; accuracy in hundredths of a percent.
        bool voltage = sensor->m_SensorType == SMBIOS_SENSOR_VOLTAGE;
        double value = voltage ? 1000 : 10;
        EXPECT_EQ(Scaled(fields["Maximum Value"], value), p.m_MaximumValue);
        EXPECT_EQ(Scaled(fields["Minimum Value"], value), p.m_MinimumValue);
        EXPECT_EQ(Scaled(fields["Tolerance"], value), p.m_Tolerance);
        EXPECT_EQ(Scaled(fields["Nominal Value"], value), p.m_NominalValue);
        EXPECT_EQ(Scaled(fields["Resolution"], voltage ? 10 : 1000), p.m_Resolution);
        EXPECT_EQ(Scaled(fields["Accuracy"], 100), p.m_Accuracy);
    }
    // The linked descriptors took the components' descriptions; the probes'
    // own descriptions are what dmidecode shows for the probe structures.
    EXPECT_EQ(peer[0x30]["Description"], "VCC");
    EXPECT_EQ(peer[0x31]["Description"], "CPU");

    ASSERT_EQ(sensors.m_vAllComponents.size(), 3u);
    for (const auto& component : sensors.m_vAllComponents) {
        auto& fields = peer[component->m_Handle];
        EXPECT_EQ(fields["Description"], component->m_Description);
        EXPECT_EQ(fields["Management Device Handle"], Hex(component->m_ManagementDeviceHandle, 4));
        EXPECT_EQ(fields["Component Handle"], Hex(component->m_ComponentHandle, 4));
        if (component->m_ThresholdHandle == kNoHandle) {
            EXPECT_EQ(fields.count("Threshold Handle"), 0u);
        } else {
            EXPECT_EQ(fields["Threshold Handle"], Hex(component->m_ThresholdHandle, 4));
        }
    }

    ASSERT_EQ(sensors.m_vAllThresholds.size(), 1u);
    const ThresholdValues& t = sensors.m_vAllThresholds[0]->m_Thresholds;
    auto& th = peer[0x40];
    EXPECT_EQ(th["Lower Non-critical Threshold"], std::to_string(t.m_LowerNonCritical));
    EXPECT_EQ(th["Upper Non-critical Threshold"], std::to_string(t.m_UpperNonCritical));
    EXPECT_EQ(th["Lower Critical Threshold"], std::to_string(t.m_LowerCritical));
    EXPECT_EQ(th["Upper Critical Threshold"], std::to_string(t.m_UpperCritical));
    EXPECT_EQ(th["Lower Non-recoverable Threshold"], std::to_string(t.m_LowerNonRecoverable));
    EXPECT_EQ(th["Upper Non-recoverable Threshold"], std::to_string(t.m_UpperNonRecoverable));

    ASSERT_EQ(leds.m_vLeds.size(), 1u);
    const LedRecord& led = *leds.m_vLeds[0];
    EXPECT_EQ(peer[0x60]["String"], led.m_Description);
    char data[32];
    std::snprintf(data, sizeof data, "80 07 60 00 %02X %02X %02X", led.m_BitMap & 0xFF,
                  led.m_BitMap >> 8, led.m_DescriptionNumber);
    EXPECT_EQ(peer[0x60]["Data"], data);
}

INSTANTIATE_TEST_SUITE_P(EntryPoints, PeerTest,
                         ::testing::Values(EntryPoint::Smbios2, EntryPoint::Smbios3),
                         [](const auto& info) {
                             return info.param == EntryPoint::Smbios2 ? "Smbios2" : "Smbios3";
                         });

// Every real table goes through acquisition, the walk and all three parsers;
// the sanitizer build checks that nothing is read outside the table.
TEST(CorpusTest, RealFirmwareTablesParseWithoutLeavingTheTable) {
    std::vector<std::string> files = SmbiosCorpusFiles(SVCPROC_CORPUS_DIR);
    if (files.empty()) {
        GTEST_SKIP() << "no corpus at " << SVCPROC_CORPUS_DIR;
    }
    LogCapture log;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        setenv("SVCPROC_SMBIOS_TABLE", file.c_str(), 1);
        CRawSMBios raw;
        ASSERT_TRUE(raw.Initialise());
        CSMBiosChipData chips;
        bool haveChips = chips.Initialise(raw);
        EXPECT_EQ(haveChips, !chips.m_vDevices.empty());
        for (const auto& device : chips.m_vDevices) {
            CSMBiosSensorData sensors(device->m_Handle);
            sensors.Initialise(raw);
            for (SensorDescriptor* sensor : sensors.m_vChipSensors) {
                EXPECT_NE(sensor, nullptr);
            }
        }
        CSMBiosSensorData unmatched(0xFFFF);
        EXPECT_FALSE(unmatched.Initialise(raw));
        CSMBiosLedData leds;
        EXPECT_TRUE(leds.Initialise(raw));
        log.Clear();
    }
    unsetenv("SVCPROC_SMBIOS_TABLE");
}

// Tables whose firmware bugs matter, pinned to what the parsers make of them.
class KnownTableTest : public ::testing::Test {
protected:
    bool Read(const char* name) {
        std::string dir = SVCPROC_CORPUS_DIR;
        std::string path = dir + "/" + name;
        if (access(path.c_str(), R_OK) != 0) {
            return false;
        }
        setenv("SVCPROC_SMBIOS_TABLE", path.c_str(), 1);
        bool ok = m_raw.Initialise();
        unsetenv("SVCPROC_SMBIOS_TABLE");
        EXPECT_TRUE(ok);
        return ok;
    }
    LogCapture m_log;
    CRawSMBios m_raw;
};

TEST_F(KnownTableTest, ComponentsPointingAtWrongTypesLinkNothing) {
    if (!Read("u-root_dmidecode_SuperMicro-X9DBL.bin")) {
        GTEST_SKIP() << "table not in the corpus";
    }
    CSMBiosChipData chips;
    ASSERT_TRUE(chips.Initialise(m_raw));
    ASSERT_EQ(chips.m_vDevices.size(), 2u);
    EXPECT_EQ(chips.m_vDevices[0]->m_Description, "LM78-1");
    EXPECT_EQ(chips.m_vDevices[1]->m_Length, 0x10); // real formatted area 0x0B
    for (const auto& device : chips.m_vDevices) {
        CSMBiosSensorData sensors(device->m_Handle);
        EXPECT_FALSE(sensors.Initialise(m_raw));
        EXPECT_EQ(sensors.m_vAllSensors.size(), 13u);
        EXPECT_TRUE(sensors.m_vChipSensors.empty());
    }
    EXPECT_TRUE(m_log.Contains("CSMBiosSensorData::GetThisChipSensors - Type 35(0x0041) - No "
                               "Sensor found for Sensor handle 0x003e"));
}

TEST_F(KnownTableTest, LengthZeroStructureDoesNotDerailTheWalk) {
    if (!Read("go-smbios_HyperV.bin")) {
        GTEST_SKIP() << "table not in the corpus";
    }
    CSMBiosChipData chips;
    ASSERT_TRUE(chips.Initialise(m_raw));
    ASSERT_EQ(chips.m_vDevices.size(), 1u);
    EXPECT_EQ(chips.m_vDevices[0]->m_Length, 0);
    EXPECT_TRUE(m_log.Contains("CSMBiosData::GetNextTable - End Structure (127) found"));
}

TEST_F(KnownTableTest, VendorType128OfLength8IsReadByOurLayout) {
    if (!Read("u-root_smbios_satellite_pro_l70_testdata.bin")) {
        GTEST_SKIP() << "table not in the corpus";
    }
    CSMBiosLedData leds;
    EXPECT_TRUE(leds.Initialise(m_raw));
    ASSERT_FALSE(leds.m_vLeds.empty());
    EXPECT_EQ(leds.m_vLeds[0]->m_Length, 8);
}

} // namespace
