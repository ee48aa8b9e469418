// The decoupled provider of VQX_LedAlarmDevice instances. It raises no
// events.
#pragma once

#include "ManagedObjects.h"
#include "ProviderSupport.h"
#include "WbemServicesBase.h"
#include "sync/Sync.h"

namespace telvane {

class CLedProvider : public CWbemServicesBase, public IWbemProviderInit, public IWbemShutdown {
public:
    CLedProvider();

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IWbemServices: the methods this provider serves.
    HRESULT CancelAsyncCall(IWbemObjectSink* pSink) override;
    HRESULT GetObjectAsync(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                           IWbemObjectSink* pResponseHandler) override;
    HRESULT CreateInstanceEnumAsync(const BSTR strClass, LONG lFlags, IWbemContext* pCtx,
                                    IWbemObjectSink* pResponseHandler) override;
    virtual ~CLedProvider();

    // IWbemProviderInit
    HRESULT Initialize(LPWSTR wszUser, LONG lFlags, LPWSTR wszNamespace, LPWSTR wszLocale,
                       IWbemServices* core_service, IWbemContext* pCtx,
                       IWbemProviderInitSink* pInitSink) override;

    // IWbemShutdown
    HRESULT Shutdown(LONG uReason, ULONG uMaxMilliseconds, IWbemContext* pCtx) override;

    HRESULT CheckClientAccess();

private:
    ProviderInitFields InitFields();
    InstanceSource Instances();

    volatile LONG m_lRefCount = 0;
    CRITICAL_SECTION m_Lock;
    IWbemServices* m_pCoreService = nullptr;
    BSTR name_space = nullptr;
    BSTR m_Locale = nullptr;
    BSTR m_User = nullptr;
    BSTR m_ComputerName = nullptr;
    BSTR m_OperatingSystemVersion = nullptr;
    IWbemClassObject* m_pLedClass = nullptr;
};

} // namespace telvane
