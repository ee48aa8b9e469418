// The I/O unit against a scripted service processor behind an in-process
// device interface server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <thread>

#include "IoTestSupport.h"
#include "io/SvcpProtocol.h"

using namespace iotest;
using Call = RecordingListener::Call;

namespace {

template <typename Condition> bool WaitUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class ChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        FillCache(m_Cache, 2, 1, 2, {0x0001, 0x0002});
        m_Processor.SetVoltages({330, 500});
        m_Processor.SetFans({3600});
        m_Processor.SetTemperatures({45, 50});
        m_Processor.SetLeds(0x0001);
        ASSERT_TRUE(m_Processor.Enable());
        m_Log.Clear();
    }
    void TearDown() override {
        m_pUnit.reset();
        svcproc::platform::UseRealTickCount();
    }
    CIOUnit& Unit() {
        if (!m_pUnit) {
            m_pUnit = std::make_unique<CIOUnit>(&m_Cache);
        }
        return *m_pUnit;
    }
    std::vector<uint8_t> Commands() {
        std::vector<uint8_t> commands;
        for (const auto& exchange : m_Processor.Exchanges()) {
            commands.push_back(exchange.in.Request[1]);
        }
        return commands;
    }
    DWORD VoltageLastUpdate() { return m_Cache.Access().Voltages().m_dwLastUpdate; }

    RuntimeDir m_RuntimeDir;
    LogCapture m_Log;
    CDataCache m_Cache;
    ScriptedProcessor m_Processor;
    std::unique_ptr<CIOUnit> m_pUnit;
};

} // namespace

TEST_F(ChannelTest, InitialiseOpensTheDeviceAndReadsEveryKindOnce) {
    ASSERT_TRUE(Unit().Initialise(SVCP_DEFAULT_PORT_BASE));
    EXPECT_EQ((std::vector<uint8_t>{0xA6, 0xA2, 0xA4, 0xED}), Commands());
    EXPECT_EQ(3300, Sensor(m_Cache, 0x10000).value);
    EXPECT_EQ(5000, Sensor(m_Cache, 0x10001).value);
    EXPECT_EQ(3600, Sensor(m_Cache, 0x20000).value);
    EXPECT_EQ(450, Sensor(m_Cache, 0x30000).value);
    EXPECT_EQ(500, Sensor(m_Cache, 0x30001).value);
    CLedReading led{};
    EXPECT_EQ(SERVICE_SUCCESS, Unit().ReadLed(0x40001, led));
    EXPECT_TRUE(led.m_bOn);
    EXPECT_EQ(SERVICE_SUCCESS, Unit().ReadLed(0x40002, led));
    EXPECT_FALSE(led.m_bOn);

    EXPECT_EQ(1u, m_Log.Count("CIOUnit::InitialiseIODevice entry"));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::InitialiseIODevice  - PortwynInterfaceCount=1"));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::InitialiseBusIODevice - Initialised Ok"));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::Initialise - Initialised Ok"));
    size_t pathLines = 0;
    for (const LogLine& line : m_Log.Lines()) {
        pathLines += line.text.rfind("CIOUnit::InitialiseIODevice - PORTWYN Device Path: " +
                                         m_RuntimeDir.Path() + "/devices/",
                                     0) == 0;
    }
    EXPECT_EQ(1u, pathLines);
    EXPECT_TRUE(m_Log.AtMost(LOG_ERROR).empty());

    m_Processor.ClearExchanges();
    m_Log.Clear();
    EXPECT_TRUE(Unit().Initialise(SVCP_DEFAULT_PORT_BASE));
    EXPECT_EQ((std::vector<std::string>{"CIOUnit::Initialise - Already initialised"}),
              m_Log.AtMost(LOG_TRACE));
    EXPECT_TRUE(m_Processor.Exchanges().empty());
}

