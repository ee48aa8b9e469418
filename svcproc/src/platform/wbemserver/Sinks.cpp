#include "Sinks.h"

#include <algorithm>

#include "Log.h"
#include "Providers.h"

namespace svcproc::wbemserver {
namespace {

wbemwire::Value EncodeScalar(VARTYPE vt, const void* data) {
    using Kind = wbemwire::Value::Kind;
    wbemwire::Value value;
    auto integer = [&](int64_t v) {
        value.kind = Kind::Integer;
        value.integer = v;
    };
    auto unsignedValue = [&](uint64_t v) {
        value.kind = Kind::Unsigned;
        value.unsignedValue = v;
    };
    switch (vt) {
    case VT_I1:
        integer(*static_cast<const int8_t*>(data));
        break;
    case VT_I2:
        integer(*static_cast<const int16_t*>(data));
        break;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
        integer(*static_cast<const int32_t*>(data));
        break;
    case VT_I8:
        integer(*static_cast<const int64_t*>(data));
        break;
    case VT_UI1:
        unsignedValue(*static_cast<const uint8_t*>(data));
        break;
    case VT_UI2:
        unsignedValue(*static_cast<const uint16_t*>(data));
        break;
    case VT_UI4:
    case VT_UINT:
        unsignedValue(*static_cast<const uint32_t*>(data));
        break;
    case VT_UI8:
        unsignedValue(*static_cast<const uint64_t*>(data));
        break;
    case VT_R4:
        value.kind = Kind::Real;
        value.real = *static_cast<const float*>(data);
        break;
    case VT_R8:
        value.kind = Kind::Real;
        value.real = *static_cast<const double*>(data);
        break;
    case VT_BOOL:
        value.kind = Kind::Boolean;
        value.boolean = *static_cast<const VARIANT_BOOL*>(data) != VARIANT_FALSE;
        break;
    case VT_BSTR: {
        BSTR text = *static_cast<const BSTR*>(data);
        value.kind = Kind::String;
        value.text = wbemwire::ToUtf8(text != nullptr ? std::wstring(text, SysStringLen(text))
                                                      : std::wstring());
        break;
    }
    default:
        break; // embedded objects and the like travel as null
    }
    return value;
}

wbemwire::Value EncodeVariant(const VARIANT& v) {
    if ((v.vt & VT_ARRAY) == 0) {
        return EncodeScalar(v.vt, &v.llVal);
    }
    wbemwire::Value array;
    array.kind = wbemwire::Value::Kind::Array;
    SAFEARRAY* sa = v.parray;
    void* data = nullptr;
    if (sa == nullptr || SafeArrayAccessData(sa, &data) != S_OK) {
        return wbemwire::Value{};
    }
    VARTYPE element = static_cast<VARTYPE>(v.vt & VT_TYPEMASK);
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (ULONG i = 0; i < sa->rgsabound[0].cElements; ++i) {
        array.items.push_back(EncodeScalar(element, bytes + i * sa->cbElements));
    }
    SafeArrayUnaccessData(sa);
    return array;
}

void AddProperty(IWbemClassObject* object, const std::wstring& name, wbemwire::Object* out) {
    VARIANT value;
    VariantInit(&value);
    wbemwire::Property property{wbemwire::ToUtf8(name), {}};
    if (SUCCEEDED(object->Get(name.c_str(), 0, &value, nullptr, nullptr))) {
        property.value = EncodeVariant(value);
    }
    VariantClear(&value);
    out->properties.push_back(std::move(property));
}

std::wstring ClassOf(IWbemClassObject* object) {
    auto decl = wbem::GetClassDecl(object);
    if (decl) {
        return decl->name;
    }
    VARIANT value;
    VariantInit(&value);
    std::wstring name;
    if (SUCCEEDED(object->Get(L"__CLASS", 0, &value, nullptr, nullptr)) && value.vt == VT_BSTR &&
        value.bstrVal != nullptr) {
        name = value.bstrVal;
    }
    VariantClear(&value);
    return name;
}

} // namespace

wbemwire::Object EncodeWbemObject(IWbemClassObject* object) {
    wbemwire::Object out;
    out.className = wbemwire::ToUtf8(ClassOf(object));
    if (auto decl = wbem::GetClassDecl(object)) {
        for (const wbem::PropertyDecl& property : decl->properties) {
            AddProperty(object, property.name, &out);
        }
        return out;
    }
    // An object from elsewhere: whatever it enumerates, system properties aside.
    if (FAILED(object->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY))) {
        return out;
    }
    BSTR name = nullptr;
    while (object->Next(0, &name, nullptr, nullptr, nullptr) == WBEM_S_NO_ERROR) {
        if (name != nullptr) {
            AddProperty(object, name, &out);
        }
        SysFreeString(name);
        name = nullptr;
    }
    object->EndEnumeration();
    return out;
}

