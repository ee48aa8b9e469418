// The program's install, remove and console modes, run as the shipped
// program on a temporary unit directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Processes.h"

namespace {

class ServiceHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_Root = MakeTempDir("telvane_host");
        ASSERT_FALSE(m_Root.empty());
        m_Units = m_Root + "/units";
        m_Runtime = m_Root + "/run";
        mkdir(m_Units.c_str(), 0755);
        m_Env = MakeEnvironment({{"SVCPROC_SCM_UNIT_DIR", m_Units},
                                 {"SVCPROC_RUNTIME_DIR", m_Runtime},
                                 {"NOTIFY_SOCKET", ""},
                                 {"SVCPROC_SCM", ""},
                                 {"SVCPROC_LOG_LEVEL", "4"},
                                 {"SVCPROC_LOG_FILE", ""}});
    }
    void TearDown() override { RemoveTree(m_Root); }

    ProcessResult Telvane(std::vector<std::string> args) {
        args.insert(args.begin(), Program());
        return RunProcess(args, m_Env);
    }
    static std::string Program() { return std::string(TELVANE_BIN_DIR) + "/telvane"; }
    std::string Unit() { return m_Units + "/YARVOSPSvc.service"; }

    std::string m_Root, m_Units, m_Runtime;
    std::vector<std::string> m_Env;
};

TEST_F(ServiceHostTest, InstallInAnyCaseThenAgainReportsItExists) {
    ProcessResult first = Telvane({"InStAlL"});
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_EQ(first.out, "YARVOSPSvc Installed Successfully\n");
    EXPECT_NE(first.err.find("InstallService - YARVOSPSvc Installed Successfully"),
              std::string::npos);
    std::string unit = ReadWholeFile(Unit());
    char real[4096] = {};
    ASSERT_NE(realpath(Program().c_str(), real), nullptr);
    EXPECT_NE(unit.find("ExecStart=\"" + std::string(real) + "\"\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("Type=notify"), std::string::npos);
    EXPECT_NE(unit.find("WantedBy=multi-user.target"), std::string::npos);

    ProcessResult second = Telvane({"install"});
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.out, "YARVOSPSvc Already Exists\n");
    EXPECT_NE(second.err.find("InstallService - ERROR_SERVICE_EXISTS"), std::string::npos);
}

TEST_F(ServiceHostTest, RemoveKeepsARunningServiceAndRemovesAStoppedOne) {
    ASSERT_EQ(Telvane({"install"}).out, "YARVOSPSvc Installed Successfully\n");
    // A live process that reports the service running.
    mkdir(m_Runtime.c_str(), 0755);
    mkdir((m_Runtime + "/scm").c_str(), 0755);
    FILE* status = fopen((m_Runtime + "/scm/YARVOSPSvc.status").c_str(), "w");
    ASSERT_NE(status, nullptr);
    fprintf(status, "pid=%d\ntype=48\nstate=4\ncontrols=5\n", static_cast<int>(getpid()));
    fclose(status);
    ProcessResult running = Telvane({"REMOVE"});
    EXPECT_EQ(running.exitCode, 0);
    EXPECT_EQ(running.out, "YARVOSPSvc is still running\n");
    EXPECT_EQ(access(Unit().c_str(), F_OK), 0) << "still installed";

    unlink((m_Runtime + "/scm/YARVOSPSvc.status").c_str());
    ProcessResult removed = Telvane({"remove"});
    EXPECT_EQ(removed.out, "YARVOSPSvc removed successfully\n");
    EXPECT_NE(access(Unit().c_str(), F_OK), 0);

    ProcessResult missing = Telvane({"remove"});
    EXPECT_EQ(missing.exitCode, 0);
    EXPECT_EQ(missing.out, "UninstallService - OpenService failed, error=0x00000424\n");
    EXPECT_NE(missing.err.find("UninstallService - OpenService failed, error=0x00000424"),
              std::string::npos);
}

TEST_F(ServiceHostTest, FromAConsoleWithoutAManagerItWritesTheLineAndExitsZero) {
    for (std::vector<std::string> args : {std::vector<std::string>{}, {"start"}}) {
        ProcessResult run = Telvane(args);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("RunService - StartServiceCtrlDispatcher failed, "
                               "ERROR_FAILED_SERVICE_CONTROLLER_CONNECT"),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(run.err.find("ServiceMain"), std::string::npos);
    }
}

TEST_F(ServiceHostTest, AManagerThatCannotBeOpenedPrintsNothingOnInstall) {
    m_Env = MakeEnvironment(
        {{"SVCPROC_SCM_UNIT_DIR", m_Root + "/missing"}, {"SVCPROC_RUNTIME_DIR", m_Runtime}});
    ProcessResult install = Telvane({"install"});
    EXPECT_EQ(install.exitCode, 0);
    EXPECT_EQ(install.out, "");
    ProcessResult remove = Telvane({"remove"});
    EXPECT_EQ(remove.out, "UninstallService - OpenSCManager failed, error=0x00000429\n");
}

TEST(ServiceProgramTest, CarriesTheVersionMarkerInItsData) {
    std::string binary = ReadWholeFile(std::string(TELVANE_BIN_DIR) + "/telvane");
    const char headText[] = "~~~\0YARVO SP Version 2.2.000b / \0Built at ";
    const std::string head(headText, sizeof headText - 1);
    size_t at = binary.find(head);
    ASSERT_NE(at, std::string::npos);
    size_t end = binary.find('\0', at + head.size());
    ASSERT_NE(end, std::string::npos);
    std::string built = binary.substr(at + head.size(), end - at - head.size());
    EXPECT_NE(built.find(" on "), std::string::npos) << built;
    EXPECT_EQ(binary.compare(end, 5, std::string("\0~~~\0", 5)), 0);
}

} // namespace
