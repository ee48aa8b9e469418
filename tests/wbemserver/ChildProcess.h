// Runs a program in a child process, optionally as the user nobody, and
// collects its output.
#pragma once

#include <string>
#include <vector>

namespace wbemtest {

struct ChildResult {
    int exitCode = -1; // -1: did not exit normally
    std::string out;
    std::string err;
};

constexpr uint32_t kNobodyUid = 65534;
constexpr uint32_t kNobodyGid = 65534;

// Runs `argv` (argv[0] is the program's path). `asNobody`: the child drops to
// uid and gid 65534 with no supplementary groups before it starts the program.
// A child still running after `timeoutMs` is killed.
ChildResult RunChild(const std::vector<std::string>& argv, bool asNobody, int timeoutMs = 30000);

// A child that keeps running: started now, collected with Wait.
class Child {
public:
    Child(const std::vector<std::string>& argv, bool asNobody);
    ~Child();
    bool Running();
    ChildResult Wait(int timeoutMs);

private:
    int m_nPid = -1;
    int m_nOut = -1;
    int m_nErr = -1;
};

} // namespace wbemtest
