#include <atomic>
#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "../../svcproc/src/platform/sync/Sync.h"
#include "ScmTestSupport.h"

namespace {

// What the service mains of these tests saw; one dispatcher runs at a time.
struct Observed {
    SERVICE_STATUS_HANDLE handle = nullptr;
    std::vector<DWORD> controls;
    std::thread::id handlerThread;
    std::thread::id mainThread;
    HANDLE stopEvent = nullptr;
    DWORD nestedError = 0;
    DWORD unknownNameError = 0;
    DWORD stateSeenWhileRunning = 0;
    bool raiseBeforeAccepting = false;
};
Observed g_seen;

void Report(DWORD state, DWORD controls) {
    SERVICE_STATUS status{SERVICE_WIN32, state, controls, 0, 0, 0, 0};
    SetServiceStatus(g_seen.handle, &status);
}

void Handler(DWORD control) {
    g_seen.controls.push_back(control);
    g_seen.handlerThread = std::this_thread::get_id();
    if (control == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING, 0);
        SetEvent(g_seen.stopEvent);
    }
}

DWORD QueryState() {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, L"Svc", SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    QueryServiceStatus(service, &status);
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return status.dwCurrentState;
}

// Runs until stopped by a SIGTERM it sends itself.
void StoppableMain(DWORD, wchar_t**) {
    g_seen.mainThread = std::this_thread::get_id();
    g_seen.handle = RegisterServiceCtrlHandlerW(L"Svc", Handler);
    g_seen.unknownNameError = RegisterServiceCtrlHandlerW(L"Other", Handler) ? 0 : GetLastError();
    SERVICE_TABLE_ENTRYW table[] = {{L"Svc", StoppableMain}, {nullptr, nullptr}};
    g_seen.nestedError = StartServiceCtrlDispatcherW(table) ? 0 : GetLastError();
    Report(SERVICE_START_PENDING, 0);
    if (g_seen.raiseBeforeAccepting) {
        kill(getpid(), SIGTERM);
        Sleep(50);
    }
    Report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
    g_seen.stateSeenWhileRunning = QueryState();
    if (!g_seen.raiseBeforeAccepting) {
        kill(getpid(), SIGTERM);
    }
    WaitForSingleObject(g_seen.stopEvent, 10000);
    Report(SERVICE_STOPPED, 0);
}

// Returns without ever reporting that it stopped.
void CarelessMain(DWORD, wchar_t**) {
    g_seen.handle = RegisterServiceCtrlHandlerW(L"Svc", Handler);
    Report(SERVICE_RUNNING, SERVICE_ACCEPT_STOP);
}

class ScmDispatcherTest : public ScmTempDirs {
protected:
    void SetUp() override {
        ScmTempDirs::SetUp();
        g_seen = Observed{};
        g_seen.stopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
        CloseServiceHandle(CreateServiceW(manager, L"Svc", L"Svc", SERVICE_ALL_ACCESS,
                                          SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                          SERVICE_ERROR_IGNORE, L"/bin/true", nullptr, nullptr,
                                          nullptr, nullptr, nullptr));
        CloseServiceHandle(manager);
    }
    void TearDown() override {
        CloseHandle(g_seen.stopEvent);
        ScmTempDirs::TearDown();
    }
    BOOL Dispatch(LPSERVICE_MAIN_FUNCTIONW main) {
        SERVICE_TABLE_ENTRYW table[] = {{L"Svc", main}, {nullptr, nullptr}};
        return StartServiceCtrlDispatcherW(table);
    }
};

