// The dispatcher: service mains on their own threads, control handlers on
// the dispatcher's thread, SIGTERM as the stop control.
//
// A stop that arrives before the service accepts it (still starting up) is
// kept and delivered once the service reports that it accepts stop, so an
// early SIGTERM is never lost.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string>
#include <systemd/sd-daemon.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "../sync/Sync.h"
#include "Scm.h"
#include "ScmStore.h"

using namespace svcproc::scm;

struct ScmStatusObject {
    std::wstring name;
    LPHANDLER_FUNCTION handler = nullptr;
    SERVICE_STATUS status{};
    bool reported = false;
    bool stopPending = false; // a stop control waits for the service to accept it
};

namespace {

constexpr char kWakeSignal = 'T';
constexpr char kWakeStatus = 'S';
constexpr char kWakeExit = 'X';

struct Dispatcher {
    std::mutex mutex;
    bool running = false;
    std::vector<ScmStatusObject*> services;
    std::vector<ScmStatusObject*> retired; // handles of earlier runs, never freed
    int wakeRead = -1;
    int wakeWrite = -1;
};

Dispatcher& State() {
    static auto* state = new Dispatcher;
    return *state;
}

// Written by the signal handler; read once the dispatcher runs.
volatile sig_atomic_t g_wakeFd = -1;

void OnTerminate(int) {
    int saved = errno;
    int fd = g_wakeFd;
    if (fd >= 0) {
        char c = kWakeSignal;
        [[maybe_unused]] ssize_t n = write(fd, &c, 1);
    }
    errno = saved;
}

void Wake(char reason) {
    int fd = State().wakeWrite;
    if (fd >= 0) {
        [[maybe_unused]] ssize_t n = write(fd, &reason, 1);
    }
}

bool UnderManager() {
    const char* notify = std::getenv("NOTIFY_SOCKET");
    const char* scm = std::getenv("SVCPROC_SCM");
    return (notify && *notify) || (scm && std::strcmp(scm, "1") == 0);
}

std::string NotifyText(const SERVICE_STATUS& s) {
    switch (s.dwCurrentState) {
    case SERVICE_START_PENDING:
        return "STATUS=Starting";
    case SERVICE_RUNNING:
        return "READY=1\nSTATUS=Running";
    case SERVICE_STOP_PENDING:
        return "STOPPING=1\nSTATUS=Stopping";
    case SERVICE_STOPPED: {
        char text[96];
        std::snprintf(text, sizeof text, "STATUS=Stopped, exit code 0x%08x",
                      s.dwWin32ExitCode == 1066 ? s.dwServiceSpecificExitCode : s.dwWin32ExitCode);
        return text;
    }
    default:
        return "STATUS=Paused";
    }
}

// Hands the stop controls that are due to their handlers; runs on the
// dispatcher's thread.
void DeliverDueStops() {
    std::vector<LPHANDLER_FUNCTION> due;
    {
        Dispatcher& d = State();
        std::lock_guard<std::mutex> lock(d.mutex);
        for (ScmStatusObject* service : d.services) {
            bool accepts = service->status.dwControlsAccepted & SERVICE_ACCEPT_STOP;
            if (service->stopPending && service->handler && accepts) {
                service->stopPending = false;
                due.push_back(service->handler);
            }
        }
    }
    for (LPHANDLER_FUNCTION handler : due) {
        handler(SERVICE_CONTROL_STOP);
    }
}

void MarkStopRequested() {
    Dispatcher& d = State();
    std::lock_guard<std::mutex> lock(d.mutex);
    for (ScmStatusObject* service : d.services) {
        if (service->status.dwCurrentState != SERVICE_STOPPED) {
            service->stopPending = true;
        }
    }
}

void RunLoop(size_t serviceCount) {
    size_t finished = 0;
    while (finished < serviceCount) {
        pollfd fd{State().wakeRead, POLLIN, 0};
        if (poll(&fd, 1, -1) < 0) {
            continue;
        }
        char reasons[64];
        ssize_t n = read(State().wakeRead, reasons, sizeof reasons);
        for (ssize_t i = 0; i < n; ++i) {
            if (reasons[i] == kWakeSignal) {
                MarkStopRequested();
            } else if (reasons[i] == kWakeExit) {
                ++finished;
            }
        }
        DeliverDueStops();
    }
}

// A service whose main returned without reporting that it stopped is
// reported stopped for it.
void ReportStoppedLeftovers() {
    Dispatcher& d = State();
    std::lock_guard<std::mutex> lock(d.mutex);
    for (ScmStatusObject* service : d.services) {
        if (service->reported && service->status.dwCurrentState != SERVICE_STOPPED) {
            service->status.dwCurrentState = SERVICE_STOPPED;
            service->status.dwControlsAccepted = 0;
            WriteStatusFile(service->name, service->status);
            sd_notify(0, NotifyText(service->status).c_str());
        }
    }
}

} // namespace

BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table) {
    if (!table || !table[0].lpServiceName || !table[0].lpServiceProc) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    if (!UnderManager()) {
        SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
        return FALSE;
    }
    std::vector<SERVICE_TABLE_ENTRYW> entries;
    for (const SERVICE_TABLE_ENTRYW* e = table; e->lpServiceName; ++e) {
        if (!e->lpServiceProc || !IsValidServiceName(e->lpServiceName)) {
            SetLastError(ERROR_INVALID_DATA);
            return FALSE;
        }
        entries.push_back(*e);
    }
    Dispatcher& d = State();
    int pipeFds[2];
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        if (d.running) {
            SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
            return FALSE;
        }
        if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
            SetLastError(ErrorFromErrno(errno));
            return FALSE;
        }
        d.running = true;
        d.wakeRead = pipeFds[0];
        d.wakeWrite = pipeFds[1];
        d.retired.insert(d.retired.end(), d.services.begin(), d.services.end());
        d.services.clear();
        for (const SERVICE_TABLE_ENTRYW& e : entries) {
            auto* service = new ScmStatusObject;
            service->name = e.lpServiceName;
            d.services.push_back(service);
        }
    }
    g_wakeFd = pipeFds[1];
    struct sigaction action {
    }, previous{};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, &previous);

    std::vector<std::thread> threads;
    for (size_t i = 0; i < entries.size(); ++i) {
        threads.emplace_back([entry = entries[i]] {
            std::wstring name = entry.lpServiceName;
            wchar_t* argv[] = {name.data(), nullptr};
            entry.lpServiceProc(1, argv);
            Wake(kWakeExit);
        });
    }
    RunLoop(entries.size());
    for (std::thread& t : threads) {
        t.join();
    }
    ReportStoppedLeftovers();

    sigaction(SIGTERM, &previous, nullptr);
    g_wakeFd = -1;
    std::lock_guard<std::mutex> lock(d.mutex);
    close(d.wakeRead);
    close(d.wakeWrite);
    d.wakeRead = d.wakeWrite = -1;
    // Status handles stay valid: a late SetServiceStatus finds the
    // dispatcher gone rather than freed memory.
    d.running = false;
    return TRUE;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(const wchar_t* serviceName,
                                                  LPHANDLER_FUNCTION handler) {
    if (!serviceName || !handler) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Dispatcher& d = State();
    std::lock_guard<std::mutex> lock(d.mutex);
    for (ScmStatusObject* service : d.running ? d.services : std::vector<ScmStatusObject*>{}) {
        if (service->name == serviceName) {
            service->handler = handler;
            return service;
        }
    }
    SetLastError(ERROR_SERVICE_NOT_IN_EXE);
    return nullptr;
}

BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status) {
    if (!status) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (status->dwCurrentState < SERVICE_STOPPED || status->dwCurrentState > SERVICE_PAUSED) {
        SetLastError(ERROR_INVALID_DATA);
        return FALSE;
    }
    Dispatcher& d = State();
    bool written = false;
    int error = 0;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        bool known = false;
        for (ScmStatusObject* service : d.services) {
            known = known || service == handle;
        }
        if (!known || !d.running) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        handle->status = *status;
        handle->reported = true;
        written = WriteStatusFile(handle->name, *status);
        error = errno;
        sd_notify(0, NotifyText(*status).c_str());
    }
    Wake(kWakeStatus);
    if (!written) {
        SetLastError(ErrorFromErrno(error));
        return FALSE;
    }
    return TRUE;
}
