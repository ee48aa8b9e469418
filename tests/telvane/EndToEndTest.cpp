// The whole system as shipped: the driver host with the simulator, the
// service under a manager and the management client, each a process of its
// own on a temporary runtime directory.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "Processes.h"

namespace {

std::string Bin(const char* name) {
    return std::string(TELVANE_BIN_DIR) + "/" + name;
}

using Json = nlohmann::json;

class Stack {
public:
    explicit Stack(const std::string& profile) : m_Profile(profile) {}
    // Both processes must end cleanly on SIGTERM: a crash or a sanitizer
    // report shows only in their exit codes and logs.
    ~Stack() {
        int telvane = m_Telvane.Stop();
        int portwyn = m_Portwyn.Stop();
        if (m_Started) {
            EXPECT_EQ(telvane, 0) << ServiceLogText();
            EXPECT_EQ(portwyn, 0) << ReadWholeFile(m_Root + "/portwyn.log");
        }
        RemoveTree(m_Root);
    }

    // Starts the driver host and the service; false when either does not
    // come up.
    bool Start(const std::map<std::string, std::string>& serviceEnv = {}) {
        m_Root = MakeTempDir("telvane_e2e");
        m_Run = m_Root + "/run";
        mkdir(m_Run.c_str(), 0755);
        chmod(m_Root.c_str(), 0755);
        m_Env = MakeEnvironment({{"SVCPROC_RUNTIME_DIR", m_Run},
                                 {"SVCPROC_SCM_UNIT_DIR", m_Root},
                                 {"NOTIFY_SOCKET", ""},
                                 {"SVCPROC_SCM", ""},
                                 {"SVCPROC_LOG_FILE", ""}});
        if (Tool({"spsim", "table", m_Profile, m_Root + "/table.bin"}).exitCode != 0) {
            return false;
        }
        m_Started = true;
        m_Portwyn.Start(
            {Bin("portwyn"), "--ports=sim", "--profile", m_Profile, "--sim-control", SimSocket()},
            m_Env, m_Root + "/portwyn.log");
        bool deviceUp = WaitFor(
            [&] {
                std::error_code ec;
                for (auto& dir : std::filesystem::directory_iterator(m_Run + "/devices", ec)) {
                    if (!std::filesystem::is_empty(dir.path(), ec)) {
                        return access(SimSocket().c_str(), F_OK) == 0;
                    }
                }
                return false;
            },
            10000);
        if (!deviceUp) {
            return false;
        }
        std::map<std::string, std::string> changes = {
            {"SVCPROC_RUNTIME_DIR", m_Run},
            {"SVCPROC_SCM", "1"},
            {"SVCPROC_SMBIOS_TABLE", m_Root + "/table.bin"},
            {"SVCPROC_LOG_LEVEL", "4"},
            {"SVCPROC_LOG_FILE", ""},
            {"NOTIFY_SOCKET", ""}};
        for (auto& [k, v] : serviceEnv) {
            changes[k] = v;
        }
        m_Telvane.Start({Bin("telvane")}, MakeEnvironment(changes), ServiceLog());
        return WaitFor(
                   [&] {
                       return ServiceLogText().find("Service is Running") != std::string::npos ||
                              !m_Telvane.Running();
                   },
                   15000) &&
               m_Telvane.Running();
    }

    ProcessResult Tool(std::vector<std::string> args) {
        args[0] = Bin(args[0].c_str());
        if (args[0].find("spsim") != std::string::npos && args.size() > 1 && args[1] != "table") {
            args.insert(args.begin() + 1, {"-c", SimSocket()});
        }
        return RunProcess(args, m_Env);
    }
    std::vector<Json> Query(std::vector<std::string> args, int* exitCode = nullptr) {
        args.insert(args.begin(), {"wbemq", "--json"});
        ProcessResult result = Tool(args);
        if (exitCode) {
            *exitCode = result.exitCode;
        }
        std::vector<Json> objects;
        std::stringstream lines(result.out);
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty()) {
                objects.push_back(Json::parse(line, nullptr, false));
            }
        }
        return objects;
    }
    std::string SimSocket() const { return m_Run + "/sim.sock"; }
    std::string ServiceLog() const { return m_Root + "/telvane.log"; }
    std::string ServiceLogText() const { return ReadWholeFile(ServiceLog()); }

    std::string m_Profile, m_Root, m_Run;
    std::vector<std::string> m_Env;
    RunningProcess m_Portwyn, m_Telvane;
    bool m_Started = false;
};

