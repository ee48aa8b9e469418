// A small provider for the endpoint tests. It checks its clients the way the
// system's providers do: impersonation level at Initialize, an access check
// against the providers' descriptor for every enumeration and lookup.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "Wbem.h"

namespace wbemtest {

// The descriptor and mapping the system's providers check clients with.
inline constexpr const wchar_t* kProviderSddl =
    L"O:BAG:SYD:(A;;0x10000001;;;BA)(A;;0x10000001;;;SY)(A;;0x10000001;;;LA)"
    L"(A;;0x10000001;;;S-1-5-20)(A;;0x10000001;;;S-1-5-19)";

// 0 when the impersonated client may read; else the Win32 error.
DWORD CheckAccessLikeProviders();
// The thread's impersonation level as the providers read it (1..4).
int ImpersonationLevelLikeProviders();

struct Widget {
    std::wstring name;
    int32_t reading = 0;
    std::wstring note; // empty: left without a value
};

class CWidgetProvider final : public IWbemProviderInit,
                              public IWbemServices,
                              public IWbemEventProvider {
public:
    CWidgetProvider();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT Initialize(LPWSTR wszUser, LONG lFlags, LPWSTR wszNamespace, LPWSTR wszLocale,
                       IWbemServices* pNamespace, IWbemContext* pCtx,
                       IWbemProviderInitSink* pInitSink) override;
    HRESULT CreateInstanceEnumAsync(const BSTR strFilter, LONG lFlags, IWbemContext* pCtx,
                                    IWbemObjectSink* pResponseHandler) override;
    HRESULT GetObjectAsync(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                           IWbemObjectSink* pResponseHandler) override;
    HRESULT ProvideEvents(IWbemObjectSink* pSink, LONG lFlags) override;

    // Raises one TST_WidgetAlert; false when nobody asked for events.
    bool Fire(const std::wstring& name, const std::wstring& state);

    // Makes the next enumeration stop after its first object until Release
    // of the gate.
    void HoldEnumerations();
    bool WaitUntilHeld(int milliseconds);
    void ReleaseHeld();

    std::vector<Widget> m_vWidgets;
    std::atomic<size_t> m_nRepeat{1}; // each widget indicated this many times
    std::atomic<int> m_nInitializeCalls{0};
    std::atomic<int> m_nInitializeSuccesses{0};
    std::atomic<int> m_nProvideEventsCalls{0};
    std::atomic<int> m_nEnumerations{0};
    std::wstring m_User;
    std::wstring m_NameSpace;
    int m_nInitLevel = 0;

private:
    ~CWidgetProvider();
    IWbemClassObject* Spawn(const Widget& widget);

    std::atomic<LONG> m_lRefCount{1};
    std::mutex m_Mutex;
    std::condition_variable m_Changed;
    IWbemClassObject* m_pWidgetClass = nullptr;
    IWbemClassObject* m_pAlertClass = nullptr;
    IWbemObjectSink* m_pEventSink = nullptr;
    bool m_bHold = false;
    bool m_bHeld = false;
};

} // namespace wbemtest
