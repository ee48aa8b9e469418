// What the sensor and LED providers share: initialisation, the client's
// impersonation level, the client access check and the object-path key.
// Each provider's lines carry its class name as prefix ("CSensorProvider").
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "security/Security.h"
#include "wbem/WbemInterfaces.h"

namespace telvane {

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