TEST_F(ScmDispatcherTest, WithoutAManagerTheDispatcherFailsWith1063) {
    SetLastError(0);
    EXPECT_FALSE(Dispatch(StoppableMain));
    EXPECT_EQ(GetLastError(), ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    EXPECT_EQ(g_seen.handle, nullptr) << "the service main never ran";
}

TEST_F(ScmDispatcherTest, AnEmptyTableIsInvalidData) {
    setenv("SVCPROC_SCM", "1", 1);
    SERVICE_TABLE_ENTRYW empty[] = {{nullptr, nullptr}};
    SetLastError(0);
    EXPECT_FALSE(StartServiceCtrlDispatcherW(empty));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_FALSE(StartServiceCtrlDispatcherW(nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
}

TEST_F(ScmDispatcherTest, SigtermIsTheStopControlOnTheDispatcherThread) {
    setenv("SVCPROC_SCM", "1", 1);
    ASSERT_TRUE(Dispatch(StoppableMain));
    ASSERT_NE(g_seen.handle, nullptr);
    EXPECT_NE(g_seen.mainThread, std::this_thread::get_id());
    EXPECT_EQ(g_seen.controls, std::vector<DWORD>{SERVICE_CONTROL_STOP});
    EXPECT_EQ(g_seen.handlerThread, std::this_thread::get_id());
    EXPECT_EQ(g_seen.nestedError, ERROR_SERVICE_ALREADY_RUNNING);
    EXPECT_EQ(g_seen.unknownNameError, ERROR_SERVICE_NOT_IN_EXE);
    EXPECT_EQ(g_seen.stateSeenWhileRunning, SERVICE_RUNNING);
    EXPECT_EQ(QueryState(), SERVICE_STOPPED);
    // The handle of a finished run no longer reports.
    SERVICE_STATUS status{SERVICE_WIN32, SERVICE_RUNNING, 0, 0, 0, 0, 0};
    EXPECT_FALSE(SetServiceStatus(g_seen.handle, &status));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(ScmDispatcherTest, AStopBeforeTheServiceAcceptsItIsDeliveredOnceItDoes) {
    setenv("SVCPROC_SCM", "1", 1);
    g_seen.raiseBeforeAccepting = true;
    ASSERT_TRUE(Dispatch(StoppableMain));
    EXPECT_EQ(g_seen.controls, std::vector<DWORD>{SERVICE_CONTROL_STOP});
}

TEST_F(ScmDispatcherTest, AServiceThatReturnsWithoutStoppingIsReportedStopped) {
    setenv("SVCPROC_SCM", "1", 1);
    ASSERT_TRUE(Dispatch(CarelessMain));
    std::string file = ReadFile(m_RuntimeDir + "/scm/Svc.status");
    EXPECT_NE(file.find("state=1\n"), std::string::npos) << file;
    EXPECT_EQ(QueryState(), SERVICE_STOPPED);
}

TEST_F(ScmDispatcherTest, StatusGoesToTheNotifySocket) {
    std::string socketPath = m_Root + "/notify";
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    setenv("NOTIFY_SOCKET", socketPath.c_str(), 1);
    ASSERT_TRUE(Dispatch(StoppableMain));
    unsetenv("NOTIFY_SOCKET");
    std::string all;
    char buffer[512];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
        all += std::string(buffer, static_cast<size_t>(n)) + "|";
    }
    close(fd);
    EXPECT_NE(all.find("READY=1"), std::string::npos) << all;
    EXPECT_NE(all.find("STOPPING=1"), std::string::npos) << all;
    EXPECT_LT(all.find("READY=1"), all.find("STOPPING=1")) << all;
}

TEST_F(ScmDispatcherTest, SetServiceStatusRefusesUnknownHandlesAndStates) {
    SERVICE_STATUS status{SERVICE_WIN32, SERVICE_RUNNING, 0, 0, 0, 0, 0};
    EXPECT_FALSE(SetServiceStatus(nullptr, &status));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    status.dwCurrentState = 9;
    EXPECT_FALSE(SetServiceStatus(nullptr, &status));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
    EXPECT_EQ(RegisterServiceCtrlHandlerW(L"Svc", Handler), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SERVICE_NOT_IN_EXE);
}

} // namespace
