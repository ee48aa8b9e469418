#include "HostProcess.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "Simulator.h"
#include "SvcpIoctl.h"

CHostProcess::~CHostProcess() {
    Stop();
}

bool CHostProcess::Start(const std::string& profile, std::string* error) {
    char pattern[] = "/tmp/svcproc-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        *error = "cannot make a runtime directory";
        return false;
    }
    m_RuntimeDir = pattern;
    m_ControlPath = m_RuntimeDir + "/sim.sock";
    const std::vector<uint8_t> table = svcproc::sim::BuildProfileTable(profile, error);
    if (table.empty()) {
        return false;
    }
    const std::string tablePath = m_RuntimeDir + "/smbios.bin";
    std::ofstream(tablePath, std::ios::binary)
        .write(reinterpret_cast<const char*>(table.data()), std::streamsize(table.size()));
    setenv("SVCPROC_RUNTIME_DIR", m_RuntimeDir.c_str(), 1);
    setenv("SVCPROC_SMBIOS_TABLE", tablePath.c_str(), 1);

    m_Pid = fork();
    if (m_Pid == 0) {
        const std::string profileArg = "--profile=" + profile;
        const std::string controlArg = "--sim-control=" + m_ControlPath;
        execl(SVCPROC_PORTWYN_PATH, "portwyn", "--ports=sim", profileArg.c_str(),
              controlArg.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    if (m_Pid < 0) {
        *error = "fork failed";
        return false;
    }
    const std::filesystem::path interfaces =
        m_RuntimeDir + "/devices/" + SVCP_INTERFACE_CLASS_GUID_STRING;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        std::error_code ignored;
        if (std::filesystem::exists(m_ControlPath, ignored) &&
            std::filesystem::exists(interfaces, ignored) &&
            !std::filesystem::is_empty(interfaces, ignored)) {
            return true;
        }
        int status = 0;
        if (waitpid(m_Pid, &status, WNOHANG) == m_Pid) {
            m_Pid = -1;
            *error = "portwyn ended at start";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    *error = "portwyn did not publish its interface";
    return false;
}

void CHostProcess::Stop() {
    if (m_Pid > 0) {
        kill(m_Pid, SIGTERM);
        int status = 0;
        waitpid(m_Pid, &status, 0);
        m_Pid = -1;
    }
    if (!m_RuntimeDir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_RuntimeDir, ignored);
        m_RuntimeDir.clear();
    }
}