TEST_F(ChannelTest, EveryExchangeCarriesTheWholePacketAndNothingElse) {
    constexpr uint32_t kPortBase = 0x12345678;
    RecordingListener listener;
    Unit().RegisterSensorStateListener(&listener);
    ASSERT_TRUE(Unit().Initialise(kPortBase));
    m_Processor.QueueAlert(0xA6, 0x0001, Words({300, 250}));
    Unit().PollingThread().Run();
    ASSERT_TRUE(WaitUntil([&] { return !listener.Calls().empty(); }));
    svcproc::platform::SetTickCountForTest(GetTickCount() + 1000);
    CSensorReading reading{};
    Unit().ReadSensor(0x20000, reading);
    m_pUnit.reset();

    const auto exchanges = m_Processor.Exchanges();
    ASSERT_GE(exchanges.size(), 6u);
    for (const auto& exchange : exchanges) {
        const uint8_t command = exchange.in.Request[1];
        EXPECT_EQ(IOCTL_SVCP_REQUEST_RESPONSE, exchange.code);
        EXPECT_EQ(96u, exchange.inLength);
        EXPECT_EQ(96u, exchange.outLength);
        SVCP_PACKET expected;
        std::memset(&expected, 0, sizeof(expected));
        expected.Request[0] = 0x02;
        expected.Request[1] = command;
        expected.Request[2] = static_cast<uint8_t>(0x100 - command);
        expected.RequestLength = 3;
        expected.AlertPoll = command == SVCP_CMD_POLL_ALERT ? 1 : 0;
        expected.PortBase = kPortBase;
        EXPECT_EQ(0, std::memcmp(&expected, &exchange.in, sizeof(expected))) << int(command);
    }
}

TEST_F(ChannelTest, NoDeviceMeansNoInitialisationAndNoThreadToStop) {
    m_Processor.Disable();
    EXPECT_FALSE(Unit().Initialise(SVCP_DEFAULT_PORT_BASE));
    EXPECT_EQ(1u,
              m_Log.Count("CIOUnit::InitialiseIODevice - No Portwyn device interface instances"));
    EXPECT_FALSE(Unit().PollingThread().IsInitialised());
    m_Log.Clear();
    Unit().PollingThread().Run();
    EXPECT_EQ(1u, m_Log.Count("CPollingThread::Run - Thread not started"));
    m_pUnit.reset();
    EXPECT_EQ(0u, m_Log.Count("CPollingThread::Terminate entered"));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit Destroyed"));
}

TEST_F(ChannelTest, DeviceHeldElsewhereIsNotOpenedAndCanBeRetried) {
    ASSERT_TRUE(Unit().Initialise(SVCP_DEFAULT_PORT_BASE));
    CDataCache otherCache;
    FillCache(otherCache, 2, 1, 2, {0x0001, 0x0002});
    CIOUnit other(&otherCache);
    m_Processor.ClearExchanges();
    m_Log.Clear();
    EXPECT_FALSE(other.Initialise(SVCP_DEFAULT_PORT_BASE));
    EXPECT_EQ(
        (std::vector<std::string>{"CIOUnit::InitialiseBusIODevice - Error in CreateFile: 20"}),
        m_Log.AtMost(LOG_ERROR));
    EXPECT_FALSE(other.PollingThread().IsInitialised());
    EXPECT_TRUE(m_Processor.Exchanges().empty());

    // Once the holder lets go, a later attempt opens the device and reads.
    m_pUnit.reset();
    ASSERT_TRUE(WaitUntil([&] { return other.Initialise(SVCP_DEFAULT_PORT_BASE); }));
    EXPECT_EQ(3300, Sensor(otherCache, 0x10000).value);
    EXPECT_TRUE(other.PollingThread().IsInitialised());
}

TEST_F(ChannelTest, TwoDevicesAreRefused) {
    ScriptedProcessor second("portwyn1");
    ASSERT_TRUE(second.Enable());
    EXPECT_FALSE(Unit().Initialise(SVCP_DEFAULT_PORT_BASE));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::InitialiseIODevice  - PortwynInterfaceCount=2"));
    EXPECT_EQ(1u, m_Log.Count("CIOUnit::InitialiseIODevice - Too many device interface instances"));
    EXPECT_TRUE(m_Processor.Exchanges().empty());
    EXPECT_TRUE(second.Exchanges().empty());
}

