// End-to-end timings of the library against the driver host and simulator:
//  - latency from an alert raised in the simulator to the listener call
//    (median and 99th percentile over 100 alerts; budget 60 ms and 120 ms);
//  - the cost of a ReadSensor answered from the cache;
//  - the exchanges per kind the simulator sees while eight threads read as
//    fast as they can (budget: at most 2 per kind per second).
// Usage: bench_alert_latency [--alerts N] [--read-seconds S]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "HostProcess.h"
#include "Log.h"
#include "ServiceApi.h"
#include "control/ControlClient.h"

namespace {

using Clock = std::chrono::steady_clock;

class TimedListener : public ISensorStateListener {
public:
    void SensorStateChanged(uint32_t handle, uint32_t state, int32_t) override {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_vEvents.push_back({handle, state, Clock::now()});
        m_Changed.notify_all();
    }
    // The time of the first call for (handle, state) after `from`, if any
    // comes within the time-out.
    bool WaitFor(uint32_t handle, uint32_t state, size_t from, Clock::time_point* at) {
        std::unique_lock<std::mutex> lock(m_Mutex);
        return m_Changed.wait_for(lock, std::chrono::seconds(3), [&] {
            for (size_t i = from; i < m_vEvents.size(); ++i) {
                if (m_vEvents[i].handle == handle && m_vEvents[i].state == state) {
                    *at = m_vEvents[i].at;
                    return true;
                }
            }
            return false;
        });
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(m_Mutex);
        return m_vEvents.size();
    }

private:
    struct Event {
        uint32_t handle;
        uint32_t state;
        Clock::time_point at;
    };
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    std::vector<Event> m_vEvents;
};

bool Control(const std::string& path, const std::string& line, std::string* data = nullptr) {
    svcproc::sim::ControlReply reply;
    std::string error;
    if (!svcproc::sim::SendControlRequest(path, line, &reply, &error) || !reply.m_bOk) {
        std::fprintf(stderr, "control '%s' failed: %s%s\n", line.c_str(), error.c_str(),
                     reply.m_sReason.c_str());
        return false;
    }
    if (data != nullptr) {
        *data = reply.m_sData;
    }
    return true;
}

std::map<std::string, unsigned long> Stats(const std::string& path) {
    std::map<std::string, unsigned long> stats;
    std::string data;
    if (!Control(path, "stats", &data)) {
        return stats;
    }
    std::istringstream lines(data);
    std::string name;
    unsigned long value = 0;
    while (lines >> name >> value) {
        stats[name] = value;
    }
    return stats;
}

double Percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    const size_t rank = static_cast<size_t>(fraction * double(values.size()) + 0.999999);
    return values[std::min(values.size(), std::max<size_t>(rank, 1)) - 1];
}

const char* Verdict(bool ok) {
    return ok ? "within budget" : "OVER BUDGET";
}

struct Options {
    int alerts = 100;
    int readSeconds = 5;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--alerts") == 0) {
            options.alerts = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--read-seconds") == 0) {
            options.readSeconds = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    return options;
}

bool MeasureAlertLatency(const std::string& control, TimedListener& listener, uint32_t handle,
                         int alerts) {
    const std::string sensor = "voltage " + std::to_string(handle & 0xFFFF);
    std::vector<double> raised;
    std::vector<double> cleared;
    // Alerts come at any moment of the poll period: each waits a random part
    // of it after the previous listener call, which came right after a poll.
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> phase(0, 99);
    for (int i = 0; i < alerts; ++i) {
        for (uint32_t state : {1u, 0u}) {
            std::this_thread::sleep_for(std::chrono::milliseconds(phase(random)));
            const size_t from = listener.Count();
            const Clock::time_point start = Clock::now();
            if (!Control(control, "alert " + sensor + (state ? " on" : " off"))) {
                return false;
            }
            Clock::time_point at;
            if (!listener.WaitFor(handle, state, from, &at)) {
                std::fprintf(stderr, "no listener call for handle 0x%x state %u\n", handle, state);
                return false;
            }
            const double ms = std::chrono::duration<double, std::milli>(at - start).count();
            (state ? raised : cleared).push_back(ms);
        }
    }
    const double median = Percentile(raised, 0.5);
    const double p99 = Percentile(raised, 0.99);
    std::printf("alert latency (%d alerts raised): median %.1f ms, p99 %.1f ms, max %.1f ms  "
                "[budget 60 / 120 ms: %s]\n",
                alerts, median, p99, Percentile(raised, 1.0), Verdict(median <= 60 && p99 <= 120));
    std::printf("alert latency (%d alerts cleared): median %.1f ms, p99 %.1f ms\n", alerts,
                Percentile(cleared, 0.5), Percentile(cleared, 0.99));
    return true;
}

