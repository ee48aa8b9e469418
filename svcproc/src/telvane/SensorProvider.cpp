#include "SensorProvider.h"

#include "Log.h"
#include "ResourceManager.h"

namespace telvane {

namespace {

constexpr const char* kPrefix = "CSensorProvider";

unsigned Hr(HRESULT hr) {
    return static_cast<unsigned>(hr);
}

} // namespace

CSensorProvider::CSensorProvider() {
    InitializeCriticalSection(&m_Lock);
    LogQuick(LOG_INFO, "CSensorProvider Constructed");
}

CSensorProvider::~CSensorProvider() {
    DeleteCriticalSection(&m_Lock);
    for (BSTR* text : {&m_User, &m_Locale, &name_space}) {
        SysFreeString(*text);
    }
    if (m_pCoreService) {
        m_pCoreService->Release();
    }
    if (m_pSensorClass) {
        m_pSensorClass->Release();
    }
    if (m_pEventSink) {
        m_pEventSink->Release();
    }
    if (m_pAlertClass) {
        m_pAlertClass->Release();
    }
    SysFreeString(m_ComputerName);
    SysFreeString(m_OperatingSystemVersion);
    LogQuick(LOG_INFO, "CSensorProvider Destroyed");
}

ULONG CSensorProvider::AddRef() {
    LONG current = m_lRefCount;
    LONG updated = InterlockedIncrement(&m_lRefCount);
    Log(LOG_INFO, "CSensorProvider::AddRef - Current=%d, New=%d", current, updated);
    return static_cast<ULONG>(updated);
}

ULONG CSensorProvider::Release() {
    LONG current = m_lRefCount;
    LONG updated = InterlockedDecrement(&m_lRefCount);
    Log(LOG_INFO, "CSensorProvider::Release - Current=%d, New=%d", current, updated);
    if (updated == 0) {
        delete this;
    }
    return static_cast<ULONG>(updated);
}

HRESULT CSensorProvider::QueryInterface(REFIID riid, void** ppv) {
    Log(LOG_TRACE, "CSensorProvider::QueryInterface - ppv=0x%08x", Address(ppv));
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    IUnknown* found = nullptr;
    const char* text = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        found = static_cast<IWbemProviderInit*>(this);
        text = "CSensorProvider::QueryInterface - returning IUknown* 0x%08x";
    } else if (IsEqualIID(riid, IID_IWbemProviderInit)) {
        found = static_cast<IWbemProviderInit*>(this);
        text = "CSensorProvider::QueryInterface - returning IWbemProviderInit* 0x%08x";
    } else if (IsEqualIID(riid, IID_IWbemServices)) {
        found = static_cast<IWbemServices*>(this);
        text = "CSensorProvider::QueryInterface - returning IWbemServices* 0x%08x";
    } else if (IsEqualIID(riid, IID_IWbemEventProvider)) {
        found = static_cast<IWbemEventProvider*>(this);
        text = "CSensorProvider::QueryInterface - returning IWbemEventProvider* 0x%08x";
    } else if (IsEqualIID(riid, IID_IWbemShutdown)) {
        found = static_cast<IWbemShutdown*>(this);
        text = "CSensorProvider::QueryInterface - returning IWbemShutdown* 0x%08x";
    } else {
        return E_NOINTERFACE;
    }
    Log(LOG_INFO, text, Address(found));
    *ppv = found;
    found->AddRef();
    return S_OK;
}

ProviderInitFields CSensorProvider::InitFields() {
    return {
        &m_pCoreService,
        &name_space,
        &m_Locale,
        &m_User,
        &m_ComputerName,
        &m_OperatingSystemVersion,
        {{L"VQX_SpNumericSensor", &m_pSensorClass}, {L"VQX_SpNumericSensorAlert", &m_pAlertClass}}};
}

HRESULT CSensorProvider::Initialize(LPWSTR wszUser, LONG lFlags, LPWSTR wszNamespace,
                                    LPWSTR wszLocale, IWbemServices* core_service,
                                    IWbemContext* pCtx, IWbemProviderInitSink* pInitSink) {
    return InitializeProvider(kPrefix, InitFields(), wszUser, lFlags, wszNamespace, wszLocale,
                              core_service, pCtx, pInitSink);
}