TEST_F(ChannelTest, FaultsKeepTheCachedValuesAndTheirTime) {
    struct Case {
        Fault fault;
        std::optional<std::string> line; // the only line at level 3 or below
    };
    for (Case c : {Case{Fault::Timeout, "SvcpRequestResponse - Ioctl failed: Last Error=0x"},
                   Case{Fault::BadChecksum, std::nullopt}, Case{Fault::ShortResponse, std::nullopt},
                   Case{Fault::WrongType, "CIOUnit::UpdateVoltages - Type 0xa2 not Voltage"}}) {
        m_pUnit.reset();
        svcproc::platform::SetTickCountForTest(50000);
        m_Processor.SetVoltages({330, 500});
        ASSERT_TRUE(Unit().Initialise(SVCP_DEFAULT_PORT_BASE));
        const DWORD refreshed = VoltageLastUpdate();
        m_Processor.SetVoltages({111, 222});
        m_Processor.InjectFault(SVCP_CMD_READ_VOLTAGES, c.fault);
        svcproc::platform::AdvanceTickCountForTest(600);
        m_Log.Clear();

        CSensorReading reading{};
        EXPECT_EQ(SERVICE_SUCCESS, Unit().ReadSensor(0x10001, reading));
        EXPECT_EQ(5000, reading.m_Reading);
        EXPECT_EQ(3300, Sensor(m_Cache, 0x10000).value);
        EXPECT_EQ(refreshed, VoltageLastUpdate());
        const auto lines = m_Log.AtMost(LOG_INFO);
        if (c.line) {
            ASSERT_EQ(1u, lines.size()) << *c.line;
            EXPECT_EQ(0u, lines[0].rfind(*c.line, 0)) << lines[0];
        } else {
            EXPECT_TRUE(lines.empty()) << lines.front();
        }
        // The time did not move, so the next read tries again.
        EXPECT_EQ(SERVICE_SUCCESS, Unit().ReadSensor(0x10001, reading));
        EXPECT_EQ(2220, reading.m_Reading);
    }
}

TEST_F(ChannelTest, ReadsRefreshAtMostOncePerHalfSecond) {
    svcproc::platform::SetTickCountForTest(10000);
    ASSERT_TRUE(Unit().Initialise(SVCP_DEFAULT_PORT_BASE));
    m_Processor.ClearExchanges();
    CSensorReading reading{};
    EXPECT_EQ(SERVICE_SUCCESS, Unit().ReadSensor(0x10000, reading));
    svcproc::platform::AdvanceTickCountForTest(100);
    EXPECT_EQ(SERVICE_SUCCESS, Unit().ReadSensor(0x10001, reading));
    EXPECT_EQ(0u, m_Processor.CountOf(SVCP_CMD_READ_VOLTAGES));
    svcproc::platform::AdvanceTickCountForTest(399);
    Unit().ReadSensor(0x10000, reading);
    EXPECT_EQ(0u, m_Processor.CountOf(SVCP_CMD_READ_VOLTAGES));
    svcproc::platform::AdvanceTickCountForTest(1);
    Unit().ReadSensor(0x10000, reading);
    Unit().ReadSensor(0x10001, reading);
    EXPECT_EQ(1u, m_Processor.CountOf(SVCP_CMD_READ_VOLTAGES));
    // Only the kind that was read is refreshed.
    EXPECT_EQ((std::vector<uint8_t>{0xA6}), Commands());

    CLedReading led{};
    EXPECT_EQ(SERVICE_SUCCESS, Unit().ReadLed(0x40001, led));
    EXPECT_EQ(1u, m_Processor.CountOf(SVCP_CMD_READ_LEDS));
}

