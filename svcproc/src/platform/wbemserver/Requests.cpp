#include "Requests.h"

#include <pwd.h>

#include "Log.h"
#include "Sinks.h"

namespace svcproc::wbemserver {
namespace {

// A provider answers its request through the sink before it returns, as a
// rule; one that answers later gets this long.
constexpr uint32_t kResponseTimeoutMs = 60000;

// Who may watch events. Providers check access for what they return, not for
// events, so the layer guards the watch itself, for the same accounts the
// providers grant: Administrators, Local System, the local Administrator,
// Network Service and Local Service.
constexpr const wchar_t* kWatchSddl = L"O:BAG:SYD:(A;;0x1;;;BA)(A;;0x1;;;SY)(A;;0x1;;;LA)"
                                      L"(A;;0x1;;;S-1-5-20)(A;;0x1;;;S-1-5-19)";

// The client's call context on this thread for as long as it lives.
class CallScope {
public:
    CallScope(const security::PeerIdentity& peer, uint8_t level) {
        m_Context.uid = peer.uid;
        m_Context.gid = peer.gid;
        m_Context.supplementaryGids = peer.groups;
        m_Context.pid = peer.pid;
        m_Context.impersonationLevel = level;
        com::SetCallContext(&m_Context);
    }
    ~CallScope() { com::SetCallContext(nullptr); }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

private:
    com::CallContext m_Context;
};

std::wstring UserName(uint32_t uid) {
    struct passwd entry;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return std::to_wstring(uid);
    }
    std::wstring name;
    wbemwire::FromUtf8(found->pw_name, &name);
    return name;
}

std::string CodeText(HRESULT hr, const std::string& reason) {
    if (!reason.empty()) {
        return reason;
    }
    const char* words = com::HResultText(hr);
    return words != nullptr ? words : "";
}

// The class part of an object path: "\\.\root\cimv2:Class.Key=..." gives "Class".
std::wstring ClassOfPath(const std::wstring& path) {
    std::wstring head = path.substr(0, path.find_first_of(L"=\""));
    size_t colon = head.rfind(L':');
    if (colon != std::wstring::npos) {
        head = head.substr(colon + 1);
    }
    return head.substr(0, head.find(L'.'));
}

bool MayWatch(const security::PeerIdentity& peer, uint8_t level) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kWatchSddl, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return false;
    }
    HANDLE token = security::CreateTokenForIdentity(peer, level);
    GENERIC_MAPPING mapping{0, 0, 0x000F0001, 0x000F0001};
    PRIVILEGE_SET privileges{};
    DWORD privilegesLength = sizeof(privileges);
    DWORD granted = 0;
    BOOL status = FALSE;
    BOOL checked = token != nullptr && AccessCheck(descriptor, token, 1, &mapping, &privileges,
                                                   &privilegesLength, &granted, &status);
    if (token != nullptr) {
        CloseHandle(token);
    }
    LocalFree(descriptor);
    return checked && status;
}

class RequestRunner {
public:
    RequestRunner(const ConnectionPtr& connection, const wbemwire::Request& request)
        : m_pConnection(connection), m_Request(request),
          m_Scope(connection->Peer(), request.impersonationLevel) {}

    ProviderPtr Run() {
        HRESULT hr = Prepare();
        if (SUCCEEDED(hr)) {
            switch (m_Request.type) {
            case wbemwire::MessageType::Enumerate:
                hr = Enumerate();
                break;
            case wbemwire::MessageType::GetObject:
                hr = GetObject();
                break;
            default:
                hr = Watch();
                break;
            }
        }
        if (FAILED(hr) || m_Request.type != wbemwire::MessageType::Watch) {
            if (FAILED(hr)) {
                WLog(LOG_ERROR,
                     L"WBEM endpoint - request for %s of client pid %d failed, "
                     L"HRESULT=0x%08x",
                     m_Target.c_str(), m_pConnection->Peer().pid, static_cast<unsigned>(hr));
            }
            m_pConnection->SendStatus(hr, CodeText(hr, m_Reason));
            return nullptr;
        }
        return m_pEntry;
    }

private:
    HRESULT Prepare() {
        std::wstring nameSpace;
        std::wstring locale;
        if (!wbemwire::FromUtf8(m_Request.nameSpace, &nameSpace) ||
            !wbemwire::FromUtf8(m_Request.target, &m_Target) ||
            !wbemwire::FromUtf8(m_Request.locale, &m_Locale)) {
            return WBEM_E_INVALID_PARAMETER;
        }
        m_NameSpace = wbem::NormaliseNamespace(nameSpace.empty() ? L"root\\cimv2" : nameSpace);
        std::wstring className =
            m_Request.type == wbemwire::MessageType::GetObject ? ClassOfPath(m_Target) : m_Target;
        if (className.empty()) {
            m_Reason = "the object path names no class";
            return WBEM_E_INVALID_OBJECT_PATH;
        }
        WLog(LOG_TRACE, L"WBEM endpoint - request %d for %s in %s from uid %u pid %d",
             static_cast<int>(m_Request.type), m_Target.c_str(), m_NameSpace.c_str(),
             m_pConnection->Peer().uid, m_pConnection->Peer().pid);
        return CProviderTable::Instance().Find(m_NameSpace, className, &m_pEntry, &m_pClass,
                                               &m_Reason);
    }

