// Readers, listener churn and alerts at once. Meant to run under
// ThreadSanitizer as well; SVCPROC_STRESS_SECONDS sets its length.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "IoTestSupport.h"

using namespace iotest;

namespace {

int StressSeconds() {
    const char* text = std::getenv("SVCPROC_STRESS_SECONDS");
    const int seconds = text != nullptr ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 3;
}

// Knows whether it is registered; any call, or part of one, while it is not
// is a fault.
class GuardedListener : public ISensorStateListener {
public:
    void SensorStateChanged(uint32_t handle, uint32_t, int32_t) override {
        if (!m_bRegistered.load()) {
            ++m_nLateCalls;
        }
        if ((handle >> 16) < 1 || (handle >> 16) > 3) {
            ++m_nBadHandles;
        }
        ++m_nCalls;
        // Long enough for unregistrations to meet calls in flight; one that
        // returned meanwhile has let this call outlive it.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (!m_bRegistered.load()) {
            ++m_nLateCalls;
        }
    }
    std::atomic<bool> m_bRegistered{false};
    std::atomic<int> m_nLateCalls{0};
    std::atomic<int> m_nBadHandles{0};
    std::atomic<int> m_nCalls{0};
};

} // namespace

TEST(IOUnitStress, ReadersListenerChurnAndAlerts) {
    RuntimeDir runtimeDir;
    CDataCache cache;
    FillCache(cache, 3, 2, 3, {0x0001, 0x0002, 0x0004});
    ScriptedProcessor processor;
    processor.SetVoltages({330, 500, 120});
    processor.SetFans({3600, 2400});
    processor.SetTemperatures({45, 50, 30});
    processor.SetLeds(0x0005);
    ASSERT_TRUE(processor.Enable());

    CIOUnit unit(&cache);
    ASSERT_TRUE(unit.Initialise(SVCP_DEFAULT_PORT_BASE));
    processor.ClearExchanges();
    unit.PollingThread().Run();

    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + std::chrono::seconds(StressSeconds());
    std::atomic<bool> stop{false};
    std::atomic<long> reads{0};
    std::atomic<int> readFailures{0};
    std::vector<std::thread> threads;

    // The simulated processor always has an alert for the next poll.
    threads.emplace_back([&] {
        uint16_t mask = 0;
        while (!stop) {
            mask = static_cast<uint16_t>(mask ^ 0x0005);
            processor.QueueAlert(0xA6, mask, Words({300, 250, 12}));
            processor.QueueAlert(0xA4, mask, {45, 50, 30});
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    // More state changes than polls alone give, straight into the dispatch.
    threads.emplace_back([&] {
        uint32_t state = 0;
        while (!stop) {
            state ^= 1;
            unit.FireFanStateChange(1, state, 2400);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    for (int reader = 0; reader < 8; ++reader) {
        threads.emplace_back([&, reader] {
            const uint32_t sensors[] = {0x10000, 0x10001, 0x10002, 0x20000,
                                        0x20001, 0x30000, 0x30001, 0x30002};
            while (!stop) {
                CSensorReading reading{};
                if (unit.ReadSensor(sensors[reader], reading) != SERVICE_SUCCESS) {
                    ++readFailures;
                }
                CLedReading led{};
                if (unit.ReadLed(0x40000 | (1u << (reader % 3)), led) != SERVICE_SUCCESS) {
                    ++readFailures;
                }
                ++reads;
            }
        });
    }

    std::vector<std::unique_ptr<GuardedListener>> listeners;
    for (int i = 0; i < 6; ++i) {
        listeners.push_back(std::make_unique<GuardedListener>());
    }
    std::mt19937 random(12345);
    while (std::chrono::steady_clock::now() < deadline) {
        GuardedListener& listener = *listeners[random() % listeners.size()];
        if (listener.m_bRegistered) {
            unit.UnregisterSensorStateListener(&listener);
            listener.m_bRegistered = false;
        } else {
            listener.m_bRegistered = true;
            unit.RegisterSensorStateListener(&listener);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
    }
    for (auto& listener : listeners) {
        unit.UnregisterSensorStateListener(listener.get());
        listener->m_bRegistered = false;
    }
    const auto elapsed = std::chrono::steady_clock::now() - started;
    stop = true;
    for (auto& thread : threads) {
        thread.join();
    }
    // A late call would have happened by now, with every listener unregistered.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));

    int calls = 0;
    for (auto& listener : listeners) {
        EXPECT_EQ(0, listener->m_nLateCalls);
        EXPECT_EQ(0, listener->m_nBadHandles);
        calls += listener->m_nCalls;
    }
    EXPECT_GT(calls, 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(0, readFailures);
    // Eight readers, still at most one refresh per kind per half second.
    const double seconds = std::chrono::duration<double>(elapsed).count();
    const size_t bound = static_cast<size_t>(seconds * 2) + 2;
    for (uint8_t command : {SVCP_CMD_READ_VOLTAGES, SVCP_CMD_READ_FANS, SVCP_CMD_READ_TEMPERATURES,
                            SVCP_CMD_READ_LEDS}) {
        EXPECT_LE(processor.CountOf(command), bound) << int(command);
    }
}
