// Figures of the running stack, measured through the client socket:
//  - enumeration latency and throughput with 1 and with 16 clients
//    (VQX_SpNumericSensor and VQX_LedAlarmDevice in turn, bigboard);
//  - read commands per kind the simulator sees under that flood
//    (budget 2 per second);
//  - idle CPU of portwyn and telvane together (budget 1% of one core);
//  - their resident memory after the flood (budget 16 MB each).
// Usage: bench_stack [--load-seconds S] [--idle-seconds S]
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "StackLoad.h"

namespace {

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

const char* Verdict(bool ok) {
    return ok ? "pass" : "FAIL";
}

bool MeasureEnumeration(stack::Stack& stack, int clients, int seconds) {
    auto before = stack.Stats();
    auto start = std::chrono::steady_clock::now();
    stack::EnumerationLoad load;
    load.KeepLatencies();
    load.Start(stack.Endpoint(), clients, {"VQX_SpNumericSensor", "VQX_LedAlarmDevice"});
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    load.Stop();
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    auto after = stack.Stats();
    std::vector<double> latencies = load.Latencies();
    std::printf("enumeration with %d clients: median %.3f ms, p99 %.3f ms, %.0f per second, "
                "%lu failed\n",
                clients, Percentile(latencies, 0.5), Percentile(latencies, 0.99),
                static_cast<double>(load.Served()) / elapsed,
                static_cast<unsigned long>(load.Failed()));
    bool ok = load.Failed() == 0;
    const std::pair<const char*, const char*> kinds[] = {{"voltages", "requests_0xa6"},
                                                         {"fans", "requests_0xa2"},
                                                         {"temperatures", "requests_0xa4"},
                                                         {"leds", "requests_0xed"}};
    for (const auto& [kind, counter] : kinds) {
        double perSecond = static_cast<double>(after[counter] - before[counter]) / elapsed;
        std::printf("  exchanges under %d clients %-12s %.2f per second [budget 2 per second: "
                    "%s]\n",
                    clients, kind, perSecond, Verdict(perSecond <= 2.0 + 2.0 / elapsed));
    }
    return ok;
}

void MeasureIdle(stack::Stack& stack, int seconds) {
    // Let the flood's after-effects settle first.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    pid_t host = stack.m_Portwyn.Pid(), service = stack.m_Telvane.Pid();
    long hostBefore = stack::CpuTicks(host), serviceBefore = stack::CpuTicks(service);
    auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    double hostPercent = 100.0 * (stack::CpuTicks(host) - hostBefore) / tick / elapsed;
    double servicePercent = 100.0 * (stack::CpuTicks(service) - serviceBefore) / tick / elapsed;
    std::printf("idle CPU over %.0f s: portwyn %.2f%%, telvane %.2f%%, together %.2f%% of one "
                "core [budget 1%%: %s]\n",
                elapsed, hostPercent, servicePercent, hostPercent + servicePercent,
                Verdict(hostPercent + servicePercent < 1.0));
}

void MeasureMemory(stack::Stack& stack) {
    long host = stack::ResidentKb(stack.m_Portwyn.Pid());
    long service = stack::ResidentKb(stack.m_Telvane.Pid());
    std::printf("resident memory: portwyn %.1f MB, telvane %.1f MB [budget 16 MB each: %s]\n",
                host / 1024.0, service / 1024.0,
                Verdict(host > 0 && service > 0 && host < 16 * 1024 && service < 16 * 1024));
}

} // namespace

int main(int argc, char** argv) {
    int loadSeconds = 5, idleSeconds = 60;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--load-seconds") == 0) {
            loadSeconds = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--idle-seconds") == 0) {
            idleSeconds = std::max(1, std::atoi(argv[i + 1]));
        } else {
            std::fprintf(stderr, "usage: bench_stack [--load-seconds S] [--idle-seconds S]\n");
            return 2;
        }
    }
    stack::Stack stack;
    std::string error;
    if (!stack.Start("bigboard", &error)) {
        std::fprintf(stderr, "bench_stack: %s\n", error.c_str());
        return 1;
    }
    bool ok = MeasureEnumeration(stack, 1, loadSeconds);
    ok = MeasureEnumeration(stack, 16, loadSeconds) && ok;
    MeasureMemory(stack);
    MeasureIdle(stack, idleSeconds);
    return ok ? 0 : 1;
}
