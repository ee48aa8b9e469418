#include "Log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

struct Captured {
    std::vector<std::pair<int, std::string>> lines;
    static void Sink(void* self, _LOG_LEVEL level, const char* text) {
        static_cast<Captured*>(self)->lines.emplace_back(level, text);
    }
};

class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SVCPROC_LOG_LEVEL", "4", 1);
        unsetenv("SVCPROC_LOG_FILE");
        svcproc::log::ReloadConfiguration();
        svcproc::log::SetCaptureSink(&Captured::Sink, &captured);
    }
    void TearDown() override {
        svcproc::log::SetCaptureSink(nullptr, nullptr);
        unsetenv("SVCPROC_LOG_LEVEL");
        unsetenv("SVCPROC_LOG_FILE");
        svcproc::log::ReloadConfiguration();
    }
    Captured captured;
};

TEST_F(LogTest, FormatsNarrowAndWideLines) {
    Log(LOG_TRACE, "API: ReadSensor(0x%08x,0x%08x), bInit=%x", 0x10002u, 0xABCu, 1);
    LogQuick(LOG_INFO, "100% as given %s");
    WLog(LOG_ERROR, L"Sensor %s not found, index=%d", L"VCC(00010003)", 3);
    ASSERT_EQ(captured.lines.size(), 3u);
    EXPECT_EQ(captured.lines[0].second, "API: ReadSensor(0x00010002,0x00000abc), bInit=1");
    EXPECT_EQ(captured.lines[1].second, "100% as given %s");
    EXPECT_EQ(captured.lines[2].first, LOG_ERROR);
    EXPECT_EQ(captured.lines[2].second, "Sensor VCC(00010003) not found, index=3");
}

TEST_F(LogTest, WideFormatKeepsWidthsAndExplicitNarrowConversions) {
    WLog(LOG_INFO, L"[%5s|%-3s|%hs|%ls|%%s]", L"ab", L"x", "narrow", L"wide");
    ASSERT_EQ(captured.lines.size(), 1u);
    EXPECT_EQ(captured.lines[0].second, "[   ab|x  |narrow|wide|%s]");
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
TEST_F(LogTest, PointersPrintAsZeroPaddedUpperCaseHex) {
    Log(LOG_ERROR, "pointer 0x%08p, bare %p, null %p, wide %016p, %d%%", (void*)0xabc12, (void*)0x5,
        (void*)nullptr, (void*)0x1, 7);
    ASSERT_EQ(captured.lines.size(), 1u);
    EXPECT_EQ(captured.lines[0].second,
              "pointer 0x000ABC12, bare 00000005, null 00000000, wide 0000000000000001, 7%");
}
#pragma GCC diagnostic pop

TEST_F(LogTest, LevelFilterDropsHigherLevels) {
    setenv("SVCPROC_LOG_LEVEL", "2", 1);
    svcproc::log::ReloadConfiguration();
    LogQuick(LOG_STATUS, "kept");
    LogQuick(LOG_INFO, "dropped");
    Log(LOG_TRACE, "dropped %d", 1);
    ASSERT_EQ(captured.lines.size(), 1u);
    EXPECT_EQ(captured.lines[0].second, "kept");
}

TEST_F(LogTest, BadLevelFallsBackToTwo) {
    setenv("SVCPROC_LOG_LEVEL", "9", 1);
    svcproc::log::ReloadConfiguration();
    LogQuick(LOG_STATUS, "kept");
    LogQuick(LOG_INFO, "dropped");
    EXPECT_EQ(captured.lines.size(), 1u);
}

TEST_F(LogTest, FileRedirectWritesOneLinePerCallFromManyThreads) {
    std::string path = ::testing::TempDir() + "/svcproc-log-test.txt";
    std::remove(path.c_str());
    setenv("SVCPROC_LOG_FILE", path.c_str(), 1);
    svcproc::log::ReloadConfiguration();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 250; ++i) {
                Log(LOG_STATUS, "thread %d line %d", t, i);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::ifstream in(path);
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        ++count;
        EXPECT_NE(line.find("STATUS"), std::string::npos) << line;
        EXPECT_NE(line.find("thread "), std::string::npos) << line;
    }
    EXPECT_EQ(count, 1000);
    EXPECT_EQ(captured.lines.size(), 1000u);
}

} // namespace
