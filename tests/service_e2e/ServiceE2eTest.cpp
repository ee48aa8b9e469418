#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

#include "DeviceChannelServer.h"
#include "E2eHarness.h"
#include "ServiceApi.h"
#include "platform/sync/Sync.h"

namespace {

using e2e::Environment;

std::list<uint32_t> SensorHandles() {
    CSensorHandleList list;
    CHECK_EQ(ServiceApi::EnumerateSensorHandles(list), SERVICE_SUCCESS);
    return list.m_Handles;
}

std::list<uint32_t> LedHandles() {
    CLedHandleList list;
    CHECK_EQ(ServiceApi::EnumerateLedHandles(list), SERVICE_SUCCESS);
    return list.m_Handles;
}

CSensorInformation Info(uint32_t handle) {
    CSensorInformation info;
    CHECK_EQ(ServiceApi::GetSensorInformation(handle, info), SERVICE_SUCCESS);
    return info;
}

// The records declare an assignment but no copy: read into the caller's.
int32_t ReadingOf(uint32_t handle) {
    CSensorReading reading{};
    CHECK_EQ(ServiceApi::ReadSensor(handle, reading), SERVICE_SUCCESS);
    return reading.m_Reading;
}

uint32_t StateOf(uint32_t handle) {
    CSensorReading reading{};
    CHECK_EQ(ServiceApi::ReadSensor(handle, reading), SERVICE_SUCCESS);
    return reading.m_State;
}

struct Call {
    uint32_t handle;
    uint32_t state;
    int32_t reading;
};

class RecordingListener : public ISensorStateListener {
public:
    void SensorStateChanged(uint32_t handle, uint32_t state, int32_t reading) override {
        std::lock_guard<std::mutex> guard(m_Mutex);
        m_vCalls.push_back({handle, state, reading});
    }
    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> guard(m_Mutex);
        return m_vCalls;
    }
    // Waits (generously) until `count` calls have arrived.
    bool WaitFor(size_t count) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (Calls().size() < count) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }

private:
    std::mutex m_Mutex;
    std::vector<Call> m_vCalls;
};

void DefaultProfileMatches() {
    Environment env;
    env.WriteTable("default");
    env.StartHost("default");
    CHECK_EQ(ServiceApi::InitialiseServiceDriver(), SERVICE_SUCCESS);
    CHECK_EQ(ServiceApi::InitialiseServiceDriver(), SERVICE_SUCCESS); // nothing more to do

    std::list<uint32_t> sensors{0xABCD}; // appended after what is there
    CSensorHandleList list;
    list.m_Handles = sensors;
    CHECK_EQ(ServiceApi::EnumerateSensorHandles(list), SERVICE_SUCCESS);
    CHECK(list.m_Handles == (std::list<uint32_t>{0xABCD, 0x10000, 0x10001, 0x10002, 0x10003,
                                                 0x20000, 0x20001, 0x20002, 0x30000, 0x30001}));
    CHECK(LedHandles() == (std::list<uint32_t>{0x40001, 0x40002, 0x40004}));

    CSensorInformation volts = Info(0x10002);
    CHECK(volts.m_Description == L"VCC 12V");
    CHECK_EQ(volts.m_BaseUnits, 5);
    CHECK_EQ(volts.m_UnitModifier, -3);
    CHECK_EQ(volts.m_NominalReading, 12000);
    CHECK_EQ(volts.m_UpperThresholdCritical, 13200);
    CHECK_EQ(volts.m_Resolution, 10);
    CSensorInformation fan = Info(0x20000);
    CHECK(fan.m_Description == L"CPU Fan");
    CHECK_EQ(fan.m_NominalReading, 2400);
    CHECK_EQ(fan.m_MaxReadable, SERVICE_VALUE_UNKNOWN);
    CSensorInformation temp = Info(0x30000);
    CHECK(temp.m_Description == L"CPU Temperature");
    CHECK_EQ(temp.m_UnitModifier, -1);
    CHECK_EQ(temp.m_Resolution, 10);
    CLedInformation led;
    CHECK_EQ(ServiceApi::GetLedInformation(0x40001, led), SERVICE_SUCCESS);
    CHECK(led.m_Description == L"Power LED");
    CHECK_EQ(led.m_Urgency, 5);

    // Readings arrive in the units the information declares.
    CHECK_EQ(ReadingOf(0x10002), 12000); // millivolts
    CHECK_EQ(ReadingOf(0x20000), 2400);  // rpm
    CHECK_EQ(ReadingOf(0x30000), 400);   // tenths of a degree
    CHECK_EQ(StateOf(0x30000), 0u);
    CLedReading on{false};
    CHECK_EQ(ServiceApi::ReadLed(0x40001, on), SERVICE_SUCCESS);
    CHECK(on.m_bOn);
    CLedReading off{true};
    CHECK_EQ(ServiceApi::ReadLed(0x40002, off), SERVICE_SUCCESS);
    CHECK(!off.m_bOn);

    // Handles that name nothing, or the wrong kind.
    CSensorInformation info;
    CSensorReading reading{};
    CLedReading ledReading{};
    for (uint32_t handle : {0x00000u, 0x00002u, 0x50000u, 0x50002u, 0x40001u, 0x10009u}) {
        CHECK_EQ(ServiceApi::GetSensorInformation(handle, info), SERVICE_INVALID_HANDLE);
        CHECK_EQ(ServiceApi::ReadSensor(handle, reading), SERVICE_INVALID_HANDLE);
    }
    for (uint32_t handle : {0x00001u, 0x50001u, 0x10001u, 0x40008u}) {
        CHECK_EQ(ServiceApi::GetLedInformation(handle, led), SERVICE_INVALID_HANDLE);
        CHECK_EQ(ServiceApi::ReadLed(handle, ledReading), SERVICE_INVALID_HANDLE);
    }
}

