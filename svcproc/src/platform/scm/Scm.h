// Service control manager on systemd conventions.
//
// The service database is a unit directory (SVCPROC_SCM_UNIT_DIR, default
// /etc/systemd/system): a service is the unit file <name>.service there, and
// auto start is the unit's link in multi-user.target.wants/ (what enabling
// the unit does). A running service reports its status with sd_notify and in
// the status file $SVCPROC_RUNTIME_DIR/scm/<name>.status (default runtime dir
// /run/svcproc), which QueryServiceStatus reads. The dispatcher serves a
// process only when a manager started it (NOTIFY_SOCKET set, or
// SVCPROC_SCM=1); SIGTERM arrives as SERVICE_CONTROL_STOP.
#pragma once

#include <cstdint>

#include "../base/WinTypes.h"

#define SVCP_SCM_EXPORT __attribute__((visibility("default")))

// Codes of this layer that the base set does not carry.
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_SERVICE_ALREADY_RUNNING = 1056;
constexpr DWORD ERROR_DATABASE_DOES_NOT_EXIST = 1065;
constexpr DWORD ERROR_PROCESS_ABORTED = 1067;
constexpr DWORD ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
constexpr DWORD ERROR_SERVICE_NOT_IN_EXE = 1083;

struct ScmObject;
using SC_HANDLE = ScmObject*;
struct ScmStatusObject;
using SERVICE_STATUS_HANDLE = ScmStatusObject*;

// Manager access.
constexpr DWORD SC_MANAGER_CONNECT = 0x0001;
constexpr DWORD SC_MANAGER_CREATE_SERVICE = 0x0002;
constexpr DWORD SC_MANAGER_ALL_ACCESS = 0x000F003F;

// Service access.
constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
constexpr DWORD DELETE = 0x00010000;
constexpr DWORD SERVICE_ALL_ACCESS = 0x000F01FF;

// Service types.
constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;
constexpr DWORD SERVICE_WIN32_SHARE_PROCESS = 0x20;
constexpr DWORD SERVICE_WIN32 = 0x30;

// Start types and error control.
constexpr DWORD SERVICE_AUTO_START = 2;
constexpr DWORD SERVICE_DEMAND_START = 3;
constexpr DWORD SERVICE_DISABLED = 4;
constexpr DWORD SERVICE_ERROR_IGNORE = 0;
constexpr DWORD SERVICE_ERROR_CRITICAL = 3;

// States.
constexpr DWORD SERVICE_STOPPED = 1;
constexpr DWORD SERVICE_START_PENDING = 2;
constexpr DWORD SERVICE_STOP_PENDING = 3;
constexpr DWORD SERVICE_RUNNING = 4;
constexpr DWORD SERVICE_CONTINUE_PENDING = 5;
constexpr DWORD SERVICE_PAUSE_PENDING = 6;
constexpr DWORD SERVICE_PAUSED = 7;

// Accepted controls and control codes.
constexpr DWORD SERVICE_ACCEPT_STOP = 0x1;
constexpr DWORD SERVICE_ACCEPT_PAUSE_CONTINUE = 0x2;
constexpr DWORD SERVICE_ACCEPT_SHUTDOWN = 0x4;
constexpr DWORD SERVICE_CONTROL_STOP = 1;
constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
constexpr DWORD SERVICE_CONTROL_CONTINUE = 3;
constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
constexpr DWORD SERVICE_CONTROL_SHUTDOWN = 5;

struct SERVICE_STATUS {
    DWORD dwServiceType;
    DWORD dwCurrentState;
    DWORD dwControlsAccepted;
    DWORD dwWin32ExitCode;
    DWORD dwServiceSpecificExitCode;
    DWORD dwCheckPoint;
    DWORD dwWaitHint;
};

using LPSERVICE_MAIN_FUNCTIONW = void (*)(DWORD argc, wchar_t** argv);
using LPHANDLER_FUNCTION = void (*)(DWORD control);

struct SERVICE_TABLE_ENTRYW {
    const wchar_t* lpServiceName;
    LPSERVICE_MAIN_FUNCTIONW lpServiceProc;
};

// The database. Every failure returns null or FALSE and sets the last error.
SVCP_SCM_EXPORT SC_HANDLE OpenSCManagerW(const wchar_t* machineName, const wchar_t* databaseName,
                                         DWORD desiredAccess);
// `binaryPathName` is the absolute path of the program; `dependencies` a
// double-null-terminated list of service names or null. Only the local
// system account (null or "LocalSystem") runs the services here.
SVCP_SCM_EXPORT SC_HANDLE CreateServiceW(SC_HANDLE manager, const wchar_t* serviceName,
                                         const wchar_t* displayName, DWORD desiredAccess,
                                         DWORD serviceType, DWORD startType, DWORD errorControl,
                                         const wchar_t* binaryPathName,
                                         const wchar_t* loadOrderGroup, DWORD* tagId,
                                         const wchar_t* dependencies,
                                         const wchar_t* serviceStartName, const wchar_t* password);
SVCP_SCM_EXPORT SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* serviceName,
                                       DWORD desiredAccess);
SVCP_SCM_EXPORT BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status);
SVCP_SCM_EXPORT BOOL DeleteService(SC_HANDLE service);
SVCP_SCM_EXPORT BOOL CloseServiceHandle(SC_HANDLE handle);

// The dispatcher: runs each entry's service main on a thread of its own and
// returns once all of them have returned. Control handlers run on the
// calling thread.
SVCP_SCM_EXPORT BOOL StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table);
SVCP_SCM_EXPORT SERVICE_STATUS_HANDLE RegisterServiceCtrlHandlerW(const wchar_t* serviceName,
                                                                  LPHANDLER_FUNCTION handler);
SVCP_SCM_EXPORT BOOL SetServiceStatus(SERVICE_STATUS_HANDLE handle, SERVICE_STATUS* status);

// The full path of the running program (module null) into `buffer`, cut to
// `size` characters with the terminator; returns the length written, 0 on
// failure. A path that does not fit is cut, `size` is returned and the last
// error is ERROR_INSUFFICIENT_BUFFER.
SVCP_SCM_EXPORT DWORD GetModuleFileNameW(void* module, wchar_t* buffer, DWORD size);
