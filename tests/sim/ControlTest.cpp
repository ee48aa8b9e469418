// The control protocol, its socket, and the spsim command against a
// simulator running in this process.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "SimTestSupport.h"
#include "Simulator.h"
#include "control/ControlClient.h"
#include "control/ControlProtocol.h"

namespace simtest {
namespace {

using svcproc::sim::ExecuteControlLine;

struct LineCase {
    const char* request;
    const char* reply;
};

class ControlLineTest : public ::testing::TestWithParam<LineCase> {};

TEST_P(ControlLineTest, RepliesAsDocumented) {
    auto model = MakeModel("default");
    EXPECT_EQ(ExecuteControlLine(*model, GetParam().request), GetParam().reply);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ControlLineTest,
    ::testing::Values(
        LineCase{"set voltage 0 296", "ok\n"}, LineCase{"set fan 2 0x0E10", "ok\n"},
        LineCase{"set temperature 1 255", "ok\n"},
        LineCase{"set temperature 1 256", "error raw value '256' is not a number from 0 to 255\n"},
        LineCase{"set voltage 4 330", "error no voltage at position 4 (the board has 4)\n"},
        LineCase{"set volts 0 330", "error unknown kind 'volts' (voltage, fan or temperature)\n"},
        LineCase{"set voltage 0 33x", "error raw value '33x' is not a number from 0 to 65535\n"},
        LineCase{"set voltage 0", "error usage: set KIND POS RAW\n"},
        LineCase{"alert fan 1 on", "ok\n"},
        LineCase{"alert fan 1 maybe", "error expected on or off, not 'maybe'\n"},
        LineCase{"led 0x0006 on", "ok\n"},
        LineCase{"led 0x10000 on", "error mask '0x10000' is not a 16-bit number\n"},
        LineCase{"fault stuck_ibf", "ok\n"}, LineCase{"fault no_response 5", "ok\n"},
        LineCase{"fault latency 3", "ok\n"}, LineCase{"fault clear", "ok\n"},
        LineCase{"fault melt",
                 "error unknown fault 'melt' (stuck_ibf, no_response, error_mid_response, "
                 "host_busy, count64, bad_checksum, wrong_type, few_readings, many_readings, "
                 "latency, clear)\n"},
        LineCase{"fault count64 -1", "error count '-1' is not a number\n"},
        LineCase{"get voltage 0", "raw 330 alert 0\nok\n"}, LineCase{"leds", "leds 0x0001\nok\n"},
        LineCase{"  ", "error empty request\n"},
        LineCase{"reboot", "error unknown request 'reboot'\n"}));

TEST(ControlEffectTest, RequestsChangeTheModel) {
    auto model = MakeModel("default");
    ExecuteControlLine(*model, "set voltage 0 296");
    ExecuteControlLine(*model, "alert temperature 1 on");
    ExecuteControlLine(*model, "led 0x0005 on");
    ExecuteControlLine(*model, "led 0x0001 off");
    EXPECT_EQ(model->Raw(SensorKind::Voltage, 0), 296);
    EXPECT_EQ(ExecuteControlLine(*model, "get voltage 0"), "raw 296 alert 1\nok\n");
    EXPECT_EQ(model->AlertMask(SensorKind::Temperature), 0x0002);
    EXPECT_EQ(model->LedState(), 0x0004);
    ExecuteControlLine(*model, "alert temperature 1 off");
    EXPECT_EQ(model->AlertMask(SensorKind::Temperature), 0);

    ExecuteControlLine(*model, "fault host_busy 2");
    CHandshakeDriver driver(*model, kBase);
    SVCP_PACKET packet = MakeRequest(0xA6);
    EXPECT_EQ(driver.Exchange(packet), kInvalidDeviceState);
    ExecuteControlLine(*model, "fault clear");
    EXPECT_EQ(driver.Exchange(packet), kSuccess);
}

TEST(ControlEffectTest, StatsCountRequestsAcknowledgementsAndPortOperations) {
    auto model = MakeModel("default");
    CHandshakeDriver driver(*model, kBase);
    SVCP_PACKET packet = MakeRequest(0xA6);
    driver.Exchange(packet);
    driver.Exchange(packet);
    model->ForceAlert(SensorKind::Fan, 0, true);
    packet = MakeRequest(0xA1, true);
    driver.Exchange(packet);
    const std::string reply = ExecuteControlLine(*model, "stats");
    EXPECT_NE(reply.find("requests_0xa6 2\n"), std::string::npos) << reply;
    EXPECT_NE(reply.find("requests_0xa1 1\n"), std::string::npos);
    EXPECT_NE(reply.find("requests_0xed 0\n"), std::string::npos);
    EXPECT_NE(reply.find("acknowledgements 1\n"), std::string::npos);
    const auto stats = model->Stats();
    EXPECT_NE(reply.find("port_operations " +
                         std::to_string(stats.m_PortReads + stats.m_PortWrites) + "\n"),
              std::string::npos);
    EXPECT_EQ(reply.substr(reply.size() - 3), "ok\n");
}

// A simulator with its control socket in a fresh directory.
class ControlSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/sim_ctl.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_sDir = pattern;
        m_sSocket = m_sDir + "/control";
        svcproc::sim::SimOptions options;
        options.controlPath = m_sSocket;
        std::string error;
        m_pPorts = svcproc::sim::StartSimulator(options, &error);
        ASSERT_NE(m_pPorts, nullptr) << error;
    }
    void TearDown() override {
        m_pPorts.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_sDir, ignored);
    }

    svcproc::sim::ControlReply Request(const std::string& line) {
        svcproc::sim::ControlReply reply;
        std::string error;
        EXPECT_TRUE(svcproc::sim::SendControlRequest(m_sSocket, line, &reply, &error)) << error;
        return reply;
    }

    // Runs spsim with the arguments; its exit code, stdout and stderr.
    int Spsim(const std::string& arguments, std::string* out, std::string* err) {
        const std::string outFile = m_sDir + "/out", errFile = m_sDir + "/err";
        const std::string command =
            std::string(SPSIM_PATH) + " " + arguments + " >" + outFile + " 2>" + errFile;
        const int status = std::system(command.c_str());
        *out = Slurp(outFile);
        *err = Slurp(errFile);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string Slurp(const std::string& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string m_sDir;
    std::string m_sSocket;
    std::unique_ptr<IPortIo> m_pPorts;
};

TEST_F(ControlSocketTest, ServesRequestsAndGoesAwayWithTheSimulator) {
    auto reply = Request("set fan 0 1234");
    EXPECT_TRUE(reply.m_bOk);
    reply = Request("get fan 0");
    EXPECT_TRUE(reply.m_bOk);
    EXPECT_EQ(reply.m_sData, "raw 1234 alert 0\n");
    reply = Request("set fan 9 1");
    EXPECT_FALSE(reply.m_bOk);
    EXPECT_EQ(reply.m_sReason, "no fan at position 9 (the board has 3)");

    CHandshakeDriver driver(*m_pPorts, kBase);
    SVCP_PACKET packet = MakeRequest(0xA2);
    ASSERT_EQ(driver.Exchange(packet), kSuccess);
    EXPECT_EQ(packet.Response[2], 0x04);
    EXPECT_EQ(packet.Response[3], 0xD2);

    m_pPorts.reset();
    EXPECT_FALSE(std::filesystem::exists(m_sSocket));
}

TEST_F(ControlSocketTest, SeveralClientsAtOnceAndManyRequestsPerConnection) {
    const int a = socket(AF_UNIX, SOCK_STREAM, 0);
    const int b = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", m_sSocket.c_str());
    ASSERT_EQ(connect(a, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(connect(b, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // a holds a half-written line while b is served.
    ASSERT_EQ(write(a, "set volt", 8), 8);
    EXPECT_TRUE(Request("led 0x2 on").m_bOk);
    const std::string both = "age 1 499\nget voltage 1\n";
    ASSERT_EQ(write(a, both.data(), both.size()), static_cast<ssize_t>(both.size()));
    std::string text;
    while (text.find("alert") == std::string::npos || text.back() != '\n' ||
           text.find("ok\n", text.find("alert")) == std::string::npos) {
        char buffer[256];
        const ssize_t n = read(a, buffer, sizeof buffer);
        ASSERT_GT(n, 0);
        text.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(text, "ok\nraw 499 alert 0\nok\n");
    close(a);
    close(b);
    EXPECT_EQ(Request("leds").m_sData, "leds 0x0003\n");
}

TEST_F(ControlSocketTest, AnOverlongLineClosesThatConnectionOnly) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", m_sSocket.c_str());
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string junk(600, 'x');
    ASSERT_EQ(write(fd, junk.data(), junk.size()), static_cast<ssize_t>(junk.size()));
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
    }
    EXPECT_EQ(text, "error request line too long\n");
    close(fd);
    EXPECT_TRUE(Request("leds").m_bOk);
}

TEST_F(ControlSocketTest, ALiveSocketIsNotTakenOverButAStaleOneIs) {
    svcproc::sim::SimOptions options;
    options.controlPath = m_sSocket;
    std::string error;
    EXPECT_EQ(svcproc::sim::StartSimulator(options, &error), nullptr);
    EXPECT_EQ(error, "control socket '" + m_sSocket + "' is already served by another process");

    // A socket file left behind by a process that is gone.
    const std::string stale = m_sDir + "/stale";
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", stale.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
    options.controlPath = stale;
    EXPECT_NE(svcproc::sim::StartSimulator(options, &error), nullptr) << error;

    options.controlPath = m_sDir + "/" + std::string(120, 'p');
    EXPECT_EQ(svcproc::sim::StartSimulator(options, &error), nullptr);
    std::ofstream(m_sDir + "/plain") << "x";
    options.controlPath = m_sDir + "/plain";
    EXPECT_EQ(svcproc::sim::StartSimulator(options, &error), nullptr);
    EXPECT_EQ(error, "'" + m_sDir + "/plain' exists and is not a socket");
}

TEST_F(ControlSocketTest, SpsimDrivesTheRunningSimulator) {
    std::string out, err;
    const std::string c = "-c " + m_sSocket + " ";
    EXPECT_EQ(Spsim(c + "set voltage 0 296", &out, &err), 0) << err;
    EXPECT_EQ(Spsim(c + "alert fan 1 on", &out, &err), 0) << err;
    EXPECT_EQ(Spsim(c + "led 0x0004 on", &out, &err), 0) << err;
    EXPECT_EQ(Spsim(c + "get voltage 0", &out, &err), 0) << err;
    EXPECT_EQ(out, "raw 296 alert 1\n");

    CHandshakeDriver driver(*m_pPorts, kBase);
    SVCP_PACKET packet = MakeRequest(0xA1, true);
    ASSERT_EQ(driver.Exchange(packet), kSuccess);
    EXPECT_EQ(packet.Response[1], 0xA6);
    ASSERT_EQ(driver.Exchange(packet), kSuccess);
    EXPECT_EQ(packet.Response[1], 0xA2);
    EXPECT_EQ(packet.Response[3], 0x02);
    packet = MakeRequest(0xED);
    ASSERT_EQ(driver.Exchange(packet), kSuccess);
    EXPECT_EQ(packet.Response[3], 0x05);

    EXPECT_EQ(Spsim(c + "fault no_response 1", &out, &err), 0) << err;
    packet = MakeRequest(0xA6);
    EXPECT_EQ(driver.Exchange(packet), kTimeout);

    EXPECT_EQ(Spsim(c + "stats", &out, &err), 0) << err;
    EXPECT_NE(out.find("requests_0xa1 2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("requests_0xa6 1\n"), std::string::npos) << out;
    EXPECT_NE(out.find("acknowledgements 2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("port_reads "), std::string::npos) << out;
}

TEST_F(ControlSocketTest, SpsimReportsErrorsOnStderrWithAFailingExit) {
    struct Case {
        std::string arguments;
        std::string stderrText; // empty: only a failing exit is checked
    };
    const std::string c = "-c " + m_sSocket + " ";
    const Case cases[] = {
        {c + "set voltage 7 1", "spsim: no voltage at position 7 (the board has 4)\n"},
        {c + "fault melt", ""},
        {"stats", "spsim: this command needs the simulator's control socket: -c SOCK\n"},
        {"-c " + m_sDir + "/none stats", ""},
        {c + "set current 0 1", ""},
        {c + "alert fan 0 maybe", ""},
        {"table nosuch " + m_sDir + "/t.bin",
         "spsim: unknown simulator profile 'nosuch' (known: default family2 noleds bigboard)\n"},
        {"table default " + m_sDir + "/missing/t.bin", ""},
        {"", ""},
    };
    for (const Case& test : cases) {
        std::string out, err;
        EXPECT_NE(Spsim(test.arguments, &out, &err), 0) << test.arguments;
        EXPECT_FALSE(err.empty()) << test.arguments;
        if (!test.stderrText.empty()) {
            EXPECT_EQ(err, test.stderrText) << test.arguments;
        }
    }
}

TEST_F(ControlSocketTest, SpsimWritesProfileTablesAndHelp) {
    std::string out, err;
    for (const std::string& profile : svcproc::sim::ProfileNames()) {
        const std::string file = m_sDir + "/" + profile + ".bin";
        ASSERT_EQ(Spsim("table " + profile + " " + file, &out, &err), 0) << err;
        std::string error;
        const auto expected = svcproc::sim::BuildProfileTable(profile, &error);
        const std::string written = Slurp(file);
        EXPECT_EQ(std::vector<uint8_t>(written.begin(), written.end()), expected) << profile;
    }
    const std::string dump = m_sDir + "/dump.bin";
    ASSERT_EQ(Spsim("table default " + dump + " --dump-bin", &out, &err), 0) << err;
    std::string error;
    const auto table = svcproc::sim::BuildProfileTable("default", &error);
    EXPECT_EQ(std::filesystem::file_size(dump), 0x20 + table.size());

    EXPECT_EQ(Spsim("--help", &out, &err), 0);
    EXPECT_NE(out.find("table"), std::string::npos);
    EXPECT_NE(out.find("fault"), std::string::npos);
    EXPECT_EQ(Spsim("profiles", &out, &err), 0);
    EXPECT_EQ(out, "default\nfamily2\nnoleds\nbigboard\n");
}

} // namespace
} // namespace simtest
