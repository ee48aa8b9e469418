// The registered sensor-state listeners. Callers register and unregister on
// their threads while the polling thread calls the listeners, so:
//  - the list is guarded and copied before the calls; no lock is held while
//    a listener runs;
//  - a listener is never called once Unregister has returned: Unregister
//    waits for a call of that listener in flight on another thread;
//  - a listener may unregister itself (or another) from inside its own call
//    without deadlock: a thread never waits for the calls it is making.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "ServiceApi.h"

class CListenerList {
public:
    // False when the pointer was already in the list.
    bool Add(ISensorStateListener* listener);
    // False when the pointer was not in the list.
    bool Remove(ISensorStateListener* listener);
    size_t Count() const;

    // Calls `call` for every listener registered at the start, in
    // registration order, skipping those unregistered meanwhile.
    template <typename Call> void ForEach(Call&& call) {
        for (ISensorStateListener* listener : Snapshot()) {
            if (!BeginCall(listener)) {
                continue;
            }
            try {
                call(listener);
            } catch (...) {
                // A listener's failure is its own; the others still hear.
            }
            EndCall(listener);
        }
    }

private:
    struct InFlight {
        ISensorStateListener* listener;
        std::thread::id thread;
    };

    std::vector<ISensorStateListener*> Snapshot() const;
    bool BeginCall(ISensorStateListener* listener);
    void EndCall(ISensorStateListener* listener);
    bool IsRegisteredLocked(ISensorStateListener* listener) const;
    bool IsCalledElsewhereLocked(ISensorStateListener* listener) const;

    mutable std::mutex m_Mutex;
    std::condition_variable m_CallEnded;
    std::vector<ISensorStateListener*> m_vListeners;
    std::vector<InFlight> m_vInFlight;
};
