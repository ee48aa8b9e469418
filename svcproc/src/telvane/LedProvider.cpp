#include "LedProvider.h"

#include "Log.h"
#include "ResourceManager.h"

namespace telvane {

namespace {

constexpr const char* kPrefix = "CLedProvider";

} // namespace

CLedProvider::CLedProvider() {
    InitializeCriticalSection(&m_Lock);
    LogQuick(LOG_INFO, "CLedProvider Constructed");
}

CLedProvider::~CLedProvider() {
    DeleteCriticalSection(&m_Lock);
    for (BSTR text : {m_User, m_Locale, name_space, m_ComputerName, m_OperatingSystemVersion}) {
        SysFreeString(text);
    }
    if (m_pCoreService) {
        m_pCoreService->Release();
    }
    if (m_pLedClass) {
        m_pLedClass->Release();
    }
    LogQuick(LOG_INFO, "CLedProvider Destroyed");
}

ULONG CLedProvider::AddRef() {
    return static_cast<ULONG>(CountedAddRef(kPrefix, &m_lRefCount));
}

ULONG CLedProvider::Release() {
    LONG updated = CountedRelease(kPrefix, &m_lRefCount);
    if (updated == 0) {
        delete this;
    }
    return static_cast<ULONG>(updated);
}

HRESULT CLedProvider::QueryInterface(REFIID riid, void** ppv) {
    return QueryProviderInterface(
        kPrefix, riid, ppv,
        {{&IID_IUnknown, static_cast<IWbemServices*>(this), "IUknown"},
         {&IID_IWbemProviderInit, static_cast<IWbemProviderInit*>(this), "IWbemProviderInit"},
         {&IID_IWbemShutdown, static_cast<IWbemShutdown*>(this), "IWbemShutdown"},
         {&IID_IWbemServices, static_cast<IWbemServices*>(this), "IWbemServices"}});
}

ProviderInitFields CLedProvider::InitFields() {
    return {&m_pCoreService,
            &name_space,
            &m_Locale,
            &m_User,
            &m_ComputerName,
            &m_OperatingSystemVersion,
            {{L"VQX_LedAlarmDevice", &m_pLedClass}}};
}

HRESULT CLedProvider::Initialize(LPWSTR wszUser, LONG lFlags, LPWSTR wszNamespace, LPWSTR wszLocale,
                                 IWbemServices* core_service, IWbemContext* pCtx,
                                 IWbemProviderInitSink* pInitSink) {
    return InitializeProvider(kPrefix, InitFields(), wszUser, lFlags, wszNamespace, wszLocale,
                              core_service, pCtx, pInitSink);
}

HRESULT CLedProvider::CheckClientAccess() {
    return telvane::CheckClientAccess(kPrefix);
}

InstanceSource CLedProvider::Instances() {
    return {
        kPrefix,
        L"VQX_LedAlarmDevice",
        "GetLedAt",
        &m_Lock,
        &m_pLedClass,
        [](const CProviderDataAccess& data) { return data->m_LedMap.Count(); },
        [](const CProviderDataAccess& data, int index, IWbemClassObject* instance) {
            return FillFound(data->GetLedAt(index), instance);
        },
        [](const CProviderDataAccess& data, const std::wstring& key, IWbemClassObject* instance) {
            return FillFound(data->m_LedMap.Get(key), instance);
        }};
}

HRESULT CLedProvider::CreateInstanceEnumAsync(const BSTR strClass, LONG lFlags, IWbemContext* pCtx,
                                              IWbemObjectSink* pResponseHandler) {
    return EnumerateInstances(Instances(), strClass, lFlags, pCtx, pResponseHandler);
}

HRESULT CLedProvider::GetObjectAsync(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                     IWbemObjectSink* pResponseHandler) {
    return GetInstance(Instances(), strObjectPath, lFlags, pCtx, pResponseHandler);
}

HRESULT CLedProvider::Shutdown(LONG uReason, ULONG uMaxMilliseconds, IWbemContext* pCtx) {
    return ShutdownProvider(kPrefix, uReason, uMaxMilliseconds, pCtx);
}

HRESULT CLedProvider::CancelAsyncCall(IWbemObjectSink* pSink) {
    return CancelProviderCall(kPrefix, pSink);
}

} // namespace telvane
