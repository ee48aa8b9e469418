// The Update operations on a cache, without a device.
#include <gtest/gtest.h>

#include "IoTestSupport.h"

using namespace iotest;

namespace {

class UpdateTest : public ::testing::Test {
protected:
    void Fill(int voltages, int fans, int temperatures, std::vector<uint16_t> leds = {}) {
        FillCache(m_Cache, voltages, fans, temperatures, leds);
        m_Log.Clear();
    }
    DWORD LastUpdate(int kind) {
        CDataCache::CAccess access = m_Cache.Access();
        switch (kind) {
        case 1:
            return access.Voltages().m_dwLastUpdate;
        case 2:
            return access.Fans().m_dwLastUpdate;
        case 3:
            return access.Temperatures().m_dwLastUpdate;
        }
        return access.Leds().m_dwLastUpdate;
    }
    bool LedOn(uint16_t key) {
        InternalLed led;
        m_Cache.GetLed(MakeServiceHandle(HANDLE_KIND_LED, key), led);
        return led.m_bOn;
    }

    LogCapture m_Log;
    CDataCache m_Cache;
    CIOUnit m_Unit{&m_Cache};
};

} // namespace

TEST_F(UpdateTest, VoltagesAreStoredInMillivoltsAndMoveTheLastUpdate) {
    Fill(2, 0, 0);
    svcproc::platform::SetTickCountForTest(123456);
    m_Unit.UpdateVoltages(RawResponsePacket({0x06, 0xA6, 0x01, 0x2C, 0x00, 0xFA, 0x33}));
    svcproc::platform::UseRealTickCount();
    EXPECT_EQ(3000, Sensor(m_Cache, 0x10000).value);
    EXPECT_EQ(2500, Sensor(m_Cache, 0x10001).value);
    EXPECT_EQ(123456u, LastUpdate(1));
    EXPECT_TRUE(m_Log.AtMost(LOG_INFO).empty());
}

TEST_F(UpdateTest, VoltageProductIsTruncatedToSixteenBits) {
    Fill(1, 0, 0);
    m_Unit.UpdateVoltages(ResponsePacket(0xA6, Words({0x199A})));
    EXPECT_EQ(4, Sensor(m_Cache, 0x10000).value);
}

TEST_F(UpdateTest, FansUnchangedTemperaturesInTenths) {
    Fill(0, 1, 2);
    m_Unit.UpdateFans(ResponsePacket(0xA2, Words({0x0E10})));
    m_Unit.UpdateTemperatures(ResponsePacket(0xA4, {0x2D, 0x00}));
    EXPECT_EQ(3600, Sensor(m_Cache, 0x20000).value);
    EXPECT_EQ(450, Sensor(m_Cache, 0x30000).value);
    EXPECT_EQ(0, Sensor(m_Cache, 0x30001).value);
}

TEST_F(UpdateTest, WrongTypeStoresNothing) {
    Fill(1, 1, 1, {0x0001});
    struct Case {
        void (CIOUnit::*update)(const SVCP_PACKET&);
        uint8_t type;
        int kind;
        const char* line;
    };
    for (Case c :
         {Case{&CIOUnit::UpdateVoltages, 0xA2, 1,
               "CIOUnit::UpdateVoltages - Type 0xa2 not Voltage"},
          Case{&CIOUnit::UpdateFans, 0xA6, 2, "CIOUnit::UpdateFans - Type 0xa6 not Fan"},
          Case{&CIOUnit::UpdateTemperatures, 0xA2, 3,
               "CIOUnit::UpdateTemperatures - Type 0xa2 not Temperature"},
          Case{&CIOUnit::UpdateLeds, 0xA6, 4, "CIOUnit::UpdateLeds - Type 0xa6 not LED"}}) {
        m_Log.Clear();
        svcproc::platform::SetTickCountForTest(1000);
        const DWORD before = LastUpdate(c.kind);
        svcproc::platform::AdvanceTickCountForTest(5000);
        (m_Unit.*c.update)(ResponsePacket(c.type, Words({0x0101})));
        svcproc::platform::UseRealTickCount();
        EXPECT_EQ(before, LastUpdate(c.kind)) << c.line;
        EXPECT_EQ((std::vector<std::string>{c.line}), m_Log.AtMost(LOG_INFO));
    }
    EXPECT_EQ(0, Sensor(m_Cache, 0x10000).value);
    EXPECT_EQ(0, Sensor(m_Cache, 0x20000).value);
    EXPECT_EQ(0, Sensor(m_Cache, 0x30000).value);
    EXPECT_FALSE(LedOn(0x0001));
}

