// What the sensor and LED providers share: reference counting and interface
// discovery, initialisation, the client's impersonation level, the client
// access check, the object-path key and the two instance requests. Each
// provider's lines carry its class name as prefix ("CSensorProvider").
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "ManagedObjects.h"
#include "security/Security.h"
#include "sync/Sync.h"
#include "wbem/WbemInterfaces.h"

namespace telvane {

class CProviderDataAccess;

// The count after the step; Release's caller deletes the provider at 0.
LONG CountedAddRef(const char* prefix, volatile LONG* count);
LONG CountedRelease(const char* prefix, volatile LONG* count);

// One interface QueryInterface hands out, named as its line names it.
struct ProviderInterface {
    const IID* m_pIid;
    IUnknown* m_pInterface;
    const char* m_szName;
};
HRESULT QueryProviderInterface(const char* prefix, REFIID riid, void** ppv,
                               std::initializer_list<ProviderInterface> interfaces);

// What the instance requests need of a provider: its class, the lock its
// requests hold and how its records are found. The fill steps copy the
// record into `instance` and answer false when there is no such record.
struct InstanceSource {
    const char* m_szPrefix;
    const wchar_t* m_wszClassName;
    const char* m_szGetAtName; // the record getter the enumeration's lines name
    CRITICAL_SECTION* m_pLock;
    IWbemClassObject* const* m_ppClass;
    int (*m_pCount)(const CProviderDataAccess& data);
    bool (*m_pFillAt)(const CProviderDataAccess& data, int index, IWbemClassObject* instance);
    bool (*m_pFillByKey)(const CProviderDataAccess& data, const std::wstring& key,
                         IWbemClassObject* instance);
};

HRESULT EnumerateInstances(const InstanceSource& source, const BSTR strClass, LONG lFlags,
                           IWbemContext* pCtx, IWbemObjectSink* pResponseHandler);
HRESULT GetInstance(const InstanceSource& source, const BSTR strObjectPath, LONG lFlags,
                    IWbemContext* pCtx, IWbemObjectSink* pResponseHandler);

// FillInstance for a record that may be missing.
template <typename Record> bool FillFound(Record* record, IWbemClassObject* instance) {
    if (record == nullptr) {
        return false;
    }
    FillInstance(record, instance);
    return true;
}

HRESULT ShutdownProvider(const char* prefix, LONG uReason, ULONG uMaxMilliseconds,
                         IWbemContext* pCtx);
// Calls cannot be cancelled: WBEM_E_NOT_AVAILABLE.
HRESULT CancelProviderCall(const char* prefix, IWbemObjectSink* pSink);

// The fields a provider fills in Initialize, by address.
struct ProviderInitFields {
    IWbemServices** m_ppCoreService;
    BSTR* m_pNameSpace;
    BSTR* m_pLocale;
    BSTR* m_pUser;
    BSTR* m_pComputerName;
    BSTR* m_pOperatingSystemVersion;
    // The class objects to fetch, in order: class name and slot.
    std::vector<std::pair<const wchar_t*, IWbemClassObject**>> m_vClasses;
};

HRESULT InitializeProvider(const char* prefix, const ProviderInitFields& fields, LPWSTR wszUser,
                           LONG lFlags, LPWSTR wszNamespace, LPWSTR wszLocale,
                           IWbemServices* core_service, IWbemContext* pCtx,
                           IWbemProviderInitSink* pInitSink);

// Drops what an earlier Initialize left in the fields.
void ReleaseInitFields(const ProviderInitFields& fields);

// The RPC impersonation level of the calling thread (4 when it does not
// impersonate).
DWORD GetImpersonationLevel();

HRESULT CheckClientAccess(const char* prefix);
// 0 when the calling thread's token is granted access by the descriptor.
DWORD CheckAccess(PSECURITY_DESCRIPTOR descriptor, GENERIC_MAPPING* mapping);

class CWbemUtils {
public:
    // The text between the first pair of double quotes, else of single
    // quotes; `key` is left unchanged when there is neither.
    static void GetKeyFromObjectPath(const wchar_t* path, std::wstring& key);
};

// The provider's lines: `prefix` followed by the text.
std::string Prefixed(const char* prefix, const char* text);
std::wstring Prefixed(const char* prefix, const wchar_t* text);

void ReportStatus(IWbemObjectSink* sink, HRESULT result);
unsigned Address(const void* pointer);
bool ClassNameMatches(const BSTR strClass, const wchar_t* className);

} // namespace telvane