HRESULT CSensorProvider::CheckClientAccess() {
    return telvane::CheckClientAccess(kPrefix);
}

HRESULT CSensorProvider::CreateInstanceEnumAsync(const BSTR strClass, LONG lFlags,
                                                 IWbemContext* pCtx,
                                                 IWbemObjectSink* pResponseHandler) {
    WLog(LOG_TRACE, L"CSensorProvider::CreateInstanceEnumAsync(%s,0x%08x,0x%08x,0x%08x)", strClass,
         static_cast<unsigned>(lFlags), Address(pCtx), Address(pResponseHandler));
    if (pResponseHandler == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    HRESULT result = WBEM_E_INVALID_CLASS;
    if (ClassNameMatches(strClass, L"VQX_SpNumericSensor")) {
        result = CheckClientAccess();
        if (FAILED(result)) {
            ReportStatus(pResponseHandler, WBEM_E_ACCESS_DENIED);
            return WBEM_E_ACCESS_DENIED;
        }
        CProviderDataAccess data;
        if (!data) {
            result = WBEM_E_SHUTTING_DOWN;
        } else {
            EnterCriticalSection(&m_Lock);
            int count = data->m_SensorMap.Count();
            for (int index = 0; index < count; ++index) {
                IWbemClassObject* instance = nullptr;
                result =
                    m_pSensorClass ? m_pSensorClass->SpawnInstance(0, &instance) : WBEM_E_FAILED;
                if (instance == nullptr) {
                    Log(LOG_ERROR,
                        "CSensorProvider::CreateInstanceEnumAsync - SpawnInstance failed, "
                        "HRESULT=0x%08x - continuing enum",
                        Hr(result));
                    continue;
                }
                CSpNumericSensor* record = data->GetSensorAt(index);
                if (record == nullptr) {
                    Log(LOG_ERROR,
                        "CSensorProvider::CreateInstanceEnumAsync - GetSensorAt(%d) failed, "
                        "HRESULT=0x%08x - continuing enum",
                        index, Hr(result));
                    instance->Release();
                    continue;
                }
                FillInstance(record, instance);
                pResponseHandler->Indicate(1, &instance);
                instance->Release();
            }
            LeaveCriticalSection(&m_Lock);
        }
    }
    ReportStatus(pResponseHandler, result);
    Log(LOG_INFO, "CSensorProvider::CreateInstanceEnumAsync - returning HRESULT=0x%08x",
        Hr(result));
    return result;
}

HRESULT CSensorProvider::GetObjectAsync(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                        IWbemObjectSink* pResponseHandler) {
    WLog(LOG_TRACE, L"CSensorProvider::GetObjectAsync(%s,0x%08x,0x%08x,0x%08x)", strObjectPath,
         static_cast<unsigned>(lFlags), Address(pCtx), Address(pResponseHandler));
    if (pResponseHandler == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    if (FAILED(CheckClientAccess())) {
        ReportStatus(pResponseHandler, WBEM_E_ACCESS_DENIED);
        return WBEM_E_ACCESS_DENIED;
    }
    std::wstring key;
    CWbemUtils::GetKeyFromObjectPath(strObjectPath, key);
    if (key.empty()) {
        ReportStatus(pResponseHandler, WBEM_E_NOT_FOUND);
        WLog(LOG_ERROR,
             L"CSensorProvider::GetObjectAsync - GetKeyFromObjectPath failed, ObjPath=%s, "
             L"ObjKey=%s",
             strObjectPath, key.c_str());
        return WBEM_E_NOT_FOUND;
    }
    IWbemClassObject* instance = nullptr;
    if (m_pSensorClass) {
        m_pSensorClass->SpawnInstance(0, &instance);
    }
    if (instance == nullptr) {
        ReportStatus(pResponseHandler, WBEM_E_OUT_OF_MEMORY);
        Log(LOG_ERROR, "CSensorProvider::GetObjectAsync - SpawnInstance failed, HRESULT=0x%08x",
            Hr(WBEM_E_OUT_OF_MEMORY));
        return WBEM_E_OUT_OF_MEMORY;
    }
    CProviderDataAccess data;
    if (!data) {
        instance->Release();
        ReportStatus(pResponseHandler, WBEM_E_SHUTTING_DOWN);
        return WBEM_E_SHUTTING_DOWN;
    }
    EnterCriticalSection(&m_Lock);
    CSpNumericSensor* record = data->GetSensor(key);
    if (record == nullptr) {
        ReportStatus(pResponseHandler, WBEM_E_NOT_FOUND);
        WLog(LOG_ERROR, L"CSensorProvider::GetObjectAsync - GetSensor(%s) failed, HRESULT=0x%08x",
             key.c_str(), Hr(WBEM_E_NOT_FOUND));
        LeaveCriticalSection(&m_Lock);
        instance->Release();
        return WBEM_E_NOT_FOUND;
    }
    FillInstance(record, instance);
    pResponseHandler->Indicate(1, &instance);
    instance->Release();
    LeaveCriticalSection(&m_Lock);
    ReportStatus(pResponseHandler, WBEM_S_NO_ERROR);
    LogQuick(LOG_INFO, "CSensorProvider::GetObjectAsync - returning HRESULT=0x00000000");
    return WBEM_S_NO_ERROR;
}

HRESULT CSensorProvider::ProvideEvents(IWbemObjectSink* pSink, LONG lFlags) {
    Log(LOG_TRACE, "CSensorProvider::ProvideEvents(0x%08x,0x%08x)", Address(pSink),
        static_cast<unsigned>(lFlags));
    if (pSink) {
        pSink->AddRef();
    }
    IWbemObjectSink* previous = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_SinkLock);
        previous = m_pEventSink;
        m_pEventSink = pSink;
    }
    // An event in flight holds its own reference to the earlier sink.
    if (previous) {
        previous->Release();
    }
    return WBEM_S_NO_ERROR;
}