void MeasureCachedRead(uint32_t handle) {
    constexpr int kCalls = 200000;
    CSensorReading reading{};
    ServiceApi::ReadSensor(handle, reading);
    std::vector<double> batches;
    for (int batch = 0; batch < 10; ++batch) {
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < kCalls / 10; ++i) {
            ServiceApi::ReadSensor(handle, reading);
        }
        batches.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count() /
                          (kCalls / 10));
    }
    std::printf("cached ReadSensor: median %.0f ns per call over %d calls in 10 batches "
                "(min %.0f, max %.0f; the one refresh per 500 ms included)\n",
                Percentile(batches, 0.5), kCalls, Percentile(batches, 0.0001),
                Percentile(batches, 1.0));
}

void MeasureExchangesPerKind(const std::string& control, const std::vector<uint32_t>& sensors,
                             const std::vector<uint32_t>& leds, int seconds) {
    const auto before = Stats(control);
    std::atomic<bool> stop{false};
    std::atomic<unsigned long> reads{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 8; ++t) {
        readers.emplace_back([&] {
            while (!stop) {
                for (uint32_t handle : sensors) {
                    CSensorReading reading{};
                    ServiceApi::ReadSensor(handle, reading);
                }
                for (uint32_t handle : leds) {
                    CLedReading reading{};
                    ServiceApi::ReadLed(handle, reading);
                }
                reads += sensors.size() + leds.size();
            }
        });
    }
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (auto& reader : readers) {
        reader.join();
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const auto after = Stats(control);
    std::printf("8 readers for %.1f s: %lu reads\n", elapsed, reads.load());
    const std::pair<const char*, const char*> kinds[] = {{"voltages", "requests_0xa6"},
                                                         {"fans", "requests_0xa2"},
                                                         {"temperatures", "requests_0xa4"},
                                                         {"leds", "requests_0xed"}};
    for (const auto& [kind, counter] : kinds) {
        const auto it = after.find(counter);
        const auto was = before.find(counter);
        const unsigned long delta =
            (it == after.end() ? 0 : it->second) - (was == before.end() ? 0 : was->second);
        // The rate is the intervals between exchanges over the window: a
        // window of n refreshes 500 ms apart holds n - 1 intervals, and may
        // begin and end with an exchange.
        const double perSecond = double(delta > 0 ? delta - 1 : 0) / elapsed;
        std::printf("  exchanges %-12s %4lu (%.2f per second)  [budget 2 per second: %s]\n", kind,
                    delta, perSecond, Verdict(perSecond <= 2.0));
    }
}

} // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    setenv("SVCPROC_LOG_LEVEL", "1", 0);
    svcproc::log::ReloadConfiguration();

    CHostProcess host;
    std::string error;
    if (!host.Start("default", &error)) {
        std::fprintf(stderr, "bench_alert_latency: %s\n", error.c_str());
        return 1;
    }
    const SERVICE_CODE code = ServiceApi::InitialiseServiceDriver();
    if (code != SERVICE_SUCCESS) {
        std::fprintf(stderr, "bench_alert_latency: InitialiseServiceDriver gave %u\n", code);
        return 1;
    }
    CSensorHandleList sensors;
    CLedHandleList leds;
    ServiceApi::EnumerateSensorHandles(sensors);
    ServiceApi::EnumerateLedHandles(leds);
    const std::vector<uint32_t> sensorHandles(sensors.m_Handles.begin(), sensors.m_Handles.end());
    const std::vector<uint32_t> ledHandles(leds.m_Handles.begin(), leds.m_Handles.end());
    if (sensorHandles.empty() || ServiceHandleKind(sensorHandles.front()) != HANDLE_KIND_VOLTAGE) {
        std::fprintf(stderr, "bench_alert_latency: the profile has no voltage sensor\n");
        return 1;
    }
    std::printf("profile default: %zu sensors, %zu LEDs\n", sensorHandles.size(),
                ledHandles.size());

    TimedListener listener;
    ServiceApi::RegisterSensorStateListener(&listener);
    const bool alertsOk =
        MeasureAlertLatency(host.ControlPath(), listener, sensorHandles.front(), options.alerts);
    ServiceApi::UnregisterSensorStateListener(&listener);
    MeasureCachedRead(sensorHandles.front());
    MeasureExchangesPerKind(host.ControlPath(), sensorHandles, ledHandles, options.readSeconds);
    host.Stop();
    return alertsOk ? 0 : 1;
}
