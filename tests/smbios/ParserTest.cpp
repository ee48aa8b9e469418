// The management device, sensor and LED parsers over built tables.
#include "SmbiosTestSupport.h"
#include "smbios/SMBiosChipData.h"
#include "smbios/SMBiosLedData.h"
#include "smbios/SMBiosSensorData.h"

using namespace smbiostest;
using svcproc::sim::kNoHandle;
using svcproc::sim::ProbeValues;
using svcproc::sim::SmbiosTableBuilder;
using svcproc::sim::ThresholdSet;

namespace {

constexpr uint16_t kChip = 0x0020;

class ParserTest : public ::testing::Test {
protected:
    void Read(const SmbiosTableBuilder& builder) {
        ASSERT_TRUE(Load(m_raw, m_file, builder.Build()));
        m_log.Clear();
    }
    SmbiosTableBuilder Board() {
        SmbiosTableBuilder b;
        b.Bios("1.0.0 AB12")
            .ManagementDevice(kChip, "Tessaro VQX Service Processor", 0x0C, 0x2B0, 0x04);
        return b;
    }

    LogCapture m_log;
    TableFile m_file;
    CRawSMBios m_raw;
};

// Management devices.

TEST_F(ParserTest, ChipDataListsEveryManagementDeviceInTableOrder) {
    Read(Board()
             .ManagementDevice(0x21, "Other Chip", 0x03, 0x12345678, 0x03)
             .ManagementDevice(0x22, "", 0x05, 0xCAFE, 0x05)
             .End());
    CSMBiosChipData chip;
    ASSERT_TRUE(chip.Initialise(m_raw));
    ASSERT_EQ(chip.m_vDevices.size(), 3u);
    const ManagementDeviceRecord& second = *chip.m_vDevices[1];
    EXPECT_EQ(second.m_Type, 34);
    EXPECT_EQ(second.m_Length, 0x0B);
    EXPECT_EQ(second.m_Handle, 0x21);
    EXPECT_EQ(second.m_Description, "Other Chip");
    EXPECT_EQ(second.m_DeviceType, 0x03);
    EXPECT_EQ(second.m_Address, 0x12345678u);
    EXPECT_EQ(second.m_AddressType, 0x03);
    EXPECT_EQ(chip.m_vDevices[2]->m_DescriptionNumber, 0);
    EXPECT_EQ(chip.m_vDevices[2]->m_Description, "");
    EXPECT_EQ(chip.m_Bios.m_Version, "1.0.0 AB12");
    EXPECT_TRUE(m_log.Contains("CSMBiosChipData::Initialise - Initialised Ok - #device(s)=3"));
    int at = m_log.Find("CSMBiosChipData::StoreType34");
    ASSERT_GE(at, 0);
    std::vector<std::string> lines = m_log.Texts();
    EXPECT_EQ(std::vector<std::string>(lines.begin() + at, lines.begin() + at + 5),
              (std::vector<std::string>{
                  "CSMBiosChipData::StoreType34", "  Description: Tessaro VQX Service Processor",
                  "  Device Type: 0x0c", "  Address:     0x000002b0", "  AddressType: 0x04"}));

    m_log.Clear();
    EXPECT_TRUE(chip.Initialise(m_raw));
    EXPECT_EQ(m_log.Texts(),
              std::vector<std::string>{"CSMBiosChipData::Initialise - Already initialised"});
}

TEST_F(ParserTest, ChipDataWithoutDevicesFailsAndIgnoresAType34InFirstPlace) {
    SmbiosTableBuilder b;
    b.ManagementDevice(kChip, "First", 1, 2, 3).Structure(0x99, 1, {}).End();
    Read(b);
    CSMBiosChipData chip;
    EXPECT_FALSE(chip.Initialise(m_raw));
    EXPECT_FALSE(chip.m_bInit);
    EXPECT_TRUE(chip.m_vDevices.empty());
    EXPECT_EQ(m_log.TextsAt(LOG_ERROR),
              std::vector<std::string>{"CSMBiosChipData::Initialise - No Type 34 devices found"});
}

TEST_F(ParserTest, ChipDataDescriptionNumberZeroTakesTheFirstString) {
    Read(Board().ManagementDevice(0x21, "Named", 1, 2, 3).WithByte(4, 0).End());
    CSMBiosChipData chip;
    ASSERT_TRUE(chip.Initialise(m_raw));
    EXPECT_EQ(chip.m_vDevices[1]->m_Description, "Named");
}

TEST_F(ParserTest, ChipDataReadsAType34WithWrongLengthAtItsFixedOffsets) {
    // Length 0x10 over a formatted area of 0x0B: the Length byte only moves the string set.
    Read(Board().ManagementDevice(0x21, "Longer", 1, 0x01020304, 3).WithLength(0x10).End());
    CSMBiosChipData chip;
    ASSERT_TRUE(chip.Initialise(m_raw));
    ASSERT_EQ(chip.m_vDevices.size(), 2u);
    EXPECT_EQ(chip.m_vDevices[1]->m_Address, 0x01020304u);
    EXPECT_EQ(chip.m_vDevices[1]->m_Description, "r");
}

// Probes, components, thresholds.

ProbeValues Volts(std::optional<uint16_t> nominal = 12000) {
    ProbeValues v;
    v.locationAndStatus = 0x63;
    v.maximum = 12600;
    v.minimum = 11400;
    v.resolution = 5;
    v.tolerance = 60;
    v.accuracy = 150;
    v.nominal = nominal;
    return v;
}

ThresholdSet Limits(uint16_t base) {
    ThresholdSet t;
    t.lowerNonCritical = base;
    t.upperNonCritical = static_cast<uint16_t>(base + 1);
    t.lowerCritical = static_cast<uint16_t>(base + 2);
    t.upperCritical = static_cast<uint16_t>(base + 3);
    t.lowerNonRecoverable = static_cast<uint16_t>(base + 4);
    t.upperNonRecoverable = 0x8000;
    return t;
}

TEST_F(ParserTest, SensorDataLinksComponentsOfThisChipToProbesAndThresholds) {
    Read(Board()
             .VoltageProbe(0x30, "VCC probe", Volts(), 0x0102)
             .TemperatureProbe(0x31, "CPU probe", Volts(std::nullopt), 3)
             .CoolingDevice(0x32, 0x31, 0x67, 2, 0x0201, 3000)
             .Threshold(0x40, Limits(100))
             .Component(0x50, "Fan 1", kChip, 0x32, kNoHandle)
             .Component(0x51, "CPU", kChip, 0x31, 0x40)
             .Component(0x52, "Other", 0x0021, 0x30, 0x40)
             .End());
    CSMBiosSensorData sensors(kChip);
    ASSERT_TRUE(sensors.Initialise(m_raw));
    ASSERT_EQ(sensors.m_vAllSensors.size(), 3u);
    ASSERT_EQ(sensors.m_vChipSensors.size(), 2u);

    const SensorDescriptor& fan = *sensors.m_vChipSensors[0];
    EXPECT_EQ(fan.m_Handle, 0x32);
    EXPECT_EQ(fan.m_SensorType, SMBIOS_SENSOR_COOLING);
    EXPECT_EQ(fan.m_Description, "Fan 1");
    EXPECT_EQ(fan.m_OemDefined, 0x0201u);
    EXPECT_EQ(fan.m_Cooling.m_TemperatureProbeHandle, 0x31);
    EXPECT_EQ(fan.m_Cooling.m_DeviceTypeAndStatus, 0x67);
    EXPECT_EQ(fan.m_Cooling.m_CoolingUnitGroup, 2);
    EXPECT_EQ(fan.m_Cooling.m_NominalSpeed, 3000);
    EXPECT_EQ(fan.m_Thresholds.m_LowerCritical, 0x8000);

    const SensorDescriptor& cpu = *sensors.m_vChipSensors[1];
    EXPECT_EQ(cpu.m_SensorType, SMBIOS_SENSOR_TEMPERATURE);
    EXPECT_EQ(cpu.m_Description, "CPU");
    EXPECT_EQ(cpu.m_Probe.m_NominalValue, 0x8000);
    EXPECT_EQ(cpu.m_Thresholds.m_LowerNonCritical, 100);
    EXPECT_EQ(cpu.m_Thresholds.m_UpperNonCritical, 101);
    EXPECT_EQ(cpu.m_Thresholds.m_LowerCritical, 102);
    EXPECT_EQ(cpu.m_Thresholds.m_UpperCritical, 103);
    EXPECT_EQ(cpu.m_Thresholds.m_LowerNonRecoverable, 104);
    EXPECT_EQ(cpu.m_Thresholds.m_UpperNonRecoverable, 0x8000);

    const SensorDescriptor& vcc = *sensors.m_vAllSensors[0];
    EXPECT_EQ(vcc.m_Description, "VCC probe");
    EXPECT_EQ(vcc.m_Probe.m_LocationAndStatus, 0x63);
    EXPECT_EQ(vcc.m_Probe.m_MaximumValue, 12600);
    EXPECT_EQ(vcc.m_Probe.m_MinimumValue, 11400);
    EXPECT_EQ(vcc.m_Probe.m_Resolution, 5);
    EXPECT_EQ(vcc.m_Probe.m_Tolerance, 60);
    EXPECT_EQ(vcc.m_Probe.m_Accuracy, 150);
    EXPECT_EQ(vcc.m_Probe.m_NominalValue, 12000);
    EXPECT_EQ(vcc.m_OemDefined, 0x0102u);

    EXPECT_TRUE(m_log.Contains("CSMBiosSensorData::Initialise - Initialised Ok - #sensor(s)=2"));
    EXPECT_TRUE(m_log.Contains("CSMBiosSensorData::GetThisChipSensors - Sensor(0x0031) <--- Type "
                               "35(0x0051) ---> Type 36(0x0040)"));
    EXPECT_TRUE(m_log.Contains(
        "CSMBiosSensorData::GetThisChipSensors - Type 35(0x0050) - Threshold handle=0xffff"));
    EXPECT_EQ(sensors.GetSensorForHandle(0x99), nullptr);
    EXPECT_EQ(sensors.GetThresholdForHandle(0x40)->m_Thresholds.m_UpperCritical, 103);
}

TEST_F(ParserTest, ProbeLogLinesShowEveryField) {
    Read(Board()
             .VoltageProbe(0x30, "VCC", Volts(), 0x0102)
             .Component(0x50, "", kChip, 0x30, kNoHandle));
    CSMBiosSensorData sensors(kChip);
    ASSERT_TRUE(sensors.Initialise(m_raw));
    std::vector<std::string> lines = m_log.Texts();
    int at = m_log.Find("CSMBiosSensorData::StoreType26");
    ASSERT_GE(at, 0);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + at, lines.begin() + at + 10),
              (std::vector<std::string>{
                  "CSMBiosSensorData::StoreType26", "  Description:        VCC",
                  "  Location & Status:  0x63", "  Maximium Value:     0x3138",
                  "  Minimium Value:     0x2c88", "  Resolution:         0x0005",
                  "  Tolerance:          0x003c", "  Accuracy:           0x0096",
                  "  OEM DWord:          0x00000102", "  Nominal Value:      0x2ee0"}));
}

