#include "ProviderSupport.h"

#include <cstdlib>
#include <cwchar>

#include "Log.h"
#include "ResourceManager.h"

namespace telvane {

namespace {

constexpr const wchar_t* kAccessSddl =
    L"O:BAG:SYD:(A;;0x10000001;;;BA)(A;;0x10000001;;;SY)(A;;0x10000001;;;LA)"
    L"(A;;0x10000001;;;S-1-5-20)(A;;0x10000001;;;S-1-5-19)";

GENERIC_MAPPING AccessMapping() {
    return {0, 0, 0x000F0001, 0x000F0001};
}

constexpr DWORD kDesiredAccess = 1;

template <typename... Args>
void LogP(_LOG_LEVEL level, const char* prefix, const char* text, Args... args) {
    Log(level, Prefixed(prefix, text).c_str(), args...);
}

template <typename... Args>
void WLogP(_LOG_LEVEL level, const char* prefix, const wchar_t* text, Args... args) {
    WLog(level, Prefixed(prefix, text).c_str(), args...);
}

unsigned Hr(HRESULT hr) {
    return static_cast<unsigned>(hr);
}

// Copies a text argument; false (and the failure line) when it cannot be
// allocated.
bool CopyText(const char* prefix, LPWSTR text, BSTR* field, const char* failure,
              const wchar_t* logged, HRESULT* result) {
    if (text == nullptr) {
        return true;
    }
    *field = SysAllocString(text);
    if (*field == nullptr) {
        *result = WBEM_E_OUT_OF_MEMORY;
        LogP(LOG_ERROR, prefix, failure, Hr(*result));
        return false;
    }
    WLogP(LOG_INFO, prefix, logged, *field);
    return true;
}

HRESULT FetchClasses(const char* prefix, const ProviderInitFields& fields, IWbemContext* pCtx) {
    HRESULT result = WBEM_S_NO_ERROR;
    for (auto& [className, slot] : fields.m_vClasses) {
        BSTR name = SysAllocString(className);
        if (name == nullptr) {
            result = WBEM_E_OUT_OF_MEMORY;
            LogP(LOG_ERROR, prefix,
                 "::Initialize - SysAllocString - Class - failed, HRESULT=0x%08x", Hr(result));
            return result;
        }
        result = (*fields.m_ppCoreService)->GetObject(name, 0, pCtx, slot, nullptr);
        SysFreeString(name);
        if (FAILED(result)) {
            LogP(LOG_ERROR, prefix, "::Initialize - GetObject failed, HRESULT=0x%08x", Hr(result));
            return result;
        }
    }
    return result;
}

HRESULT ReadHostFacts(const char* prefix, const ProviderInitFields& fields) {
    HRESULT result = WBEM_S_NO_ERROR;
    *fields.m_pComputerName = SysAllocStringLen(nullptr, 16);
    if (*fields.m_pComputerName == nullptr) {
        result = WBEM_E_OUT_OF_MEMORY;
        LogP(LOG_ERROR, prefix,
             "::Initialize - SysAllocStringLen - m_ComputerName - failed, HRESULT=0x%08x",
             Hr(result));
        return result;
    }
    DWORD size = 16;
    if (!GetComputerNameW(*fields.m_pComputerName, &size)) {
        result = WBEM_E_FAILED;
        LogP(LOG_ERROR, prefix, "::Initialize - GetComputerName - failed, HRESULT=0x%08x",
             Hr(result));
        return result;
    }
    WLogP(LOG_INFO, prefix, L"::Initialize - m_ComputerName=%s", *fields.m_pComputerName);

    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = OSVERSIONINFOW_NARROW_SIZE;
    if (!GetVersionExW(&version)) {
        result = WBEM_E_FAILED;
        LogP(LOG_ERROR, prefix, "::Initialize - GetVersionEx failed, HRESULT=0x%08x", Hr(result));
        return result;
    }
    *fields.m_pOperatingSystemVersion = SysAllocStringLen(nullptr, 260);
    if (*fields.m_pOperatingSystemVersion == nullptr) {
        result = WBEM_E_OUT_OF_MEMORY;
        LogP(LOG_ERROR, prefix,
             "::Initialize - SysAllocStringLen - m_OperatingSystemVersion - failed, "
             "HRESULT=0x%08x",
             Hr(result));
        return result;
    }
    // Bounded by the 260 characters; a text that does not fit is cut.
    swprintf(*fields.m_pOperatingSystemVersion, 260, L"%d.%d.%hu",
             static_cast<int>(version.dwMajorVersion), static_cast<int>(version.dwMinorVersion),
             static_cast<unsigned short>(version.dwBuildNumber & 0xFFFF));
    (*fields.m_pOperatingSystemVersion)[259] = L'\0';
    WLogP(LOG_INFO, prefix, L"::Initialize - OS Version=%s", *fields.m_pOperatingSystemVersion);
    if (version.dwMajorVersion < 5) {
        LogQuick(LOG_ERROR, Prefixed(prefix, "::Initialize - OS Version too low").c_str());
        result = WBEM_E_FAILED;
    }
    return result;
}

} // namespace

std::string Prefixed(const char* prefix, const char* text) {
    return std::string(prefix) + text;
}

std::wstring Prefixed(const char* prefix, const wchar_t* text) {
    std::wstring wide;
    for (const char* p = prefix; *p; ++p) {
        wide += static_cast<wchar_t>(*p);
    }
    return wide + text;
}

unsigned Address(const void* pointer) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(pointer));
}

