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
    return static_cast<ULONG>(CountedAddRef(kPrefix, &m_lRefCount));
}

ULONG CSensorProvider::Release() {
    LONG updated = CountedRelease(kPrefix, &m_lRefCount);
    if (updated == 0) {
        delete this;
    }
    return static_cast<ULONG>(updated);
}

HRESULT CSensorProvider::QueryInterface(REFIID riid, void** ppv) {
    return QueryProviderInterface(
        kPrefix, riid, ppv,
        {{&IID_IUnknown, static_cast<IWbemProviderInit*>(this), "IUknown"},
         {&IID_IWbemProviderInit, static_cast<IWbemProviderInit*>(this), "IWbemProviderInit"},
         {&IID_IWbemServices, static_cast<IWbemServices*>(this), "IWbemServices"},
         {&IID_IWbemEventProvider, static_cast<IWbemEventProvider*>(this), "IWbemEventProvider"},
         {&IID_IWbemShutdown, static_cast<IWbemShutdown*>(this), "IWbemShutdown"}});
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

InstanceSource CSensorProvider::Instances() {
    return {kPrefix,
            L"VQX_SpNumericSensor",
            "GetSensorAt",
            &m_Lock,
            &m_pSensorClass,
            [](const CProviderDataAccess& data) { return data->m_SensorMap.Count(); },
            [](const CProviderDataAccess& data, int index, IWbemClassObject* instance) {
                return FillFound(data->GetSensorAt(index), instance);
            },
            [](const CProviderDataAccess& data, const std::wstring& key,
               IWbemClassObject* instance) { return FillFound(data->GetSensor(key), instance); }};
}

HRESULT CSensorProvider::CreateInstanceEnumAsync(const BSTR strClass, LONG lFlags,
                                                 IWbemContext* pCtx,
                                                 IWbemObjectSink* pResponseHandler) {
    return EnumerateInstances(Instances(), strClass, lFlags, pCtx, pResponseHandler);
}

HRESULT CSensorProvider::GetObjectAsync(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                        IWbemObjectSink* pResponseHandler) {
    return GetInstance(Instances(), strObjectPath, lFlags, pCtx, pResponseHandler);
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
    return ShutdownProvider(kPrefix, uReason, uMaxMilliseconds, pCtx);
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
    return CancelProviderCall(kPrefix, pSink);
}

} // namespace telvane