TEST_F(ParserTest, ComponentLinkRulesFollowTheHandles) {
    Read(Board()
             .TemperatureProbe(0x31, "T", Volts(), 7)
             .Threshold(0x40, Limits(10))
             .Threshold(0x41, Limits(20))
             .Component(0x50, "NoChip", kNoHandle, 0x31, 0x40)
             .Component(0x51, "NoSensor", kChip, kNoHandle, 0x40)
             .Component(0x52, "Missing", kChip, 0x77, 0x40)
             .Component(0x53, "First", kChip, 0x31, 0x40)
             .Component(0x54, "NoThreshold", kChip, 0x31, 0x99)
             .Component(0x55, "Again", kChip, 0x31, 0x41)
             .End());
    CSMBiosSensorData sensors(kChip);
    ASSERT_TRUE(sensors.Initialise(m_raw));
    ASSERT_EQ(sensors.m_vChipSensors.size(), 3u);
    EXPECT_EQ(sensors.m_vChipSensors[0], sensors.m_vChipSensors[2]);
    EXPECT_EQ(sensors.m_vChipSensors[0]->m_Description, "Again");
    EXPECT_EQ(sensors.m_vChipSensors[0]->m_Thresholds.m_LowerNonCritical, 20);
    const char* prefix = "CSMBiosSensorData::GetThisChipSensors - ";
    for (const char* line :
         {"Type 35: 0x0050 - No Type 34", "Type 35(0x0051) - Sensor handle=0xffff",
          "Type 35(0x0052) - No Sensor found for Sensor handle 0x0077",
          "Type 35(0x0054) - No Threshold found for Threshold handle 0x0099"}) {
        EXPECT_TRUE(m_log.Contains(std::string(prefix) + line)) << line;
    }
    int found = m_log.Find(std::string(prefix) +
                           "Found threshold handle: 0x0040 associated with chip handle 0x0020");
    EXPECT_GE(found, 0);
    EXPECT_TRUE(m_log.Contains("CSMBiosSensorData::Initialise - Initialised Ok - #sensor(s)=3"));
}

