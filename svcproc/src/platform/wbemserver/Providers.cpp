#include "Providers.h"

#include <cwctype>

#include "Log.h"
#include "Sinks.h"

namespace svcproc::wbemserver {
namespace {

// A provider reports its Initialize through the sink before it returns, as a
// rule; one that answers later gets this long.
constexpr uint32_t kInitialiseTimeoutMs = 60000;

template <typename T> T* Query(IUnknown* provider, REFIID iid) {
    void* p = nullptr;
    return SUCCEEDED(provider->QueryInterface(iid, &p)) ? static_cast<T*>(p) : nullptr;
}

template <typename T> void ReleaseAndNull(T*& p) {
    if (p != nullptr) {
        p->Release();
        p = nullptr;
    }
}

// A BSTR copy, null for an empty text (as the platform passes "none").
BSTR OptionalBstr(const std::wstring& text) {
    return text.empty() ? nullptr : SysAllocString(text.c_str());
}

} // namespace

std::wstring LowerCase(const std::wstring& text) {
    std::wstring lower;
    for (wchar_t c : text) {
        lower.push_back(static_cast<wchar_t>(std::towlower(c)));
    }
    return lower;
}

std::string Narrow(const std::wstring& text) {
    return wbemwire::ToUtf8(text);
}

CProviderEntry::CProviderEntry(std::wstring name, std::wstring nameSpace, IUnknown* provider,
                               std::shared_ptr<const wbem::Schema> schema)
    : m_Name(std::move(name)), m_NameSpace(std::move(nameSpace)), m_pSchema(std::move(schema)) {
    provider->AddRef();
    m_pUnknown = provider;
    m_pInit = Query<IWbemProviderInit>(provider, IID_IWbemProviderInit);
    m_pServices = Query<IWbemServices>(provider, IID_IWbemServices);
    m_pEvents = Query<IWbemEventProvider>(provider, IID_IWbemEventProvider);
}

CProviderEntry::~CProviderEntry() {
    if (m_pFanout != nullptr) {
        m_pFanout->EndAll(
            wbemwire::EncodeStatus({WBEM_E_PROVIDER_NOT_FOUND, "the provider was unregistered"}));
    }
    ReleaseAndNull(m_pFanout);
    ReleaseAndNull(m_pEvents);
    ReleaseAndNull(m_pServices);
    ReleaseAndNull(m_pInit);
    ReleaseAndNull(m_pUnknown);
}

HRESULT CProviderEntry::EnsureInitialised(const std::wstring& user, const std::wstring& locale) {
    std::lock_guard guard(m_InitLock);
    if (m_bInitialised) {
        return WBEM_S_NO_ERROR;
    }
    if (m_pInit == nullptr) {
        m_bInitialised = true;
        return WBEM_S_NO_ERROR;
    }
    IWbemServices* core = nullptr;
    IWbemContext* context = nullptr;
    HRESULT hr = wbem::CreateCoreServices(m_pSchema, m_NameSpace, &core);
    if (SUCCEEDED(hr)) {
        hr = wbem::CreateWbemContext(&context);
    }
    wbem::CInitStatusSink* sink = SUCCEEDED(hr) ? wbem::CInitStatusSink::Create() : nullptr;
    BSTR bUser = OptionalBstr(user);
    BSTR bNameSpace = SysAllocString(m_NameSpace.c_str());
    BSTR bLocale = OptionalBstr(locale);
    if (SUCCEEDED(hr) && (sink == nullptr || bNameSpace == nullptr)) {
        hr = WBEM_E_OUT_OF_MEMORY;
    }
    if (SUCCEEDED(hr)) {
        hr = m_pInit->Initialize(bUser, 0, bNameSpace, bLocale, core, context, sink);
        if (SUCCEEDED(hr)) {
            hr = sink->WaitForStatus(kInitialiseTimeoutMs) ? sink->Status() : WBEM_E_TIMED_OUT;
        }
    }
    SysFreeString(bUser);
    SysFreeString(bNameSpace);
    SysFreeString(bLocale);
    ReleaseAndNull(sink);
    ReleaseAndNull(context);
    ReleaseAndNull(core);
    if (FAILED(hr)) {
        // Not kept: the next request tries again (with its own client).
        WLog(LOG_ERROR, L"WBEM endpoint - Initialize of provider %s failed, HRESULT=0x%08x",
             m_Name.c_str(), static_cast<unsigned>(hr));
        return hr;
    }
    WLog(LOG_INFO, L"WBEM endpoint - provider %s initialised", m_Name.c_str());
    m_bInitialised = true;
    return WBEM_S_NO_ERROR;
}

HRESULT CProviderEntry::Watch(const ConnectionPtr& connection, const std::wstring& eventClass) {
    std::lock_guard guard(m_EventLock);
    if (m_pEvents == nullptr) {
        return WBEM_E_PROVIDER_NOT_CAPABLE;
    }
    if (!m_bEventsProvided) {
        if (m_pFanout == nullptr) {
            m_pFanout = new CEventFanout;
        }
        HRESULT hr = m_pEvents->ProvideEvents(m_pFanout, 0);
        if (FAILED(hr)) {
            WLog(LOG_ERROR, L"WBEM endpoint - ProvideEvents of provider %s failed, HRESULT=0x%08x",
                 m_Name.c_str(), static_cast<unsigned>(hr));
            return hr;
        }
        m_bEventsProvided = true;
    }
    connection->m_WatchClass = eventClass;
    m_pFanout->Add(connection, wbemwire::EncodeStatus({WBEM_S_NO_ERROR, "watching"}));
    return WBEM_S_NO_ERROR;
}

void CProviderEntry::Unwatch(const ConnectionPtr& connection) {
    std::lock_guard guard(m_EventLock);
    if (m_pFanout != nullptr) {
        m_pFanout->Remove(connection);
    }
}

void CProviderEntry::EndWatches() {
    std::lock_guard guard(m_EventLock);
    if (m_pFanout != nullptr) {
        m_pFanout->EndAll(
            wbemwire::EncodeStatus({WBEM_E_PROVIDER_NOT_FOUND, "the provider was unregistered"}));
    }
}

CProviderTable& CProviderTable::Instance() {
    // Never destroyed: layer threads may still look providers up while the
    // process exits.
    static auto* table = new CProviderTable;
    return *table;
}

HRESULT CProviderTable::Add(const ProviderPtr& entry) {
    std::lock_guard guard(m_Lock);
    auto [it, added] = m_Entries.emplace(LowerCase(entry->Name()), entry);
    return added ? WBEM_S_NO_ERROR : WBEM_E_ALREADY_EXISTS;
}

ProviderPtr CProviderTable::Remove(const std::wstring& name) {
    std::lock_guard guard(m_Lock);
    auto it = m_Entries.find(LowerCase(name));
    if (it == m_Entries.end()) {
        return nullptr;
    }
    ProviderPtr entry = it->second;
    m_Entries.erase(it);
    return entry;
}

HRESULT CProviderTable::Find(const std::wstring& nameSpace, const std::wstring& className,
                             ProviderPtr* entry, std::shared_ptr<const wbem::ClassDecl>* decl,
                             std::string* reason) {
    std::string error;
    std::shared_ptr<const wbem::Schema> schema = wbem::GetSchema(&error);
    if (!schema) {
        *reason = "the schema cannot be loaded: " + error;
        return WBEM_E_CRITICAL_ERROR;
    }
    if (!schema->HasNamespace(nameSpace)) {
        *reason = "no namespace " + Narrow(nameSpace);
        return WBEM_E_INVALID_NAMESPACE;
    }
    *decl = schema->FindClass(nameSpace, className);
    if (!*decl) {
        *reason = "no class " + Narrow(className) + " in " + Narrow(nameSpace);
        return WBEM_E_INVALID_CLASS;
    }
    std::wstring provider = (*decl)->Provider();
    {
        std::lock_guard guard(m_Lock);
        auto it = m_Entries.find(LowerCase(provider));
        if (!provider.empty() && it != m_Entries.end() &&
            wbem::NamesEqual(it->second->NameSpace(), nameSpace)) {
            *entry = it->second;
            return WBEM_S_NO_ERROR;
        }
    }
    *reason = provider.empty() ? "no provider serves " + Narrow((*decl)->name)
                               : "provider " + Narrow(provider) + " is not registered";
    return WBEM_E_PROVIDER_NOT_FOUND;
}

} // namespace svcproc::wbemserver
