// The driver host with the simulator, run as a child process on a temporary
// runtime directory, with the profile's SMBIOS table in a file for the library.
#pragma once

#include <string>
#include <sys/types.h>

class CHostProcess {
public:
    CHostProcess() = default;
    ~CHostProcess();
    CHostProcess(const CHostProcess&) = delete;
    CHostProcess& operator=(const CHostProcess&) = delete;

    // Sets SVCPROC_RUNTIME_DIR and SVCPROC_SMBIOS_TABLE for this process,
    // starts the host and waits until it serves its device interface.
    bool Start(const std::string& profile, std::string* error);
    void Stop();
    const std::string& ControlPath() const { return m_ControlPath; }

private:
    pid_t m_Pid = -1;
    std::string m_RuntimeDir;
    std::string m_ControlPath;
};
