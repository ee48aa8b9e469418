// The exported boundary of libservice.so before it is initialised. Nothing in
// this process ever initialises it (no driver host is reachable), so every
// test sees bInit false whatever the order.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "../LogCapture.h"
#include "../TestEnvironment.h"
#include "ServiceApi.h"

namespace {

std::string Hex8(uint32_t value) {
    char buffer[16];
    snprintf(buffer, sizeof buffer, "0x%08x", value);
    return buffer;
}

std::string Address(const void* p) {
    return Hex8(static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
}

std::string RunCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return output;
    }
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    pclose(pipe);
    return output;
}

class ApiBeforeInitialisation : public ::testing::Test {
protected:
    coretest::TableEnvironment m_Env; // empty runtime dir: no driver host
};

TEST_F(ApiBeforeInitialisation, EveryFunctionAnswersNotInitialisedAndTouchesNothing) {
    LogCapture log;
    CSensorHandleList sensors;
    sensors.m_Handles = {0x11111};
    CLedHandleList leds;
    leds.m_Handles = {0x22222};
    CSensorInformation info;
    info.m_Description = L"sentinel";
    info.m_Accuracy = 42;
    CLedInformation ledInfo;
    ledInfo.m_Description = L"sentinel";
    ledInfo.m_BitMap = 0x77;
    CSensorReading reading;
    reading.m_Reading = 1234;
    reading.m_State = 1;
    CLedReading ledReading;
    ledReading.m_bOn = true;

    EXPECT_EQ(ServiceApi::EnumerateSensorHandles(sensors), SERVICE_NOT_INITIALISED);
    EXPECT_EQ(ServiceApi::EnumerateLedHandles(leds), SERVICE_NOT_INITIALISED);
    EXPECT_EQ(ServiceApi::GetSensorInformation(0x10000, info), SERVICE_NOT_INITIALISED);
    EXPECT_EQ(ServiceApi::GetLedInformation(0x40001, ledInfo), SERVICE_NOT_INITIALISED);
    EXPECT_EQ(ServiceApi::ReadSensor(0x10000, reading), SERVICE_NOT_INITIALISED);
    EXPECT_EQ(ServiceApi::ReadLed(0x40001, ledReading), SERVICE_NOT_INITIALISED);
    // Kinds that never name anything get the same answer before initialisation.
    EXPECT_EQ(ServiceApi::GetSensorInformation(0x50000, info), SERVICE_NOT_INITIALISED);

    EXPECT_EQ(sensors.m_Handles, (std::list<uint32_t>{0x11111}));
    EXPECT_EQ(leds.m_Handles, (std::list<uint32_t>{0x22222}));
    EXPECT_EQ(info.m_Description, L"sentinel");
    EXPECT_EQ(info.m_Accuracy, 42);
    EXPECT_TRUE(info.m_vPossibleStates.empty());
    EXPECT_EQ(ledInfo.m_Description, L"sentinel");
    EXPECT_EQ(ledInfo.m_BitMap, 0x77);
    EXPECT_EQ(reading.m_Reading, 1234);
    EXPECT_EQ(reading.m_State, 1u);
    EXPECT_TRUE(ledReading.m_bOn);

    EXPECT_EQ(log.Texts(),
              (std::vector<std::string>{
                  "API: EnumerateSensorHandles(" + Address(&sensors) + "), bInit=0",
                  "API: EnumerateSensorHandles exit, sscode=0x1",
                  "API: EnumerateLedHandles(" + Address(&leds) + "), bInit=0",
                  "API: EnumerateLedHandles exit, sscode=0x1",
                  "API: GetSensorInformation(0x00010000," + Address(&info) + "), bInit=0",
                  "API: GetSensorInformation exit, sscode=0x1",
                  "API: GetLedInformation(0x00040001," + Address(&ledInfo) + "), bInit=0",
                  "API: GetLedInformation exit, sscode=0x1",
                  "API: ReadSensor(0x00010000," + Address(&reading) + "), bInit=0",
                  "API: ReadSensor exit, sscode=0x1",
                  "API: ReadLed(0x00040001," + Address(&ledReading) + "), bInit=0",
                  "API: ReadLed exit, sscode=0x1",
                  "API: GetSensorInformation(0x00050000," + Address(&info) + "), bInit=0",
                  "API: GetSensorInformation exit, sscode=0x1"}));
    for (const auto& line : log.Lines()) {
        EXPECT_EQ(line.level, LOG_TRACE) << line.text;
    }
}