// The positions the simulator serves for a kind: "get" answers until the
// first position it does not have.
int PositionsOf(Stack& stack, const char* kind) {
    int count = 0;
    while (stack.Tool({"spsim", "get", kind, std::to_string(count)}).exitCode == 0 && count < 64) {
        ++count;
    }
    return count;
}

// The raw value of a sensor, as the reading the library reports it: 10 mV
// steps to millivolts, whole degrees to tenths, fans as they are.
int ExpectedReading(Stack& stack, const std::string& deviceId) {
    uint32_t handle = std::stoul(deviceId, nullptr, 16);
    const char* kinds[] = {"", "voltage", "fan", "temperature"};
    uint32_t kind = handle >> 16;
    ProcessResult got = stack.Tool({"spsim", "get", kinds[kind], std::to_string(handle & 0xFFFF)});
    int raw = std::stoi(got.out.substr(got.out.find("raw ") + 4));
    return kind == 2 ? raw : raw * 10;
}

class EndToEndProfileTest : public ::testing::TestWithParam<std::string> {};

TEST_P(EndToEndProfileTest, EverySensorAndLedInKeyOrderWithTheSimulatorsValues) {
    Stack stack(GetParam());
    ASSERT_TRUE(stack.Start()) << stack.ServiceLogText();
    std::vector<Json> sensors = stack.Query({"enum", "VQX_SpNumericSensor"});
    int expected = PositionsOf(stack, "voltage") + PositionsOf(stack, "fan") +
                   PositionsOf(stack, "temperature");
    ASSERT_EQ(static_cast<int>(sensors.size()), expected);
    for (size_t i = 0; i < sensors.size(); ++i) {
        const Json& s = sensors[i];
        std::string name = s["Name"], id = s["DeviceID"];
        if (i > 0) {
            EXPECT_LT(sensors[i - 1]["Name"].get<std::string>(), name) << "key order";
        }
        EXPECT_EQ(s["CurrentReading"].get<int>(), ExpectedReading(stack, id)) << name;
        EXPECT_EQ(s["CurrentState"], "Ok") << name;
        EXPECT_EQ(name.substr(name.size() - 10), "(" + id + ")");
    }

    std::vector<Json> leds = stack.Query({"enum", "VQX_LedAlarmDevice"});
    ProcessResult word = stack.Tool({"spsim", "leds"});
    uint32_t lit = std::stoul(word.out.substr(word.out.find("0x")), nullptr, 16);
    EXPECT_FALSE(leds.empty());
    for (size_t i = 0; i < leds.size(); ++i) {
        uint32_t handle = std::stoul(leds[i]["DeviceID"].get<std::string>(), nullptr, 16);
        EXPECT_EQ(leds[i]["AlarmState"].get<int>(), (lit & handle & 0xFFFF) ? 2 : 1);
        if (i > 0) {
            EXPECT_LT(leds[i - 1]["Name"].get<std::string>(), leds[i]["Name"].get<std::string>());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Profiles, EndToEndProfileTest, ::testing::Values("default", "bigboard"));

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_Stack.Start()) << m_Stack.ServiceLogText(); }
    Stack m_Stack{"default"};
};

TEST_F(EndToEndTest, LookupTakesTheFirstQuotedValueAsTheName) {
    std::vector<Json> all = m_Stack.Query({"enum", "VQX_SpNumericSensor"});
    ASSERT_FALSE(all.empty());
    std::string name = all[0]["Name"], id = all[0]["DeviceID"];
    for (std::string path :
         {"VQX_SpNumericSensor.Name=\"" + name + "\"", "VQX_SpNumericSensor.Name='" + name + "'"}) {
        std::vector<Json> got = m_Stack.Query({"get", path});
        ASSERT_EQ(got.size(), 1u) << path;
        EXPECT_EQ(got[0]["Name"], name);
    }
    int code = 0;
    EXPECT_TRUE(
        m_Stack
            .Query({"get", "VQX_SpNumericSensor.DeviceID=\"" + id + "\",Name=\"" + name + "\""},
                   &code)
            .empty());
    EXPECT_NE(code, 0);
    EXPECT_NE(m_Stack.ServiceLogText().find("CSensorProvider::GetObjectAsync - GetSensor(" + id +
                                            ") failed, HRESULT=0x80041002"),
              std::string::npos);
}

TEST_F(EndToEndTest, AnLedFetchedBeforeAnyEnumerationShowsAlarmStateZero) {
    std::vector<Json> first =
        m_Stack.Query({"get", "VQX_LedAlarmDevice.Name=\"Power LED(00040001)\""});
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0]["AlarmState"], 0);
    ASSERT_FALSE(m_Stack.Query({"enum", "VQX_LedAlarmDevice"}).empty());
    std::vector<Json> after =
        m_Stack.Query({"get", "VQX_LedAlarmDevice.Name=\"Power LED(00040001)\""});
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after[0]["AlarmState"], 0);
}