TEST_F(ParserTest, ComponentOfAnotherChipLogsOnlyItsHandleLine) {
    Read(Board().VoltageProbe(0x30, "V", Volts(), 1).Component(0x50, "X", 0x0021, 0x30, 0x40));
    CSMBiosSensorData sensors(kChip);
    EXPECT_FALSE(sensors.Initialise(m_raw));
    int at = m_log.Find("CSMBiosSensorData::GetThisChipSensors --- Type 35: Handle 0x0050");
    ASSERT_GE(at, 0);
    EXPECT_EQ(m_log.Texts()[at + 1],
              "CSMBiosSensorData::Initialise - No sensors found for this chip device");
}

TEST_F(ParserTest, SensorDataFailuresAndMissingThresholdList) {
    Read(Board().End());
    CSMBiosSensorData none(kChip);
    EXPECT_FALSE(none.Initialise(m_raw));
    EXPECT_EQ(m_log.TextsAt(LOG_ERROR),
              std::vector<std::string>{
                  "CSMBiosSensorData::Initialise - No sensors found for any chip device"});

    CRawSMBios raw;
    TableFile file;
    ASSERT_TRUE(Load(raw, file,
                     Board()
                         .VoltageProbe(0x30, "V", Volts(), 1)
                         .Component(0x50, "X", kChip, 0x30, 0x40)
                         .End()
                         .Build()));
    m_log.Clear();
    CSMBiosSensorData linked(kChip);
    EXPECT_TRUE(linked.Initialise(raw));
    EXPECT_EQ(m_log.TextsAt(LOG_ERROR),
              std::vector<std::string>{
                  "CSMBiosSensorData::GetThresholdForHandle - m_vAllThresholds is empty"});
    EXPECT_EQ(linked.m_vChipSensors.size(), 1u);
}

