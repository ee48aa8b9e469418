#include <gtest/gtest.h>

#include <list>

#include "LogCapture.h"
#include "TestEnvironment.h"
#include "core/LibraryState.h"
#include "core/ServiceProcessor.h"
#include "smbios/RawSMBios.h"
#include "smbios/SMBiosSensorData.h"

namespace {

using coretest::BiosVersionOfFamily;
using coretest::SpBoard;
using coretest::TableEnvironment;

constexpr int32_t kUnknown = SERVICE_VALUE_UNKNOWN;

TEST(SmbiosConversion, ValuesAndResolutions) {
    EXPECT_EQ(SmbiosValue(0x8000), kUnknown);
    EXPECT_EQ(SmbiosValue(0xFFFF), 65535);
    EXPECT_EQ(SmbiosValue(0x8001), 32769);
    EXPECT_EQ(SmbiosValue(0), 0);
    struct Case {
        uint16_t value;
        uint16_t divisor;
        int32_t expected;
    };
    const Case cases[] = {{5, 10, 1},         {0, 10, 0},   {0x8000, 10, kUnknown},
                          {250, 100, 2},      {99, 100, 1}, {1000, 10, 100},
                          {0xFFFF, 10, 6553}, {0, 100, 0},  {0x8000, 100, kUnknown}};
    for (const auto& c : cases) {
        EXPECT_EQ(SmbiosResolution(c.value, c.divisor), c.expected)
            << c.value << " / " << c.divisor;
    }
}

TEST(SmbiosConversion, DescriptionsWidenByteForByte) {
    EXPECT_EQ(WidenDescription("CPU Fan"), L"CPU Fan");
    EXPECT_EQ(WidenDescription(""), L"");
    EXPECT_EQ(WidenDescription("\xB0"
                               "C"),
              std::wstring(L"\u00B0C"));
}

SensorDescriptor Probe(int32_t type, uint32_t oem, const char* description) {
    SensorDescriptor d;
    d.m_SensorType = type;
    d.m_OemDefined = oem;
    d.m_Description = description;
    d.m_Probe.m_MaximumValue = 15000;
    d.m_Probe.m_MinimumValue = 0x8000;
    d.m_Probe.m_Resolution = 5;
    d.m_Probe.m_Accuracy = 0xFFFF;
    d.m_Probe.m_NominalValue = 12000;
    d.m_Cooling.m_NominalSpeed = 3600;
    d.m_Thresholds.m_LowerNonCritical = 100;
    d.m_Thresholds.m_UpperNonCritical = 200;
    d.m_Thresholds.m_LowerCritical = 0x8000;
    d.m_Thresholds.m_UpperCritical = 0xFFFF;
    d.m_Thresholds.m_LowerNonRecoverable = 0;
    d.m_Thresholds.m_UpperNonRecoverable = 400;
    return d;
}

class CopySensorInformationTest : public ::testing::Test {
protected:
    CSensorInformation Filed(uint32_t handle) {
        CSensorInformation info;
        EXPECT_EQ(m_Processor.GetSensorInformation(handle, info), SERVICE_SUCCESS);
        return info;
    }
    CServiceProcessor m_Processor;
};

void ExpectCommonFields(const CSensorInformation& info, const wchar_t* description) {
    EXPECT_EQ(info.m_Description, description);
    EXPECT_EQ(info.m_Hysteresis, 10);
    EXPECT_TRUE(info.m_bIsLinear);
    EXPECT_EQ(info.m_RateUnits, 0);
    EXPECT_TRUE(info.m_OtherSensorTypeDescription.empty());
    EXPECT_EQ(info.m_vPossibleStates, (std::vector<std::wstring>{L"Ok", L"Critical"}));
    EXPECT_EQ(info.m_LowerThresholdNonCritical, 100);
    EXPECT_EQ(info.m_UpperThresholdNonCritical, 200);
    EXPECT_EQ(info.m_LowerThresholdCritical, kUnknown);
    EXPECT_EQ(info.m_UpperThresholdCritical, 65535);
    EXPECT_EQ(info.m_LowerThresholdFatal, 0);
    EXPECT_EQ(info.m_UpperThresholdFatal, 400);
}

TEST_F(CopySensorInformationTest, VoltageProbe) {
    CSensorInformation scratch;
    m_Processor.CopySensorInformation(Probe(1, 0x12345603, "Vcore"), scratch);
    CSensorInformation info = Filed(0x10003);
    ExpectCommonFields(info, L"Vcore");
    EXPECT_EQ(info.m_BaseUnits, 5);
    EXPECT_EQ(info.m_SensorType, 3);
    EXPECT_EQ(info.m_UnitModifier, -3);
    EXPECT_EQ(info.m_Accuracy, 65535);
    EXPECT_EQ(info.m_MaxReadable, 15000);
    EXPECT_EQ(info.m_MinReadable, kUnknown);
    EXPECT_EQ(info.m_NominalReading, 12000);
    EXPECT_EQ(info.m_Resolution, 1);
}

TEST_F(CopySensorInformationTest, CoolingDeviceHasOnlyItsNominalSpeed) {
    CSensorInformation scratch;
    m_Processor.CopySensorInformation(Probe(2, 0x07, "CPU Fan"), scratch);
    CSensorInformation info = Filed(0x20007);
    ExpectCommonFields(info, L"CPU Fan");
    EXPECT_EQ(info.m_BaseUnits, 19);
    EXPECT_EQ(info.m_SensorType, 5);
    EXPECT_EQ(info.m_UnitModifier, 0);
    EXPECT_EQ(info.m_Accuracy, kUnknown);
    EXPECT_EQ(info.m_MaxReadable, kUnknown);
    EXPECT_EQ(info.m_MinReadable, kUnknown);
    EXPECT_EQ(info.m_Resolution, kUnknown);
    EXPECT_EQ(info.m_NominalReading, 3600);
}

TEST_F(CopySensorInformationTest, TemperatureProbeResolutionInTenthsOfADegree) {
    SensorDescriptor d = Probe(3, 0xFF, "Board");
    d.m_Probe.m_Resolution = 250;
    CSensorInformation scratch;
    m_Processor.CopySensorInformation(d, scratch);
    CSensorInformation info = Filed(0x300FF);
    ExpectCommonFields(info, L"Board");
    EXPECT_EQ(info.m_BaseUnits, 2);
    EXPECT_EQ(info.m_SensorType, 2);
    EXPECT_EQ(info.m_UnitModifier, -1);
    EXPECT_EQ(info.m_Resolution, 2);
    EXPECT_EQ(info.m_Accuracy, 65535);
}

TEST_F(CopySensorInformationTest, UnknownTypeIsLoggedAndNotFiled) {
    LogCapture log("3");
    CSensorInformation scratch;
    m_Processor.CopySensorInformation(Probe(4, 0x01, "Odd"), scratch);
    EXPECT_TRUE(log.Has("CopySensorInformation - Unknown sensor type=0x4", LOG_ERROR));
    std::list<uint32_t> handles;
    m_Processor.Cache().EnumerateSensorHandles(handles);
    EXPECT_TRUE(handles.empty());
}

TEST_F(CopySensorInformationTest, ProbesSharingTheLowByteCollide) {
    CSensorInformation first;
    CSensorInformation second;
    m_Processor.CopySensorInformation(Probe(1, 0x0102, "First"), first);
    LogCapture log("3");
    m_Processor.CopySensorInformation(Probe(1, 0x0002, "Second"), second);
    EXPECT_TRUE(
        log.Has("CDataCache::AddVoltage - Insert InternalSensor=Second with SmbiosIndex=2 failed",
                LOG_ERROR));
    EXPECT_EQ(Filed(0x10002).m_Description, L"First");
}

TEST_F(CopySensorInformationTest, HandlesOfTheWrongKindNeedNoLookup) {
    CSensorInformation scratch;
    m_Processor.CopySensorInformation(Probe(1, 0x01, "V"), scratch);
    CLedInformation led;
    led.m_BitMap = 1;
    m_Processor.Cache().AddLed(led, 1);
    LogCapture log;
    CSensorInformation info;
    CLedInformation ledInfo;
    for (uint32_t handle : {0x00001u, 0x40001u, 0x50001u, 0xFFFF0001u}) {
        EXPECT_EQ(m_Processor.GetSensorInformation(handle, info), SERVICE_INVALID_HANDLE);
    }
    for (uint32_t handle : {0x00001u, 0x10001u, 0x20001u, 0x30001u, 0x50001u}) {
        EXPECT_EQ(m_Processor.GetLedInformation(handle, ledInfo), SERVICE_INVALID_HANDLE);
    }
    for (const auto& text : log.Texts()) {
        EXPECT_EQ(text.find("not found"), std::string::npos) << text;
    }
    EXPECT_EQ(m_Processor.GetSensorInformation(0x10001, info), SERVICE_SUCCESS);
    EXPECT_EQ(m_Processor.GetLedInformation(0x40001, ledInfo), SERVICE_SUCCESS);
    EXPECT_EQ(log.Count("CServiceProcessor::GetLedInformation exit, sscode=0x0"), 1u);
}

class ServiceProcessorInitialise : public ::testing::Test {
protected:
    void TearDown() override { g_BiosVersion.clear(); }

