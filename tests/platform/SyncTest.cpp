#include "Sync.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

struct Handles {
    HANDLE a = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE b = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ~Handles() {
        CloseHandle(a);
        CloseHandle(b);
    }
};

TEST(Events, ManualResetStaysSignalledAutoResetReleasesOneWait) {
    Handles h;
    SetEvent(h.a);
    SetEvent(h.b);
    EXPECT_EQ(WaitForSingleObject(h.a, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(h.a, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(h.b, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(h.b, 0), WAIT_TIMEOUT);
    ResetEvent(h.a);
    EXPECT_EQ(WaitForSingleObject(h.a, 10), WAIT_TIMEOUT);
}

TEST(Events, WaitAnyFirstSignalledHandleWins) {
    Handles h;
    SetEvent(h.a);
    SetEvent(h.b);
    HANDLE both[] = {h.b, h.a};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
    // b was auto-reset by that wait, so a wins now.
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
}

TEST(Events, WaitWakesWhenAnotherThreadSets) {
    Handles h;
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* event) -> DWORD {
            Sleep(20);
            SetEvent(static_cast<HANDLE>(event));
            return 7;
        },
        h.b, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    HANDLE both[] = {h.a, h.b};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 5000), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(thread);
}

TEST(Waits, RejectBadArguments) {
    EXPECT_EQ(WaitForMultipleObjects(0, nullptr, FALSE, 0), WAIT_FAILED);
    HANDLE none = nullptr;
    EXPECT_EQ(WaitForSingleObject(none, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    static std::atomic<int> inside{0};
    static int counter = 0;
    auto worker = [](void* s) -> DWORD {
        for (int i = 0; i < 10000; ++i) {
            EnterCriticalSection(static_cast<CRITICAL_SECTION*>(s));
            EnterCriticalSection(static_cast<CRITICAL_SECTION*>(s));
            if (++inside != 1) {
                return 1;
            }
            ++counter;
            --inside;
            LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(s));
            LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(s));
        }
        return 0;
    };
    HANDLE t1 = CreateThread(nullptr, 0, worker, &section, 0, nullptr);
    HANDLE t2 = CreateThread(nullptr, 0, worker, &section, 0, nullptr);
    HANDLE both[] = {t1, t2};
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 10000), WAIT_OBJECT_0);
    DWORD c1 = 9, c2 = 9;
    GetExitCodeThread(t1, &c1);
    GetExitCodeThread(t2, &c2);
    EXPECT_EQ(c1 + c2, 0u);
    EXPECT_EQ(counter, 20000);
    CloseHandle(t1);
    CloseHandle(t2);
    DeleteCriticalSection(&section);
}

TEST(Interlocked, ReturnsNewValues) {
    volatile LONG value = 0;
    EXPECT_EQ(InterlockedIncrement(&value), 1);
    EXPECT_EQ(InterlockedDecrement(&value), 0);
    EXPECT_EQ(InterlockedExchange(&value, 5), 0);
    EXPECT_EQ(InterlockedCompareExchange(&value, 9, 5), 5);
    EXPECT_EQ(value, 9);
}

TEST(TickCount, HookSetsAndWrapsTheClock) {
    svcproc::platform::SetTickCountForTest(0xFFFFFFF0u);
    EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
    svcproc::platform::AdvanceTickCountForTest(0x20);
    EXPECT_EQ(GetTickCount(), 0x10u);
    svcproc::platform::UseRealTickCount();
    DWORD first = GetTickCount();
    Sleep(15);
    EXPECT_GE(static_cast<DWORD>(GetTickCount() - first), 10u);
}

TEST(Handles, AClosedHandleIsRefusedNotReadAfterItWasFreed) {
    static int context = 0;
    void (*close)(void*) = [](void* c) { ++*static_cast<int*>(c); };
    HANDLE layer = svcproc::platform::CreateLayerHandle(&context, close);
    EXPECT_EQ(svcproc::platform::GetLayerHandleContext(layer, close), &context);
    EXPECT_TRUE(CloseHandle(layer));
    EXPECT_EQ(context, 1);
    EXPECT_EQ(svcproc::platform::GetLayerHandleContext(layer, close), nullptr);
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(layer));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(context, 1);

    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

} // namespace