void ReportStatus(IWbemObjectSink* sink, HRESULT result) {
    sink->SetStatus(WBEM_STATUS_COMPLETE, result, nullptr, nullptr);
}

bool ClassNameMatches(const BSTR strClass, const wchar_t* className) {
    return strClass != nullptr && wcscasecmp(strClass, className) == 0;
}

void ReleaseInitFields(const ProviderInitFields& fields) {
    for (BSTR* text : {fields.m_pUser, fields.m_pLocale, fields.m_pNameSpace}) {
        SysFreeString(*text);
        *text = nullptr;
    }
    if (*fields.m_ppCoreService) {
        (*fields.m_ppCoreService)->Release();
        *fields.m_ppCoreService = nullptr;
    }
    for (auto& entry : fields.m_vClasses) {
        if (*entry.second) {
            (*entry.second)->Release();
            *entry.second = nullptr;
        }
    }
    for (BSTR* text : {fields.m_pComputerName, fields.m_pOperatingSystemVersion}) {
        SysFreeString(*text);
        *text = nullptr;
    }
}

HRESULT InitializeProvider(const char* prefix, const ProviderInitFields& fields, LPWSTR wszUser,
                           LONG lFlags, LPWSTR wszNamespace, LPWSTR wszLocale,
                           IWbemServices* core_service, IWbemContext* pCtx,
                           IWbemProviderInitSink* pInitSink) {
    WLogP(LOG_TRACE, prefix, L"::Initialize(%s,0x%08x,%s,%s,0x%08x,0x%08x,0x%08x)", wszUser,
          static_cast<unsigned>(lFlags), wszNamespace, wszLocale, Address(core_service),
          Address(pCtx), Address(pInitSink));
    ReleaseInitFields(fields);

    HRESULT result = CoImpersonateClient();
    if (FAILED(result)) {
        LogP(LOG_ERROR, prefix, "::Initialize - CoImpersonateClient failed, HRESULT=0x%08x",
             Hr(result));
        return result;
    }
    DWORD level = GetImpersonationLevel();
    CoRevertToSelf();
    LogP(LOG_INFO, prefix, "::Initialize - ImpersonationLevel=%d", static_cast<int>(level));
    if (level < RPC_C_IMP_LEVEL_IDENTIFY) {
        LogQuick(LOG_ERROR,
                 Prefixed(prefix, "::Initialize - ImpersonationLevel < RPC_C_IMP_LEVEL_IDENTIFY - "
                                  "Denying access")
                     .c_str());
        return WBEM_E_ACCESS_DENIED;
    }

    if (core_service == nullptr) {
        result = WBEM_E_INVALID_PARAMETER;
        LogP(LOG_ERROR, prefix, "::Initialize - core_service==NULL, HRESULT=0x%08x", Hr(result));
    } else {
        core_service->AddRef();
        *fields.m_ppCoreService = core_service;
        result = FetchClasses(prefix, fields, pCtx);
        if (SUCCEEDED(result) &&
            CopyText(prefix, wszUser, fields.m_pUser,
                     "::Initialize - SysAllocString - m_User - failed, HRESULT=0x%08x",
                     L"::Initialize - m_User=%s", &result) &&
            CopyText(prefix, wszLocale, fields.m_pLocale,
                     "::Initialize - SysAllocString - m_Locale - failed, HRESULT=0x%08x",
                     L"::Initialize - m_Locale=%s", &result) &&
            CopyText(prefix, wszNamespace, fields.m_pNameSpace,
                     "::Initialize - SysAllocString - name_space - failed, HRESULT=0x%08x",
                     L"::Initialize - name_space=%s", &result)) {
            HRESULT facts = ReadHostFacts(prefix, fields);
            if (FAILED(facts)) {
                result = facts;
            }
        }
    }
    if (pInitSink) {
        pInitSink->SetStatus(result, 0);
    }
    LogP(LOG_INFO, prefix, "::Initialize - returning HRESULT=0x%08x", Hr(result));
    return result;
}

