// Threads, events, waits, critical sections, interlocked counters, the
// millisecond tick count and the thread's last error, with the platform's
// names so the system's own steps read as written.
#pragma once

#include <cstdint>
#include <mutex>

#include "../base/WinTypes.h"

#define SVCP_PLATFORM_EXPORT __attribute__((visibility("default")))

// An event, a thread or nothing. Closed with CloseHandle by its creator.
struct PlatformObject;
using HANDLE = PlatformObject*;

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~uintptr_t{0});

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// Events: manual-reset events stay signalled until reset; auto-reset events
// release one wait and reset themselves.
SVCP_PLATFORM_EXPORT HANDLE CreateEventW(void* attributes, BOOL manualReset, BOOL initialState,
                                         const wchar_t* name);
SVCP_PLATFORM_EXPORT BOOL SetEvent(HANDLE event);
SVCP_PLATFORM_EXPORT BOOL ResetEvent(HANDLE event);

// Threads: a thread handle is signalled once the thread has returned.
using LPTHREAD_START_ROUTINE = DWORD (*)(void* parameter);
SVCP_PLATFORM_EXPORT HANDLE CreateThread(void* attributes, size_t stackSize,
                                         LPTHREAD_START_ROUTINE start, void* parameter,
                                         DWORD flags, DWORD* threadId);
SVCP_PLATFORM_EXPORT BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
SVCP_PLATFORM_EXPORT DWORD GetCurrentThreadId();

// Waits. With several handles the lowest-indexed signalled one wins;
// WAIT_OBJECT_0 + index is returned.
SVCP_PLATFORM_EXPORT DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
SVCP_PLATFORM_EXPORT DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles,
                                                  BOOL waitAll, DWORD milliseconds);
// Closing a thread handle of a thread that still runs detaches it.
SVCP_PLATFORM_EXPORT BOOL CloseHandle(HANDLE handle);
SVCP_PLATFORM_EXPORT void Sleep(DWORD milliseconds);

// Critical sections are recursive for the thread that holds them.
struct CRITICAL_SECTION {
    std::recursive_mutex* mutex = nullptr;
};
SVCP_PLATFORM_EXPORT void InitializeCriticalSection(CRITICAL_SECTION* section);
SVCP_PLATFORM_EXPORT void DeleteCriticalSection(CRITICAL_SECTION* section);
SVCP_PLATFORM_EXPORT void EnterCriticalSection(CRITICAL_SECTION* section);
SVCP_PLATFORM_EXPORT void LeaveCriticalSection(CRITICAL_SECTION* section);

// Interlocked counters return the new value.
inline LONG InterlockedIncrement(volatile LONG* value) {
    return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(volatile LONG* value) {
    return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(volatile LONG* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

// Milliseconds since an arbitrary start, wrapping at 2^32.
SVCP_PLATFORM_EXPORT DWORD GetTickCount();

// The calling thread's last error.
SVCP_PLATFORM_EXPORT DWORD GetLastError();
SVCP_PLATFORM_EXPORT void SetLastError(DWORD error);

namespace svcproc::platform {
// A handle of another layer (a device file, say): CloseHandle calls `close`
// with `context` when the last reference goes. Used by the layers that hand
// out HANDLEs of their own.
SVCP_PLATFORM_EXPORT HANDLE CreateLayerHandle(void* context, void (*close)(void* context));
// The context of a layer handle made with that `close`, or null for any
// other handle.
SVCP_PLATFORM_EXPORT void* GetLayerHandleContext(HANDLE handle, void (*close)(void* context));

// Test hook: from now on GetTickCount answers `ticks` (and what AdvanceTickCount
// adds) instead of the clock, in every module of the process.
SVCP_PLATFORM_EXPORT void SetTickCountForTest(DWORD ticks);
SVCP_PLATFORM_EXPORT void AdvanceTickCountForTest(DWORD milliseconds);
// Back to the real clock.
SVCP_PLATFORM_EXPORT void UseRealTickCount();
} // namespace svcproc::platform
