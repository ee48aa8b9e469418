// The decoupled provider of VQX_SpNumericSensor instances and of the
// VQX_SpNumericSensorAlert events.
#pragma once

#include <mutex>

#include "ManagedObjects.h"
#include "ProviderSupport.h"
#include "WbemServicesBase.h"
#include "sync/Sync.h"

namespace telvane {

class CSensorProvider : public IWbemProviderInit,
                        public CWbemServicesBase,
                        public IWbemEventProvider,
                        public IWbemShutdown {
public:
    CSensorProvider();

    // IUnknown
    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    // IWbemProviderInit
    HRESULT Initialize(LPWSTR wszUser, LONG lFlags, LPWSTR wszNamespace, LPWSTR wszLocale,
                       IWbemServices* core_service, IWbemContext* pCtx,
                       IWbemProviderInitSink* pInitSink) override;
    virtual ~CSensorProvider();

    // IWbemServices: the methods this provider serves; the others come from
    // CWbemServicesBase.
    HRESULT CancelAsyncCall(IWbemObjectSink* pSink) override;
    HRESULT GetObjectAsync(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                           IWbemObjectSink* pResponseHandler) override;
    HRESULT CreateInstanceEnumAsync(const BSTR strClass, LONG lFlags, IWbemContext* pCtx,
                                    IWbemObjectSink* pResponseHandler) override;

    // IWbemEventProvider. A later sink replaces the earlier one, which is
    // released once no event delivery uses it any more.
    HRESULT ProvideEvents(IWbemObjectSink* pSink, LONG lFlags) override;

    // IWbemShutdown
    HRESULT Shutdown(LONG uReason, ULONG uMaxMilliseconds, IWbemContext* pCtx) override;

    // Raises one alert event for a sensor whose state changed; runs on the
    // library's polling thread without m_Lock.
    void FireSensorStateChanged(CSpNumericSensor* record);
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
    IWbemClassObject* m_pSensorClass = nullptr;
    IWbemClassObject* m_pAlertClass = nullptr;
    IWbemObjectSink* m_pEventSink = nullptr;
    // Guards m_pEventSink against replacement while an event takes it.
    std::mutex m_SinkLock;
};

} // namespace telvane
