#include "ServiceHost.h"

#include <cwchar>
#include <cwctype>

#include "Log.h"
#include "ResourceManager.h"
#include "Version.h"

namespace telvane {

SERVICE_STATUS g_ServiceStatus{};
SERVICE_STATUS_HANDLE g_hServiceStatus = nullptr;
HANDLE g_hStopEvent = nullptr;

namespace {

bool EqualsIgnoringCase(const wchar_t* text, const wchar_t* word) {
    for (; *text && *word; ++text, ++word) {
        if (std::towlower(static_cast<wint_t>(*text)) !=
            std::towlower(static_cast<wint_t>(*word))) {
            return false;
        }
    }
    return *text == *word;
}

// Both threads report g_ServiceStatus; the lock keeps each report whole.
std::mutex g_StatusLock;

void ReportStatus() {
    std::lock_guard<std::mutex> lock(g_StatusLock);
    SERVICE_STATUS copy = g_ServiceStatus;
    SetServiceStatus(g_hServiceStatus, &copy);
}

void SetStateAndReport(DWORD state) {
    {
        std::lock_guard<std::mutex> lock(g_StatusLock);
        g_ServiceStatus.dwCurrentState = state;
    }
    ReportStatus();
}

void ReportDeleteFailure(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
        LogQuick(LOG_ERROR, "UninstallService - Access Denied while trying to remove YARVOSPSvc");
        wprintf(L"Access Denied while trying to remove YARVOSPSvc\n");
        break;
    case ERROR_INVALID_HANDLE:
        LogQuick(LOG_ERROR, "UninstallService - Handle invalid while trying to remove YARVOSPSvc");
        wprintf(L"Handle invalid while trying to remove YARVOSPSvc\n");
        break;
    case ERROR_SERVICE_MARKED_FOR_DELETE:
        LogQuick(LOG_ERROR, "UninstallService - YARVOSPSvc already marked for deletion");
        wprintf(L"YARVOSPSvc already marked for deletion\n");
        break;
    default:
        break;
    }
}

void RemoveIfStopped(SC_HANDLE service) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status)) {
        DWORD error = GetLastError();
        Log(LOG_ERROR, "UninstallService - QueryServiceStatus failed, error=0x%08x", error);
        wprintf(L"UninstallService - QueryServiceStatus failed, error=0x%08x\n", error);
        return;
    }
    if (status.dwCurrentState != SERVICE_STOPPED) {
        LogQuick(LOG_ERROR, "YARVOSPSvc is still running");
        wprintf(L"YARVOSPSvc is still running\n");
        return;
    }
    if (DeleteService(service)) {
        LogQuick(LOG_STATUS, "UninstallService - YARVOSPSvc removed successfully");
        wprintf(L"YARVOSPSvc removed successfully\n");
        return;
    }
    ReportDeleteFailure(GetLastError());
}

} // namespace

int _tmain(int argc, wchar_t** argv) {
    LogQuick(LOG_TRACE, ">> _tmain");
    if (argc < 2) {
        RunService();
    } else if (EqualsIgnoringCase(argv[1], L"install")) {
        InstallService();
    } else if (EqualsIgnoringCase(argv[1], L"remove")) {
        UninstallService();
    } else {
        RunService();
    }
    LogQuick(LOG_TRACE, "<< _tmain");
    return 0;
}

void InstallService() {
    LogQuick(LOG_TRACE, ">> InstallService");
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (manager) {
        wchar_t path[261] = {};
        DWORD length = GetModuleFileNameW(nullptr, path, 261);
        // A cut path would install a service that cannot start.
        if (length > 0 && length < 261) {
            SC_HANDLE service =
                CreateServiceW(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                               SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_IGNORE,
                               path, nullptr, nullptr, nullptr, nullptr, nullptr);
            if (service) {
                CloseServiceHandle(service);
                LogQuick(LOG_STATUS, "InstallService - YARVOSPSvc Installed Successfully");
                wprintf(L"YARVOSPSvc Installed Successfully\n");
            } else {
                DWORD error = GetLastError();
                if (error == ERROR_SERVICE_EXISTS) {
                    LogQuick(LOG_ERROR, "InstallService - ERROR_SERVICE_EXISTS");
                    wprintf(L"YARVOSPSvc Already Exists\n");
                } else {
                    Log(LOG_ERROR, "InstallService - error=0x%x", error);
                    wprintf(L"YARVOSPSvc was not installed successfully. Error Code: 0x%08x\n",
                            error);
                }
            }
        }
        CloseServiceHandle(manager);
    }
    LogQuick(LOG_TRACE, "<< InstallService");
}

void UninstallService() {
    LogQuick(LOG_TRACE, ">> UninstallService");
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) {
        DWORD error = GetLastError();
        Log(LOG_ERROR, "UninstallService - OpenSCManager failed, error=0x%08x", error);
        wprintf(L"UninstallService - OpenSCManager failed, error=0x%08x\n", error);
    } else {
        SC_HANDLE service = OpenServiceW(manager, kServiceName, DELETE | SERVICE_QUERY_STATUS);
        if (!service) {
            DWORD error = GetLastError();
            Log(LOG_ERROR, "UninstallService - OpenService failed, error=0x%08x", error);
            wprintf(L"UninstallService - OpenService failed, error=0x%08x\n", error);
        } else {
            RemoveIfStopped(service);
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
    }
    LogQuick(LOG_TRACE, "<< UninstallService");
}

