#include <gtest/gtest.h>

#include <list>

#include "LogCapture.h"
#include "core/BoardFamily.h"
#include "core/DataCache.h"
#include "core/LibraryState.h"

namespace {

using svcproc::board::BoardFamilyCode;

CSensorInformation Info(const wchar_t* description, int32_t nominal = 0) {
    CSensorInformation info;
    info.m_Description = description;
    info.m_NominalReading = nominal;
    info.m_vPossibleStates = {L"Ok", L"Critical"};
    return info;
}

class DataCacheTest : public ::testing::Test {
protected:
    void SetUp() override { g_BiosVersion = std::string(BoardFamilyCode(1)) + "1.00"; }
    void TearDown() override {
        g_BiosVersion.clear();
        svcproc::platform::UseRealTickCount();
    }
    CDataCache m_Cache;
};

TEST_F(DataCacheTest, AdditionLinesPerKind) {
    LogCapture log("3");
    m_Cache.AddVoltage(Info(L"Vcore"), 1);
    m_Cache.AddFan(Info(L"CPU Fan"), 2);
    m_Cache.AddTemperature(Info(L"Board"), 3);
    CLedInformation led;
    led.m_Description = L"Power";
    led.m_BitMap = 4;
    m_Cache.AddLed(led, 4);
    EXPECT_EQ(log.Texts(),
              (std::vector<std::string>{
                  "CDataCache::AddVoltage - Inserted InternalSensor=Vcore with SmbiosIndex=1",
                  "CDataCache::AddFan - Inserted InternalSensor=CPU Fanwith SmbiosIndex=2",
                  "CDataCache::AddTemperature - Inserted InternalSensor=Board with SmbiosIndex=3",
                  "CDataCache::AddLed - Inserted InternalLed=Power with SmbiosIndex=4"}));
}

TEST_F(DataCacheTest, DuplicateKeyKeepsFirstEntry) {
    m_Cache.AddVoltage(Info(L"First", 1000), 2);
    LogCapture log("3");
    m_Cache.AddVoltage(Info(L"Second", 2000), 2);
    EXPECT_TRUE(log.Has("CDataCache::AddVoltage - Insert InternalSensor=Second with SmbiosIndex=2 "
                        "failed",
                        LOG_ERROR));
    CSensorInformation info;
    ASSERT_TRUE(m_Cache.GetVoltageInfo(0x10002, info));
    EXPECT_EQ(info.m_Description, L"First");
    EXPECT_EQ(info.m_NominalReading, 1000);
    std::list<uint32_t> handles;
    m_Cache.EnumerateSensorHandles(handles);
    EXPECT_EQ(handles, (std::list<uint32_t>{0x10002}));
}

TEST_F(DataCacheTest, AdditionsAfterLockAreRefused) {
    m_Cache.AddFan(Info(L"CPU Fan"), 0);
    m_Cache.Lock();
    LogCapture log("3");
    m_Cache.AddVoltage(Info(L"V"), 1);
    m_Cache.AddFan(Info(L"F"), 1);
    m_Cache.AddTemperature(Info(L"T"), 1);
    m_Cache.AddLed(CLedInformation(), 1);
    EXPECT_EQ(log.Texts(),
              (std::vector<std::string>{"CDataCache::AddVoltage - Map already locked",
                                        "CDataCache::AddFan - Map already locked",
                                        "CDataCache::AddTemperature - Map already locked",
                                        "CDataCache::AddLed - Map already locked"}));
    for (const auto& line : log.Lines()) {
        EXPECT_EQ(line.level, LOG_ERROR);
    }
    std::list<uint32_t> sensors;
    std::list<uint32_t> leds;
    m_Cache.EnumerateSensorHandles(sensors);
    m_Cache.EnumerateLedHandles(leds);
    EXPECT_EQ(sensors, (std::list<uint32_t>{0x20000}));
    EXPECT_TRUE(leds.empty());
}

TEST_F(DataCacheTest, EnumerationAppendsKindsInKeyOrder) {
    m_Cache.AddTemperature(Info(L"T9"), 9);
    m_Cache.AddFan(Info(L"F5"), 5);
    m_Cache.AddVoltage(Info(L"V3"), 3);
    m_Cache.AddVoltage(Info(L"V1"), 1);
    m_Cache.AddFan(Info(L"F0"), 0);
    CLedInformation led;
    m_Cache.AddLed(led, 0x0100);
    m_Cache.AddLed(led, 0x0001);
    std::list<uint32_t> sensors{0xDEAD};
    std::list<uint32_t> leds{0xBEEF};
    EXPECT_EQ(m_Cache.EnumerateSensorHandles(sensors), SERVICE_SUCCESS);
    EXPECT_EQ(m_Cache.EnumerateLedHandles(leds), SERVICE_SUCCESS);
    EXPECT_EQ(sensors, (std::list<uint32_t>{0xDEAD, 0x10001, 0x10003, 0x20000, 0x20005, 0x30009}));
    EXPECT_EQ(leds, (std::list<uint32_t>{0xBEEF, 0x40001, 0x40100}));
}

TEST_F(DataCacheTest, EmptyCacheEnumeratesNothing) {
    std::list<uint32_t> handles;
    EXPECT_EQ(m_Cache.EnumerateSensorHandles(handles), SERVICE_SUCCESS);
    EXPECT_EQ(m_Cache.EnumerateLedHandles(handles), SERVICE_SUCCESS);
    EXPECT_TRUE(handles.empty());
}

struct ChassisFanCase {
    int family; // 0: a version of no family
    const wchar_t* description;
    bool hidden;
};

class ChassisFanRule : public ::testing::TestWithParam<ChassisFanCase> {};

TEST_P(ChassisFanRule, OnlyTheExactDescriptionOnFamilyTwoIsSkipped) {
    const auto& c = GetParam();
    g_BiosVersion = c.family == 0 ? "XX1.00" : std::string(BoardFamilyCode(c.family)) + "1.00";
    CDataCache cache;
    cache.AddFan(Info(L"CPU Fan"), 0);
    cache.AddFan(Info(c.description), 1);
    LogCapture log("3");
    std::list<uint32_t> handles;
    cache.EnumerateSensorHandles(handles);
    std::list<uint32_t> expected{0x20000};
    if (!c.hidden) {
        expected.push_back(0x20001);
    }
    EXPECT_EQ(handles, expected);
    std::string skip = "CDataCache::EnumerateSensorHandles - Skipping enum of=Chassis Fan";
    EXPECT_EQ(log.Count(skip), c.hidden ? 1u : 0u);
    // A skipped fan stays in the cache and answers lookups.
    CSensorInformation info;
    EXPECT_TRUE(cache.GetFanInfo(0x20001, info));
    g_BiosVersion.clear();
}

INSTANTIATE_TEST_SUITE_P(Families, ChassisFanRule,
                         ::testing::Values(ChassisFanCase{2, L"Chassis Fan", true},
                                           ChassisFanCase{1, L"Chassis Fan", false},
                                           ChassisFanCase{3, L"Chassis Fan", false},
                                           ChassisFanCase{4, L"Chassis Fan", false},
                                           ChassisFanCase{0, L"Chassis Fan", false},
                                           ChassisFanCase{2, L"Chassis Fan 2", false},
                                           ChassisFanCase{2, L"chassis fan", false},
                                           ChassisFanCase{2, L"Chassis Fan ", false}));

TEST_F(DataCacheTest, SkipLineRepeatsOnEveryEnumeration) {
    g_BiosVersion = std::string(BoardFamilyCode(2)) + "0";
    m_Cache.AddFan(Info(L"Chassis Fan"), 4);
    LogCapture log("3");
    std::list<uint32_t> handles;
    m_Cache.EnumerateSensorHandles(handles);
    m_Cache.EnumerateSensorHandles(handles);
    EXPECT_TRUE(handles.empty());
    EXPECT_EQ(log.Count("CDataCache::EnumerateSensorHandles - Skipping enum of=Chassis Fan"), 2u);
}

TEST(BoardFamily, CodesAreTestedOnTheFirstTwoCharactersExactly) {
    using svcproc::board::IsBoardFamily;
    for (int family = 1; family <= 4; ++family) {
        std::string code(BoardFamilyCode(family));
        ASSERT_EQ(code.size(), 2u);
        EXPECT_TRUE(IsBoardFamily(code, code));
        EXPECT_TRUE(IsBoardFamily(code + "2.10", code));
        EXPECT_FALSE(IsBoardFamily(code.substr(0, 1), code)) << "one character never matches";
        std::string lower = code;
        lower[0] = static_cast<char>(lower[0] ^ 0x20);
        EXPECT_FALSE(IsBoardFamily(lower + "2.10", code)) << "case-sensitive";
        EXPECT_FALSE(IsBoardFamily(" " + code, code));
    }
    EXPECT_FALSE(IsBoardFamily("", BoardFamilyCode(1)));
    EXPECT_TRUE(BoardFamilyCode(0).empty());
    EXPECT_TRUE(BoardFamilyCode(5).empty());
}

TEST_F(DataCacheTest, LookupMissesLogTheKeyAndLeaveOutputUntouched) {
    LogCapture log("3");
    CSensorInformation info = Info(L"untouched", 77);
    CLedInformation led;
    led.m_Description = L"untouched";
    InternalSensor sensor;
    sensor.m_Reading = 55;
    InternalLed ledEntry;
    ledEntry.m_bOn = true;
    EXPECT_FALSE(m_Cache.GetVoltageInfo(0x10012, info));
    EXPECT_FALSE(m_Cache.GetFanInfo(0x20012, info));
    EXPECT_FALSE(m_Cache.GetTemperatureInfo(0x30012, info));
    EXPECT_FALSE(m_Cache.GetLedInfo(0x40012, led));
    EXPECT_FALSE(m_Cache.GetVoltage(0x10012, sensor));
    EXPECT_FALSE(m_Cache.GetFan(0x20012, sensor));
    EXPECT_FALSE(m_Cache.GetTemperature(0x30012, sensor));
    EXPECT_FALSE(m_Cache.GetLed(0x40012, ledEntry));
    EXPECT_EQ(info.m_Description, L"untouched");
    EXPECT_EQ(info.m_NominalReading, 77);
    EXPECT_EQ(led.m_Description, L"untouched");
    EXPECT_EQ(sensor.m_Reading, 55);
    EXPECT_TRUE(ledEntry.m_bOn);
    EXPECT_EQ(log.Texts(),
              (std::vector<std::string>{"CDataCache::GetVoltageInfo - Handle 0x0012 not found",
                                        "CDataCache::GetFanInfo - Handle 0x0012 not found",
                                        "CDataCache::GetTemperatureInfo - Handle 0x0012 not found",
                                        "CDataCache::GetLedInfo - Handle 0x0012 not found",
                                        "CDataCache::GetVoltage - Handle 0x0012 not found",
                                        "CDataCache::GetFan - Handle 0x0012 not found",
                                        "CDataCache::GetTemperature - Handle 0x0012 not found",
                                        "CDataCache::GetLed - Handle 0x0012 not found"}));
}

TEST_F(DataCacheTest, LookupsCopyTheWholeEntry) {
    CSensorInformation stored = Info(L"Vcore", 1200);
    stored.m_UnitModifier = -3;
    m_Cache.AddVoltage(stored, 6);
    CLedInformation led;
    led.m_Urgency = 5;
    led.m_Description = L"Fault";
    led.m_BitMap = 0x0040;
    m_Cache.AddLed(led, 0x0040);
    m_Cache.Access().Voltages().UpdateState(6, SENSOR_STATE_CRITICAL, 1500);
    m_Cache.Access().Leds().UpdateStates(0x0040);

    InternalSensor sensor;
    ASSERT_EQ(m_Cache.GetSensor(0x10006, sensor), SERVICE_SUCCESS);
    EXPECT_EQ(sensor.m_State, SENSOR_STATE_CRITICAL);
    EXPECT_EQ(sensor.m_Reading, 1500);
    EXPECT_EQ(sensor.m_Information.m_Description, L"Vcore");
    EXPECT_EQ(sensor.m_Information.m_UnitModifier, -3);
    EXPECT_EQ(sensor.m_Information.m_vPossibleStates,
              (std::vector<std::wstring>{L"Ok", L"Critical"}));

    CLedInformation ledInfo;
    ASSERT_TRUE(m_Cache.GetLedInfo(0x40040, ledInfo));
    EXPECT_EQ(ledInfo.m_Urgency, 5);
    EXPECT_EQ(ledInfo.m_Description, L"Fault");
    EXPECT_EQ(ledInfo.m_BitMap, 0x0040);
    InternalLed ledEntry;
    ASSERT_TRUE(m_Cache.GetLed(0x40040, ledEntry));
    EXPECT_TRUE(ledEntry.m_bOn);
}

TEST_F(DataCacheTest, GetSensorDispatchesOnTheKindOnly) {
    m_Cache.AddVoltage(Info(L"V"), 1);
    m_Cache.AddFan(Info(L"F"), 1);
    m_Cache.AddTemperature(Info(L"T"), 1);
    CLedInformation led;
    m_Cache.AddLed(led, 1);
    InternalSensor entry;
    EXPECT_EQ(m_Cache.GetSensor(0x10001, entry), SERVICE_SUCCESS);
    EXPECT_EQ(m_Cache.GetSensor(0x20001, entry), SERVICE_SUCCESS);
    EXPECT_EQ(m_Cache.GetSensor(0x30001, entry), SERVICE_SUCCESS);
    LogCapture log;
    for (uint32_t handle : {0x00001u, 0x40001u, 0x50001u, 0xFFFF0001u}) {
        EXPECT_EQ(m_Cache.GetSensor(handle, entry), SERVICE_INVALID_HANDLE) << std::hex << handle;
    }
    EXPECT_TRUE(log.Lines().empty()) << "no lookup, no line";
    EXPECT_EQ(m_Cache.GetSensor(0x10002, entry), SERVICE_INVALID_HANDLE);
    EXPECT_EQ(log.Texts(),
              (std::vector<std::string>{"CDataCache::GetVoltage - Handle 0x0002 not found"}));
}

TEST_F(DataCacheTest, StalenessAtExactlyFiveHundredMilliseconds) {
    svcproc::platform::SetTickCountForTest(10000);
    CDataCache cache; // every map last updated at tick 10000
    struct Probe {
        const char* name;
        bool (CDataCache::*stale)();
    };
    const Probe probes[] = {{"voltage", &CDataCache::IsVoltageMapStale},
                            {"fan", &CDataCache::IsFanMapStale},
                            {"temperature", &CDataCache::IsTemperatureMapStale},
                            {"led", &CDataCache::IsLedMapStale}};
    for (const auto& probe : probes) {
        svcproc::platform::SetTickCountForTest(10499);
        EXPECT_FALSE((cache.*probe.stale)()) << probe.name << " at 499 ms";
        svcproc::platform::SetTickCountForTest(10500);
        EXPECT_TRUE((cache.*probe.stale)()) << probe.name << " at 500 ms";
    }
    // A refresh moves one kind only.
    cache.Access().Fans().m_dwLastUpdate = 10500;
    svcproc::platform::SetTickCountForTest(10999);
    EXPECT_FALSE(cache.IsFanMapStale());
    EXPECT_TRUE(cache.IsVoltageMapStale());
}

TEST(DataCacheStaleness, AbsoluteDifferenceOfUnsignedTicks) {
    EXPECT_FALSE(CDataCache::IsStale(1000, 1000));
    EXPECT_FALSE(CDataCache::IsStale(1000, 1499));
    EXPECT_TRUE(CDataCache::IsStale(1000, 1500));
    EXPECT_TRUE(CDataCache::IsStale(1500, 1000));
    EXPECT_FALSE(CDataCache::IsStale(0xFFFFFFFFu, 0xFFFFFE0Cu)); // 499 below the top
    EXPECT_TRUE(CDataCache::IsStale(0x00000010u, 0xFFFFFFF0u));  // across the wrap: refresh
}

} // namespace
