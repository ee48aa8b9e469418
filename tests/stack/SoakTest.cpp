// Alerts every 200 ms and continuous enumeration for SVCPROC_SOAK_SECONDS
// (default 30; bench/stack/soak runs it for 10 minutes). The resident
// memory of the driver host and the service must stay flat after warm-up.
#include <gtest/gtest.h>

#include <cstdio>

#include "StackLoad.h"

namespace {

// A sanitizer's quarantine and shadow memory grow the resident set by tens
// of megabytes; there the leak checker at exit stands in for the budget.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMemoryIsMeasurable = false;
#else
constexpr bool kMemoryIsMeasurable = true;
#endif

TEST(SoakTest, ResidentMemoryStaysFlatUnderAlertsAndEnumeration) {
    const int seconds = stack::EnvSeconds("SVCPROC_SOAK_SECONDS", 30);
    const int warmUp = std::min(10, seconds / 3);
    stack::Stack stack;
    std::string error;
    ASSERT_TRUE(stack.Start("default", &error)) << error;
    std::vector<std::string> names = stack::VoltageNames(stack.Endpoint(), 2);
    ASSERT_EQ(names.size(), 2u);
    stack::EventWatcher watcher;
    ASSERT_TRUE(watcher.Start(stack.Endpoint(), "VQX_SpNumericSensorAlert", &error)) << error;

    stack::EnumerationLoad load;
    load.Start(stack.Endpoint(), 2, {"VQX_SpNumericSensor", "VQX_LedAlarmDevice"});
    stack::AlertPacer alerts;
    alerts.Start(stack, names);

    std::this_thread::sleep_for(std::chrono::seconds(warmUp));
    const pid_t host = stack.m_Portwyn.Pid(), service = stack.m_Telvane.Pid();
    const long hostStart = stack::ResidentKb(host), serviceStart = stack::ResidentKb(service);
    long hostPeak = hostStart, servicePeak = serviceStart;
    for (int s = warmUp; s < seconds; ++s) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        hostPeak = std::max(hostPeak, stack::ResidentKb(host));
        servicePeak = std::max(servicePeak, stack::ResidentKb(service));
    }
    alerts.Stop();
    load.Stop();
    const long hostEnd = stack::ResidentKb(host), serviceEnd = stack::ResidentKb(service);
    std::printf("resident kB after warm-up / peak / end: portwyn %ld / %ld / %ld, "
                "telvane %ld / %ld / %ld\n",
                hostStart, hostPeak, hostEnd, serviceStart, servicePeak, serviceEnd);

    ASSERT_GT(hostStart, 0);
    ASSERT_GT(serviceStart, 0);
    if (kMemoryIsMeasurable) {
        EXPECT_LT(hostPeak - hostStart, 1024);
        EXPECT_LT(servicePeak - serviceStart, 1024);
    }
    EXPECT_EQ(load.Failed(), 0u) << load.FirstFailure();
    auto expected = alerts.Expected();
    std::printf("enumerations served %llu, failed %llu; state changes raised %zu\n",
                static_cast<unsigned long long>(load.Served()),
                static_cast<unsigned long long>(load.Failed()), expected.size());
    EXPECT_TRUE(watcher.WaitForEvents(expected.size(), 10000));
    EXPECT_EQ(watcher.Events(), expected);
}

} // namespace
