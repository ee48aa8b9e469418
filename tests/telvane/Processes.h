// Child processes for the tests: run one to its end, or start one and stop
// it later. Every started process is killed by its owner's destructor.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// The environment of this process with `changes` applied (an empty value
// removes the variable).
std::vector<std::string> MakeEnvironment(const std::map<std::string, std::string>& changes);

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, int timeoutMs = 20000);

class RunningProcess {
public:
    RunningProcess() = default;
    ~RunningProcess();
    RunningProcess(const RunningProcess&) = delete;
    RunningProcess& operator=(const RunningProcess&) = delete;

    // Standard output and error go to `logPath` (appended).
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               const std::string& logPath);
    pid_t Pid() const { return m_Pid; }
    bool Running();
    // SIGTERM, then the exit code once it ended (-1 on time-out, after SIGKILL).
    int Stop(int timeoutMs = 10000);
    // The exit code once it ended by itself within the time, else -1.
    int Wait(int timeoutMs);

private:
    pid_t m_Pid = -1;
    int m_nExitCode = -1;
};

bool WaitFor(const std::function<bool()>& condition, int timeoutMs);
std::string ReadWholeFile(const std::string& path);
std::string MakeTempDir(const char* prefix);
void RemoveTree(const std::string& path);
