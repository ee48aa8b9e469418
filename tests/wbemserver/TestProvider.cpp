#include "TestProvider.h"

#include <chrono>

#include "Security.h"

namespace wbemtest {
namespace {

HRESULT PutString(IWbemClassObject* object, const wchar_t* name, const std::wstring& text) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(text.c_str());
    HRESULT hr = object->Put(name, 0, &value, 0);
    VariantClear(&value);
    return hr;
}

HRESULT CheckClientAccess() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kProviderSddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return E_FAIL;
    }
    HRESULT hr = CoImpersonateClient();
    if (FAILED(hr)) {
        LocalFree(descriptor);
        return hr;
    }
    DWORD error = CheckAccessLikeProviders();
    LocalFree(descriptor);
    CoRevertToSelf();
    return error == 0 ? hr : WBEM_E_ACCESS_DENIED;
}

} // namespace

DWORD CheckAccessLikeProviders() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kProviderSddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return GetLastError();
    }
    GENERIC_MAPPING mapping{0, 0, 0x000F0001, 0x000F0001};
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        LocalFree(descriptor);
        return GetLastError();
    }
    DWORD desired = 1;
    MapGenericMask(&desired, &mapping);
    DWORD length = 0;
    DWORD granted = 0;
    BOOL status = FALSE;
    SetLastError(0);
    BOOL ok =
        AccessCheck(descriptor, token, desired, &mapping, nullptr, &length, &granted, &status);
    if ((!ok || !status) && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        SetLastError(0);
        std::vector<uint8_t> buffer(length, 0);
        SetLastError(0);
        AccessCheck(descriptor, token, MAXIMUM_ALLOWED, &mapping,
                    reinterpret_cast<PRIVILEGE_SET*>(buffer.data()), &length, &granted, &status);
    }
    DWORD error = GetLastError();
    CloseHandle(token);
    LocalFree(descriptor);
    return error;
}

int ImpersonationLevelLikeProviders() {
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        DWORD error = GetLastError();
        return error == ERROR_NO_IMPERSONATION_TOKEN || error == ERROR_NO_TOKEN ? 4 : 1;
    }
    SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
    DWORD length = 0;
    BOOL ok = GetTokenInformation(token, TokenImpersonationLevel, &level, sizeof(level), &length);
    CloseHandle(token);
    return ok ? static_cast<int>(level) + 1 : 1;
}

CWidgetProvider::CWidgetProvider() = default;

CWidgetProvider::~CWidgetProvider() {
    for (IUnknown* held :
         std::initializer_list<IUnknown*>{m_pWidgetClass, m_pAlertClass, m_pEventSink}) {
        if (held != nullptr) {
            held->Release();
        }
    }
}

