// The program's modes: install, remove, or run as the service "YARVOSPSvc".
#pragma once

#include "com/HResult.h"
#include "scm/Scm.h"
#include "sync/Sync.h"

namespace telvane {

inline constexpr const wchar_t* kServiceName = L"YARVOSPSvc";

extern SERVICE_STATUS g_ServiceStatus;
extern SERVICE_STATUS_HANDLE g_hServiceStatus;
extern HANDLE g_hStopEvent;

int _tmain(int argc, wchar_t** argv);
void InstallService();
void UninstallService();
void RunService();
void ServiceMain(DWORD argc, wchar_t** argv);
void ServiceControlHandler(DWORD code);
HRESULT Process();

} // namespace telvane