    HRESULT Initialise() {
        return m_pEntry->EnsureInitialised(UserName(m_pConnection->Peer().uid), m_Locale);
    }

    // Status of an asynchronous call: the provider's failure, else its sink's.
    HRESULT Outcome(HRESULT returned, CStreamSink* sink) {
        if (FAILED(returned)) {
            return returned;
        }
        HRESULT status = WBEM_S_NO_ERROR;
        if (!sink->WaitForStatus(kResponseTimeoutMs, &status)) {
            m_Reason = "the provider did not complete the request";
            return WBEM_E_TIMED_OUT;
        }
        return status;
    }

    HRESULT Enumerate() {
        if (m_pClass->IsEventClass()) {
            m_Reason = Narrow(m_pClass->name) + " is an event class: watch it";
            return WBEM_E_INVALID_OPERATION;
        }
        return AskProvider(&IWbemServices::CreateInstanceEnumAsync, false);
    }

    HRESULT GetObject() { return AskProvider(&IWbemServices::GetObjectAsync, true); }

    using AsyncCall = HRESULT (IWbemServices::*)(const BSTR, LONG, IWbemContext*, IWbemObjectSink*);

    // One asynchronous call of the provider's services on the target, its
    // objects streamed to the client. A lookup (`mustFind`) that reports
    // success must have found something.
    HRESULT AskProvider(AsyncCall call, bool mustFind) {
        HRESULT hr = Initialise();
        if (FAILED(hr)) {
            return hr;
        }
        IWbemServices* services = m_pEntry->Services();
        if (services == nullptr) {
            return WBEM_E_PROVIDER_NOT_CAPABLE;
        }
        auto* sink = new CStreamSink(m_pConnection);
        BSTR target = SysAllocString(m_Target.c_str());
        hr = target == nullptr ? WBEM_E_OUT_OF_MEMORY
                               : Outcome((services->*call)(target, 0, nullptr, sink), sink);
        if (mustFind && SUCCEEDED(hr) && sink->Indicated() == 0) {
            m_Reason = "the provider returned no object";
            hr = WBEM_E_NOT_FOUND;
        }
        SysFreeString(target);
        sink->Release();
        return hr;
    }

    HRESULT Watch() {
        if (!m_pClass->IsEventClass()) {
            m_Reason = Narrow(m_pClass->name) + " is not an event class";
            return WBEM_E_INVALID_CLASS;
        }
        if (!MayWatch(m_pConnection->Peer(), m_Request.impersonationLevel)) {
            return WBEM_E_ACCESS_DENIED;
        }
        HRESULT hr = Initialise();
        return SUCCEEDED(hr) ? m_pEntry->Watch(m_pConnection, m_pClass->name) : hr;
    }

    ConnectionPtr m_pConnection;
    const wbemwire::Request& m_Request;
    CallScope m_Scope;
    std::wstring m_NameSpace;
    std::wstring m_Target;
    std::wstring m_Locale;
    std::string m_Reason;
    ProviderPtr m_pEntry;
    std::shared_ptr<const wbem::ClassDecl> m_pClass;
};

} // namespace

ProviderPtr RunRequest(const ConnectionPtr& connection, const wbemwire::Request& request) {
    return RequestRunner(connection, request).Run();
}

} // namespace svcproc::wbemserver