TEST_F(UpdateTest, FewerVoltagesThanSensorsStoresThoseThereAre) {
    Fill(4, 0, 0);
    m_Unit.UpdateVoltages(ResponsePacket(0xA6, Words({100, 101, 102, 103})));
    m_Log.Clear();
    m_Unit.UpdateVoltages(ResponsePacket(0xA6, Words({1, 2, 3})));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::UpdateVoltages - Number of voltage readings 3 does not "
                              "agree with SMBIOS 4"));
    EXPECT_EQ(10, Sensor(m_Cache, 0x10000).value);
    EXPECT_EQ(30, Sensor(m_Cache, 0x10002).value);
    EXPECT_EQ(1030, Sensor(m_Cache, 0x10003).value);
}

TEST_F(UpdateTest, MoreReadingsThanSensorsLeaveTheMapToReport) {
    Fill(0, 1, 1);
    m_Unit.UpdateFans(ResponsePacket(0xA2, Words({10, 20})));
    m_Unit.UpdateTemperatures(ResponsePacket(0xA4, {1, 2, 3}));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::UpdateFans - Number of fan readings 2 does not agree "
                              "with SMBIOS 1"));
    EXPECT_EQ(1u, m_Log.Count("CFanMap::UpdateReading - cannot find SmbiosIndex 1 in Map"));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::UpdateTemperatures - Number of temperature readings 3 "
                              "does not agree with SMBIOS 1"));
    EXPECT_EQ(1u, m_Log.Count("CTemperatureMap::UpdateReading - cannot find SmbiosIndex 2 in Map"));
    EXPECT_EQ(10, Sensor(m_Cache, 0x20000).value);
    EXPECT_EQ(10, Sensor(m_Cache, 0x30000).value);
}

TEST_F(UpdateTest, LedWordSwitchesEveryLed) {
    Fill(0, 0, 0, {0x0001, 0x0002, 0x8000});
    m_Unit.UpdateLeds(ResponsePacket(0xED, Words({0x8001})));
    EXPECT_TRUE(LedOn(0x0001));
    EXPECT_FALSE(LedOn(0x0002));
    EXPECT_TRUE(LedOn(0x8000));
    m_Unit.UpdateLeds(ResponsePacket(0xED, Words({0x0002})));
    EXPECT_FALSE(LedOn(0x0001));
    EXPECT_TRUE(LedOn(0x0002));
    EXPECT_FALSE(LedOn(0x8000));
    EXPECT_TRUE(m_Log.AtMost(LOG_INFO).empty());
}

TEST_F(UpdateTest, LedWordWithAnUnexpectedCountIsStillApplied) {
    Fill(0, 0, 0, {0x0001});
    m_Unit.UpdateLeds(ResponsePacket(0xED, {0x00, 0x01, 0x77}));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::UpdateLeds - Count/Length 0x05/0x06 not correct for read "
                              "LED state"));
    EXPECT_TRUE(LedOn(0x0001));
}

TEST_F(UpdateTest, LedResponseWithoutAWholeWordKeepsTheStates) {
    Fill(0, 0, 0, {0x0001, 0x0080});
    m_Unit.UpdateLeds(ResponsePacket(0xED, Words({0x0001})));
    svcproc::platform::SetTickCountForTest(1000);
    const DWORD before = LastUpdate(4);
    svcproc::platform::AdvanceTickCountForTest(5000);
    // Count 3: one data byte, then the checksum where the low byte would be.
    m_Unit.UpdateLeds(ResponsePacket(0xED, {0x00}));
    svcproc::platform::UseRealTickCount();
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::UpdateLeds - Count/Length 0x03/0x04 not correct for read "
                              "LED state"));
    EXPECT_TRUE(LedOn(0x0001));
    EXPECT_FALSE(LedOn(0x0080));
    EXPECT_EQ(before, LastUpdate(4));
}

TEST_F(UpdateTest, SixteenLedsAreUpdatedSeventeenAreNot) {
    std::vector<uint16_t> sixteen;
    for (int bit = 0; bit < 16; ++bit) {
        sixteen.push_back(static_cast<uint16_t>(1u << bit));
    }
    Fill(0, 0, 0, sixteen);
    m_Unit.UpdateLeds(ResponsePacket(0xED, Words({0xFFFF})));
    for (uint16_t key : sixteen) {
        EXPECT_TRUE(LedOn(key)) << key;
    }

    CDataCache crowded;
    std::vector<uint16_t> seventeen = sixteen;
    seventeen.push_back(0x0003);
    FillCache(crowded, 0, 0, 0, seventeen);
    CIOUnit unit(&crowded);
    m_Log.Clear();
    unit.UpdateLeds(ResponsePacket(0xED, Words({0xFFFF})));
    EXPECT_EQ(1u, m_Log.Count("CLedMap::UpdateStates - Internal Error - too many LEDs in Map"));
    InternalLed led;
    crowded.GetLed(0x40001, led);
    EXPECT_FALSE(led.m_bOn);
}