class Listener : public ISensorStateListener {
public:
    void SensorStateChanged(uint32_t, uint32_t, int32_t) override { ++m_nCalls; }
    int m_nCalls = 0;
};

TEST_F(ApiBeforeInitialisation, ListenerCallsOnlyLog) {
    Listener listener;
    LogCapture log;
    ServiceApi::RegisterSensorStateListener(&listener);
    ServiceApi::UnregisterSensorStateListener(&listener);
    ServiceApi::RegisterSensorStateListener(nullptr);
    ServiceApi::UnregisterSensorStateListener(nullptr);
    EXPECT_EQ(log.Texts(),
              (std::vector<std::string>{
                  "API: RegisterSensorStateListener(" + Address(&listener) + "), bInit=0",
                  "API: RegisterSensorStateListener exit",
                  "API: UnregisterSensorStateListener(" + Address(&listener) + "), bInit=0",
                  "API: UnregisterSensorStateListener exit",
                  "API: RegisterSensorStateListener(0x00000000), bInit=0",
                  "API: UnregisterSensorStateListener(0x00000000), bInit=0"}));
    EXPECT_EQ(listener.m_nCalls, 0);
}

TEST_F(ApiBeforeInitialisation, FailedInitialisationStaysUninitialisedAndRetries) {
    LogCapture log;
    EXPECT_EQ(ServiceApi::InitialiseServiceDriver(), SERVICE_NO_SMBIOS);
    m_Env.Write(coretest::SpBoard(coretest::BiosVersionOfFamily(1), "Not the one"));
    EXPECT_EQ(ServiceApi::InitialiseServiceDriver(), SERVICE_NO_SERVICE_PROCESSOR);
    m_Env.Write(coretest::SpBoard(coretest::BiosVersionOfFamily(1)));
    EXPECT_EQ(ServiceApi::InitialiseServiceDriver(), SERVICE_IO_FAILURE);
    EXPECT_EQ(log.Count("API: InitialiseServiceDriver, bInit=0"), 3u);
    EXPECT_EQ(log.Count("API: InitialiseServiceDriver exit, sscode=0x2"), 1u);
    EXPECT_EQ(log.Count("API: InitialiseServiceDriver exit, sscode=0x5"), 1u);
    EXPECT_EQ(log.Count("API: InitialiseServiceDriver exit, sscode=0x6"), 1u);
    EXPECT_EQ(log.Count("CRawSMBios Constructed"), 3u);
    CSensorHandleList sensors;
    EXPECT_EQ(ServiceApi::EnumerateSensorHandles(sensors), SERVICE_NOT_INITIALISED);
}

TEST_F(ApiBeforeInitialisation, EveryRealFirmwareTableIsInvalidOrWithoutServiceProcessor) {
    std::filesystem::path corpus(SVCPROC_CORPUS_DIR);
    if (!std::filesystem::is_directory(corpus)) {
        GTEST_SKIP() << "no corpus at " << corpus;
    }
    LogCapture quiet("0");
    size_t tables = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (entry.path().extension() != ".bin") {
            continue;
        }
        ++tables;
        setenv("SVCPROC_SMBIOS_TABLE", entry.path().c_str(), 1);
        SERVICE_CODE result = ServiceApi::InitialiseServiceDriver();
        EXPECT_TRUE(result == SERVICE_SMBIOS_INVALID || result == SERVICE_NO_SERVICE_PROCESSOR)
            << entry.path().filename() << " gave " << result;
    }
    EXPECT_GT(tables, 0u);
}

