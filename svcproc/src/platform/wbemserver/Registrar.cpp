// IWbemDecoupledRegistrar: providers become reachable through the endpoint.
#include <mutex>
#include <vector>

#include "ComObject.h"
#include "Log.h"
#include "Providers.h"
#include "WbemServer.h"

namespace svcproc::wbemserver {
namespace {

class CDecoupledRegistrar final
    : public com::CUnknownImpl<IWbemDecoupledRegistrar, IID_IWbemDecoupledRegistrar> {
public:
    HRESULT Register(LONG a_Flags, IWbemContext*, LPCWSTR a_User, LPCWSTR a_Locale, LPCWSTR a_Scope,
                     LPCWSTR a_Registration, IUnknown* pIUnknown) override;
    HRESULT UnRegister() override;

private:
    ~CDecoupledRegistrar() = default;

    std::mutex m_Lock;
    std::vector<std::wstring> m_vNames; // registered through this object
};

HRESULT Refuse(HRESULT hr, const std::wstring& name, const char* why) {
    Log(LOG_ERROR, "IWbemDecoupledRegistrar::Register(%s) - %s, HRESULT=0x%08x",
        Narrow(name).c_str(), why, static_cast<unsigned>(hr));
    return hr;
}

HRESULT CDecoupledRegistrar::Register(LONG a_Flags, IWbemContext*, LPCWSTR, LPCWSTR,
                                      LPCWSTR a_Scope, LPCWSTR a_Registration,
                                      IUnknown* pIUnknown) {
    std::wstring name = a_Registration != nullptr ? a_Registration : L"";
    if (a_Scope == nullptr || name.empty() || pIUnknown == nullptr || a_Flags != 0) {
        return Refuse(WBEM_E_INVALID_PARAMETER, name, "scope, name and provider are required");
    }
    std::string error;
    std::shared_ptr<const wbem::Schema> schema = wbem::GetSchema(&error);
    if (!schema) {
        Log(LOG_ERROR, "IWbemDecoupledRegistrar::Register - schema: %s", error.c_str());
        return Refuse(WBEM_E_INITIALIZATION_FAILURE, name, "the schema cannot be loaded");
    }
    std::wstring nameSpace = wbem::NormaliseNamespace(a_Scope);
    if (schema->ClassesOfProvider(name, nameSpace).empty()) {
        return Refuse(WBEM_E_NOT_FOUND, name, "no class of the scope names this provider");
    }
    auto entry = std::make_shared<CProviderEntry>(name, nameSpace, pIUnknown, schema);
    if (entry->Services() == nullptr && entry->EventProvider() == nullptr) {
        return Refuse(E_NOINTERFACE, name, "the object serves neither requests nor events");
    }
    HRESULT hr = CProviderTable::Instance().Add(entry);
    if (FAILED(hr)) {
        return Refuse(hr, name, "the name is registered already");
    }
    if (!StartEndpoint()) {
        CProviderTable::Instance().Remove(name);
        return Refuse(WBEM_E_TRANSPORT_FAILURE, name, "the endpoint cannot be served");
    }
    {
        std::lock_guard guard(m_Lock);
        m_vNames.push_back(name);
    }
    Log(LOG_INFO, "IWbemDecoupledRegistrar::Register(%s) - registered in %s", Narrow(name).c_str(),
        Narrow(nameSpace).c_str());
    return WBEM_S_NO_ERROR;
}

HRESULT CDecoupledRegistrar::UnRegister() {
    std::vector<std::wstring> names;
    {
        std::lock_guard guard(m_Lock);
        names.swap(m_vNames);
    }
    if (names.empty()) {
        LogQuick(LOG_ERROR, "IWbemDecoupledRegistrar::UnRegister - nothing registered");
        return WBEM_E_NOT_FOUND;
    }
    for (const std::wstring& name : names) {
        ProviderPtr entry = CProviderTable::Instance().Remove(name);
        if (entry) {
            // Requests in flight keep the entry and finish; watches end now.
            entry->EndWatches();
        }
        Log(LOG_INFO, "IWbemDecoupledRegistrar::UnRegister(%s) - unregistered",
            Narrow(name).c_str());
    }
    return WBEM_S_NO_ERROR;
}

HRESULT CreateRegistrar(REFIID riid, void** ppv) {
    auto* registrar = new CDecoupledRegistrar;
    HRESULT hr = registrar->QueryInterface(riid, ppv);
    registrar->Release();
    return hr;
}

struct FactoryInstaller {
    FactoryInstaller() { EnsureRegistered(); }
};
const FactoryInstaller g_Installer;

} // namespace

void EnsureRegistered() {
    com::RegisterClassFactory(CLSID_WbemDecoupledRegistrar, CreateRegistrar);
}

} // namespace svcproc::wbemserver