DWORD GetImpersonationLevel() {
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        DWORD error = GetLastError();
        return error == ERROR_NO_IMPERSONATION_TOKEN || error == ERROR_NO_TOKEN
                   ? RPC_C_IMP_LEVEL_DELEGATE
                   : RPC_C_IMP_LEVEL_ANONYMOUS;
    }
    SECURITY_IMPERSONATION_LEVEL level = SecurityAnonymous;
    DWORD length = 0;
    BOOL read = GetTokenInformation(token, TokenImpersonationLevel, &level, sizeof level, &length);
    CloseHandle(token);
    if (!read) {
        return RPC_C_IMP_LEVEL_ANONYMOUS;
    }
    switch (level) {
    case SecurityIdentification:
        return RPC_C_IMP_LEVEL_IDENTIFY;
    case SecurityImpersonation:
        return RPC_C_IMP_LEVEL_IMPERSONATE;
    case SecurityDelegation:
        return RPC_C_IMP_LEVEL_DELEGATE;
    default:
        return RPC_C_IMP_LEVEL_ANONYMOUS;
    }
}

DWORD CheckAccess(PSECURITY_DESCRIPTOR descriptor, GENERIC_MAPPING* mapping) {
    HANDLE token = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
        return GetLastError();
    }
    DWORD desired = kDesiredAccess;
    MapGenericMask(&desired, mapping);
    DWORD privilegeLength = 0;
    DWORD granted = 0;
    BOOL status = FALSE;
    SetLastError(0);
    BOOL called = AccessCheck(descriptor, token, desired, mapping, nullptr, &privilegeLength,
                              &granted, &status);
    if ((!called || !status) && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        SetLastError(0);
        void* privileges = std::calloc(1, privilegeLength);
        if (privileges) {
            SetLastError(0);
            AccessCheck(descriptor, token, MAXIMUM_ALLOWED, mapping,
                        static_cast<PRIVILEGE_SET*>(privileges), &privilegeLength, &granted,
                        &status);
            std::free(privileges);
        }
    }
    DWORD error = GetLastError();
    CloseHandle(token);
    return error;
}

HRESULT CheckClientAccess(const char* prefix) {
    LogQuick(LOG_TRACE, "CheckClientAccess");
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAccessSddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        LogQuick(LOG_ERROR,
                 Prefixed(prefix, "::CheckClientAccess - "
                                  "ConvertStringSecurityDescriptorToSecurityDescriptor - failed")
                     .c_str());
        return E_FAIL;
    }
    HRESULT result = CoImpersonateClient();
    if (FAILED(result)) {
        LogP(LOG_ERROR, prefix,
             "::CheckClientAccess - CoImpersonateClient - failed, HRESULT=0x%08x", Hr(result));
        LocalFree(descriptor);
        return result;
    }
    GENERIC_MAPPING mapping = AccessMapping();
    DWORD error = CheckAccess(descriptor, &mapping);
    LocalFree(descriptor);
    CoRevertToSelf();
    if (error != 0) {
        LogP(LOG_ERROR, prefix, "::CheckClientAccess - CheckAccess - failed, error=0x%08x", error);
        return WBEM_E_ACCESS_DENIED;
    }
    return result;
}

