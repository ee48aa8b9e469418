// The services of one namespace that providers receive in Initialize: they
// answer for the classes of the schema.
#include <new>

#include "ComObject.h"
#include "WbemInternal.h"

namespace svcproc::wbem {
namespace {

class CCoreServices final : public com::CUnknownImpl<IWbemServices, IID_IWbemServices> {
public:
    CCoreServices(std::shared_ptr<const Schema> schema, std::wstring nameSpace)
        : m_pSchema(std::move(schema)), m_NameSpace(std::move(nameSpace)) {}

    HRESULT GetObject(const BSTR strObjectPath, LONG lFlags, IWbemContext*,
                      IWbemClassObject** ppObject, IWbemCallResult** ppCallResult) override {
        if (ppCallResult != nullptr) {
            *ppCallResult = nullptr;
        }
        if (ppObject == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        *ppObject = nullptr;
        return FindClassObject(strObjectPath, lFlags, ppObject);
    }

    HRESULT GetObjectAsync(const BSTR strObjectPath, LONG lFlags, IWbemContext*,
                           IWbemObjectSink* pResponseHandler) override {
        if (pResponseHandler == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        IWbemClassObject* object = nullptr;
        HRESULT hr = FindClassObject(strObjectPath, lFlags, &object);
        if (SUCCEEDED(hr)) {
            pResponseHandler->Indicate(1, &object);
            object->Release();
        }
        pResponseHandler->SetStatus(WBEM_STATUS_COMPLETE, hr, nullptr, nullptr);
        return hr;
    }

private:
    ~CCoreServices() = default;

    // A class path: "Class" or "\\server\namespace:Class". Instances belong
    // to their providers, not to the core.
    HRESULT FindClassObject(const BSTR path, LONG lFlags, IWbemClassObject** ppObject) {
        if (path == nullptr || lFlags != 0) {
            return WBEM_E_INVALID_PARAMETER;
        }
        std::wstring text(path, SysStringLen(path));
        if (text.find(L'\0') != std::wstring::npos) {
            text.resize(text.find(L'\0'));
        }
        size_t colon = text.find(L':');
        if (colon != std::wstring::npos) {
            if (!NamesEqual(NormaliseNamespace(text.substr(0, colon)), m_NameSpace)) {
                return WBEM_E_INVALID_NAMESPACE;
            }
            text = text.substr(colon + 1);
        }
        if (text.empty()) {
            return WBEM_E_INVALID_OBJECT_PATH;
        }
        if (text.find_first_of(L".=") != std::wstring::npos) {
            return WBEM_E_NOT_SUPPORTED;
        }
        std::shared_ptr<const ClassDecl> decl = m_pSchema->FindClass(m_NameSpace, text);
        if (!decl) {
            return WBEM_E_NOT_FOUND;
        }
        return CreateClassObject(decl, ppObject);
    }

    std::shared_ptr<const Schema> m_pSchema;
    std::wstring m_NameSpace;
};

} // namespace

HRESULT CreateCoreServices(std::shared_ptr<const Schema> schema, const std::wstring& nameSpace,
                           IWbemServices** ppServices) {
    if (ppServices == nullptr || !schema) {
        return WBEM_E_INVALID_PARAMETER;
    }
    *ppServices = nullptr;
    std::wstring normalised = NormaliseNamespace(nameSpace);
    if (!schema->HasNamespace(normalised)) {
        return WBEM_E_INVALID_NAMESPACE;
    }
    if (!svcproc::com::AllocationAllowed()) {
        return WBEM_E_OUT_OF_MEMORY;
    }
    auto* services = new (std::nothrow) CCoreServices(std::move(schema), normalised);
    if (services == nullptr) {
        return WBEM_E_OUT_OF_MEMORY;
    }
    *ppServices = services;
    return WBEM_S_NO_ERROR;
}

} // namespace svcproc::wbem
