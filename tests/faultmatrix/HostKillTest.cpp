// The driver host killed under a running library: the library keeps
// answering from its cache, its polling thread keeps polling and logging the
// failure, and a fresh host does not bring the old handle back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>

#include "E2eHarness.h"
#include "FaultCases.h"
#include "IoTestSupport.h"
#include "ServiceApi.h"

namespace faultmatrix {
namespace {

using Clock = std::chrono::steady_clock;

const uint32_t kSensors[] = {0x10000, 0x10001, 0x10002, 0x10003, 0x20000,
                             0x20001, 0x20002, 0x30000, 0x30001};
const uint32_t kLeds[] = {0x40001, 0x40002, 0x40004};

// Every reading and LED flag, each read bounded in time.
std::map<uint32_t, int32_t> ReadEverything() {
    std::map<uint32_t, int32_t> values;
    for (uint32_t handle : kSensors) {
        CSensorReading reading{};
        const auto start = Clock::now();
        CHECK_EQ(ServiceApi::ReadSensor(handle, reading), SERVICE_SUCCESS);
        CHECK(Clock::now() - start < std::chrono::seconds(2));
        values[handle] = reading.m_Reading;
    }
    for (uint32_t handle : kLeds) {
        CLedReading reading{};
        const auto start = Clock::now();
        CHECK_EQ(ServiceApi::ReadLed(handle, reading), SERVICE_SUCCESS);
        CHECK(Clock::now() - start < std::chrono::seconds(2));
        values[handle] = reading.m_bOn ? 1 : 0;
    }
    return values;
}

// Waits (generously) until the line has been logged `count` times.
bool WaitForLines(const iotest::LogCapture& capture, const std::string& line, size_t count) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (capture.Count(line) < count) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Past the half-second age limit, so every read tries the driver again.
void LetReadingsGoStale() {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
}

// SIGKILL leaves the host no chance to withdraw: its sockets stay behind.
void KillHost(pid_t host) {
    kill(host, SIGKILL);
    waitpid(host, nullptr, 0);
    auto& hosts = e2e::Hosts();
    hosts.erase(std::remove(hosts.begin(), hosts.end(), host), hosts.end());
}

// A host started over a killed one's left-over sockets: ready once it
// answers on its control socket.
void StartHostOverLeftovers(e2e::Environment& env) {
    env.StartHost("default");
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
        svcproc::sim::ControlReply reply;
        std::string error;
        if (svcproc::sim::SendControlRequest(env.ControlSocket(), "stats", &reply, &error)) {
            return;
        }
        CHECK(Clock::now() < deadline);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void RunHostKill() {
    e2e::Environment env;
    env.WriteTable("default");
    const pid_t host = env.StartHost("default");
    iotest::LogCapture capture;
    CHECK_EQ(ServiceApi::InitialiseServiceDriver(), SERVICE_SUCCESS);
    iotest::RecordingListener listener;
    ServiceApi::RegisterSensorStateListener(&listener);
    const std::map<uint32_t, int32_t> last = ReadEverything();
    CHECK_EQ(last.at(0x10002), 12000);

    KillHost(host);
    const std::string failed = IoctlFailed(ERROR_DEVICE_NOT_CONNECTED);
    // The polling thread meets the dead channel and keeps going.
    CHECK(WaitForLines(capture, failed, 3));
    LetReadingsGoStale();
    CHECK(ReadEverything() == last);
    const size_t failures = capture.Count(failed);
    CHECK(WaitForLines(capture, failed, failures + 3));

    // A fresh host: the library's handle stays bound to the dead one. It
    // never reconnects, so it keeps the last values and sees no alert.
    StartHostOverLeftovers(env);
    env.Control("set voltage 0 350");
    env.Control("alert voltage 2 on");
    LetReadingsGoStale();
    CHECK(ReadEverything() == last);
    CHECK_EQ(ServiceApi::InitialiseServiceDriver(), SERVICE_SUCCESS); // already initialised
    LetReadingsGoStale();
    CHECK(ReadEverything() == last);
    CHECK_EQ(env.Stat("requests_0xa6"), 0ul);
    CHECK_EQ(env.Stat("requests_0xa1"), 0ul);
    CHECK(listener.Calls().empty());
    CHECK(capture.Count(failed) > failures + 3);
    ServiceApi::UnregisterSensorStateListener(&listener);
}

void HostKilledWhileTheLibraryRuns() {
    alarm(60);     // nothing may hang: a stuck child dies and the test fails
    RunHostKill(); // its environment removes the runtime directory on the way out
    std::fflush(nullptr);
    std::_Exit(0);
}

TEST(HostKill, LibraryKeepsAnsweringAndAFreshHostDoesNotHealItsHandle) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(HostKilledWhileTheLibraryRuns(), ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace faultmatrix