HRESULT CStreamSink::Indicate(LONG lObjectCount, IWbemClassObject** apObjArray) {
    if (lObjectCount < 0 || (lObjectCount > 0 && apObjArray == nullptr)) {
        return WBEM_E_INVALID_PARAMETER;
    }
    for (LONG i = 0; i < lObjectCount; ++i) {
        if (apObjArray[i] == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        std::vector<uint8_t> frame = wbemwire::EncodeObject(EncodeWbemObject(apObjArray[i]));
        if (frame.size() - wbemwire::kFrameHeaderSize > wbemwire::kMaxReplyBody) {
            Log(LOG_ERROR, "WBEM endpoint - an object of %u bytes is too large to send",
                static_cast<unsigned>(frame.size()));
            return WBEM_E_OUT_OF_MEMORY;
        }
        // A client that went away costs the provider nothing but this answer.
        if (!m_pConnection->Send(frame)) {
            return WBEM_E_TRANSPORT_FAILURE;
        }
        ++m_nIndicated;
    }
    return WBEM_S_NO_ERROR;
}

HRESULT CStreamSink::SetStatus(LONG lFlags, HRESULT hResult, BSTR, IWbemClassObject*) {
    if (lFlags != WBEM_STATUS_COMPLETE) {
        return WBEM_S_NO_ERROR; // progress reports are not passed on
    }
    std::lock_guard guard(m_Mutex);
    if (!m_bHasStatus) {
        m_bHasStatus = true;
        m_hrStatus = hResult;
        m_Done.notify_all();
    }
    return WBEM_S_NO_ERROR;
}

bool CStreamSink::WaitForStatus(uint32_t milliseconds, HRESULT* status) {
    std::unique_lock lock(m_Mutex);
    if (!m_Done.wait_for(lock, std::chrono::milliseconds(milliseconds),
                         [this] { return m_bHasStatus; })) {
        return false;
    }
    *status = m_hrStatus;
    return true;
}

HRESULT CEventFanout::Indicate(LONG lObjectCount, IWbemClassObject** apObjArray) {
    if (lObjectCount < 0 || (lObjectCount > 0 && apObjArray == nullptr)) {
        return WBEM_E_INVALID_PARAMETER;
    }
    for (LONG i = 0; i < lObjectCount; ++i) {
        if (apObjArray[i] == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        auto decl = wbem::GetClassDecl(apObjArray[i]);
        std::wstring eventClass = ClassOf(apObjArray[i]);
        std::vector<uint8_t> frame = wbemwire::EncodeObject(EncodeWbemObject(apObjArray[i]));
        std::vector<ConnectionPtr> watchers;
        {
            std::lock_guard guard(m_Lock);
            watchers = m_vWatchers;
        }
        for (const ConnectionPtr& watcher : watchers) {
            bool wanted = decl ? decl->InheritsFrom(watcher->m_WatchClass)
                               : wbem::NamesEqual(eventClass, watcher->m_WatchClass);
            if (wanted && !watcher->Send(frame, true)) {
                Log(LOG_ERROR, "WBEM endpoint - dropping watcher pid %d: it does not take events",
                    watcher->Peer().pid);
                Remove(watcher);
            }
        }
    }
    return WBEM_S_NO_ERROR;
}

HRESULT CEventFanout::SetStatus(LONG, HRESULT hResult, BSTR, IWbemClassObject*) {
    // The provider ends its events: every watch ends with its code.
    if (FAILED(hResult)) {
        EndAll(wbemwire::EncodeStatus({hResult, "the provider ended its events"}));
    }
    return WBEM_S_NO_ERROR;
}

void CEventFanout::Add(const ConnectionPtr& connection, const std::vector<uint8_t>& statusFrame) {
    std::lock_guard guard(m_Lock);
    if (connection->Send(statusFrame)) {
        m_vWatchers.push_back(connection);
    }
}

void CEventFanout::Remove(const ConnectionPtr& connection) {
    std::lock_guard guard(m_Lock);
    std::erase(m_vWatchers, connection);
}

void CEventFanout::EndAll(const std::vector<uint8_t>& frame) {
    std::vector<ConnectionPtr> watchers;
    {
        std::lock_guard guard(m_Lock);
        watchers.swap(m_vWatchers);
    }
    for (const ConnectionPtr& watcher : watchers) {
        watcher->Send(frame, true);
        watcher->Kill();
    }
}

} // namespace svcproc::wbemserver