TEST_F(ParserTest, NominalFieldsAreReadOnlyWhenLengthCoversThem) {
    Read(Board()
             .VoltageProbe(0x30, "short", Volts(std::nullopt), 1)
             .VoltageProbe(0x31, "long", Volts(0x1234), 2)
             .CoolingDevice(0x32, kNoHandle, 0x63, 0, 3, std::nullopt)
             .CoolingDevice(0x33, kNoHandle, 0x63, 0, 4, 0x0ABC)
             .End());
    CSMBiosSensorData sensors(kChip);
    sensors.Initialise(m_raw);
    ASSERT_EQ(sensors.m_vAllSensors.size(), 4u);
    EXPECT_EQ(sensors.m_vAllSensors[0]->m_Length, 0x14);
    EXPECT_EQ(sensors.m_vAllSensors[0]->m_Probe.m_NominalValue, 0x8000);
    EXPECT_EQ(sensors.m_vAllSensors[1]->m_Length, 0x16);
    EXPECT_EQ(sensors.m_vAllSensors[1]->m_Probe.m_NominalValue, 0x1234);
    EXPECT_EQ(sensors.m_vAllSensors[2]->m_Length, 0x0C);
    EXPECT_EQ(sensors.m_vAllSensors[2]->m_Cooling.m_NominalSpeed, 0x8000);
    EXPECT_EQ(sensors.m_vAllSensors[3]->m_Length, 0x0E);
    EXPECT_EQ(sensors.m_vAllSensors[3]->m_Cooling.m_NominalSpeed, 0x0ABC);
    EXPECT_EQ(sensors.m_vAllSensors[3]->m_Description, "");
}