void CWbemUtils::GetKeyFromObjectPath(const wchar_t* path, std::wstring& key) {
    WLog(LOG_TRACE, L"CWbemUtils::GetKeyFromObjectPath(%s)", path);
    if (path == nullptr) {
        return;
    }
    std::wstring text = path;
    for (wchar_t quote : {L'"', L'\''}) {
        size_t open = text.find(quote);
        size_t close = open == std::wstring::npos ? open : text.find(quote, open + 1);
        if (close != std::wstring::npos) {
            key = text.substr(open + 1, close - open - 1);
            return;
        }
    }
}

LONG CountedAddRef(const char* prefix, volatile LONG* count) {
    LONG current = *count;
    LONG updated = InterlockedIncrement(count);
    LogP(LOG_INFO, prefix, "::AddRef - Current=%d, New=%d", current, updated);
    return updated;
}

LONG CountedRelease(const char* prefix, volatile LONG* count) {
    LONG current = *count;
    LONG updated = InterlockedDecrement(count);
    LogP(LOG_INFO, prefix, "::Release - Current=%d, New=%d", current, updated);
    return updated;
}

HRESULT QueryProviderInterface(const char* prefix, REFIID riid, void** ppv,
                               std::initializer_list<ProviderInterface> interfaces) {
    LogP(LOG_TRACE, prefix, "::QueryInterface - ppv=0x%08x", Address(ppv));
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    for (const ProviderInterface& entry : interfaces) {
        if (IsEqualIID(riid, *entry.m_pIid)) {
            std::string text =
                Prefixed(prefix, "::QueryInterface - returning ") + entry.m_szName + "* 0x%08x";
            Log(LOG_INFO, text.c_str(), Address(entry.m_pInterface));
            *ppv = entry.m_pInterface;
            entry.m_pInterface->AddRef();
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}

HRESULT EnumerateInstances(const InstanceSource& source, const BSTR strClass, LONG lFlags,
                           IWbemContext* pCtx, IWbemObjectSink* pResponseHandler) {
    const char* prefix = source.m_szPrefix;
    WLogP(LOG_TRACE, prefix, L"::CreateInstanceEnumAsync(%s,0x%08x,0x%08x,0x%08x)", strClass,
          static_cast<unsigned>(lFlags), Address(pCtx), Address(pResponseHandler));
    if (pResponseHandler == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    HRESULT result = WBEM_E_INVALID_CLASS;
    if (ClassNameMatches(strClass, source.m_wszClassName)) {
        result = CheckClientAccess(prefix);
        if (FAILED(result)) {
            ReportStatus(pResponseHandler, WBEM_E_ACCESS_DENIED);
            return WBEM_E_ACCESS_DENIED;
        }
        CProviderDataAccess data;
        if (!data) {
            result = WBEM_E_SHUTTING_DOWN;
        } else {
            EnterCriticalSection(source.m_pLock);
            int count = source.m_pCount(data);
            for (int index = 0; index < count; ++index) {
                IWbemClassObject* instance = nullptr;
                IWbemClassObject* cls = *source.m_ppClass;
                result = cls ? cls->SpawnInstance(0, &instance) : WBEM_E_FAILED;
                if (instance == nullptr) {
                    LogP(LOG_ERROR, prefix,
                         "::CreateInstanceEnumAsync - SpawnInstance failed, HRESULT=0x%08x - "
                         "continuing enum",
                         Hr(result));
                    continue;
                }
                if (!source.m_pFillAt(data, index, instance)) {
                    std::string text = Prefixed(prefix, "::CreateInstanceEnumAsync - ") +
                                       source.m_szGetAtName +
                                       "(%d) failed, HRESULT=0x%08x - continuing enum";
                    Log(LOG_ERROR, text.c_str(), index, Hr(result));
                    instance->Release();
                    continue;
                }
                pResponseHandler->Indicate(1, &instance);
                instance->Release();
            }
            LeaveCriticalSection(source.m_pLock);
        }
    }
    ReportStatus(pResponseHandler, result);
    LogP(LOG_INFO, prefix, "::CreateInstanceEnumAsync - returning HRESULT=0x%08x", Hr(result));
    return result;
}

HRESULT GetInstance(const InstanceSource& source, const BSTR strObjectPath, LONG lFlags,
                    IWbemContext* pCtx, IWbemObjectSink* pResponseHandler) {
    const char* prefix = source.m_szPrefix;
    WLogP(LOG_TRACE, prefix, L"::GetObjectAsync(%s,0x%08x,0x%08x,0x%08x)", strObjectPath,
          static_cast<unsigned>(lFlags), Address(pCtx), Address(pResponseHandler));
    if (pResponseHandler == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    if (FAILED(CheckClientAccess(prefix))) {
        ReportStatus(pResponseHandler, WBEM_E_ACCESS_DENIED);
        return WBEM_E_ACCESS_DENIED;
    }
    std::wstring key;
    CWbemUtils::GetKeyFromObjectPath(strObjectPath, key);
    if (key.empty()) {
        ReportStatus(pResponseHandler, WBEM_E_NOT_FOUND);
        WLogP(LOG_ERROR, prefix,
              L"::GetObjectAsync - GetKeyFromObjectPath failed, ObjPath=%s, ObjKey=%s",
              strObjectPath, key.c_str());
        return WBEM_E_NOT_FOUND;
    }
    IWbemClassObject* instance = nullptr;
    if (*source.m_ppClass) {
        (*source.m_ppClass)->SpawnInstance(0, &instance);
    }
    if (instance == nullptr) {
        ReportStatus(pResponseHandler, WBEM_E_OUT_OF_MEMORY);
        LogP(LOG_ERROR, prefix, "::GetObjectAsync - SpawnInstance failed, HRESULT=0x%08x",
             Hr(WBEM_E_OUT_OF_MEMORY));
        return WBEM_E_OUT_OF_MEMORY;
    }
    CProviderDataAccess data;
    if (!data) {
        instance->Release();
        ReportStatus(pResponseHandler, WBEM_E_SHUTTING_DOWN);
        return WBEM_E_SHUTTING_DOWN;
    }
    EnterCriticalSection(source.m_pLock);
    if (!source.m_pFillByKey(data, key, instance)) {
        ReportStatus(pResponseHandler, WBEM_E_NOT_FOUND);
        WLogP(LOG_ERROR, prefix, L"::GetObjectAsync - GetSensor(%s) failed, HRESULT=0x%08x",
              key.c_str(), Hr(WBEM_E_NOT_FOUND));
        LeaveCriticalSection(source.m_pLock);
        instance->Release();
        return WBEM_E_NOT_FOUND;
    }
    pResponseHandler->Indicate(1, &instance);
    instance->Release();
    LeaveCriticalSection(source.m_pLock);
    ReportStatus(pResponseHandler, WBEM_S_NO_ERROR);
    LogQuick(LOG_INFO, Prefixed(prefix, "::GetObjectAsync - returning HRESULT=0x00000000").c_str());
    return WBEM_S_NO_ERROR;
}

HRESULT ShutdownProvider(const char* prefix, LONG uReason, ULONG uMaxMilliseconds,
                         IWbemContext* pCtx) {
    WLogP(LOG_TRACE, prefix, L"::Shutdown(0x%08x,0x%08x,0x%08x)", static_cast<unsigned>(uReason),
          static_cast<unsigned>(uMaxMilliseconds), Address(pCtx));
    return WBEM_S_NO_ERROR;
}

HRESULT CancelProviderCall(const char* prefix, IWbemObjectSink* pSink) {
    LogP(LOG_INFO, prefix, "::CancelAsyncCall(0x%08x)", Address(pSink));
    return WBEM_E_NOT_AVAILABLE;
}

} // namespace telvane