TEST_F(ChannelTest, WrongKindsAreRefusedWithoutAnExchange) {
    svcproc::platform::SetTickCountForTest(10000);
    ASSERT_TRUE(Unit().Initialise(SVCP_DEFAULT_PORT_BASE));
    m_Processor.ClearExchanges();
    svcproc::platform::AdvanceTickCountForTest(10000);
    CSensorReading reading{7, 7};
    for (uint32_t handle : {0x40001u, 0x00000u, 0x00001u, 0x50000u, 0xFFFF0000u}) {
        EXPECT_EQ(SERVICE_INVALID_HANDLE, Unit().ReadSensor(handle, reading)) << handle;
    }
    CLedReading led{true};
    for (uint32_t handle : {0x10000u, 0x30001u, 0x00001u, 0x50001u}) {
        EXPECT_EQ(SERVICE_INVALID_HANDLE, Unit().ReadLed(handle, led)) << handle;
    }
    EXPECT_TRUE(m_Processor.Exchanges().empty());
    EXPECT_EQ(7, reading.m_Reading);
    EXPECT_TRUE(led.m_bOn);

    m_Log.Clear();
    EXPECT_EQ(SERVICE_INVALID_HANDLE, Unit().ReadSensor(0x10009, reading));
    EXPECT_EQ(1u, m_Log.Count("CDataCache::GetVoltage - Handle 0x0009 not found"));
    EXPECT_EQ(SERVICE_INVALID_HANDLE, Unit().ReadLed(0x40004, led));
    EXPECT_EQ(1u, m_Log.Count("CDataCache::GetLed - Handle 0x0004 not found"));
}

TEST_F(ChannelTest, PollingStartsOnlyWithRun) {
    RecordingListener listener;
    Unit().RegisterSensorStateListener(&listener);
    ASSERT_TRUE(Unit().Initialise(SVCP_DEFAULT_PORT_BASE));
    m_Processor.QueueAlert(0xA6, 0x0002, Words({300, 250}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(0u, m_Processor.CountOf(SVCP_CMD_POLL_ALERT));

    Unit().PollingThread().Run();
    ASSERT_TRUE(WaitUntil([&] { return !listener.Calls().empty(); }));
    EXPECT_EQ((std::vector<Call>{{0x10001, 1, 250}}), listener.Calls());
    EXPECT_EQ(2500, Sensor(m_Cache, 0x10001).value);
    ASSERT_TRUE(WaitUntil([&] { return m_Processor.CountOf(SVCP_CMD_POLL_ALERT) >= 3; }));

    m_Processor.QueueAlert(0xA6, 0x0000, Words({300, 240}));
    ASSERT_TRUE(WaitUntil([&] { return listener.Calls().size() == 2; }));
    EXPECT_EQ((Call{0x10001, 0, 240}), listener.Calls()[1]);

    m_Log.Clear();
    m_pUnit.reset();
    const auto lines = m_Log.AtMost(LOG_TRACE);
    auto position = [&](const std::string& text) {
        return std::find(lines.begin(), lines.end(), text) - lines.begin();
    };
    EXPECT_LT(position("CPollingThread::Terminate entered"),
              position("CPollingThread::Terminate - Thread terminated"));
    EXPECT_LT(position("CPollingThread::Terminate - Thread terminated"),
              position("CIOUnit Destroyed"));
    EXPECT_LT(position("CIOUnit Destroyed"), position("CPollingThread Destroyed"));
    EXPECT_LT(position("CPollingThread Destroyed"), static_cast<ptrdiff_t>(lines.size()));
}

TEST_F(ChannelTest, InvalidAlertResponseIsLoggedAndChangesNothing) {
    RecordingListener listener;
    Unit().RegisterSensorStateListener(&listener);
    ASSERT_TRUE(Unit().Initialise(SVCP_DEFAULT_PORT_BASE));
    m_Processor.QueueAlert(0xA6, 0x0001, Words({300, 250}));
    m_Processor.InjectFault(SVCP_CMD_POLL_ALERT, Fault::BadChecksum);
    m_Log.Clear();
    Unit().PollAlerts();
    EXPECT_EQ((std::vector<std::string>{"CIOUnit::PollAlerts - Invalid Response Packet\n"}),
              m_Log.AtMost(LOG_INFO));
    EXPECT_TRUE(listener.Calls().empty());
    EXPECT_EQ(0x0000, m_Cache.Access().Voltages().m_wAlertBits);

    // Nothing pending: no message at all.
    m_Log.Clear();
    Unit().PollAlerts();
    EXPECT_TRUE(m_Log.AtMost(LOG_INFO).empty());

    m_Processor.InjectFault(SVCP_CMD_POLL_ALERT, Fault::Timeout);
    Unit().PollAlerts();
    ASSERT_EQ(1u, m_Log.AtMost(LOG_INFO).size());
}
