#include "LedProvider.h"

#include "Log.h"
#include "ResourceManager.h"

namespace telvane {

namespace {

constexpr const char* kPrefix = "CLedProvider";

unsigned Hr(HRESULT hr) {
    return static_cast<unsigned>(hr);
}

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
    LONG current = m_lRefCount;
    LONG updated = InterlockedIncrement(&m_lRefCount);
    Log(LOG_INFO, "CLedProvider::AddRef - Current=%d, New=%d", current, updated);
    return static_cast<ULONG>(updated);
}

ULONG CLedProvider::Release() {
    LONG current = m_lRefCount;
    LONG updated = InterlockedDecrement(&m_lRefCount);
    Log(LOG_INFO, "CLedProvider::Release - Current=%d, New=%d", current, updated);
    if (updated == 0) {
        delete this;
    }
    return static_cast<ULONG>(updated);
}

HRESULT CLedProvider::QueryInterface(REFIID riid, void** ppv) {
    Log(LOG_TRACE, "CLedProvider::QueryInterface - ppv=0x%08x", Address(ppv));
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    IUnknown* found = nullptr;
    const char* text = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        found = static_cast<IWbemServices*>(this);
        text = "CLedProvider::QueryInterface - returning IUknown* 0x%08x";
    } else if (IsEqualIID(riid, IID_IWbemProviderInit)) {
        found = static_cast<IWbemProviderInit*>(this);
        text = "CLedProvider::QueryInterface - returning IWbemProviderInit* 0x%08x";
    } else if (IsEqualIID(riid, IID_IWbemShutdown)) {
        found = static_cast<IWbemShutdown*>(this);
        text = "CLedProvider::QueryInterface - returning IWbemShutdown* 0x%08x";
    } else if (IsEqualIID(riid, IID_IWbemServices)) {
        found = static_cast<IWbemServices*>(this);
        text = "CLedProvider::QueryInterface - returning IWbemServices* 0x%08x";
    } else {
        return E_NOINTERFACE;
    }
    Log(LOG_INFO, text, Address(found));
    *ppv = found;
    found->AddRef();
    return S_OK;
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

HRESULT CLedProvider::CreateInstanceEnumAsync(const BSTR strClass, LONG lFlags, IWbemContext* pCtx,
                                              IWbemObjectSink* pResponseHandler) {
    WLog(LOG_TRACE, L"CLedProvider::CreateInstanceEnumAsync(%s,0x%08x,0x%08x,0x%08x)", strClass,
         static_cast<unsigned>(lFlags), Address(pCtx), Address(pResponseHandler));
    if (pResponseHandler == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    HRESULT result = WBEM_E_INVALID_CLASS;
    if (ClassNameMatches(strClass, L"VQX_LedAlarmDevice")) {
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
            int count = data->m_LedMap.Count();
            for (int index = 0; index < count; ++index) {
                IWbemClassObject* instance = nullptr;
                result = m_pLedClass ? m_pLedClass->SpawnInstance(0, &instance) : WBEM_E_FAILED;
                if (instance == nullptr) {
                    Log(LOG_ERROR,
                        "CLedProvider::CreateInstanceEnumAsync - SpawnInstance failed, "
                        "HRESULT=0x%08x - continuing enum",
                        Hr(result));
                    continue;
                }
                CLedAlarmDevice* record = data->GetLedAt(index);
                if (record == nullptr) {
                    Log(LOG_ERROR,
                        "CLedProvider::CreateInstanceEnumAsync - GetLedAt(%d) failed, "
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
    Log(LOG_INFO, "CLedProvider::CreateInstanceEnumAsync - returning HRESULT=0x%08x", Hr(result));
    return result;
}

HRESULT CLedProvider::GetObjectAsync(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                     IWbemObjectSink* pResponseHandler) {
    WLog(LOG_TRACE, L"CLedProvider::GetObjectAsync(%s,0x%08x,0x%08x,0x%08x)", strObjectPath,
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
             L"CLedProvider::GetObjectAsync - GetKeyFromObjectPath failed, ObjPath=%s, ObjKey=%s",
             strObjectPath, key.c_str());
        return WBEM_E_NOT_FOUND;
    }
    IWbemClassObject* instance = nullptr;
    if (m_pLedClass) {
        m_pLedClass->SpawnInstance(0, &instance);
    }
    if (instance == nullptr) {
        ReportStatus(pResponseHandler, WBEM_E_OUT_OF_MEMORY);
        Log(LOG_ERROR, "CLedProvider::GetObjectAsync - SpawnInstance failed, HRESULT=0x%08x",
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
    CLedAlarmDevice* record = data->m_LedMap.Get(key);
    if (record == nullptr) {
        ReportStatus(pResponseHandler, WBEM_E_NOT_FOUND);
        WLog(LOG_ERROR, L"CLedProvider::GetObjectAsync - GetSensor(%s) failed, HRESULT=0x%08x",
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
    LogQuick(LOG_INFO, "CLedProvider::GetObjectAsync - returning HRESULT=0x00000000");
    return WBEM_S_NO_ERROR;
}

HRESULT CLedProvider::Shutdown(LONG uReason, ULONG uMaxMilliseconds, IWbemContext* pCtx) {
    WLog(LOG_TRACE, L"CLedProvider::Shutdown(0x%08x,0x%08x,0x%08x)", static_cast<unsigned>(uReason),
         static_cast<unsigned>(uMaxMilliseconds), Address(pCtx));
    return WBEM_S_NO_ERROR;
}

HRESULT CLedProvider::CancelAsyncCall(IWbemObjectSink* pSink) {
    Log(LOG_INFO, "CLedProvider::CancelAsyncCall(0x%08x)", Address(pSink));
    return WBEM_E_NOT_AVAILABLE;
}

} // namespace telvane
