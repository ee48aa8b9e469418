#include "Processes.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (std::string& t : texts) {
        out.push_back(t.data());
    }
    out.push_back(nullptr);
    return out;
}

int ExitCodeOf(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

} // namespace

std::vector<std::string> MakeEnvironment(const std::map<std::string, std::string>& changes) {
    std::vector<std::string> out;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (!changes.count(name)) {
            out.push_back(entry);
        }
    }
    for (const auto& [name, value] : changes) {
        if (!value.empty()) {
            out.push_back(name + "=" + value);
        }
    }
    return out;
}

ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, int timeoutMs) {
    ProcessResult result;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return result;
    }
    std::vector<std::string> args = argv, env = environment;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        auto a = Pointers(args);
        auto e = Pointers(env);
        execve(a[0], a.data(), e.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    while (open > 0 && std::chrono::steady_clock::now() < deadline) {
        if (poll(fds, 2, 100) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP))) {
                char buffer[4096];
                ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                if (n <= 0) {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --open;
                } else {
                    (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
                }
            }
        }
    }
    for (pollfd& fd : fds) {
        if (fd.fd >= 0) {
            close(fd.fd);
        }
    }
    if (open > 0) {
        kill(pid, SIGKILL);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.exitCode = open > 0 ? -1 : ExitCodeOf(status);
    return result;
}

RunningProcess::~RunningProcess() {
    if (m_Pid > 0) {
        Stop(5000);
    }
}

bool RunningProcess::Start(const std::vector<std::string>& argv,
                           const std::vector<std::string>& environment,
                           const std::string& logPath) {
    std::vector<std::string> args = argv, env = environment;
    pid_t pid = fork();
    if (pid == 0) {
        int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        auto a = Pointers(args);
        auto e = Pointers(env);
        execve(a[0], a.data(), e.data());
        _exit(127);
    }
    m_Pid = pid;
    m_nExitCode = -1;
    return pid > 0;
}

bool RunningProcess::Running() {
    if (m_Pid <= 0) {
        return false;
    }
    int status = 0;
    pid_t done = waitpid(m_Pid, &status, WNOHANG);
    if (done == m_Pid) {
        m_nExitCode = ExitCodeOf(status);
        m_Pid = -1;
        return false;
    }
    return true;
}

int RunningProcess::Wait(int timeoutMs) {
    WaitFor([this] { return !Running(); }, timeoutMs);
    return m_Pid > 0 ? -1 : m_nExitCode;
}

int RunningProcess::Stop(int timeoutMs) {
    if (m_Pid <= 0) {
        return m_nExitCode;
    }
    kill(m_Pid, SIGTERM);
    int code = Wait(timeoutMs);
    if (m_Pid > 0) {
        kill(m_Pid, SIGKILL);
        waitpid(m_Pid, nullptr, 0);
        m_Pid = -1;
        return -1;
    }
    return code;
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string MakeTempDir(const char* prefix) {
    std::string pattern = std::string("/tmp/") + prefix + "_XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

void RemoveTree(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}