HRESULT CSensorProvider::Shutdown(LONG uReason, ULONG uMaxMilliseconds, IWbemContext* pCtx) {
    WLog(LOG_TRACE, L"CSensorProvider::Shutdown(0x%08x,0x%08x,0x%08x)",
         static_cast<unsigned>(uReason), static_cast<unsigned>(uMaxMilliseconds), Address(pCtx));
    return WBEM_S_NO_ERROR;
}

void CSensorProvider::FireSensorStateChanged(CSpNumericSensor* record) {
    IWbemObjectSink* sink = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_SinkLock);
        sink = m_pEventSink;
        if (sink) {
            sink->AddRef();
        }
    }
    if (sink == nullptr) {
        LogQuick(LOG_TRACE, "CSensorProvider::FireSensorStateChanged - m_pEventSink is NULL - No "
                            "interested consumer(s) at this time");
        return;
    }
    IWbemClassObject* event = nullptr;
    HRESULT hr = m_pAlertClass ? m_pAlertClass->SpawnInstance(0, &event) : WBEM_E_FAILED;
    if (FAILED(hr) || event == nullptr) {
        Log(LOG_ERROR,
            "CSensorProvider::FireSensorStateChanged - SpawnInstance failed, HRESULT=0x%08x",
            Hr(FAILED(hr) ? hr : WBEM_E_FAILED));
        sink->Release();
        return;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(RecordLock());
        event->Put(record->m_CurrentState.Name().c_str(), 0, record->m_CurrentState.MutableValue(),
                   0);
        event->Put(record->m_Name.Name().c_str(), 0, record->m_Name.MutableValue(), 0);
    }
    hr = sink->Indicate(1, &event);
    if (FAILED(hr)) {
        Log(LOG_ERROR, "CSensorProvider::FireSensorStateChanged - Indicate failed, HRESULT=0x%08x",
            Hr(hr));
    }
    event->Release();
    sink->Release();
}

HRESULT CSensorProvider::CancelAsyncCall(IWbemObjectSink* pSink) {
    Log(LOG_INFO, "CSensorProvider::CancelAsyncCall(0x%08x)", Address(pSink));
    return WBEM_E_NOT_AVAILABLE;
}

} // namespace telvane
