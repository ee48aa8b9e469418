#include <gtest/gtest.h>

#include "LogCapture.h"
#include "core/DataCache.h"

namespace {

CSensorInformation Info(const wchar_t* description) {
    CSensorInformation info;
    info.m_Description = description;
    return info;
}

CLedInformation Led(const wchar_t* description, uint16_t bitmap) {
    CLedInformation info;
    info.m_Urgency = 5;
    info.m_Description = description;
    info.m_BitMap = bitmap;
    return info;
}

TEST(SensorMap, UpdateReadingOnUnknownKeyLogsTraceAndMissOnly) {
    CDataCache cache;
    cache.AddVoltage(Info(L"CPU"), 0);
    LogCapture log;
    cache.Access().Voltages().UpdateReading(7, 1234);
    auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "CVoltageMap::UpdateReading(7,1234)");
    EXPECT_EQ(lines[0].level, LOG_TRACE);
    EXPECT_EQ(lines[1].text, "CVoltageMap::UpdateReading - cannot find SmbiosIndex 7 in Map");
    EXPECT_EQ(lines[1].level, LOG_INFO);
    EXPECT_EQ(cache.Access().Voltages().Size(), 1u);
    EXPECT_EQ(cache.Access().Voltages().Find(7), nullptr);
}

TEST(SensorMap, ReadingUpdateKeepsAssertedState) {
    CDataCache cache;
    cache.AddTemperature(Info(L"Board"), 3);
    LogCapture log;
    {
        auto access = cache.Access();
        access.Temperatures().UpdateState(3, SENSOR_STATE_CRITICAL, 450);
        access.Temperatures().UpdateReading(3, -20);
    }
    InternalSensor entry;
    ASSERT_TRUE(cache.GetTemperature(0x30003, entry));
    EXPECT_EQ(entry.m_State, SENSOR_STATE_CRITICAL);
    EXPECT_EQ(entry.m_Reading, -20);
    EXPECT_EQ(log.Texts(), (std::vector<std::string>{"CTemperatureMap::UpdateState(3,1,450)",
                                                     "CTemperatureMap::UpdateReading(3,-20)"}));
}

TEST(SensorMap, UpdateStateOnUnknownKeyCreatesNothing) {
    CDataCache cache;
    LogCapture log;
    cache.Access().Fans().UpdateState(2, 1, 3600);
    EXPECT_EQ(log.Texts(), (std::vector<std::string>{
                               "CFanMap::UpdateState(2,1,3600)",
                               "CFanMap::UpdateState - cannot find SmbiosIndex 2 in Map"}));
    EXPECT_EQ(cache.Access().Fans().Size(), 0u);
}

TEST(SensorMap, NewMapsStartWithoutAlertsAndFreshAtTheirConstructionTick) {
    svcproc::platform::SetTickCountForTest(123456);
    CDataCache cache;
    auto access = cache.Access();
    EXPECT_EQ(access.Voltages().m_wAlertBits, 0);
    EXPECT_EQ(access.Fans().m_wAlertBits, 0);
    EXPECT_EQ(access.Temperatures().m_wAlertBits, 0);
    EXPECT_EQ(access.Voltages().m_dwLastUpdate, 123456u);
    EXPECT_EQ(access.Leds().m_dwLastUpdate, 123456u);
    svcproc::platform::UseRealTickCount();
}

struct LedWordCase {
    uint16_t word;
    std::vector<bool> expectedOn; // for bit masks 0x0000, 0x0001, 0x0002, 0x8000
};

class LedMapStates : public ::testing::TestWithParam<LedWordCase> {};

TEST_P(LedMapStates, EveryEntryRewrittenFromTheWord) {
    CDataCache cache;
    const uint16_t masks[] = {0x0000, 0x0001, 0x0002, 0x8000};
    for (uint16_t mask : masks) {
        cache.AddLed(Led(L"LED", mask), mask);
    }
    cache.Access().Leds().UpdateStates(0xFFFF); // all lit first, so clearing shows
    cache.Access().Leds().UpdateStates(GetParam().word);
    for (size_t i = 0; i < 4; ++i) {
        InternalLed led;
        ASSERT_TRUE(cache.GetLed(MakeServiceHandle(HANDLE_KIND_LED, masks[i]), led));
        EXPECT_EQ(led.m_bOn, GetParam().expectedOn[i]) << "mask " << masks[i];
    }
}

INSTANTIATE_TEST_SUITE_P(Words, LedMapStates,
                         ::testing::Values(LedWordCase{0x0000, {false, false, false, false}},
                                           LedWordCase{0xFFFF, {false, true, true, true}},
                                           LedWordCase{0x0002, {false, false, true, false}},
                                           LedWordCase{0x8001, {false, true, false, true}}));

TEST(LedMap, SixteenLedsAreUpdatedSeventeenAreRefused) {
    for (int count : {16, 17}) {
        CDataCache cache;
        for (int i = 0; i < count; ++i) {
            auto key = static_cast<uint16_t>(i < 16 ? 1u << i : 0x0003u);
            cache.AddLed(Led(L"LED", key), key);
        }
        ASSERT_EQ(cache.Access().Leds().Size(), static_cast<size_t>(count));
        LogCapture log;
        cache.Access().Leds().UpdateStates(0x0001);
        InternalLed led;
        ASSERT_TRUE(cache.GetLed(0x40001, led));
        bool refused = count == 17;
        EXPECT_EQ(led.m_bOn, !refused) << count << " LEDs";
        EXPECT_EQ(
            log.Has("CLedMap::UpdateStates - Internal Error - too many LEDs in Map", LOG_ERROR),
            refused);
    }
}

TEST(Maps, ConstructionAndDestructionLinesInOrder) {
    LogCapture log("3");
    { CDataCache cache; }
    EXPECT_EQ(log.Texts(),
              (std::vector<std::string>{"CVoltageMap Constructed", "CFanMap Constructed",
                                        "CTemperatureMap Constructed", "CLedMap Constructed",
                                        "CDataCache Constructed", "CDataCache Destroyed",
                                        "CLedMap destroyed", "CTemperatureMap Destroyed",
                                        "CFanMap Destroyed", "CVoltageMap Destroyed"}));
}

} // namespace
