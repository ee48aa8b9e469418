#include "StackLoad.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace stack {

void EnumerationLoad::Start(const std::string& endpoint, int clients,
                            std::vector<std::string> classes) {
    for (int i = 0; i < clients; ++i) {
        // Each client starts on a different class so both are always asked.
        std::vector<std::string> order = classes;
        std::rotate(order.begin(), order.begin() + (i % order.size()), order.end());
        m_Threads.emplace_back([this, endpoint, order] { Run(endpoint, order); });
    }
}

void EnumerationLoad::Run(const std::string& endpoint, const std::vector<std::string>& classes) {
    while (!m_bStop) {
        for (const std::string& name : classes) {
            auto start = std::chrono::steady_clock::now();
            Outcome got = Enumerate(endpoint, name, 3, 10000);
            double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            if (got.Succeeded() && !got.objects.empty()) {
                ++m_nServed;
                if (m_bKeepLatencies) {
                    std::lock_guard<std::mutex> lock(m_Lock);
                    m_Latencies.push_back(ms);
                }
                continue;
            }
            ++m_nFailed;
            std::lock_guard<std::mutex> lock(m_Lock);
            if (m_FirstFailure.empty()) {
                char text[64];
                std::snprintf(text, sizeof text, " (end %d, HRESULT 0x%08x, %zu objects)",
                              static_cast<int>(got.end), static_cast<uint32_t>(got.hresult),
                              got.objects.size());
                m_FirstFailure = name + text + " " + got.error;
            }
        }
    }
}

void EnumerationLoad::Stop() {
    m_bStop = true;
    for (std::thread& t : m_Threads) {
        t.join();
    }
    m_Threads.clear();
}

std::string EnumerationLoad::FirstFailure() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_FirstFailure;
}

std::vector<double> EnumerationLoad::Latencies() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Latencies;
}

void AlertPacer::Start(Stack& stack, std::vector<std::string> names,
                       std::chrono::milliseconds period) {
    m_Thread = std::thread([this, &stack, names, period] {
        // v0 on, v1 on, ..., v0 off, v1 off, ...: each sensor changes once
        // per half cycle, so no two changes of one sensor are close.
        const size_t cycle = names.size() * 2;
        auto next = std::chrono::steady_clock::now();
        for (size_t step = 0; !(m_bStop && step % cycle == 0); ++step) {
            std::this_thread::sleep_until(next);
            next += period;
            size_t position = step % names.size();
            bool on = (step % cycle) < names.size();
            std::string line = "alert voltage " + std::to_string(position) + (on ? " on" : " off");
            if (!stack.Control(line)) {
                ++m_nControlFailures;
                continue;
            }
            std::lock_guard<std::mutex> lock(m_Lock);
            m_Expected.emplace_back(names[position], on ? "Critical" : "Ok");
        }
    });
}

void AlertPacer::Stop() {
    m_bStop = true;
    if (m_Thread.joinable()) {
        m_Thread.join();
    }
}

std::vector<std::pair<std::string, std::string>> AlertPacer::Expected() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Expected;
}

std::vector<std::string> VoltageNames(const std::string& endpoint, int count) {
    Outcome got = Enumerate(endpoint, "VQX_SpNumericSensor");
    std::vector<std::string> names;
    for (int position = 0; position < count; ++position) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "(%08X)",
                      0x00010000u | static_cast<unsigned>(position));
        for (const auto& object : got.objects) {
            std::string name = PropertyText(object, "Name");
            if (name.size() >= 10 && name.compare(name.size() - 10, 10, suffix) == 0) {
                names.push_back(name);
            }
        }
        if (names.size() != static_cast<size_t>(position + 1)) {
            return {};
        }
    }
    return names;
}

int EnvSeconds(const char* name, int fallback) {
    const char* text = std::getenv(name);
    int value = text ? std::atoi(text) : 0;
    return value > 0 ? value : fallback;
}

} // namespace stack