TEST_F(ParserTest, SensorTypeNames) {
    SensorDescriptor d;
    const std::pair<int32_t, const char*> names[] = {
        {0, "Unknown"}, {1, "Voltage"}, {2, "Cooling"}, {3, "Temperature"}, {4, "Unknown"}};
    for (const auto& [type, name] : names) {
        d.m_SensorType = type;
        EXPECT_STREQ(CSMBiosSensorData::GetSensorTypeName(d), name);
    }
}

// LEDs.

TEST_F(ParserTest, LedDataCollectsEveryType128InTableOrder) {
    SmbiosTableBuilder b;
    b.Led(0x5F, "First place", 0x0080)
        .ManagementDevice(kChip, "x", 1, 2, 3)
        .Led(0x60, "Fault", 0x0001)
        .Led(0x61, "Power", 0x0004)
        .WithByte(6, 0)
        .End();
    Read(b);
    CSMBiosLedData leds;
    ASSERT_TRUE(leds.Initialise(m_raw));
    ASSERT_EQ(leds.m_vLeds.size(), 2u);
    EXPECT_EQ(leds.m_vLeds[0]->m_BitMap, 0x0001);
    EXPECT_EQ(leds.m_vLeds[0]->m_Description, "Fault");
    EXPECT_EQ(leds.m_vLeds[0]->m_DescriptionNumber, 1);
    EXPECT_EQ(leds.m_vLeds[0]->m_Handle, 0x60);
    EXPECT_EQ(leds.m_vLeds[1]->m_BitMap, 0x0004);
    EXPECT_EQ(leds.m_vLeds[1]->m_DescriptionNumber, 0);
    EXPECT_EQ(leds.m_vLeds[1]->m_Description, "Power");
    int at = m_log.Find("CSMBiosLedData::StoreType128");
    ASSERT_GE(at, 0);
    EXPECT_EQ(m_log.Texts()[at + 1], "  Description: Fault");
    EXPECT_EQ(m_log.Texts()[at + 2], "  BitMap: 0x0001");
    EXPECT_TRUE(m_log.Contains("CSMBiosLedData::Initialise - Initialised Ok - #LED(s)=2"));
}

TEST_F(ParserTest, LedDataWithoutLedsStillSucceeds) {
    Read(Board().End());
    CSMBiosLedData leds;
    EXPECT_TRUE(leds.Initialise(m_raw));
    std::vector<std::string> lines = m_log.Texts();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "CSMBiosLedData::Initialise - No Type 128 devices found - continuing anyway");
    EXPECT_EQ(lines.back(), "CSMBiosLedData::Initialise - Initialised Ok - #LED(s)=0");
}

TEST_F(ParserTest, ShortType128AtTheTableEndIsNotReadPastTheTable) {
    // Length 4 and no room for the fixed fields before the end of the table.
    Read(Board().Structure(128, 0x60, {}).WithLength(4));
    CSMBiosLedData leds;
    EXPECT_TRUE(leds.Initialise(m_raw));
    EXPECT_TRUE(leds.m_vLeds.empty());
    const uint8_t* last = m_raw.GetBytes() + m_raw.GetByteCount() - 6;
    EXPECT_TRUE(m_log.Contains(
        Format("CSMBiosData::GetNextTable - Past end of SMBIOS, pCurrent=0x%08x", Address(last))));
}

TEST_F(ParserTest, DestructorsLogSubclassLineBeforeBaseLine) {
    Read(Board().End());
    {
        CSMBiosSensorData sensors(kChip);
        m_log.Clear();
    }
    EXPECT_EQ(m_log.Texts(),
              (std::vector<std::string>{"CSMBiosSensorData Destroyed", "CSMBiosData Destroyed"}));
}

} // namespace
