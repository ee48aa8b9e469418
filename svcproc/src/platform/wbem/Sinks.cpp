#include <chrono>
#include <new>
#include <utility>

#include "WbemInternal.h"

namespace svcproc::wbem {

CObjectCollector* CObjectCollector::Create() {
    return new (std::nothrow) CObjectCollector;
}

CObjectCollector::~CObjectCollector() {
    for (IWbemClassObject* object : m_vObjects) {
        object->Release();
    }
}

HRESULT CObjectCollector::Indicate(LONG lObjectCount, IWbemClassObject** apObjArray) {
    if (lObjectCount < 0 || (lObjectCount > 0 && apObjArray == nullptr)) {
        return WBEM_E_INVALID_PARAMETER;
    }
    std::lock_guard lock(m_Mutex);
    for (LONG i = 0; i < lObjectCount; ++i) {
        if (apObjArray[i] == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
    }
    for (LONG i = 0; i < lObjectCount; ++i) {
        apObjArray[i]->AddRef();
        m_vObjects.push_back(apObjArray[i]);
    }
    m_Changed.notify_all();
    return WBEM_S_NO_ERROR;
}

HRESULT CObjectCollector::SetStatus(LONG, HRESULT hResult, BSTR, IWbemClassObject*) {
    std::lock_guard lock(m_Mutex);
    ++m_nStatusCalls;
    m_hrStatus = hResult;
    m_Changed.notify_all();
    return WBEM_S_NO_ERROR;
}

std::vector<IWbemClassObject*> CObjectCollector::TakeObjects() {
    std::lock_guard lock(m_Mutex);
    return std::exchange(m_vObjects, {});
}

size_t CObjectCollector::ObjectCount() const {
    std::lock_guard lock(m_Mutex);
    return m_vObjects.size();
}

bool CObjectCollector::HasStatus() const {
    std::lock_guard lock(m_Mutex);
    return m_nStatusCalls > 0;
}

HRESULT CObjectCollector::Status() const {
    std::lock_guard lock(m_Mutex);
    return m_hrStatus;
}

int CObjectCollector::StatusCalls() const {
    std::lock_guard lock(m_Mutex);
    return m_nStatusCalls;
}

bool CObjectCollector::WaitForStatus(uint32_t milliseconds) const {
    std::unique_lock lock(m_Mutex);
    return m_Changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return m_nStatusCalls > 0; });
}

bool CObjectCollector::WaitForObjects(size_t count, uint32_t milliseconds) const {
    std::unique_lock lock(m_Mutex);
    return m_Changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this, count] { return m_vObjects.size() >= count; });
}

CInitStatusSink* CInitStatusSink::Create() {
    return new (std::nothrow) CInitStatusSink;
}

HRESULT CInitStatusSink::SetStatus(LONG lStatus, LONG) {
    std::lock_guard lock(m_Mutex);
    m_bHasStatus = true;
    m_lStatus = lStatus;
    m_Changed.notify_all();
    return WBEM_S_NO_ERROR;
}

bool CInitStatusSink::HasStatus() const {
    std::lock_guard lock(m_Mutex);
    return m_bHasStatus;
}

LONG CInitStatusSink::Status() const {
    std::lock_guard lock(m_Mutex);
    return m_lStatus;
}

bool CInitStatusSink::WaitForStatus(uint32_t milliseconds) const {
    std::unique_lock lock(m_Mutex);
    return m_Changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return m_bHasStatus; });
}

} // namespace svcproc::wbem
