#include "ChildProcess.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace wbemtest {

Child::Child(const std::vector<std::string>& argv, bool asNobody) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return;
    }
    m_nPid = fork();
    if (m_nPid == 0) {
        // Only async-signal-safe calls between fork and exec.
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (asNobody &&
            (setgroups(0, nullptr) != 0 || setgid(kNobodyGid) != 0 || setuid(kNobodyUid) != 0)) {
            _exit(126);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    m_nOut = out[0];
    m_nErr = err[0];
}

Child::~Child() {
    if (m_nPid > 0) {
        kill(m_nPid, SIGKILL);
        waitpid(m_nPid, nullptr, 0);
    }
    for (int fd : {m_nOut, m_nErr}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

bool Child::Running() {
    siginfo_t info{};
    return m_nPid > 0 &&
           waitid(P_PID, static_cast<id_t>(m_nPid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == 0;
}

ChildResult Child::Wait(int timeoutMs) {
    ChildResult result;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    struct pollfd fds[2] = {{m_nOut, POLLIN, 0}, {m_nErr, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(m_nPid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && fds[i].revents != 0) {
                char buffer[4096];
                ssize_t got = read(fds[i].fd, buffer, sizeof(buffer));
                if (got > 0) {
                    sinks[i]->append(buffer, static_cast<size_t>(got));
                } else {
                    close(fds[i].fd);
                    (i == 0 ? m_nOut : m_nErr) = -1;
                    fds[i].fd = -1;
                    --open;
                }
            }
        }
    }
    int status = 0;
    if (m_nPid > 0 && waitpid(m_nPid, &status, 0) == m_nPid && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    m_nPid = -1;
    return result;
}

ChildResult RunChild(const std::vector<std::string>& argv, bool asNobody, int timeoutMs) {
    return Child(argv, asNobody).Wait(timeoutMs);
}

} // namespace wbemtest
