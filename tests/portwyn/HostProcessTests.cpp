// The portwyn host as a process: started on a temporary runtime directory
// with the simulator, reached through the device channel like the library
// reaches it, stopped with a signal.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "DeviceChannel.h"

namespace {

using namespace std::chrono_literals;

class HostProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/portwyn-host-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_sRuntime = pattern;
        ::setenv("SVCPROC_RUNTIME_DIR", m_sRuntime.c_str(), 1);
    }
    void TearDown() override {
        // A host still running ends the way it is meant to, so a crash or a
        // sanitizer report on the way out fails the test.
        if (m_Pid > 0) {
            ::kill(m_Pid, SIGTERM);
            pid_t pid = m_Pid;
            EXPECT_EQ(WaitForExit(pid), 0) << HostLog();
            if (m_Pid > 0) {
                ::kill(m_Pid, SIGKILL);
                ::waitpid(m_Pid, nullptr, 0);
            }
        }
        std::filesystem::remove_all(m_sRuntime);
    }

    pid_t Spawn(std::vector<std::string> args) {
        std::string log = m_sRuntime + "/portwyn.log";
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("SVCPROC_SIM_ABORT_ON_INTERLEAVE", "1", 1);
            int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            ::dup2(fd, 2);
            ::dup2(fd, 1);
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>("portwyn"));
            for (std::string& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            ::execv(PORTWYN_BINARY, argv.data());
            ::_exit(127);
        }
        return pid;
    }

    void Start(std::vector<std::string> args = {}) {
        m_Pid = Spawn(std::move(args));
        ASSERT_GT(m_Pid, 0);
        auto deadline = std::chrono::steady_clock::now() + 10s;
        while (Enumerate().empty()) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << HostLog();
            ASSERT_EQ(::waitpid(m_Pid, nullptr, WNOHANG), 0) << "host died: " << HostLog();
            std::this_thread::sleep_for(10ms);
        }
    }

    // Exit status of the host, or -1 if it did not end in time.
    int WaitForExit(pid_t pid) {
        auto deadline = std::chrono::steady_clock::now() + 10s;
        int status = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                if (pid == m_Pid) {
                    m_Pid = -1;
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(10ms);
        }
        return -1;
    }

    std::string HostLog() {
        std::ifstream in(m_sRuntime + "/portwyn.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static std::vector<std::wstring> Enumerate() {
        std::vector<std::wstring> paths;
        HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_SVCP, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE_DEVINFO) {
            return paths;
        }
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        for (DWORD i = 0;
             SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_SVCP, i, &data); ++i) {
            DWORD size = 0;
            SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
            std::vector<uint8_t> buffer(size);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr)) {
                paths.emplace_back(detail->DevicePath);
            }
        }
        SetupDiDestroyDeviceInfoList(set);
        return paths;
    }

    static HANDLE Open(DWORD share) {
        auto paths = Enumerate();
        if (paths.size() != 1) {
            return INVALID_HANDLE_VALUE;
        }
        return CreateFileW(paths[0].c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }

    static SVCP_PACKET Request(UCHAR command, uint32_t alertPoll = 0,
                               uint32_t portBase = SVCP_DEFAULT_PORT_BASE) {
        SVCP_PACKET packet{};
        packet.Request[0] = 0x02;
        packet.Request[1] = command;
        packet.Request[2] = static_cast<UCHAR>(0x100 - command);
        packet.RequestLength = 3;
        packet.AlertPoll = alertPoll;
        packet.PortBase = portBase;
        return packet;
    }

    // A whole, well-formed response of the command's type.
    static bool GoodReply(const SVCP_PACKET& packet, UCHAR command) {
        UCHAR count = packet.Response[0];
        unsigned sum = 0;
        for (int i = 1; i <= count; ++i) {
            sum += packet.Response[i];
        }
        return count >= 2 && packet.ResponseLength == count + 1 && packet.Response[1] == command &&
               (sum & 0xFF) == 0;
    }

    std::string m_sRuntime;
    pid_t m_Pid = -1;
};