TEST_F(EndToEndTest, AnAlertAndItsClearingReachAWatchingClient) {
    RunningProcess watch;
    std::string out = m_Stack.m_Root + "/watch.out";
    watch.Start({Bin("wbemq"), "--json", "watch", "VQX_SpNumericSensorAlert", "--count", "2",
                 "--timeout", "20"},
                m_Stack.m_Env, out);
    ASSERT_TRUE(WaitFor(
        [&] {
            return m_Stack.ServiceLogText().find("CSensorProvider::ProvideEvents") !=
                   std::string::npos;
        },
        10000));
    ASSERT_EQ(m_Stack.Tool({"spsim", "alert", "voltage", "2", "on"}).exitCode, 0);
    ASSERT_TRUE(
        WaitFor([&] { return ReadWholeFile(out).find("Critical") != std::string::npos; }, 10000));
    ASSERT_EQ(m_Stack.Tool({"spsim", "alert", "voltage", "2", "off"}).exitCode, 0);
    EXPECT_EQ(watch.Wait(15000), 0);
    std::stringstream lines(ReadWholeFile(out));
    std::vector<Json> events;
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] == '{') {
            events.push_back(Json::parse(line));
        }
    }
    ASSERT_EQ(events.size(), 2u) << ReadWholeFile(out);
    EXPECT_EQ(events[0]["CurrentState"], "Critical");
    EXPECT_EQ(events[1]["CurrentState"], "Ok");
    for (const Json& e : events) {
        EXPECT_EQ(e["Name"], "VCC 12V(00010002)");
        EXPECT_EQ(e.size(), 2u) << "exactly CurrentState and Name";
    }
}

TEST_F(EndToEndTest, OnlyAdministratorsAtIdentifyOrAboveMayRead) {
    int code = 0;
    EXPECT_TRUE(
        m_Stack.Query({"--impersonation", "anonymous", "enum", "VQX_SpNumericSensor"}, &code)
            .empty());
    EXPECT_NE(code, 0);
    EXPECT_NE(m_Stack.ServiceLogText().find(
                  "CSensorProvider::Initialize - ImpersonationLevel < RPC_C_IMP_LEVEL_IDENTIFY - "
                  "Denying access"),
              std::string::npos);
    EXPECT_FALSE(
        m_Stack.Query({"--impersonation", "identify", "enum", "VQX_SpNumericSensor"}).empty());

    if (geteuid() != 0) {
        GTEST_SKIP() << "running as another user needs root";
    }
    std::vector<std::string> args = {"/usr/bin/setpriv",   "--reuid=65534", "--regid=65534",
                                     "--clear-groups",     Bin("wbemq"),    "enum",
                                     "VQX_SpNumericSensor"};
    ProcessResult nobody = RunProcess(args, m_Stack.m_Env);
    EXPECT_NE(nobody.exitCode, 0);
    EXPECT_NE(nobody.err.find("access denied"), std::string::npos) << nobody.err;
    EXPECT_NE(m_Stack.ServiceLogText().find(
                  "CSensorProvider::CheckClientAccess - CheckAccess - failed, error=0x00000005"),
              std::string::npos);
}

TEST_F(EndToEndTest, RemoveWhileRunningThenAStopInItsOrder) {
    ASSERT_EQ(m_Stack.Tool({"telvane", "install"}).out, "YARVOSPSvc Installed Successfully\n");
    EXPECT_EQ(m_Stack.Tool({"telvane", "remove"}).out, "YARVOSPSvc is still running\n");

    EXPECT_EQ(m_Stack.m_Telvane.Stop(), 0);
    std::string log = m_Stack.ServiceLogText();
    size_t at = 0;
    for (const char* line :
         {"Starting 'Brindlemoor 2.2.000b' service", "Service is Running",
          "ServiceControlHandler SHUTDOWN / STOP", "Process - Destroying Resource Manager",
          "CResourceManager singleton Destroyed",
          "CComServer::Clear - Unregistering Sensor provider", "CProviderData Destroyed",
          "CLedMap Destroyed", "CSensorMap Destroyed", "CDriverInterface Destroyed",
          "CComServer Destroyed", "Process - Resource Manager destroyed", "Service is Stopped"}) {
        size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing or out of order: " << line;
        at = found;
    }
    EXPECT_EQ(m_Stack.Tool({"telvane", "remove"}).out, "YARVOSPSvc removed successfully\n");
}

} // namespace