void ChassisFanHiddenOnFamilyTwo() {
    Environment env;
    env.WriteTable("family2");
    env.StartHost("family2");
    CHECK_EQ(ServiceApi::InitialiseServiceDriver(), SERVICE_SUCCESS);
    CHECK(SensorHandles() == (std::list<uint32_t>{0x10000, 0x10001, 0x10002, 0x10003, 0x20000,
                                                  0x20002, 0x30000, 0x30001}));
    CHECK(Info(0x20001).m_Description == L"Chassis Fan");
    CHECK_EQ(ReadingOf(0x20001), 1500);
}

void ReadsRefreshAtMostOncePerHalfSecond() {
    Environment env;
    env.WriteTable("default");
    env.StartHost("default");
    const DWORD start = 1000000;
    svcproc::platform::SetTickCountForTest(start);
    CHECK_EQ(ServiceApi::InitialiseServiceDriver(), SERVICE_SUCCESS); // reads every kind once
    unsigned long afterInit = env.Stat("requests_0xa6");
    CHECK_EQ(afterInit, 1ul);

    svcproc::platform::SetTickCountForTest(start + 500); // stale: one exchange
    ReadingOf(0x10000);
    svcproc::platform::SetTickCountForTest(start + 600); // 100 ms later: from the cache
    ReadingOf(0x10001);
    CHECK_EQ(env.Stat("requests_0xa6"), afterInit + 1);
    svcproc::platform::SetTickCountForTest(start + 999); // 499 ms after the refresh
    ReadingOf(0x10000);
    CHECK_EQ(env.Stat("requests_0xa6"), afterInit + 1);
    svcproc::platform::SetTickCountForTest(start + 1000); // 500 ms after it
    ReadingOf(0x10000);
    CHECK_EQ(env.Stat("requests_0xa6"), afterInit + 2);
    svcproc::platform::UseRealTickCount();
}