TEST_F(HostProcessTest, ServesTheSimulatorAndWithdrawsOnSigterm) {
    Start();
    HANDLE device = Open(0);
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
    SVCP_PACKET packet = Request(0xA6);
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(device, IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, &packet, 96,
                                &returned, nullptr))
        << GetLastError();
    EXPECT_EQ(returned, 96u);
    EXPECT_TRUE(GoodReply(packet, 0xA6));
    EXPECT_EQ(packet.PortBase, SVCP_DEFAULT_PORT_BASE);

    // Share mode 0: the device is held.
    EXPECT_EQ(Open(0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    CloseHandle(device);

    std::wstring path = Enumerate().at(0);
    ASSERT_EQ(::kill(m_Pid, SIGTERM), 0);
    EXPECT_EQ(WaitForExit(m_Pid), 0);
    EXPECT_NE(HostLog().find("WdfDeviceSetDeviceInterfaceState(true)\n"), std::string::npos);
    EXPECT_TRUE(Enumerate().empty());
    EXPECT_FALSE(std::filesystem::exists(std::string(path.begin(), path.end())));
}

TEST_F(HostProcessTest, SigintAlsoStopsIt) {
    Start();
    ASSERT_EQ(::kill(m_Pid, SIGINT), 0);
    EXPECT_EQ(WaitForExit(m_Pid), 0);
    EXPECT_TRUE(Enumerate().empty());
}

TEST_F(HostProcessTest, TwoClientsAtOnceAreServedOneAfterTheOther) {
    Start();
    HANDLE a = Open(FILE_SHARE_READ | FILE_SHARE_WRITE);
    HANDLE b = Open(FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(a, INVALID_HANDLE_VALUE);
    ASSERT_NE(b, INVALID_HANDLE_VALUE);
    std::atomic<int> bad{0};
    auto client = [&](HANDLE device, UCHAR command) {
        for (int i = 0; i < 100; ++i) {
            SVCP_PACKET packet = Request(command);
            DWORD returned = 0;
            if (!DeviceIoControl(device, IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, &packet, 96,
                                 &returned, nullptr) ||
                !GoodReply(packet, command)) {
                ++bad;
            }
        }
    };
    std::thread first(client, a, 0xA6), second(client, b, 0xA2);
    first.join();
    second.join();
    EXPECT_EQ(bad.load(), 0);
    // The simulator aborts the host if two transactions ever overlap.
    EXPECT_EQ(::waitpid(m_Pid, nullptr, WNOHANG), 0) << HostLog();
    CloseHandle(a);
    CloseHandle(b);
}

TEST_F(HostProcessTest, RequestForAnotherPortBaseIsRefused) {
    Start({"--port-base", "0x2C0"});
    HANDLE device = Open(0);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    SVCP_PACKET packet = Request(0xA6);
    SVCP_PACKET before = packet;
    DWORD returned = 5;
    EXPECT_FALSE(DeviceIoControl(device, IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, &packet, 96,
                                 &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(std::memcmp(&packet, &before, sizeof packet), 0);
    packet.PortBase = 0x2C0;
    EXPECT_TRUE(DeviceIoControl(device, IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, &packet, 96,
                                &returned, nullptr));
    EXPECT_TRUE(GoodReply(packet, 0xA6));
    CloseHandle(device);
    EXPECT_NE(HostLog().find("portwyn: request for port base 0x2b0 refused, the device is at "
                             "0x2c0\n"),
              std::string::npos);
}

TEST_F(HostProcessTest, BadArgumentsExitTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {"--ports=disk"},     {"--port-base", "junk"}, {"--port-base", "0x10000"},
        {"--no-such-option"}, {"--profile", "nosuch"}, {"extra"},
    };
    for (const auto& args : cases) {
        pid_t pid = Spawn(args);
        EXPECT_EQ(WaitForExit(pid), 2) << args[0];
    }
    EXPECT_NE(HostLog().find("(see --help)"), std::string::npos);
    EXPECT_TRUE(Enumerate().empty());
}

} // namespace