void RunService() {
    LogQuick(LOG_TRACE, ">> RunService");
    static wchar_t name[] = L"YARVOSPSvc";
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table)) {
        DWORD error = GetLastError();
        if (error == ERROR_INVALID_DATA || error == ERROR_SERVICE_ALREADY_RUNNING) {
            LogQuick(LOG_ERROR,
                     "RunService - StartServiceCtrlDispatcher failed, ERROR_INVALID_DATA");
        } else if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
            LogQuick(LOG_ERROR, "RunService - StartServiceCtrlDispatcher failed, "
                                "ERROR_FAILED_SERVICE_CONTROLLER_CONNECT");
        } else {
            Log(LOG_ERROR, "RunService - StartServiceCtrlDispatcher failed, error=0x%x", error);
        }
    }
    LogQuick(LOG_TRACE, "<< RunService");
}

void ServiceMain(DWORD /*argc*/, wchar_t** /*argv*/) {
    LogQuick(LOG_TRACE, ">> ServiceMain");
    {
        std::lock_guard<std::mutex> lock(g_StatusLock);
        g_ServiceStatus = SERVICE_STATUS{SERVICE_WIN32, SERVICE_STOPPED, 0, 0, 0, 0, 0};
    }
    g_hServiceStatus = RegisterServiceCtrlHandlerW(kServiceName, ServiceControlHandler);
    if (!g_hServiceStatus) {
        Log(LOG_ERROR, "ServiceMain - RegisterServiceCtrlHandler failed, error=%x", GetLastError());
        LogQuick(LOG_TRACE, "<< ServiceMain");
        return;
    }
    SetStateAndReport(SERVICE_START_PENDING);
    g_hStopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    {
        std::lock_guard<std::mutex> lock(g_StatusLock);
        g_ServiceStatus.dwControlsAccepted |= SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    }
    SetStateAndReport(SERVICE_RUNNING);

    HRESULT result = Process();
    if (FAILED(result)) {
        std::lock_guard<std::mutex> lock(g_StatusLock);
        g_ServiceStatus.dwWin32ExitCode = static_cast<DWORD>(result);
        g_ServiceStatus.dwServiceSpecificExitCode = static_cast<DWORD>(result);
    }
    SetStateAndReport(SERVICE_STOP_PENDING);
    CloseHandle(g_hStopEvent);
    g_hStopEvent = nullptr;
    LogQuick(LOG_STATUS, "Service is Stopped");
    {
        std::lock_guard<std::mutex> lock(g_StatusLock);
        g_ServiceStatus.dwControlsAccepted &= ~(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
    }
    SetStateAndReport(SERVICE_STOPPED);
    LogQuick(LOG_TRACE, "<< ServiceMain");
}

void ServiceControlHandler(DWORD code) {
    switch (code) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        LogQuick(LOG_INFO, "ServiceControlHandler SHUTDOWN / STOP");
        SetStateAndReport(SERVICE_STOP_PENDING);
        SetEvent(g_hStopEvent);
        break;
    case SERVICE_CONTROL_PAUSE:
        LogQuick(LOG_INFO, "ServiceControlHandler PAUSE");
        ReportStatus();
        break;
    case SERVICE_CONTROL_CONTINUE:
        LogQuick(LOG_INFO, "ServiceControlHandler CONTINUE");
        ReportStatus();
        break;
    case SERVICE_CONTROL_INTERROGATE:
        LogQuick(LOG_INFO, "ServiceControlHandler INTERROGATE");
        ReportStatus();
        break;
    default:
        Log(LOG_INFO, "ServiceControlHandler Cntl Code=%x", code);
        ReportStatus();
        break;
    }
}

HRESULT Process() {
    Log(LOG_STATUS, "Starting 'Brindlemoor %s.%s.%s' service", kVersionMajor, kVersionMinor,
        kVersionBuild);
    LogQuick(LOG_INFO, "Process - Creating Resource Manager");
    HRESULT result = CResourceManager::Create();
    if (FAILED(result)) {
        Log(LOG_ERROR, "Process - Create Resource Manager failed, HRESULT=0x%08x",
            static_cast<unsigned>(result));
        CResourceManager::Destroy();
        return result;
    }
    LogQuick(LOG_INFO, "Process - Resource Manager created");
    LogQuick(LOG_STATUS, "Service is Running");
    WaitForSingleObject(g_hStopEvent, INFINITE);
    LogQuick(LOG_INFO, "Process - Destroying Resource Manager");
    CResourceManager::Destroy();
    LogQuick(LOG_INFO, "Process - Resource Manager destroyed");
    return result;
}

} // namespace telvane