// Only the nine functions and the record classes (with the list type their
// handle lists hold) leave the library.
TEST(ApiExports, OnlyTheBoundaryIsExported) {
    std::string symbols = RunCommand("nm -D --defined-only '" SERVICE_LIBRARY_PATH "' | c++filt");
    ASSERT_FALSE(symbols.empty());
    const char* allowed[] = {
        "ServiceApi::",
        "CSensorHandleList::",
        "CLedHandleList::",
        "CSensorInformation::",
        "CLedInformation::",
        "CSensorReading::operator=",
        "CLedReading::operator=",
        "ISensorStateListener::",
        "std::__cxx11::_List_base<unsigned int, std::allocator<unsigned int> >::"};
    std::istringstream lines(symbols);
    std::string line;
    int functions = 0;
    while (std::getline(lines, line)) {
        // "<address> <kind> <name>"
        size_t first = line.find(' ');
        size_t second = line.find(' ', first + 1);
        ASSERT_NE(second, std::string::npos) << line;
        std::string name = line.substr(second + 1);
        bool ok = false;
        for (const char* prefix : allowed) {
            ok = ok || name.rfind(prefix, 0) == 0;
        }
        EXPECT_TRUE(ok) << "exported: " << name;
        functions += name.rfind("ServiceApi::", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(functions, 9);
}

TEST(ApiVersionMarker, LibraryCarriesTheFourStringsInARow) {
    std::ifstream in(SERVICE_LIBRARY_PATH, std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const char kHead[] = "~~~\0YARVO SP Version 2.2.000b / \0Built at ";
    std::string head(kHead, sizeof kHead - 1);
    size_t at = image.find(head);
    ASSERT_NE(at, std::string::npos);
    size_t built = at + 4 + 29;
    size_t end = image.find('\0', built);
    ASSERT_NE(end, std::string::npos);
    EXPECT_NE(image.find(" on ", built), std::string::npos);
    EXPECT_EQ(image.compare(end + 1, 4, std::string("~~~\0", 4)), 0);
}

TEST(ApiLifecycle, LoadBuildsTheObjectsInOrderAndUnloadDestroysThemInReverse) {
    coretest::TempDir dir;
    std::string logFile = dir.Path() + "/load.log";
    std::string command =
        "SVCPROC_LOG_LEVEL=3 SVCPROC_LOG_FILE='" + logFile + "' '" + LOAD_PROBE_PATH + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(logFile);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    auto position = [&](const std::string& text) -> long {
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].size() >= text.size() &&
                lines[i].compare(lines[i].size() - text.size(), text.size(), text) == 0) {
                return static_cast<long>(i);
            }
        }
        return -1;
    };
    // The cache is built before the I/O unit that writes into it and
    // outlives it.
    const std::vector<std::string> order = {"CVoltageMap Constructed",
                                            "CFanMap Constructed",
                                            "CTemperatureMap Constructed",
                                            "CLedMap Constructed",
                                            "CDataCache Constructed",
                                            "CPollingThread Constructed",
                                            "CServiceProcessor Constructed",
                                            "CServiceManager Constructed",
                                            "CServiceManager Destroyed",
                                            "CServiceProcessor Destroyed",
                                            "CIOUnit Destroyed",
                                            "CPollingThread Destroyed",
                                            "CDataCache Destroyed",
                                            "CLedMap destroyed",
                                            "CTemperatureMap Destroyed",
                                            "CFanMap Destroyed",
                                            "CVoltageMap Destroyed"};
    long previous = -1;
    for (const auto& text : order) {
        long at = position(text);
        EXPECT_GT(at, previous) << text;
        previous = at;
    }
    // Nothing talks to SMBIOS or the driver at load.
    EXPECT_EQ(position("CRawSMBios Constructed"), -1);
}

} // namespace
