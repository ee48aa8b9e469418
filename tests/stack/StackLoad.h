// Load on a running stack: clients enumerating as fast as they can, and
// alerts raised in the simulator at a steady pace.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "StackHarness.h"

namespace stack {

// `clients` threads, each enumerating the classes in turn, one connection
// per request.
class EnumerationLoad {
public:
    ~EnumerationLoad() { Stop(); }
    void Start(const std::string& endpoint, int clients, std::vector<std::string> classes);
    void Stop();
    uint64_t Served() const { return m_nServed; }
    uint64_t Failed() const { return m_nFailed; }
    std::string FirstFailure();
    // Request latencies in milliseconds, when asked to keep them.
    std::vector<double> Latencies();
    void KeepLatencies() { m_bKeepLatencies = true; }

private:
    void Run(const std::string& endpoint, const std::vector<std::string>& classes);

    std::vector<std::thread> m_Threads;
    std::atomic<bool> m_bStop{false};
    std::atomic<uint64_t> m_nServed{0};
    std::atomic<uint64_t> m_nFailed{0};
    bool m_bKeepLatencies = false;
    std::mutex m_Lock;
    std::string m_FirstFailure;
    std::vector<double> m_Latencies;
};

// Raises and clears alerts on the first voltage sensors in turn, one change
// per period, and remembers the events a watcher must see for them.
class AlertPacer {
public:
    ~AlertPacer() { Stop(); }
    // `names[i]` is the Name of voltage sensor position i.
    void Start(Stack& stack, std::vector<std::string> names,
               std::chrono::milliseconds period = std::chrono::milliseconds(200));
    // Stops after the last change of a whole cycle, so every sensor ends clear.
    void Stop();
    std::vector<std::pair<std::string, std::string>> Expected();
    uint64_t ControlFailures() const { return m_nControlFailures; }

private:
    std::thread m_Thread;
    std::atomic<bool> m_bStop{false};
    std::atomic<uint64_t> m_nControlFailures{0};
    std::mutex m_Lock;
    std::vector<std::pair<std::string, std::string>> m_Expected;
};

// The Names of the first `count` voltage sensors by position (their
// handles are 0x0001PPPP), empty when the service does not show them.
std::vector<std::string> VoltageNames(const std::string& endpoint, int count);

// Environment number with a default.
int EnvSeconds(const char* name, int fallback);

} // namespace stack
