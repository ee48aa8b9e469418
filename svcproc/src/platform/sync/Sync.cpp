// One process-wide mutex and condition variable carry every event and thread
// state, so a wait on several handles sees them all change atomically and
// picks the lowest-indexed signalled one. The objects are few and waits
// rare, so the shared wake-up costs nothing that matters here.
#include "Sync.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <thread>
#include <unordered_set>

struct PlatformObject {
    enum class Kind { Event, Thread, Layer } kind;
    bool manualReset = true;
    bool signalled = false;
    int references = 1; // the creator's handle, plus a running thread
    DWORD exitCode = 0;
    void* layerContext = nullptr;
    void (*layerClose)(void*) = nullptr;
};

namespace {

std::mutex& GlobalMutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

std::condition_variable& GlobalChanged() {
    static std::condition_variable* changed = new std::condition_variable;
    return *changed;
}

// Handles are object addresses. The set of live ones lets a closed handle be
// refused with ERROR_INVALID_HANDLE instead of being read after it was freed.
std::unordered_set<PlatformObject*>& LiveObjects() {
    static auto* live = new std::unordered_set<PlatformObject*>;
    return *live;
}

PlatformObject* Track(PlatformObject* object) {
    std::lock_guard<std::mutex> lock(GlobalMutex());
    LiveObjects().insert(object);
    return object;
}

// Returns the layer close routine to run once the global lock is released.
void ReleaseLocked(PlatformObject* object, void (**layerClose)(void*), void** layerContext) {
    if (--object->references == 0) {
        *layerClose = object->layerClose;
        *layerContext = object->layerContext;
        LiveObjects().erase(object);
        delete object;
    }
}

void ReleaseLocked(PlatformObject* object) {
    void (*close)(void*) = nullptr;
    void* context = nullptr;
    ReleaseLocked(object, &close, &context);
}

// Returns the index of the first signalled handle, consuming auto-reset
// events, or -1.
int FirstSignalledLocked(DWORD count, const HANDLE* handles, bool waitAll) {
    if (waitAll) {
        for (DWORD i = 0; i < count; ++i) {
            if (!handles[i]->signalled) {
                return -1;
            }
        }
        for (DWORD i = 0; i < count; ++i) {
            if (handles[i]->kind == PlatformObject::Kind::Event && !handles[i]->manualReset) {
                handles[i]->signalled = false;
            }
        }
        return 0;
    }
    for (DWORD i = 0; i < count; ++i) {
        PlatformObject* object = handles[i];
        if (object->signalled) {
            if (object->kind == PlatformObject::Kind::Event && !object->manualReset) {
                object->signalled = false;
            }
            return static_cast<int>(i);
        }
    }
    return -1;
}

thread_local DWORD t_lastError = 0;

std::atomic<bool> g_tickOverridden{false};
std::atomic<DWORD> g_tickOverride{0};

} // namespace

HANDLE CreateEventW(void*, BOOL manualReset, BOOL initialState, const wchar_t*) {
    auto* event = new PlatformObject{PlatformObject::Kind::Event};
    event->manualReset = manualReset != FALSE;
    event->signalled = initialState != FALSE;
    return Track(event);
}

BOOL SetEvent(HANDLE event) {
    if (event == nullptr || event->kind != PlatformObject::Kind::Event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    {
        std::lock_guard<std::mutex> lock(GlobalMutex());
        event->signalled = true;
    }
    GlobalChanged().notify_all();
    return TRUE;
}

BOOL ResetEvent(HANDLE event) {
    if (event == nullptr || event->kind != PlatformObject::Kind::Event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(GlobalMutex());
    event->signalled = false;
    return TRUE;
}

HANDLE CreateThread(void*, size_t, LPTHREAD_START_ROUTINE start, void* parameter, DWORD,
                    DWORD* threadId) {
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* thread = new PlatformObject{PlatformObject::Kind::Thread};
    thread->references = 2;
    Track(thread);
    std::atomic<DWORD> id{0};
    std::atomic<bool> started{false};
    try {
        std::thread worker([thread, start, parameter, &id, &started] {
            id = GetCurrentThreadId();
            started = true;
            started.notify_one();
            DWORD code = start(parameter);
            {
                std::lock_guard<std::mutex> lock(GlobalMutex());
                thread->exitCode = code;
                thread->signalled = true;
                ReleaseLocked(thread);
            }
            GlobalChanged().notify_all();
        });
        worker.detach();
    } catch (...) {
        {
            std::lock_guard<std::mutex> lock(GlobalMutex());
            LiveObjects().erase(thread);
        }
        delete thread;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    started.wait(false);
    if (threadId != nullptr) {
        *threadId = id;
    }
    return thread;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    if (thread == nullptr || thread->kind != PlatformObject::Kind::Thread || exitCode == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(GlobalMutex());
    *exitCode = thread->signalled ? thread->exitCode : 259 /* STILL_ACTIVE */;
    return TRUE;
}

DWORD GetCurrentThreadId() {
    static std::atomic<DWORD> next{1};
    thread_local DWORD id = next++;
    return id;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                             DWORD milliseconds) {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    for (DWORD i = 0; i < count; ++i) {
        if (handles[i] == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(GlobalMutex());
    for (;;) {
        int index = FirstSignalledLocked(count, handles, waitAll != FALSE);
        if (index >= 0) {
            return WAIT_OBJECT_0 + static_cast<DWORD>(index);
        }
        if (milliseconds == INFINITE) {
            GlobalChanged().wait(lock);
        } else if (GlobalChanged().wait_until(lock, deadline) == std::cv_status::timeout) {
            index = FirstSignalledLocked(count, handles, waitAll != FALSE);
            return index >= 0 ? WAIT_OBJECT_0 + static_cast<DWORD>(index) : WAIT_TIMEOUT;
        }
    }
}

BOOL CloseHandle(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    void (*close)(void*) = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> lock(GlobalMutex());
        if (LiveObjects().count(handle) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        ReleaseLocked(handle, &close, &context);
    }
    if (close != nullptr) {
        close(context);
    }
    return TRUE;
}

void Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void InitializeCriticalSection(CRITICAL_SECTION* section) {
    section->mutex = new std::recursive_mutex;
}

void DeleteCriticalSection(CRITICAL_SECTION* section) {
    delete section->mutex;
    section->mutex = nullptr;
}

void EnterCriticalSection(CRITICAL_SECTION* section) { section->mutex->lock(); }

void LeaveCriticalSection(CRITICAL_SECTION* section) { section->mutex->unlock(); }

DWORD GetTickCount() {
    if (g_tickOverridden.load()) {
        return g_tickOverride.load();
    }
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
    return static_cast<DWORD>(static_cast<uint64_t>(ms));
}

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD error) { t_lastError = error; }

namespace svcproc::platform {
HANDLE CreateLayerHandle(void* context, void (*close)(void* context)) {
    auto* object = new PlatformObject{PlatformObject::Kind::Layer};
    object->layerContext = context;
    object->layerClose = close;
    return Track(object);
}

void* GetLayerHandleContext(HANDLE handle, void (*close)(void* context)) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(GlobalMutex());
    if (LiveObjects().count(handle) == 0 || handle->kind != PlatformObject::Kind::Layer ||
        handle->layerClose != close) {
        return nullptr;
    }
    return handle->layerContext;
}

void SetTickCountForTest(DWORD ticks) {
    g_tickOverride = ticks;
    g_tickOverridden = true;
}

void AdvanceTickCountForTest(DWORD milliseconds) { g_tickOverride += milliseconds; }

void UseRealTickCount() { g_tickOverridden = false; }
} // namespace svcproc::platform
