#include "ListenerList.h"

#include <algorithm>

bool CListenerList::Add(ISensorStateListener* listener) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (IsRegisteredLocked(listener)) {
        return false;
    }
    m_vListeners.push_back(listener);
    return true;
}

bool CListenerList::Remove(ISensorStateListener* listener) {
    std::unique_lock<std::mutex> lock(m_Mutex);
    auto found = std::find(m_vListeners.begin(), m_vListeners.end(), listener);
    if (found == m_vListeners.end()) {
        return false;
    }
    m_vListeners.erase(found);
    m_CallEnded.wait(lock, [&] { return !IsCalledElsewhereLocked(listener); });
    return true;
}

size_t CListenerList::Count() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_vListeners.size();
}

std::vector<ISensorStateListener*> CListenerList::Snapshot() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_vListeners;
}

bool CListenerList::BeginCall(ISensorStateListener* listener) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!IsRegisteredLocked(listener)) {
        return false;
    }
    m_vInFlight.push_back({listener, std::this_thread::get_id()});
    return true;
}

void CListenerList::EndCall(ISensorStateListener* listener) {
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        const std::thread::id self = std::this_thread::get_id();
        auto found = std::find_if(m_vInFlight.begin(), m_vInFlight.end(), [&](const InFlight& c) {
            return c.listener == listener && c.thread == self;
        });
        if (found != m_vInFlight.end()) {
            m_vInFlight.erase(found);
        }
    }
    m_CallEnded.notify_all();
}

bool CListenerList::IsRegisteredLocked(ISensorStateListener* listener) const {
    return std::find(m_vListeners.begin(), m_vListeners.end(), listener) != m_vListeners.end();
}

bool CListenerList::IsCalledElsewhereLocked(ISensorStateListener* listener) const {
    const std::thread::id self = std::this_thread::get_id();
    return std::any_of(m_vInFlight.begin(), m_vInFlight.end(), [&](const InFlight& c) {
        return c.listener == listener && c.thread != self;
    });
}
