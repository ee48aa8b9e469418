// Alert processing and listener calls on a cache, without a device.
#include <gtest/gtest.h>

#include "IoTestSupport.h"

using namespace iotest;
using Call = RecordingListener::Call;

namespace {

class AlertTest : public ::testing::Test {
protected:
    void SetUp() override {
        FillCache(m_Cache, 2, 2, 3, {});
        m_Unit.RegisterSensorStateListener(&m_First);
        m_Unit.RegisterSensorStateListener(&m_Second);
        m_Log.Clear();
    }
    uint16_t StoredMask(int kind) {
        CDataCache::CAccess access = m_Cache.Access();
        return kind == 1   ? access.Voltages().m_wAlertBits
               : kind == 2 ? access.Fans().m_wAlertBits
                           : access.Temperatures().m_wAlertBits;
    }
    static SVCP_PACKET VoltageAlert(uint16_t mask) {
        return ResponsePacket(0xA6, Words({mask, 300, 250}), true);
    }

    LogCapture m_Log;
    CDataCache m_Cache;
    CIOUnit m_Unit{&m_Cache};
    RecordingListener m_First;
    RecordingListener m_Second;
};

} // namespace

TEST_F(AlertTest, AssertionCallsEveryListenerWithTheRawReading) {
    const SVCP_PACKET packet =
        RawResponsePacket({0x08, 0xA6, 0x00, 0x01, 0x01, 0x2C, 0x00, 0xFA, 0x32}, true);
    m_Unit.ProcessAlerts(packet);
    EXPECT_EQ((std::vector<Call>{{0x10000, 1, 300}}), m_First.Calls());
    EXPECT_EQ((std::vector<Call>{{0x10000, 1, 300}}), m_Second.Calls());
    EXPECT_EQ(0x0001, StoredMask(1));
    // The maps hold millivolts, as the bulk reads store them.
    EXPECT_EQ(3000, Sensor(m_Cache, 0x10000).value);
    EXPECT_EQ(1u, Sensor(m_Cache, 0x10000).state);
    EXPECT_EQ(2500, Sensor(m_Cache, 0x10001).value);
    EXPECT_EQ(0u, Sensor(m_Cache, 0x10001).state);
    EXPECT_EQ((std::vector<std::string>{"ProcessVoltageAlerts - StateChange_Asserted",
                                        "CVoltageMap::UpdateState(0,1,3000)",
                                        "ProcessVoltageAlerts - StateChange_Unchanged",
                                        "CVoltageMap::UpdateReading(1,2500)"}),
              m_Log.AtMost(LOG_TRACE));

    m_Unit.ProcessAlerts(packet);
    EXPECT_EQ(1u, m_First.Calls().size());

    m_Unit.ProcessAlerts(VoltageAlert(0x0000));
    EXPECT_EQ((std::vector<Call>{{0x10000, 1, 300}, {0x10000, 0, 300}}), m_First.Calls());
    EXPECT_EQ(0u, Sensor(m_Cache, 0x10000).state);
    EXPECT_EQ(0x0000, StoredMask(1));
}

TEST_F(AlertTest, FanAndTemperatureAlerts) {
    m_Unit.ProcessAlerts(ResponsePacket(0xA2, Words({0x0002, 3600, 1200}), true));
    m_Unit.ProcessAlerts(ResponsePacket(0xA4, {0x00, 0x05, 45, 50, 90}, true));
    EXPECT_EQ((std::vector<Call>{{0x20001, 1, 1200}, {0x30000, 1, 45}, {0x30002, 1, 90}}),
              m_First.Calls());
    EXPECT_EQ(3600, Sensor(m_Cache, 0x20000).value);
    EXPECT_EQ(1200, Sensor(m_Cache, 0x20001).value);
    EXPECT_EQ(1u, Sensor(m_Cache, 0x20001).state);
    EXPECT_EQ(450, Sensor(m_Cache, 0x30000).value);
    EXPECT_EQ(500, Sensor(m_Cache, 0x30001).value);
    EXPECT_EQ(900, Sensor(m_Cache, 0x30002).value);
    EXPECT_EQ(0x0005, StoredMask(3));
    EXPECT_EQ(0x0000, StoredMask(1));
}