    SERVICE_CODE Run(CServiceProcessor& processor, const std::string& biosVersion) {
        g_BiosVersion = biosVersion; // as the service manager leaves it
        CRawSMBios raw;
        EXPECT_TRUE(raw.Initialise());
        return processor.Initialise(raw, coretest::kSpHandle);
    }
    TableEnvironment m_Env;
};

TEST_F(ServiceProcessorInitialise, UnknownBoardFamilyFailsAfterFilingAndLocking) {
    m_Env.Write(SpBoard("ZZ9.99"));
    CServiceProcessor processor;
    LogCapture log("3");
    EXPECT_EQ(Run(processor, "ZZ9.99"), SERVICE_SMBIOS_INVALID);
    long filed = log.IndexOf("CDataCache::AddLed - Inserted InternalLed=Fault with SmbiosIndex=2");
    long failed = log.IndexOf("Cannot determine Port Base Address");
    ASSERT_GE(filed, 0);
    ASSERT_GT(failed, filed);
    EXPECT_TRUE(log.Has("Cannot determine Port Base Address", LOG_ERROR));
    EXPECT_EQ(log.IndexOf("  Port Base: 0x000002b0"), -1);
    EXPECT_TRUE(processor.Cache().IsLocked());

    std::list<uint32_t> sensors;
    std::list<uint32_t> leds;
    processor.Cache().EnumerateSensorHandles(sensors);
    processor.Cache().EnumerateLedHandles(leds);
    EXPECT_EQ(sensors, (std::list<uint32_t>{0x10000, 0x20001, 0x30002}));
    EXPECT_EQ(leds, (std::list<uint32_t>{0x40001, 0x40002}));

    // The component supplies the description; the threshold structure the limits.
    CSensorInformation volts;
    ASSERT_EQ(processor.GetSensorInformation(0x10000, volts), SERVICE_SUCCESS);
    EXPECT_EQ(volts.m_Description, L"+12V");
    EXPECT_EQ(volts.m_LowerThresholdCritical, 11000);
    EXPECT_EQ(volts.m_UpperThresholdCritical, 13000);
    EXPECT_EQ(volts.m_UpperThresholdFatal, 65535);
    EXPECT_EQ(volts.m_LowerThresholdNonCritical, kUnknown);
    EXPECT_EQ(volts.m_Resolution, 1);
    EXPECT_EQ(volts.m_NominalReading, 12000);
    CSensorInformation temp;
    ASSERT_EQ(processor.GetSensorInformation(0x30002, temp), SERVICE_SUCCESS);
    EXPECT_EQ(temp.m_Resolution, 2);
    EXPECT_EQ(temp.m_Accuracy, kUnknown);
    CLedInformation led;
    ASSERT_EQ(processor.GetLedInformation(0x40002, led), SERVICE_SUCCESS);
    EXPECT_EQ(led.m_Description, L"Fault");
    EXPECT_EQ(led.m_Urgency, 5);
    EXPECT_EQ(led.m_BitMap, 2);

    // A second attempt finds the cache locked; the first entries stay.
    log.Clear();
    EXPECT_EQ(Run(processor, "ZZ9.99"), SERVICE_SMBIOS_INVALID);
    EXPECT_EQ(log.Count("CDataCache::AddVoltage - Map already locked"), 1u);
    EXPECT_EQ(log.Count("CDataCache::AddFan - Map already locked"), 1u);
    EXPECT_EQ(log.Count("CDataCache::AddTemperature - Map already locked"), 1u);
    EXPECT_EQ(log.Count("CDataCache::AddLed - Map already locked"), 2u);
    sensors.clear();
    processor.Cache().EnumerateSensorHandles(sensors);
    EXPECT_EQ(sensors.size(), 3u);
}

TEST_F(ServiceProcessorInitialise, NoDriverGivesIoFailureAfterThePortBase) {
    for (int family = 1; family <= 4; ++family) {
        m_Env.Write(SpBoard(BiosVersionOfFamily(family)));
        CServiceProcessor processor;
        LogCapture log("3");
        EXPECT_EQ(Run(processor, BiosVersionOfFamily(family)), SERVICE_IO_FAILURE) << family;
        EXPECT_TRUE(log.Has("  Port Base: 0x000002b0", LOG_INFO)) << family;
        EXPECT_EQ(log.IndexOf("Cannot determine Port Base Address"), -1);
        EXPECT_TRUE(processor.Cache().IsLocked());
    }
}

TEST_F(ServiceProcessorInitialise, DeviceWithoutLinkedSensorsLooksAtNoLed) {
    using namespace svcproc::sim;
    SmbiosTableBuilder b;
    b.Bios(BiosVersionOfFamily(1))
        .ManagementDevice(coretest::kSpHandle, coretest::kSpDescription, 3, 0x2B0, 4)
        .VoltageProbe(0x0200, "Orphan", ProbeValues{}, 0)
        .Led(0x0500, "Power", 1);
    m_Env.Write(b);
    CServiceProcessor processor;
    LogCapture log("3");
    EXPECT_EQ(Run(processor, BiosVersionOfFamily(1)), SERVICE_SMBIOS_INVALID);
    std::list<uint32_t> leds;
    processor.Cache().EnumerateLedHandles(leds);
    EXPECT_TRUE(leds.empty());
    EXPECT_FALSE(processor.Cache().IsLocked());
    EXPECT_EQ(log.IndexOf("Cannot determine Port Base Address"), -1);
}

TEST_F(ServiceProcessorInitialise, TableWithoutLedsStillFilesTheSensors) {
    using namespace svcproc::sim;
    SmbiosTableBuilder b;
    b.Bios("ZZ")
        .ManagementDevice(coretest::kSpHandle, coretest::kSpDescription, 3, 0x2B0, 4)
        .CoolingDevice(0x0201, kNoHandle, 0x63, 1, 0x0004, std::nullopt)
        .Component(0x0301, "Chassis Fan", coretest::kSpHandle, 0x0201, kNoHandle);
    m_Env.Write(b);
    CServiceProcessor processor;
    EXPECT_EQ(Run(processor, "ZZ"), SERVICE_SMBIOS_INVALID);
    std::list<uint32_t> sensors;
    std::list<uint32_t> leds;
    processor.Cache().EnumerateSensorHandles(sensors);
    processor.Cache().EnumerateLedHandles(leds);
    EXPECT_EQ(sensors, (std::list<uint32_t>{0x20004}));
    EXPECT_TRUE(leds.empty());
    CSensorInformation fan;
    ASSERT_EQ(processor.GetSensorInformation(0x20004, fan), SERVICE_SUCCESS);
    EXPECT_EQ(fan.m_NominalReading, kUnknown);
    EXPECT_EQ(fan.m_Description, L"Chassis Fan");
}

} // namespace
