// The COM runtime: apartments, process security, object creation and the
// client call context that impersonation works on.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "../base/WinTypes.h"
#include "Guid.h"
#include "HResult.h"
#include "OleAuto.h"
#include "Unknown.h"

// Concurrency models. Every thread of the layer calls objects directly; the
// model only decides which later CoInitializeEx calls on the thread agree.
constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

constexpr DWORD RPC_C_AUTHN_LEVEL_DEFAULT = 0;
constexpr DWORD RPC_C_AUTHN_LEVEL_NONE = 1;
constexpr DWORD RPC_C_AUTHN_LEVEL_CONNECT = 2;
constexpr DWORD RPC_C_AUTHN_LEVEL_CALL = 3;
constexpr DWORD RPC_C_AUTHN_LEVEL_PKT = 4;
constexpr DWORD RPC_C_AUTHN_LEVEL_PKT_INTEGRITY = 5;
constexpr DWORD RPC_C_AUTHN_LEVEL_PKT_PRIVACY = 6;

constexpr DWORD RPC_C_IMP_LEVEL_DEFAULT = 0;
constexpr DWORD RPC_C_IMP_LEVEL_ANONYMOUS = 1;
constexpr DWORD RPC_C_IMP_LEVEL_IDENTIFY = 2;
constexpr DWORD RPC_C_IMP_LEVEL_IMPERSONATE = 3;
constexpr DWORD RPC_C_IMP_LEVEL_DELEGATE = 4;

constexpr DWORD RPC_C_AUTHN_NONE = 0;
constexpr DWORD RPC_C_AUTHN_WINNT = 10;
constexpr DWORD RPC_C_AUTHN_DEFAULT = 0xFFFFFFFFu;
constexpr DWORD RPC_C_AUTHZ_NONE = 0;

constexpr DWORD EOAC_NONE = 0x0;
constexpr DWORD EOAC_STATIC_CLOAKING = 0x20;
constexpr DWORD EOAC_DYNAMIC_CLOAKING = 0x40;

struct SOLE_AUTHENTICATION_SERVICE;

// S_OK for the thread's first call, S_FALSE for each further call with the
// same model (each needs its CoUninitialize), RPC_E_CHANGED_MODE for another
// model (owes nothing). `reserved` must be null.
SVCP_COM_EXPORT HRESULT CoInitializeEx(void* reserved, DWORD coInit);
// Undoes one successful CoInitializeEx of the calling thread.
SVCP_COM_EXPORT void CoUninitialize();

// Once per process while COM is initialised: RPC_E_TOO_LATE after the first
// success. The setting lasts until the last thread leaves COM, so a process
// that shuts COM down completely may set it again. CO_E_NOTINITIALIZED when
// the calling thread has not initialised COM.
SVCP_COM_EXPORT HRESULT CoInitializeSecurity(void* securityDescriptor, LONG authServiceCount,
                                             SOLE_AUTHENTICATION_SERVICE* authServices,
                                             void* reserved1, DWORD authnLevel, DWORD impLevel,
                                             void* authList, DWORD capabilities, void* reserved3);

// Creates an object of a registered class. CO_E_NOTINITIALIZED when no
// thread of the process has initialised COM, CLASS_E_NOAGGREGATION for an
// outer object, REGDB_E_CLASSNOTREG for a class without a factory.
SVCP_COM_EXPORT HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext,
                                         REFIID riid, void** ppv);

// Objects of this layer are called in-process, so a proxy blanket changes
// nothing; accepted for any non-null proxy.
SVCP_COM_EXPORT HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD authnService, DWORD authzService,
                                          wchar_t* serverPrincipalName, DWORD authnLevel,
                                          DWORD impLevel, void* authInfo, DWORD capabilities);

// The calling thread takes on the identity of the client whose call it
// serves, until CoRevertToSelf or the end of the call. Both fail with
// RPC_E_NO_CONTEXT on a thread that serves no client call.
SVCP_COM_EXPORT HRESULT CoImpersonateClient();
SVCP_COM_EXPORT HRESULT CoRevertToSelf();

namespace svcproc::com {

// The client of the call a thread serves, as the endpoint saw it.
struct CallContext {
    uint32_t uid = 0;
    uint32_t gid = 0;
    std::vector<uint32_t> supplementaryGids;
    int32_t pid = 0;
    // RPC_C_IMP_LEVEL_ANONYMOUS .. RPC_C_IMP_LEVEL_DELEGATE, as the client asked.
    DWORD impersonationLevel = RPC_C_IMP_LEVEL_IMPERSONATE;
};

// The endpoint sets the context on its layer thread around a provider call
// and clears it (null) afterwards; clearing also ends any impersonation.
// The context is borrowed and must outlive the call.
SVCP_COM_EXPORT void SetCallContext(const CallContext* context);
SVCP_COM_EXPORT const CallContext* GetCallContext();
// The client the calling thread impersonates now, or null.
SVCP_COM_EXPORT const CallContext* GetImpersonatedClient();

// Creates an object of one class for CoCreateInstance: S_OK and an
// AddRef'ed interface `riid` in *ppv, or a failure and null.
using ClassFactory = std::function<HRESULT(REFIID riid, void** ppv)>;
// Installs the factory of `clsid` and returns the one it replaces (empty if
// none), so a test can put a different implementation in place and restore
// the original.
SVCP_COM_EXPORT ClassFactory RegisterClassFactory(REFCLSID clsid, ClassFactory factory);
SVCP_COM_EXPORT void UnregisterClassFactory(REFCLSID clsid);

// Test hook: after `successes` more allocations of strings, arrays and
// objects of the layer succeed, every further one fails until the hook is
// reset with a negative value.
SVCP_COM_EXPORT void SetAllocationFailureForTest(int64_t successes);
// The layer's allocations call this; false means "fail this one".
SVCP_COM_EXPORT bool AllocationAllowed();

} // namespace svcproc::com
