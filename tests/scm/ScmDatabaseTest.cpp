#include <sys/wait.h>
#include <unistd.h>

#include "../../svcproc/src/platform/sync/Sync.h"
#include "ScmTestSupport.h"

namespace {

class ScmDatabaseTest : public ScmTempDirs {
protected:
    SC_HANDLE Create(SC_HANDLE manager, const wchar_t* name, DWORD startType = SERVICE_AUTO_START,
                     const wchar_t* path = L"/opt/svc/bin/telvane") {
        return CreateServiceW(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                              startType, SERVICE_ERROR_IGNORE, path, nullptr, nullptr, nullptr,
                              nullptr, nullptr);
    }
    std::string Unit(const std::string& name) { return m_UnitDir + "/" + name + ".service"; }
    std::string Wants(const std::string& name) {
        return m_UnitDir + "/multi-user.target.wants/" + name + ".service";
    }
    void WriteStatus(long pid, DWORD state) {
        WriteFile(m_RuntimeDir + "/scm/Svc.status",
                  "pid=" + std::to_string(pid) + "\ntype=48\nstate=" + std::to_string(state) +
                      "\ncontrols=5\nwin32exit=0\nspecificexit=0\ncheckpoint=0\nwaithint=0\n");
    }
};

TEST_F(ScmDatabaseTest, CreateWritesANotifyUnitEnabledForMultiUser) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE service = Create(manager, L"YARVOSPSvc");
    ASSERT_NE(service, nullptr);
    std::string unit = ReadFile(Unit("YARVOSPSvc"));
    EXPECT_NE(unit.find("Description=YARVOSPSvc\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("Type=notify\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("ExecStart=\"/opt/svc/bin/telvane\"\n"), std::string::npos) << unit;
    EXPECT_NE(unit.find("[Install]\nWantedBy=multi-user.target\n"), std::string::npos) << unit;
    char target[256] = {};
    ASSERT_GT(readlink(Wants("YARVOSPSvc").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "../YARVOSPSvc.service");
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_TRUE(CloseServiceHandle(manager));
}

TEST_F(ScmDatabaseTest, DemandStartUnitIsNotEnabledAndPathIsQuotedForSystemd) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    SC_HANDLE service = Create(manager, L"Svc", SERVICE_DEMAND_START, L"/opt/my dir/100%/a\"b");
    ASSERT_NE(service, nullptr);
    std::string unit = ReadFile(Unit("Svc"));
    EXPECT_NE(unit.find("ExecStart=\"/opt/my dir/100%%/a\\\"b\"\n"), std::string::npos) << unit;
    EXPECT_EQ(unit.find("[Install]"), std::string::npos);
    EXPECT_FALSE(PathExists(Wants("Svc")));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST_F(ScmDatabaseTest, CreateTwiceFailsWithServiceExistsAndKeepsTheFirstUnit) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    SC_HANDLE first = Create(manager, L"Svc", SERVICE_AUTO_START, L"/first");
    ASSERT_NE(first, nullptr);
    SetLastError(0);
    EXPECT_EQ(Create(manager, L"Svc", SERVICE_AUTO_START, L"/second"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_EXISTS);
    EXPECT_NE(ReadFile(Unit("Svc")).find("ExecStart=\"/first\""), std::string::npos);
    CloseServiceHandle(first);
    CloseServiceHandle(manager);
}

TEST_F(ScmDatabaseTest, RefusedRequestsSetTheirCodes) {
    SC_HANDLE connect = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE creator = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    ASSERT_NE(connect, nullptr);
    ASSERT_NE(creator, nullptr);
    struct Case {
        const char* what;
        SC_HANDLE manager;
        const wchar_t* name;
        const wchar_t* path;
        DWORD error;
    } cases[] = {
        {"connect-only manager", connect, L"Svc", L"/bin/x", ERROR_ACCESS_DENIED},
        {"name with a slash", creator, L"a/b", L"/bin/x", ERROR_INVALID_NAME},
        {"empty name", creator, L"", L"/bin/x", ERROR_INVALID_NAME},
        {"dot-dot name", creator, L"..", L"/bin/x", ERROR_INVALID_NAME},
        {"relative path", creator, L"Svc", L"bin/x", ERROR_INVALID_PARAMETER},
        {"no path", creator, L"Svc", nullptr, ERROR_INVALID_PARAMETER},
        {"closed handle", nullptr, L"Svc", L"/bin/x", ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(Create(c.manager, c.name, SERVICE_AUTO_START, c.path), nullptr) << c.what;
        EXPECT_EQ(GetLastError(), c.error) << c.what;
    }
    EXPECT_FALSE(PathExists(Unit("Svc")));
    CloseServiceHandle(connect);
    CloseServiceHandle(creator);
    SetLastError(0);
    EXPECT_FALSE(CloseServiceHandle(creator));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(ScmDatabaseTest, ManagerNeedsAnExistingDatabaseAndAWritableOneForCreation) {
    setenv("SVCPROC_SCM_UNIT_DIR", (m_Root + "/missing").c_str(), 1);
    SetLastError(0);
    EXPECT_EQ(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_DATABASE_DOES_NOT_EXIST);
    setenv("SVCPROC_SCM_UNIT_DIR", m_UnitDir.c_str(), 1);
    EXPECT_EQ(OpenSCManagerW(nullptr, L"Elsewhere", SC_MANAGER_CONNECT), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_DATABASE_DOES_NOT_EXIST);
    if (geteuid() != 0) {
        chmod(m_UnitDir.c_str(), 0555);
        SetLastError(0);
        EXPECT_EQ(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        SC_HANDLE connect = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        EXPECT_NE(connect, nullptr);
        CloseServiceHandle(connect);
        chmod(m_UnitDir.c_str(), 0755);
    }
}

TEST_F(ScmDatabaseTest, OpenQueryAndDeleteFollowTheHandlesAccess) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    CloseServiceHandle(Create(manager, L"Svc"));
    SetLastError(0);
    EXPECT_EQ(OpenServiceW(manager, L"Other", DELETE | SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);

    SC_HANDLE queryOnly = OpenServiceW(manager, L"Svc", SERVICE_QUERY_STATUS);
    SC_HANDLE deleteOnly = OpenServiceW(manager, L"Svc", DELETE);
    ASSERT_NE(queryOnly, nullptr);
    ASSERT_NE(deleteOnly, nullptr);
    SERVICE_STATUS status{};
    EXPECT_FALSE(QueryServiceStatus(deleteOnly, &status));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteService(queryOnly));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(QueryServiceStatus(queryOnly, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);

    EXPECT_TRUE(DeleteService(deleteOnly));
    EXPECT_FALSE(PathExists(Unit("Svc")));
    EXPECT_FALSE(PathExists(Wants("Svc")));
    SetLastError(0);
    EXPECT_FALSE(DeleteService(deleteOnly));
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
    EXPECT_EQ(OpenServiceW(manager, L"Svc", DELETE), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
    CloseServiceHandle(queryOnly);
    CloseServiceHandle(deleteOnly);
    CloseServiceHandle(manager);
}

TEST_F(ScmDatabaseTest, StatusComesFromTheStatusFileWhileItsProcessLives) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    CloseServiceHandle(Create(manager, L"Svc"));
    SC_HANDLE service = OpenServiceW(manager, L"Svc", SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};

    WriteStatus(getpid(), SERVICE_RUNNING);
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
    EXPECT_EQ(status.dwServiceType, SERVICE_WIN32);
    EXPECT_EQ(status.dwControlsAccepted, 5u);

    pid_t child = fork();
    if (child == 0) {
        _exit(0);
    }
    waitpid(child, nullptr, 0);
    WriteStatus(child, SERVICE_RUNNING);
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED) << "a process that died is not running";
    EXPECT_EQ(status.dwWin32ExitCode, ERROR_PROCESS_ABORTED);

    WriteFile(m_RuntimeDir + "/scm/Svc.status", "garbage\n");
    ASSERT_TRUE(QueryServiceStatus(service, &status));
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST(ScmModuleFileTest, GivesTheProgramPathAndCutsToTheBuffer) {
    wchar_t path[261] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, 261);
    ASSERT_GT(length, 0u);
    std::wstring text(path, length);
    EXPECT_EQ(text[0], L'/');
    EXPECT_NE(text.find(L"scm_tests"), std::wstring::npos);
    wchar_t small[4] = {L'x', L'x', L'x', L'x'};
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 4), 4u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::wstring(small), text.substr(0, 3));
}

} // namespace
