// Runs the library end to end against a portwyn driver host with the
// simulated service processor. Each scenario runs in a child process of its
// own (the library's initialised flag is process-wide), checks with CHECK,
// and exits 0 when everything held.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ControlClient.h"
#include "Simulator.h"
#include "SmbiosTableBuilder.h"
#include "SvcpIoctl.h"

namespace e2e {

inline std::vector<pid_t>& Hosts() {
    static std::vector<pid_t> hosts;
    return hosts;
}

// Set when a host did not end cleanly on SIGTERM (a crash, or a sanitizer
// report at exit); the scenario fails on it.
inline bool& HostFailed() {
    static bool failed = false;
    return failed;
}

inline void StopHost(pid_t pid) {
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "driver host %d did not exit cleanly (status 0x%x)\n",
                     static_cast<int>(pid), static_cast<unsigned>(status));
        HostFailed() = true;
    }
    auto& hosts = Hosts();
    for (size_t i = 0; i < hosts.size(); ++i) {
        if (hosts[i] == pid) {
            hosts.erase(hosts.begin() + static_cast<long>(i));
            break;
        }
    }
}

inline void StopAllHosts() {
    while (!Hosts().empty()) {
        StopHost(Hosts().back());
    }
}

[[noreturn]] inline void Fail(const char* file, int line, const std::string& what) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what.c_str());
    StopAllHosts();
    std::_Exit(1);
}

#define CHECK(condition)                                                                           \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            ::e2e::Fail(__FILE__, __LINE__, #condition);                                           \
        }                                                                                          \
    } while (0)

#define CHECK_EQ(actual, expected)                                                                 \
    do {                                                                                           \
        auto _a = (actual);                                                                        \
        auto _e = (expected);                                                                      \
        if (!(_a == _e)) {                                                                         \
            ::e2e::Fail(__FILE__, __LINE__,                                                        \
                        std::string(#actual " == " #expected ", got ") + std::to_string(_a) +      \
                            " expected " + std::to_string(_e));                                    \
        }                                                                                          \
    } while (0)

// A temporary runtime directory and SMBIOS table for one scenario.
class Environment {
public:
    Environment() {
        std::string pattern = (std::filesystem::temp_directory_path() / "svcp-e2e-XXXXXX").string();
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        CHECK(mkdtemp(buffer.data()) != nullptr);
        m_Dir = buffer.data();
        setenv("SVCPROC_RUNTIME_DIR", m_Dir.c_str(), 1);
        setenv("SVCPROC_SMBIOS_TABLE", (m_Dir + "/table.bin").c_str(), 1);
        setenv("SVCPROC_LOG_LEVEL", "1", 1);
    }
    ~Environment() {
        StopAllHosts();
        std::error_code ignored;
        std::filesystem::remove_all(m_Dir, ignored);
    }
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    // The profile's table, as the library will read it.
    void WriteTable(const std::string& profile) {
        std::string error;
        std::vector<uint8_t> table = svcproc::sim::BuildProfileTable(profile, &error);
        CHECK(!table.empty());
        CHECK(svcproc::sim::WriteFile(m_Dir + "/table.bin", table, &error));
    }

    std::string ControlSocket() const { return m_Dir + "/sim.sock"; }
    std::string InterfaceDirectory() const {
        return m_Dir + "/devices/" SVCP_INTERFACE_CLASS_GUID_STRING;
    }

    // Starts portwyn and waits until its interface and control socket exist.
    pid_t StartHost(const std::string& profile) {
        pid_t pid = fork();
        CHECK(pid >= 0);
        if (pid == 0) {
            std::string control = ControlSocket();
            execl(PORTWYN_PATH, PORTWYN_PATH, "--profile", profile.c_str(), "--sim-control",
                  control.c_str(), static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        Hosts().push_back(pid);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!(HasInterface() && std::filesystem::exists(ControlSocket()))) {
            CHECK(std::chrono::steady_clock::now() < deadline);
            CHECK(waitpid(pid, nullptr, WNOHANG) == 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return pid;
    }

    bool HasInterface() const {
        std::error_code ec;
        if (!std::filesystem::is_directory(InterfaceDirectory(), ec)) {
            return false;
        }
        return std::filesystem::directory_iterator(InterfaceDirectory(), ec) !=
               std::filesystem::directory_iterator();
    }

    // One control request; the reply's data lines, CHECKed to be "ok".
    std::string Control(const std::string& line) {
        svcproc::sim::ControlReply reply;
        std::string error;
        CHECK(svcproc::sim::SendControlRequest(ControlSocket(), line, &reply, &error));
        CHECK(reply.m_bOk);
        return reply.m_sData;
    }

    // A counter of the simulator's "stats" reply, 0 when not listed.
    unsigned long Stat(const std::string& name) {
        std::string data = Control("stats");
        std::string key = name + " ";
        size_t at = 0;
        while (at < data.size()) {
            size_t end = data.find('\n', at);
            std::string line = data.substr(at, end == std::string::npos ? end : end - at);
            if (line.rfind(key, 0) == 0) {
                return std::strtoul(line.c_str() + key.size(), nullptr, 0);
            }
            if (end == std::string::npos) {
                break;
            }
            at = end + 1;
        }
        return 0;
    }

private:
    std::string m_Dir;
};

} // namespace e2e