void AlertsReachEveryListenerOnce() {
    Environment env;
    env.WriteTable("default");
    env.StartHost("default");
    CHECK_EQ(ServiceApi::InitialiseServiceDriver(), SERVICE_SUCCESS);
    RecordingListener first;
    RecordingListener second;
    ServiceApi::RegisterSensorStateListener(&first);
    ServiceApi::RegisterSensorStateListener(&first); // a duplicate is kept once
    ServiceApi::RegisterSensorStateListener(&second);

    env.Control("alert voltage 2 on");
    CHECK(first.WaitFor(1));
    CHECK(second.WaitFor(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // room for a wrong second call
    for (RecordingListener* listener : {&first, &second}) {
        std::vector<Call> calls = listener->Calls();
        CHECK_EQ(calls.size(), 1u);
        CHECK_EQ(calls[0].handle, 0x10002u);
        CHECK_EQ(calls[0].state, 1u);
        CHECK_EQ(calls[0].reading, 1200); // as the service processor sent it
    }
    // The cache holds the state and the reading scaled to millivolts.
    CHECK_EQ(StateOf(0x10002), 1u);
    CHECK_EQ(ReadingOf(0x10002), 12000);

    ServiceApi::UnregisterSensorStateListener(&second);
    env.Control("alert voltage 2 off");
    CHECK(first.WaitFor(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<Call> calls = first.Calls();
    CHECK_EQ(calls.size(), 2u);
    CHECK_EQ(calls[1].handle, 0x10002u);
    CHECK_EQ(calls[1].state, 0u);
    CHECK_EQ(calls[1].reading, 1200);
    CHECK_EQ(second.Calls().size(), 1u); // not called after its unregistration
    CHECK_EQ(StateOf(0x10002), 0u);
    ServiceApi::UnregisterSensorStateListener(&first);
}

void NoDriverHostThenRepeat() {
    Environment env;
    env.WriteTable("default");
    CHECK_EQ(ServiceApi::InitialiseServiceDriver(), SERVICE_IO_FAILURE);
    CSensorHandleList list;
    CHECK_EQ(ServiceApi::EnumerateSensorHandles(list), SERVICE_NOT_INITIALISED);
    env.StartHost("default");
    CHECK_EQ(ServiceApi::InitialiseServiceDriver(), SERVICE_SUCCESS);
    // The first attempt's entries are the ones kept; nothing was lost or doubled.
    CHECK_EQ(SensorHandles().size(), 9u);
    CHECK_EQ(ReadingOf(0x10000), 3300);
}

void TwoInterfacesGiveIoFailure() {
    Environment env;
    env.WriteTable("default");
    env.StartHost("default");
    svcproc::devchannel::DeviceInterfaceServer other(
        SVCP_INTERFACE_CLASS_GUID_STRING, "PORTWYN2",
        [](uint32_t, const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t*) {
            return static_cast<NTSTATUS>(0);
        });
    std::string error;
    CHECK(other.Enable(&error));
    CHECK_EQ(ServiceApi::InitialiseServiceDriver(), SERVICE_IO_FAILURE);
}

// Each scenario in a fresh process: the library's initialised flag is never reset.
void RunScenario(void (*scenario)()) {
    scenario();
    e2e::StopAllHosts();
    std::fflush(nullptr);
    std::_Exit(e2e::HostFailed() ? 1 : 0);
}

class ServiceE2e : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ServiceE2e, DefaultProfileHandlesInformationAndScaledReadings) {
    EXPECT_EXIT(RunScenario(DefaultProfileMatches), ::testing::ExitedWithCode(0), "");
}

TEST_F(ServiceE2e, ChassisFanIsNotEnumeratedOnFamilyTwo) {
    EXPECT_EXIT(RunScenario(ChassisFanHiddenOnFamilyTwo), ::testing::ExitedWithCode(0), "");
}

TEST_F(ServiceE2e, ReadsRefreshAtMostOncePerHalfSecond) {
    EXPECT_EXIT(RunScenario(ReadsRefreshAtMostOncePerHalfSecond), ::testing::ExitedWithCode(0), "");
}

TEST_F(ServiceE2e, AlertsReachEveryListenerWithHandleStateAndRawReading) {
    EXPECT_EXIT(RunScenario(AlertsReachEveryListenerOnce), ::testing::ExitedWithCode(0), "");
}

TEST_F(ServiceE2e, NoDriverHostGivesIoFailureAndInitialisationCanBeRepeated) {
    EXPECT_EXIT(RunScenario(NoDriverHostThenRepeat), ::testing::ExitedWithCode(0), "");
}

TEST_F(ServiceE2e, TwoDeviceInterfacesGiveIoFailure) {
    EXPECT_EXIT(RunScenario(TwoInterfacesGiveIoFailure), ::testing::ExitedWithCode(0), "");
}

} // namespace