TEST_F(AlertTest, OddVoltageCountChangesNothing) {
    m_Unit.ProcessAlerts(RawResponsePacket({0x07, 0xA6, 0x00, 0x01, 0x01, 0x2C, 0x00, 0x2C}, true));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::ProcessVoltageAlerts - Number of voltage readings 1 does "
                              "not agree with SMBIOS 2"));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::ProcessVoltageAlerts - Internal Error - Number of voltage "
                              "readings collected 2 does not agree with expected 1"));
    EXPECT_TRUE(m_First.Calls().empty());
    EXPECT_EQ(0x0000, StoredMask(1));
    EXPECT_EQ(0, Sensor(m_Cache, 0x10000).value);
}

TEST_F(AlertTest, OddFanCountChangesNothing) {
    m_Unit.ProcessAlerts(RawResponsePacket({0x05, 0xA2, 0x00, 0x01, 0x01, 0x5C}, true));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::ProcessFanAlerts - Internal Error - Number of fan "
                              "readings collected 1 does not agree with expected 0"));
    EXPECT_TRUE(m_First.Calls().empty());
    EXPECT_EQ(0x0000, StoredMask(2));
}

TEST_F(AlertTest, UnknownTypeIsRejected) {
    m_Unit.ProcessAlerts(ResponsePacket(0xA1, Words({0xFFFF, 1, 2}), true));
    EXPECT_EQ((std::vector<std::string>{"CIOUnit::ProcessAlerts - Type 0xa1 not Valid"}),
              m_Log.AtMost(LOG_TRACE));
    EXPECT_TRUE(m_First.Calls().empty());
    EXPECT_EQ(0x0000, StoredMask(1));
}

TEST_F(AlertTest, ResponseTooShortForAMaskKeepsTheStoredMask) {
    m_Unit.ProcessAlerts(VoltageAlert(0x0001));
    m_Log.Clear();
    for (SVCP_PACKET packet : {RawResponsePacket({0x03, 0xA6, 0x00, 0x5A}, true),
                               RawResponsePacket({0x02, 0xA6, 0x5A}, true)}) {
        m_Unit.ProcessAlerts(packet);
    }
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::ProcessVoltageAlerts - Count 0x03 too short for an alert "
                              "mask"));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::ProcessVoltageAlerts - Count 0x02 too short for an alert "
                              "mask"));
    EXPECT_EQ(0x0001, StoredMask(1));
    for (SVCP_PACKET packet : {RawResponsePacket({0x03, 0xA4, 0x00, 0x5C}, true)}) {
        m_Unit.ProcessAlerts(packet);
    }
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::ProcessTemperatureAlerts - Count 0x03 too short for an "
                              "alert mask"));
    EXPECT_EQ(1u, m_First.Calls().size());
}

TEST_F(AlertTest, PositionWithoutASensorCallsNobody) {
    // Three voltages against two sensors: position 2 is asserted but unknown.
    m_Unit.ProcessAlerts(ResponsePacket(0xA6, Words({0x0004, 1, 2, 3}), true));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::ProcessVoltageAlerts - Number of voltage readings 3 does "
                              "not agree with SMBIOS 2"));
    EXPECT_EQ(1u, m_Log.Count("CVoltageMap::UpdateState - cannot find SmbiosIndex 2 in Map"));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::FireVoltageStateChange - SmbiosHandle 0x04x not found in "
                              "voltage map"));
    EXPECT_TRUE(m_First.Calls().empty());
    EXPECT_EQ(0x0004, StoredMask(1));
}

