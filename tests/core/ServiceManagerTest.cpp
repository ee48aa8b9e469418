#include <gtest/gtest.h>

#include "LogCapture.h"
#include "TestEnvironment.h"
#include "core/LibraryState.h"
#include "core/ServiceManager.h"

namespace {

using coretest::BiosVersionOfFamily;
using coretest::kSpDescription;
using coretest::SpBoard;
using coretest::TableEnvironment;
using svcproc::sim::SmbiosTableBuilder;

std::vector<std::string> DeviceLines(int index, const std::string& description, uint16_t handle) {
    char buffer[64];
    std::vector<std::string> lines;
    lines.push_back("Management Device # " + std::to_string(index));
    lines.push_back("  Description:   " + description);
    lines.push_back("  Address:       0x000002b0");
    lines.push_back("  Addr Type:     4");
    snprintf(buffer, sizeof buffer, "  SMBIOS Handle: 0x%04x", handle);
    lines.push_back(buffer);
    return lines;
}

void ExpectSequence(const LogCapture& log, const std::vector<std::string>& expected) {
    long at = log.IndexOf(expected.front());
    ASSERT_GE(at, 0) << expected.front();
    auto texts = log.Texts();
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_LT(static_cast<size_t>(at) + i, texts.size());
        EXPECT_EQ(texts[static_cast<size_t>(at) + i], expected[i]);
    }
}

class ServiceManagerTest : public ::testing::Test {
protected:
    void TearDown() override { g_BiosVersion.clear(); }
    TableEnvironment m_Env;
    CServiceManager m_Manager;
};

TEST_F(ServiceManagerTest, MissingOrEmptyTableGivesNoSmbios) {
    LogCapture log("3");
    EXPECT_EQ(m_Manager.InitialiseServiceDriver(), SERVICE_NO_SMBIOS);
    EXPECT_EQ(log.Count("CRawSMBios Constructed"), 1u);
    EXPECT_EQ(log.Count("CRawSMBios Destroyed"), 1u);
    m_Env.Write(std::vector<uint8_t>{});
    EXPECT_EQ(m_Manager.InitialiseServiceDriver(), SERVICE_NO_SMBIOS);
}

TEST_F(ServiceManagerTest, TableWithoutManagementDeviceIsInvalid) {
    SmbiosTableBuilder b;
    b.Bios(BiosVersionOfFamily(1)).Led(0x0500, "Power", 1);
    m_Env.Write(b);
    LogCapture log("3");
    EXPECT_EQ(m_Manager.InitialiseServiceDriver(), SERVICE_SMBIOS_INVALID);
    EXPECT_EQ(log.IndexOf("Found 1 Type 34 Management Device(s)"), -1);
    EXPECT_EQ(log.Count("CRawSMBios Destroyed"), 1u);
}

struct NoMatchCase {
    const char* description;
};

class ServiceManagerNoMatch : public ServiceManagerTest,
                              public ::testing::WithParamInterface<NoMatchCase> {};

TEST_P(ServiceManagerNoMatch, DescriptionMustMatchWhole) {
    m_Env.Write(SpBoard(BiosVersionOfFamily(1), GetParam().description));
    LogCapture log("3");
    EXPECT_EQ(m_Manager.InitialiseServiceDriver(), SERVICE_NO_SERVICE_PROCESSOR);
    ExpectSequence(log, {"Type 00 Bios Version is " + BiosVersionOfFamily(1),
                         "Found 1 Type 34 Management Device(s)"});
    ExpectSequence(log, DeviceLines(0, GetParam().description, coretest::kSpHandle));
    EXPECT_EQ(log.IndexOf("  Port Base: 0x000002b0"), -1);
    EXPECT_EQ(g_BiosVersion, BiosVersionOfFamily(1));
}

INSTANTIATE_TEST_SUITE_P(Descriptions, ServiceManagerNoMatch,
                         ::testing::Values(NoMatchCase{"Tessaro VQX Service Processor "},
                                           NoMatchCase{"tessaro vqx service processor"},
                                           NoMatchCase{"Tessaro VQX Service"},
                                           NoMatchCase{"LM78-compatible"}));

TEST_F(ServiceManagerTest, OtherDeviceFirstIsLoggedAndSkipped) {
    m_Env.Write(SpBoard(BiosVersionOfFamily(3), kSpDescription, {{0x0050, "Other Monitor"}}));
    LogCapture log("3");
    EXPECT_EQ(m_Manager.InitialiseServiceDriver(), SERVICE_IO_FAILURE);
    ExpectSequence(log, {"Found 2 Type 34 Management Device(s)"});
    ExpectSequence(log, DeviceLines(0, "Other Monitor", 0x0050));
    ExpectSequence(log, DeviceLines(1, kSpDescription, coretest::kSpHandle));
    EXPECT_TRUE(log.Has("  Port Base: 0x000002b0", LOG_INFO));
}

TEST_F(ServiceManagerTest, OnlyTheFirstMatchingDeviceIsInitialised) {
    // The first device has no sensors linked (result 3); the second would
    // reach the I/O start (result 6) if it were looked at.
    m_Env.Write(SpBoard(BiosVersionOfFamily(1), kSpDescription, {{0x0090, kSpDescription}}));
    LogCapture log("3");
    EXPECT_EQ(m_Manager.InitialiseServiceDriver(), SERVICE_SMBIOS_INVALID);
    ExpectSequence(log, DeviceLines(0, kSpDescription, 0x0090));
    EXPECT_EQ(log.IndexOf("Management Device # 1"), -1);
}

TEST_F(ServiceManagerTest, RepeatAfterFailureReadsTheTableAgain) {
    LogCapture log("3");
    EXPECT_EQ(m_Manager.InitialiseServiceDriver(), SERVICE_NO_SMBIOS);
    m_Env.Write(SpBoard("XY1.00", "Something else"));
    EXPECT_EQ(m_Manager.InitialiseServiceDriver(), SERVICE_NO_SERVICE_PROCESSOR);
    EXPECT_EQ(g_BiosVersion, "XY1.00");
    m_Env.Write(SpBoard(BiosVersionOfFamily(2)));
    EXPECT_EQ(m_Manager.InitialiseServiceDriver(), SERVICE_IO_FAILURE);
    EXPECT_EQ(g_BiosVersion, BiosVersionOfFamily(2));
    EXPECT_EQ(log.Count("CRawSMBios Constructed"), 3u);
    EXPECT_EQ(log.Count("CRawSMBios Destroyed"), 3u);
}

TEST_F(ServiceManagerTest, ForwardingLinesNestAroundTheServiceProcessor) {
    LogCapture log;
    CSensorInformation info;
    EXPECT_EQ(m_Manager.GetSensorInformation(0x50000, info), SERVICE_INVALID_HANDLE);
    auto texts = log.Texts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0].rfind("CServiceManager::GetSensorInformation(0x00050000,0x", 0), 0u);
    EXPECT_EQ(texts[0].substr(texts[0].size() - 12), "), m_bInit=0");
    EXPECT_EQ(texts[1].rfind("CServiceProcessor::GetSensorInformation(0x00050000,0x", 0), 0u);
    EXPECT_EQ(texts[2], "CServiceProcessor::GetSensorInformation exit, sscode=0x7");
    EXPECT_EQ(texts[3], "CServiceManager::GetSensorInformation exit, sscode=0x7");
}

} // namespace
