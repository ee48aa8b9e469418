// The providers registered through the decoupled registrar, and how a
// request finds the one that serves its class.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Connection.h"
#include "Wbem.h"

namespace svcproc::wbemserver {

class CEventFanout;

// One registration. The provider's interfaces are held until the last
// request that found the entry lets go of it, so requests in flight finish
// after UnRegister.
class CProviderEntry {
public:
    CProviderEntry(std::wstring name, std::wstring nameSpace, IUnknown* provider,
                   std::shared_ptr<const wbem::Schema> schema);
    ~CProviderEntry();
    CProviderEntry(const CProviderEntry&) = delete;
    CProviderEntry& operator=(const CProviderEntry&) = delete;

    const std::wstring& Name() const { return m_Name; }
    const std::wstring& NameSpace() const { return m_NameSpace; }
    IWbemServices* Services() const { return m_pServices; }
    IWbemEventProvider* EventProvider() const { return m_pEvents; }
    const std::shared_ptr<const wbem::Schema>& Schema() const { return m_pSchema; }

    // Initialize on first use, on the calling (layer) thread with its call
    // context; later calls reuse the outcome once it succeeded.
    HRESULT EnsureInitialised(const std::wstring& user, const std::wstring& locale);
    // ProvideEvents once, with the fan-out sink; then adds the watcher.
    HRESULT Watch(const ConnectionPtr& connection, const std::wstring& eventClass);
    void Unwatch(const ConnectionPtr& connection);
    // The registration is gone: every watcher is told and dropped.
    void EndWatches();

private:
    std::wstring m_Name;
    std::wstring m_NameSpace;
    std::shared_ptr<const wbem::Schema> m_pSchema;
    IUnknown* m_pUnknown = nullptr;
    IWbemProviderInit* m_pInit = nullptr;
    IWbemServices* m_pServices = nullptr;
    IWbemEventProvider* m_pEvents = nullptr;

    std::mutex m_InitLock;
    bool m_bInitialised = false;
    std::mutex m_EventLock;
    bool m_bEventsProvided = false;
    CEventFanout* m_pFanout = nullptr;
};

using ProviderPtr = std::shared_ptr<CProviderEntry>;

// Process-wide table of registrations, by registration name.
class CProviderTable {
public:
    static CProviderTable& Instance();

    HRESULT Add(const ProviderPtr& entry);
    // Removes and returns it; null when not registered.
    ProviderPtr Remove(const std::wstring& name);

    // The provider of `className` in `nameSpace`: WBEM_E_INVALID_NAMESPACE,
    // WBEM_E_INVALID_CLASS (not in the schema) or WBEM_E_PROVIDER_NOT_FOUND
    // (nothing registered for it) otherwise. *decl is the class found.
    HRESULT Find(const std::wstring& nameSpace, const std::wstring& className, ProviderPtr* entry,
                 std::shared_ptr<const wbem::ClassDecl>* decl, std::string* reason);

private:
    std::mutex m_Lock;
    std::map<std::wstring, ProviderPtr> m_Entries; // key: lower-case name
};

std::wstring LowerCase(const std::wstring& text);
std::string Narrow(const std::wstring& text);

} // namespace svcproc::wbemserver
