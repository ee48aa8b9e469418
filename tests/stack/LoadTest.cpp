// Sixteen clients enumerating as fast as they can while alerts arrive every
// 200 ms. SVCPROC_LOAD_SECONDS sets the length (default 10 s; 30 for the
// full run).
#include <gtest/gtest.h>

#include "StackLoad.h"

namespace {

using stack::EventWatcher;

// Read commands of each kind as the simulator counts them.
const std::pair<const char*, const char*> kReadCommands[] = {{"voltages", "requests_0xa6"},
                                                             {"fans", "requests_0xa2"},
                                                             {"temperatures", "requests_0xa4"},
                                                             {"leds", "requests_0xed"}};

TEST(LoadTest, SixteenClientsLoseNothingAndTheDeviceSeesAtMostTwoReadsPerKindPerSecond) {
    const int seconds = stack::EnvSeconds("SVCPROC_LOAD_SECONDS", 10);
    stack::Stack stack;
    std::string error;
    ASSERT_TRUE(stack.Start("default", &error)) << error;
    std::vector<std::string> names = stack::VoltageNames(stack.Endpoint(), 2);
    ASSERT_EQ(names.size(), 2u);

    std::vector<std::unique_ptr<EventWatcher>> watchers;
    for (int i = 0; i < 4; ++i) {
        watchers.push_back(std::make_unique<EventWatcher>());
        ASSERT_TRUE(watchers.back()->Start(stack.Endpoint(), "VQX_SpNumericSensorAlert", &error))
            << error;
    }
    auto before = stack.Stats();
    ASSERT_FALSE(before.empty());
    auto start = std::chrono::steady_clock::now();

    stack::EnumerationLoad load;
    load.Start(stack.Endpoint(), 16, {"VQX_SpNumericSensor", "VQX_LedAlarmDevice"});
    stack::AlertPacer alerts;
    alerts.Start(stack, names);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    alerts.Stop();
    load.Stop();

    auto expected = alerts.Expected();
    EXPECT_EQ(alerts.ControlFailures(), 0u);
    for (auto& watcher : watchers) {
        watcher->WaitForEvents(expected.size(), 10000);
    }
    auto after = stack.Stats();
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    EXPECT_EQ(load.Failed(), 0u) << load.FirstFailure();
    EXPECT_GT(load.Served(), 16u);
    ASSERT_GE(expected.size(), static_cast<size_t>(seconds * 4));
    for (size_t i = 0; i < watchers.size(); ++i) {
        EXPECT_EQ(watchers[i]->Events(), expected) << "watcher " << i;
        EXPECT_EQ(watchers[i]->Ended(), stack::Outcome::End::Timeout) << "watcher " << i;
    }
    // One exchange per kind per 500 ms; the edges of the window may each
    // add one.
    for (const auto& [kind, counter] : kReadCommands) {
        uint64_t exchanges = after[counter] - before[counter];
        EXPECT_LE(static_cast<double>(exchanges), 2.0 * elapsed + 2.0)
            << kind << ": " << exchanges << " in " << elapsed << " s";
    }
    EXPECT_TRUE(stack.m_Telvane.Running());
    EXPECT_TRUE(stack.m_Portwyn.Running());
}

} // namespace
