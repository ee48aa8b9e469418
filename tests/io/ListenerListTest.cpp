#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "io/ListenerList.h"

namespace {

class CountingListener : public ISensorStateListener {
public:
    void SensorStateChanged(uint32_t, uint32_t, int32_t) override { ++calls; }
    std::atomic<int> calls{0};
};

void CallAll(CListenerList& list) {
    list.ForEach([](ISensorStateListener* l) { l->SensorStateChanged(0x10000, 1, 0); });
}

} // namespace

TEST(ListenerList, KeepsRegistrationOrderWithoutDuplicates) {
    CListenerList list;
    CountingListener a, b;
    EXPECT_TRUE(list.Add(&a));
    EXPECT_TRUE(list.Add(&b));
    EXPECT_FALSE(list.Add(&a));
    EXPECT_EQ(2u, list.Count());

    std::vector<ISensorStateListener*> order;
    list.ForEach([&](ISensorStateListener* l) { order.push_back(l); });
    EXPECT_EQ((std::vector<ISensorStateListener*>{&a, &b}), order);

    EXPECT_FALSE(list.Remove(reinterpret_cast<ISensorStateListener*>(&order)));
    EXPECT_TRUE(list.Remove(&a));
    EXPECT_FALSE(list.Remove(&a));
    CallAll(list);
    EXPECT_EQ(0, a.calls);
    EXPECT_EQ(1, b.calls);
}

// A listener that removes itself and the next one from inside its call: no
// deadlock, and the removed one is not called in the same round.
TEST(ListenerList, RemovalFromInsideACallDoesNotDeadlock) {
    CListenerList list;
    CountingListener second;
    struct Remover : ISensorStateListener {
        CListenerList* list = nullptr;
        ISensorStateListener* other = nullptr;
        int calls = 0;
        void SensorStateChanged(uint32_t, uint32_t, int32_t) override {
            ++calls;
            list->Remove(this);
            list->Remove(other);
        }
    } remover;
    remover.list = &list;
    remover.other = &second;
    list.Add(&remover);
    list.Add(&second);
    CallAll(list);
    EXPECT_EQ(1, remover.calls);
    EXPECT_EQ(0, second.calls);
    EXPECT_EQ(0u, list.Count());
}

// Remove on another thread returns only after the call in flight ended.
TEST(ListenerList, RemoveWaitsForTheCallInFlight) {
    CListenerList list;
    struct Slow : ISensorStateListener {
        std::atomic<bool> entered{false};
        std::atomic<bool> finished{false};
        void SensorStateChanged(uint32_t, uint32_t, int32_t) override {
            entered = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            finished = true;
        }
    } slow;
    list.Add(&slow);
    std::thread caller([&] { CallAll(list); });
    while (!slow.entered) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(list.Remove(&slow));
    EXPECT_TRUE(slow.finished);
    caller.join();
}

TEST(ListenerList, AThrowingListenerDoesNotStopTheOthers) {
    CListenerList list;
    struct Thrower : ISensorStateListener {
        void SensorStateChanged(uint32_t, uint32_t, int32_t) override { throw 42; }
    } thrower;
    CountingListener after;
    list.Add(&thrower);
    list.Add(&after);
    CallAll(list);
    EXPECT_EQ(1, after.calls);
    EXPECT_TRUE(list.Remove(&thrower));
}