TEST_F(AlertTest, PositionsAboveFifteenNeverChangeState) {
    // Twenty temperatures: only the first sixteen have a bit in the mask.
    CDataCache cache;
    FillCache(cache, 0, 0, 20, {});
    CIOUnit unit(&cache);
    RecordingListener listener;
    unit.RegisterSensorStateListener(&listener);
    std::vector<uint8_t> data = {0xFF, 0xFF};
    for (int i = 0; i < 20; ++i) {
        data.push_back(static_cast<uint8_t>(i));
    }
    unit.ProcessAlerts(ResponsePacket(0xA4, data, true));
    EXPECT_EQ(16u, listener.Calls().size());
    EXPECT_EQ(0u, Sensor(cache, 0x30010).state);
    EXPECT_EQ(160, Sensor(cache, 0x30010).value);
}

TEST_F(AlertTest, DuplicateRegistrationIsCalledOnce) {
    m_Unit.RegisterSensorStateListener(&m_First);
    m_Unit.ProcessAlerts(VoltageAlert(0x0001));
    EXPECT_EQ(1u, m_First.Calls().size());
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::RegisterSensorStateListener(0x" + [&] {
        char text[16];
        snprintf(text, sizeof text, "%08x", unsigned(uintptr_t(&m_First)));
        return std::string(text);
    }() + ")"));
}

TEST_F(AlertTest, UnregisteredListenersAreNotCalled) {
    RecordingListener stranger;
    m_Unit.UnregisterSensorStateListener(&stranger);
    m_Unit.UnregisterSensorStateListener(&m_First);
    m_Unit.ProcessAlerts(VoltageAlert(0x0001));
    EXPECT_TRUE(m_First.Calls().empty());
    EXPECT_EQ(1u, m_Second.Calls().size());
}

TEST_F(AlertTest, LateListenerHearsOnlyLaterChanges) {
    m_Unit.ProcessAlerts(VoltageAlert(0x0001));
    RecordingListener late;
    m_Unit.RegisterSensorStateListener(&late);
    m_Unit.ProcessAlerts(VoltageAlert(0x0001));
    EXPECT_TRUE(late.Calls().empty());
    m_Unit.ProcessAlerts(VoltageAlert(0x0003));
    EXPECT_EQ((std::vector<Call>{{0x10001, 1, 250}}), late.Calls());
}

TEST_F(AlertTest, InvalidListenerPointerIsSkipped) {
    m_Unit.UnregisterSensorStateListener(&m_First);
    m_Unit.UnregisterSensorStateListener(&m_Second);
    m_Unit.RegisterSensorStateListener(nullptr);
    auto* misaligned = reinterpret_cast<ISensorStateListener*>(uintptr_t(&m_Second) + 1);
    m_Unit.RegisterSensorStateListener(misaligned);
    m_Unit.RegisterSensorStateListener(&m_First);
    m_Log.Clear();
    m_Unit.ProcessAlerts(VoltageAlert(0x0001));
    EXPECT_EQ(1u, m_First.Calls().size());
    EXPECT_EQ(2u, m_Log.AtMost(LOG_ERROR).size());
    for (const std::string& line : m_Log.AtMost(LOG_ERROR)) {
        EXPECT_EQ(0u,
                  line.rfind("CIOUnit::FireVoltageStateChange - invalid listener pointer 0x", 0))
            << line;
    }
}

TEST_F(AlertTest, ListenerMayUnregisterItselfInsideItsCall) {
    struct SelfRemover : ISensorStateListener {
        CIOUnit* unit = nullptr;
        int calls = 0;
        void SensorStateChanged(uint32_t, uint32_t, int32_t) override {
            ++calls;
            unit->UnregisterSensorStateListener(this);
        }
    } remover;
    remover.unit = &m_Unit;
    m_Unit.RegisterSensorStateListener(&remover);
    // Two positions assert: the second change finds the listener gone.
    m_Unit.ProcessAlerts(VoltageAlert(0x0003));
    EXPECT_EQ(1, remover.calls);
    EXPECT_EQ(2u, m_First.Calls().size());
}