HRESULT CWidgetProvider::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWbemProviderInit)) {
        *ppv = static_cast<IWbemProviderInit*>(this);
    } else if (IsEqualIID(riid, IID_IWbemServices)) {
        *ppv = static_cast<IWbemServices*>(this);
    } else if (IsEqualIID(riid, IID_IWbemEventProvider)) {
        *ppv = static_cast<IWbemEventProvider*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG CWidgetProvider::AddRef() {
    return static_cast<ULONG>(++m_lRefCount);
}

ULONG CWidgetProvider::Release() {
    LONG count = --m_lRefCount;
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

HRESULT CWidgetProvider::Initialize(LPWSTR wszUser, LONG, LPWSTR wszNamespace, LPWSTR,
                                    IWbemServices* pNamespace, IWbemContext* pCtx,
                                    IWbemProviderInitSink* pInitSink) {
    ++m_nInitializeCalls;
    HRESULT hr = CoImpersonateClient();
    if (FAILED(hr)) {
        return hr;
    }
    m_nInitLevel = ImpersonationLevelLikeProviders();
    CoRevertToSelf();
    if (m_nInitLevel < 2) {
        return WBEM_E_ACCESS_DENIED;
    }
    // Like the system's providers: drop what an earlier Initialize left.
    for (IWbemClassObject** held : {&m_pWidgetClass, &m_pAlertClass}) {
        if (*held != nullptr) {
            (*held)->Release();
            *held = nullptr;
        }
    }
    m_User = wszUser != nullptr ? wszUser : L"";
    m_NameSpace = wszNamespace != nullptr ? wszNamespace : L"";
    BSTR widget = SysAllocString(L"TST_Widget");
    BSTR alert = SysAllocString(L"TST_WidgetAlert");
    hr = pNamespace->GetObject(widget, 0, pCtx, &m_pWidgetClass, nullptr);
    if (SUCCEEDED(hr)) {
        hr = pNamespace->GetObject(alert, 0, pCtx, &m_pAlertClass, nullptr);
    }
    SysFreeString(widget);
    SysFreeString(alert);
    if (SUCCEEDED(hr)) {
        ++m_nInitializeSuccesses;
    }
    pInitSink->SetStatus(SUCCEEDED(hr) ? WBEM_S_INITIALIZED : hr, 0);
    return hr;
}

IWbemClassObject* CWidgetProvider::Spawn(const Widget& widget) {
    IWbemClassObject* instance = nullptr;
    if (FAILED(m_pWidgetClass->SpawnInstance(0, &instance))) {
        return nullptr;
    }
    PutString(instance, L"Name", widget.name);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = widget.reading;
    instance->Put(L"Reading", 0, &value, 0);
    if (!widget.note.empty()) {
        PutString(instance, L"Note", widget.note);
    }
    value.vt = VT_BOOL;
    value.boolVal = widget.reading >= 0 ? VARIANT_TRUE : VARIANT_FALSE;
    instance->Put(L"Healthy", 0, &value, 0);
    SAFEARRAY* states = SafeArrayCreateVector(VT_BSTR, 0, 2);
    const wchar_t* names[] = {L"Ok", L"Critical"};
    for (LONG i = 0; i < 2; ++i) {
        BSTR text = SysAllocString(names[i]);
        SafeArrayPutElement(states, &i, text);
        SysFreeString(text);
    }
    value.vt = VT_ARRAY | VT_BSTR;
    value.parray = states;
    instance->Put(L"States", 0, &value, 0);
    VariantClear(&value);
    return instance;
}

HRESULT CWidgetProvider::CreateInstanceEnumAsync(const BSTR strFilter, LONG, IWbemContext*,
                                                 IWbemObjectSink* pResponseHandler) {
    if (strFilter == nullptr || !svcproc::wbem::NamesEqual(strFilter, L"TST_Widget")) {
        pResponseHandler->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_INVALID_CLASS, nullptr, nullptr);
        return WBEM_E_INVALID_CLASS;
    }
    HRESULT hr = CheckClientAccess();
    if (FAILED(hr)) {
        pResponseHandler->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_ACCESS_DENIED, nullptr, nullptr);
        return WBEM_E_ACCESS_DENIED;
    }
    ++m_nEnumerations;
    bool first = true;
    for (size_t round = 0; round < m_nRepeat; ++round) {
        for (const Widget& widget : m_vWidgets) {
            IWbemClassObject* instance = Spawn(widget);
            if (instance == nullptr) {
                continue;
            }
            pResponseHandler->Indicate(1, &instance);
            instance->Release();
            if (first) {
                first = false;
                std::unique_lock lock(m_Mutex);
                if (m_bHold) {
                    m_bHeld = true;
                    m_Changed.notify_all();
                    m_Changed.wait(lock, [this] { return !m_bHold; });
                }
            }
        }
    }
    pResponseHandler->SetStatus(WBEM_STATUS_COMPLETE, WBEM_S_NO_ERROR, nullptr, nullptr);
    return WBEM_S_NO_ERROR;
}

HRESULT CWidgetProvider::GetObjectAsync(const BSTR strObjectPath, LONG, IWbemContext*,
                                        IWbemObjectSink* pResponseHandler) {
    HRESULT hr = CheckClientAccess();
    if (SUCCEEDED(hr)) {
        std::wstring path = strObjectPath != nullptr ? strObjectPath : L"";
        size_t open = path.find(L'"');
        size_t close = open == std::wstring::npos ? open : path.find(L'"', open + 1);
        std::wstring key =
            close == std::wstring::npos ? L"" : path.substr(open + 1, close - open - 1);
        hr = WBEM_E_NOT_FOUND;
        for (const Widget& widget : m_vWidgets) {
            if (widget.name == key) {
                IWbemClassObject* instance = Spawn(widget);
                pResponseHandler->Indicate(1, &instance);
                instance->Release();
                hr = WBEM_S_NO_ERROR;
            }
        }
    } else {
        hr = WBEM_E_ACCESS_DENIED;
    }
    pResponseHandler->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr, nullptr);
    return hr;
}

HRESULT CWidgetProvider::ProvideEvents(IWbemObjectSink* pSink, LONG) {
    ++m_nProvideEventsCalls;
    pSink->AddRef();
    std::lock_guard guard(m_Mutex);
    if (m_pEventSink != nullptr) {
        m_pEventSink->Release();
    }
    m_pEventSink = pSink;
    return WBEM_S_NO_ERROR;
}

bool CWidgetProvider::Fire(const std::wstring& name, const std::wstring& state) {
    IWbemObjectSink* sink = nullptr;
    {
        std::lock_guard guard(m_Mutex);
        sink = m_pEventSink;
        if (sink == nullptr || m_pAlertClass == nullptr) {
            return false;
        }
        sink->AddRef();
    }
    IWbemClassObject* event = nullptr;
    if (SUCCEEDED(m_pAlertClass->SpawnInstance(0, &event))) {
        PutString(event, L"CurrentState", state);
        PutString(event, L"Name", name);
        sink->Indicate(1, &event);
        event->Release();
    }
    sink->Release();
    return true;
}

void CWidgetProvider::HoldEnumerations() {
    std::lock_guard guard(m_Mutex);
    m_bHold = true;
    m_bHeld = false;
}

bool CWidgetProvider::WaitUntilHeld(int milliseconds) {
    std::unique_lock lock(m_Mutex);
    return m_Changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return m_bHeld; });
}

void CWidgetProvider::ReleaseHeld() {
    std::lock_guard guard(m_Mutex);
    m_bHold = false;
    m_Changed.notify_all();
}

} // namespace wbemtest
