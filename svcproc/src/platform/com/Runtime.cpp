#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "ComApi.h"

namespace svcproc::com {
namespace {

struct ProcessState {
    std::mutex mutex;
    uint32_t threadsInCom = 0;
    uint32_t threadsInMta = 0;
    bool securitySet = false;
    std::vector<std::pair<CLSID, ClassFactory>> factories;
};

// Function-local so that other libraries may register factories from their
// static initialisers.
ProcessState& Process() {
    static ProcessState* state = new ProcessState;
    return *state;
}

void LeaveCom(DWORD model) {
    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    --process.threadsInCom;
    if (model == COINIT_MULTITHREADED) {
        --process.threadsInMta;
    }
    // Security belongs to the COM session of the process, which ends here.
    if (process.threadsInCom == 0) {
        process.securitySet = false;
    }
}

struct ThreadState {
    uint32_t initCount = 0;
    DWORD model = COINIT_MULTITHREADED;
    const CallContext* call = nullptr;
    bool impersonating = false;

    // A thread that ends without its CoUninitialize leaves COM all the same.
    ~ThreadState() {
        if (initCount > 0) {
            LeaveCom(model);
        }
    }
};

thread_local ThreadState t_state;

constexpr DWORD kKnownInitFlags = COINIT_APARTMENTTHREADED | 0x4 | 0x8;

bool ComUsableOnThisThread() {
    if (t_state.initCount > 0) {
        return true;
    }
    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    // Threads that never initialised COM use the process's multithreaded
    // apartment while it exists.
    return process.threadsInMta > 0;
}

ClassFactory FindFactory(REFCLSID clsid) {
    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    for (const auto& [id, factory] : process.factories) {
        if (IsEqualCLSID(id, clsid)) {
            return factory;
        }
    }
    return {};
}

} // namespace

void SetCallContext(const CallContext* context) {
    t_state.call = context;
    t_state.impersonating = false;
}

const CallContext* GetCallContext() {
    return t_state.call;
}

const CallContext* GetImpersonatedClient() {
    return t_state.impersonating ? t_state.call : nullptr;
}

ClassFactory RegisterClassFactory(REFCLSID clsid, ClassFactory factory) {
    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    for (auto& [id, existing] : process.factories) {
        if (IsEqualCLSID(id, clsid)) {
            return std::exchange(existing, std::move(factory));
        }
    }
    process.factories.emplace_back(clsid, std::move(factory));
    return {};
}

void UnregisterClassFactory(REFCLSID clsid) {
    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    std::erase_if(process.factories,
                  [&clsid](const auto& entry) { return IsEqualCLSID(entry.first, clsid); });
}

} // namespace svcproc::com

using namespace svcproc::com;

HRESULT CoInitializeEx(void* reserved, DWORD coInit) {
    if (reserved != nullptr || (coInit & ~kKnownInitFlags) != 0) {
        return E_INVALIDARG;
    }
    DWORD model = coInit & COINIT_APARTMENTTHREADED;
    if (t_state.initCount > 0) {
        if (model != t_state.model) {
            return RPC_E_CHANGED_MODE;
        }
        ++t_state.initCount;
        return S_FALSE;
    }
    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    ++process.threadsInCom;
    if (model == COINIT_MULTITHREADED) {
        ++process.threadsInMta;
    }
    t_state.model = model;
    t_state.initCount = 1;
    return S_OK;
}

void CoUninitialize() {
    if (t_state.initCount == 0) {
        return;
    }
    if (--t_state.initCount == 0) {
        LeaveCom(t_state.model);
    }
}

HRESULT CoInitializeSecurity(void* /*securityDescriptor*/, LONG authServiceCount,
                             SOLE_AUTHENTICATION_SERVICE* authServices, void* /*reserved1*/,
                             DWORD authnLevel, DWORD impLevel, void* /*authList*/,
                             DWORD /*capabilities*/, void* /*reserved3*/) {
    if (authnLevel > RPC_C_AUTHN_LEVEL_PKT_PRIVACY || impLevel > RPC_C_IMP_LEVEL_DELEGATE ||
        (authServiceCount > 0 && authServices == nullptr) || authServiceCount < -1) {
        return E_INVALIDARG;
    }
    if (t_state.initCount == 0) {
        return CO_E_NOTINITIALIZED;
    }
    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    if (process.securitySet) {
        return RPC_E_TOO_LATE;
    }
    process.securitySet = true;
    return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD clsContext, REFIID riid,
                         void** ppv) {
    if (ppv == nullptr) {
        return E_POINTER;
    }
    *ppv = nullptr;
    if (outer != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    if ((clsContext & CLSCTX_ALL) == 0) {
        return E_INVALIDARG;
    }
    if (!ComUsableOnThisThread()) {
        return CO_E_NOTINITIALIZED;
    }
    ClassFactory factory = FindFactory(clsid);
    if (!factory) {
        return REGDB_E_CLASSNOTREG;
    }
    HRESULT hr = E_FAIL;
    try {
        hr = factory(riid, ppv);
    } catch (const std::bad_alloc&) {
        hr = E_OUTOFMEMORY;
    } catch (...) {
        hr = E_FAIL;
    }
    if (FAILED(hr)) {
        *ppv = nullptr;
    } else if (*ppv == nullptr) {
        hr = E_FAIL;
    }
    return hr;
}

HRESULT CoSetProxyBlanket(IUnknown* proxy, DWORD, DWORD, wchar_t*, DWORD authnLevel, DWORD impLevel,
                          void*, DWORD) {
    if (proxy == nullptr) {
        return E_INVALIDARG;
    }
    if (authnLevel > RPC_C_AUTHN_LEVEL_PKT_PRIVACY || impLevel > RPC_C_IMP_LEVEL_DELEGATE) {
        return E_INVALIDARG;
    }
    return S_OK;
}

HRESULT CoImpersonateClient() {
    if (t_state.call == nullptr) {
        return RPC_E_NO_CONTEXT;
    }
    t_state.impersonating = true;
    return S_OK;
}

HRESULT CoRevertToSelf() {
    if (t_state.call == nullptr) {
        return RPC_E_NO_CONTEXT;
    }
    t_state.impersonating = false;
    return S_OK;
}
