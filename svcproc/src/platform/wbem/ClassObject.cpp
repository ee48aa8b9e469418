// Class objects and instances over a class declaration of the schema.
#include <mutex>
#include <new>
#include <vector>

#include "ComObject.h"
#include "WbemInternal.h"

namespace svcproc::wbem {
namespace {

enum class SystemProperty {
    Genus,
    Class,
    Superclass,
    Dynasty,
    RelPath,
    PropertyCount,
    Derivation,
    Namespace
};

struct SystemPropertyName {
    const wchar_t* name;
    SystemProperty id;
};

constexpr SystemPropertyName kSystemProperties[] = {
    {L"__GENUS", SystemProperty::Genus},
    {L"__CLASS", SystemProperty::Class},
    {L"__SUPERCLASS", SystemProperty::Superclass},
    {L"__DYNASTY", SystemProperty::Dynasty},
    {L"__RELPATH", SystemProperty::RelPath},
    {L"__PROPERTY_COUNT", SystemProperty::PropertyCount},
    {L"__DERIVATION", SystemProperty::Derivation},
    {L"__NAMESPACE", SystemProperty::Namespace},
};

bool FindSystemProperty(const std::wstring& name, SystemProperty* id) {
    for (const SystemPropertyName& entry : kSystemProperties) {
        if (NamesEqual(name, entry.name)) {
            *id = entry.id;
            return true;
        }
    }
    return false;
}

HRESULT StringValue(const std::wstring& text, VARIANT* out) {
    out->bstrVal = MakeBstr(text);
    if (out->bstrVal == nullptr) {
        return WBEM_E_OUT_OF_MEMORY;
    }
    out->vt = VT_BSTR;
    return WBEM_S_NO_ERROR;
}

HRESULT StringArrayValue(const std::vector<std::wstring>& texts, VARIANT* out) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size()));
    if (array == nullptr) {
        return WBEM_E_OUT_OF_MEMORY;
    }
    BSTR* slots = static_cast<BSTR*>(array->pvData);
    for (size_t i = 0; i < texts.size(); ++i) {
        slots[i] = MakeBstr(texts[i]);
        if (slots[i] == nullptr) {
            SafeArrayDestroy(array);
            return WBEM_E_OUT_OF_MEMORY;
        }
    }
    out->vt = VT_ARRAY | VT_BSTR;
    out->parray = array;
    return WBEM_S_NO_ERROR;
}

class CClassObject final
    : public com::CUnknownImpl<IWbemClassObject, IID_IWbemClassObject, IID_LayerClassObject> {
public:
    // Values start as the declaration's defaults.
    static CClassObject* Create(std::shared_ptr<const ClassDecl> decl, bool instance, HRESULT* hr);

    HRESULT GetQualifierSet(IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE* pType,
                LONG* plFlavor) override;
    HRESULT Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE Type) override;
    HRESULT Delete(LPCWSTR wszName) override;
    HRESULT GetNames(LPCWSTR wszQualifierName, LONG lFlags, VARIANT* pQualifierVal,
                     SAFEARRAY** pNames) override;
    HRESULT BeginEnumeration(LONG lEnumFlags) override;
    HRESULT Next(LONG lFlags, BSTR* strName, VARIANT* pVal, CIMTYPE* pType,
                 LONG* plFlavor) override;
    HRESULT EndEnumeration() override;
    HRESULT GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT Clone(IWbemClassObject** ppCopy) override;
    HRESULT GetObjectText(LONG lFlags, BSTR* pstrObjectText) override;
    HRESULT SpawnDerivedClass(LONG, IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT SpawnInstance(LONG lFlags, IWbemClassObject** ppNewInstance) override;
    HRESULT CompareTo(LONG lFlags, IWbemClassObject* pCompareTo) override;
    HRESULT GetPropertyOrigin(LPCWSTR wszName, BSTR* pstrClassName) override;
    HRESULT InheritsFrom(LPCWSTR strAncestor) override;
    HRESULT GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT DeleteMethod(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT BeginMethodEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT EndMethodEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT GetMethodOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }

    const std::shared_ptr<const ClassDecl>& Decl() const { return m_pDecl; }
    bool IsInstance() const { return m_bInstance; }
    // The class object's values become the declaration's defaults.
    HRESULT LoadDefaults();

private:
    CClassObject(std::shared_ptr<const ClassDecl> decl, bool instance)
        : m_pDecl(std::move(decl)), m_bInstance(instance) {}
    ~CClassObject() {
        for (VARIANT& value : m_vValues) {
            VariantClear(&value);
        }
    }

    HRESULT CopyValuesFrom(const CClassObject& other);
    HRESULT GetSystem(SystemProperty id, VARIANT* out) const;
    HRESULT RelativePath(VARIANT* out) const;
    // The property names the flags select; false for flags not offered.
    bool SelectNames(LPCWSTR qualifier, LONG flags, std::vector<std::wstring>* names) const;
    HRESULT GetLocked(const std::wstring& name, VARIANT* pVal, CIMTYPE* pType,
                      LONG* plFlavor) const;

    std::shared_ptr<const ClassDecl> m_pDecl;
    bool m_bInstance;
    mutable std::mutex m_Mutex;
    std::vector<VARIANT> m_vValues; // one per property, VT_NULL when it has none
    std::vector<bool> m_vPutLocally;
    std::vector<std::wstring> m_vEnumNames;
    size_t m_nEnumPos = 0;
    bool m_bEnumerating = false;
};

CClassObject* CClassObject::Create(std::shared_ptr<const ClassDecl> decl, bool instance,
                                   HRESULT* hr) {
    if (!svcproc::com::AllocationAllowed()) {
        *hr = WBEM_E_OUT_OF_MEMORY;
        return nullptr;
    }
    CClassObject* object = new (std::nothrow) CClassObject(std::move(decl), instance);
    if (object == nullptr) {
        *hr = WBEM_E_OUT_OF_MEMORY;
        return nullptr;
    }
    object->m_vValues.resize(object->m_pDecl->properties.size());
    object->m_vPutLocally.assign(object->m_pDecl->properties.size(), false);
    for (VARIANT& value : object->m_vValues) {
        VariantInit(&value);
        value.vt = VT_NULL;
    }
    *hr = WBEM_S_NO_ERROR;
    return object;
}

HRESULT CClassObject::LoadDefaults() {
    for (size_t i = 0; i < m_vValues.size(); ++i) {
        const PropertyDecl& property = m_pDecl->properties[i];
        if (!property.hasDefault) {
            continue;
        }
        VARIANT value;
        HRESULT hr = MofValueToVariant(property.defaultValue, property.type, &value);
        if (FAILED(hr)) {
            return hr;
        }
        VariantClear(&m_vValues[i]);
        m_vValues[i] = value;
    }
    return WBEM_S_NO_ERROR;
}

HRESULT CClassObject::CopyValuesFrom(const CClassObject& other) {
    for (size_t i = 0; i < m_vValues.size(); ++i) {
        if (FAILED(VariantCopy(&m_vValues[i], &other.m_vValues[i]))) {
            return WBEM_E_OUT_OF_MEMORY;
        }
    }
    return WBEM_S_NO_ERROR;
}

HRESULT CClassObject::RelativePath(VARIANT* out) const {
    if (!m_bInstance) {
        return StringValue(m_pDecl->name, out);
    }
    std::wstring path = m_pDecl->name;
    bool first = true;
    for (size_t i = 0; i < m_vValues.size(); ++i) {
        if (!m_pDecl->properties[i].IsKey()) {
            continue;
        }
        if (m_vValues[i].vt == VT_NULL) {
            out->vt = VT_NULL; // an instance without its key has no path yet
            return WBEM_S_NO_ERROR;
        }
        path +=
            (first ? L"." : L",") + m_pDecl->properties[i].name + L"=" + ValueText(m_vValues[i]);
        first = false;
    }
    if (first) {
        path += L"=@";
    }
    return StringValue(path, out);
}

HRESULT CClassObject::GetSystem(SystemProperty id, VARIANT* out) const {
    switch (id) {
    case SystemProperty::Genus:
        out->vt = VT_I4;
        out->lVal = m_bInstance ? WBEM_GENUS_INSTANCE : WBEM_GENUS_CLASS;
        return WBEM_S_NO_ERROR;
    case SystemProperty::Class:
        return StringValue(m_pDecl->name, out);
    case SystemProperty::Superclass:
        if (m_pDecl->superclass.empty()) {
            out->vt = VT_NULL;
            return WBEM_S_NO_ERROR;
        }
        return StringValue(m_pDecl->superclass, out);
    case SystemProperty::Dynasty:
        return StringValue(m_pDecl->ancestors.empty() ? m_pDecl->name : m_pDecl->ancestors.back(),
                           out);
    case SystemProperty::RelPath:
        return RelativePath(out);
    case SystemProperty::PropertyCount:
        out->vt = VT_I4;
        out->lVal = static_cast<LONG>(m_pDecl->properties.size());
        return WBEM_S_NO_ERROR;
    case SystemProperty::Derivation:
        return StringArrayValue(m_pDecl->ancestors, out);
    case SystemProperty::Namespace:
        return StringValue(m_pDecl->nameSpace, out);
    }
    return WBEM_E_NOT_FOUND;
}

CIMTYPE SystemPropertyType(SystemProperty id) {
    switch (id) {
    case SystemProperty::Genus:
    case SystemProperty::PropertyCount:
        return CIM_SINT32;
    case SystemProperty::Derivation:
        return CIM_STRING | CIM_FLAG_ARRAY;
    default:
        return CIM_STRING;
    }
}

HRESULT CClassObject::GetLocked(const std::wstring& name, VARIANT* pVal, CIMTYPE* pType,
                                LONG* plFlavor) const {
    SystemProperty id{};
    if (FindSystemProperty(name, &id)) {
        if (pVal != nullptr) {
            VariantInit(pVal);
            HRESULT hr = GetSystem(id, pVal);
            if (FAILED(hr)) {
                return hr;
            }
        }
        if (pType != nullptr) {
            *pType = SystemPropertyType(id);
        }
        if (plFlavor != nullptr) {
            *plFlavor = WBEM_FLAVOR_ORIGIN_SYSTEM;
        }
        return WBEM_S_NO_ERROR;
    }
    int index = m_pDecl->FindProperty(name);
    if (index < 0) {
        return WBEM_E_NOT_FOUND;
    }
    size_t i = static_cast<size_t>(index);
    if (pVal != nullptr) {
        VariantInit(pVal);
        if (FAILED(VariantCopy(pVal, &m_vValues[i]))) {
            return WBEM_E_OUT_OF_MEMORY;
        }
    }
    if (pType != nullptr) {
        *pType = m_pDecl->properties[i].type;
    }
    if (plFlavor != nullptr) {
        bool local = m_bInstance ? m_vPutLocally[i]
                                 : NamesEqual(m_pDecl->properties[i].origin, m_pDecl->name);
        *plFlavor = local ? WBEM_FLAVOR_ORIGIN_LOCAL : WBEM_FLAVOR_ORIGIN_PROPAGATED;
    }
    return WBEM_S_NO_ERROR;
}

HRESULT CClassObject::Get(LPCWSTR wszName, LONG, VARIANT* pVal, CIMTYPE* pType, LONG* plFlavor) {
    if (wszName == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    std::lock_guard lock(m_Mutex);
    return GetLocked(wszName, pVal, pType, plFlavor);
}

HRESULT CClassObject::Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE Type) {
    if (wszName == nullptr || lFlags != 0) {
        return WBEM_E_INVALID_PARAMETER;
    }
    SystemProperty id{};
    if (FindSystemProperty(wszName, &id)) {
        return WBEM_E_READ_ONLY;
    }
    int index = m_pDecl->FindProperty(wszName);
    if (index < 0) {
        return WBEM_E_NOT_FOUND;
    }
    const PropertyDecl& property = m_pDecl->properties[static_cast<size_t>(index)];
    if (Type != 0 && Type != property.type) {
        return WBEM_E_TYPE_MISMATCH;
    }
    VARIANT converted;
    VARIANT null;
    VariantInit(&null);
    HRESULT hr = ConvertToCimType(pVal != nullptr ? *pVal : null, property.type, &converted);
    if (FAILED(hr)) {
        return hr;
    }
    std::lock_guard lock(m_Mutex);
    VARIANT& slot = m_vValues[static_cast<size_t>(index)];
    VariantClear(&slot);
    slot = converted;
    m_vPutLocally[static_cast<size_t>(index)] = true;
    return WBEM_S_NO_ERROR;
}

HRESULT CClassObject::Delete(LPCWSTR wszName) {
    if (wszName == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    SystemProperty id{};
    if (FindSystemProperty(wszName, &id)) {
        return WBEM_E_READ_ONLY;
    }
    int index = m_pDecl->FindProperty(wszName);
    if (index < 0) {
        return WBEM_E_NOT_FOUND;
    }
    size_t i = static_cast<size_t>(index);
    const PropertyDecl& property = m_pDecl->properties[i];
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_NULL;
    if (m_bInstance && property.hasDefault) {
        HRESULT hr = MofValueToVariant(property.defaultValue, property.type, &value);
        if (FAILED(hr)) {
            return hr;
        }
    }
    std::lock_guard lock(m_Mutex);
    VariantClear(&m_vValues[i]);
    m_vValues[i] = value;
    m_vPutLocally[i] = false;
    return WBEM_S_NO_ERROR;
}

bool CClassObject::SelectNames(LPCWSTR qualifier, LONG flags,
                               std::vector<std::wstring>* names) const {
    LONG condition = flags & WBEM_MASK_PRIMARY_CONDITION;
    LONG origin = flags & WBEM_MASK_CONDITION_ORIGIN;
    if (condition == WBEM_FLAG_ONLY_IF_IDENTICAL ||
        (condition != WBEM_FLAG_ALWAYS && qualifier == nullptr) ||
        (flags & ~(WBEM_MASK_PRIMARY_CONDITION | WBEM_MASK_CONDITION_ORIGIN | WBEM_FLAG_KEYS_ONLY |
                   WBEM_FLAG_REFS_ONLY)) != 0) {
        return false;
    }
    bool system = origin == WBEM_FLAG_ALWAYS || origin == WBEM_FLAG_SYSTEM_ONLY;
    if (system && condition == WBEM_FLAG_ALWAYS && !(flags & WBEM_FLAG_KEYS_ONLY) &&
        !(flags & WBEM_FLAG_REFS_ONLY)) {
        for (const SystemPropertyName& entry : kSystemProperties) {
            names->push_back(entry.name);
        }
    }
    if (origin == WBEM_FLAG_SYSTEM_ONLY || (flags & WBEM_FLAG_REFS_ONLY)) {
        return true;
    }
    for (const PropertyDecl& property : m_pDecl->properties) {
        bool local = NamesEqual(property.origin, m_pDecl->name);
        if ((origin == WBEM_FLAG_LOCAL_ONLY && !local) ||
            (origin == WBEM_FLAG_PROPAGATED_ONLY && local) ||
            ((flags & WBEM_FLAG_KEYS_ONLY) && !property.IsKey())) {
            continue;
        }
        bool hasQualifier = qualifier != nullptr && property.FindQualifier(qualifier) != nullptr;
        if ((condition == WBEM_FLAG_ONLY_IF_TRUE && !hasQualifier) ||
            (condition == WBEM_FLAG_ONLY_IF_FALSE && hasQualifier)) {
            continue;
        }
        names->push_back(property.name);
    }
    return true;
}

HRESULT CClassObject::GetNames(LPCWSTR wszQualifierName, LONG lFlags, VARIANT*,
                               SAFEARRAY** pNames) {
    if (pNames == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    *pNames = nullptr;
    std::vector<std::wstring> names;
    if (!SelectNames(wszQualifierName, lFlags, &names)) {
        return WBEM_E_INVALID_PARAMETER;
    }
    VARIANT value;
    HRESULT hr = StringArrayValue(names, &value);
    if (SUCCEEDED(hr)) {
        *pNames = value.parray;
    }
    return hr;
}

HRESULT CClassObject::BeginEnumeration(LONG lEnumFlags) {
    std::vector<std::wstring> names;
    if ((lEnumFlags & WBEM_MASK_PRIMARY_CONDITION) != 0 ||
        !SelectNames(nullptr, lEnumFlags, &names)) {
        return WBEM_E_INVALID_PARAMETER;
    }
    std::lock_guard lock(m_Mutex);
    m_vEnumNames = std::move(names);
    m_nEnumPos = 0;
    m_bEnumerating = true;
    return WBEM_S_NO_ERROR;
}

HRESULT CClassObject::Next(LONG, BSTR* strName, VARIANT* pVal, CIMTYPE* pType, LONG* plFlavor) {
    std::lock_guard lock(m_Mutex);
    if (!m_bEnumerating) {
        return WBEM_E_UNEXPECTED;
    }
    if (m_nEnumPos >= m_vEnumNames.size()) {
        return WBEM_S_NO_MORE_DATA;
    }
    const std::wstring& name = m_vEnumNames[m_nEnumPos];
    BSTR nameCopy = nullptr;
    if (strName != nullptr) {
        nameCopy = MakeBstr(name);
        if (nameCopy == nullptr) {
            return WBEM_E_OUT_OF_MEMORY;
        }
    }
    HRESULT hr = GetLocked(name, pVal, pType, plFlavor);
    if (FAILED(hr)) {
        SysFreeString(nameCopy);
        return hr;
    }
    if (strName != nullptr) {
        *strName = nameCopy;
    }
    ++m_nEnumPos;
    return WBEM_S_NO_ERROR;
}

HRESULT CClassObject::EndEnumeration() {
    std::lock_guard lock(m_Mutex);
    m_vEnumNames.clear();
    m_bEnumerating = false;
    return WBEM_S_NO_ERROR;
}

HRESULT CClassObject::Clone(IWbemClassObject** ppCopy) {
    if (ppCopy == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    *ppCopy = nullptr;
    HRESULT hr = WBEM_S_NO_ERROR;
    CClassObject* copy = Create(m_pDecl, m_bInstance, &hr);
    if (copy == nullptr) {
        return hr;
    }
    std::lock_guard lock(m_Mutex);
    hr = copy->CopyValuesFrom(*this);
    if (FAILED(hr)) {
        copy->Release();
        return hr;
    }
    copy->m_vPutLocally = m_vPutLocally;
    *ppCopy = copy;
    return WBEM_S_NO_ERROR;
}

HRESULT CClassObject::GetObjectText(LONG, BSTR* pstrObjectText) {
    if (pstrObjectText == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    std::lock_guard lock(m_Mutex);
    std::wstring text;
    if (m_bInstance) {
        text = L"instance of " + m_pDecl->name + L"\n{\n";
    } else {
        text = L"class " + m_pDecl->name +
               (m_pDecl->superclass.empty() ? L"" : L" : " + m_pDecl->superclass) + L"\n{\n";
    }
    for (size_t i = 0; i < m_vValues.size(); ++i) {
        const PropertyDecl& property = m_pDecl->properties[i];
        bool hasValue = m_vValues[i].vt != VT_NULL;
        if (m_bInstance && !hasValue) {
            continue;
        }
        text += L"\t";
        if (!m_bInstance) {
            std::wstring type = CimTypeName(property.type);
            bool array = (property.type & CIM_FLAG_ARRAY) != 0;
            text += (property.IsKey() ? L"[key] " : L"") +
                    (array ? type.substr(0, type.size() - 2) : type) + L" ";
        }
        text += property.name;
        if (!m_bInstance && (property.type & CIM_FLAG_ARRAY)) {
            text += L"[]";
        }
        if (hasValue) {
            text += L" = " + ValueText(m_vValues[i]);
        }
        text += L";\n";
    }
    text += L"};\n";
    *pstrObjectText = MakeBstr(text);
    return *pstrObjectText == nullptr ? WBEM_E_OUT_OF_MEMORY : WBEM_S_NO_ERROR;
}

HRESULT CClassObject::SpawnInstance(LONG lFlags, IWbemClassObject** ppNewInstance) {
    if (ppNewInstance == nullptr || lFlags != 0) {
        return WBEM_E_INVALID_PARAMETER;
    }
    *ppNewInstance = nullptr;
    if (m_bInstance || m_pDecl->IsAbstract()) {
        return WBEM_E_INVALID_OPERATION;
    }
    HRESULT hr = WBEM_S_NO_ERROR;
    CClassObject* instance = Create(m_pDecl, true, &hr);
    if (instance == nullptr) {
        return hr;
    }
    std::lock_guard lock(m_Mutex);
    hr = instance->CopyValuesFrom(*this);
    if (FAILED(hr)) {
        instance->Release();
        return hr;
    }
    *ppNewInstance = instance;
    return WBEM_S_NO_ERROR;
}

HRESULT CClassObject::CompareTo(LONG, IWbemClassObject* pCompareTo) {
    if (pCompareTo == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    CClassObject* other = nullptr;
    if (FAILED(
            pCompareTo->QueryInterface(IID_LayerClassObject, reinterpret_cast<void**>(&other)))) {
        return WBEM_S_DIFFERENT;
    }
    bool same = other == this;
    if (!same && other->m_pDecl == m_pDecl && other->m_bInstance == m_bInstance) {
        std::scoped_lock lock(m_Mutex, other->m_Mutex);
        same = true;
        for (size_t i = 0; same && i < m_vValues.size(); ++i) {
            same = ValuesEqual(m_vValues[i], other->m_vValues[i]);
        }
    }
    other->Release();
    return same ? WBEM_S_SAME : WBEM_S_DIFFERENT;
}

HRESULT CClassObject::GetPropertyOrigin(LPCWSTR wszName, BSTR* pstrClassName) {
    if (wszName == nullptr || pstrClassName == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    int index = m_pDecl->FindProperty(wszName);
    if (index < 0) {
        return WBEM_E_NOT_FOUND;
    }
    *pstrClassName = MakeBstr(m_pDecl->properties[static_cast<size_t>(index)].origin);
    return *pstrClassName == nullptr ? WBEM_E_OUT_OF_MEMORY : WBEM_S_NO_ERROR;
}

HRESULT CClassObject::InheritsFrom(LPCWSTR strAncestor) {
    if (strAncestor == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    for (const std::wstring& ancestor : m_pDecl->ancestors) {
        if (NamesEqual(ancestor, strAncestor)) {
            return WBEM_S_NO_ERROR;
        }
    }
    return WBEM_S_FALSE;
}

} // namespace

HRESULT CreateClassObject(std::shared_ptr<const ClassDecl> decl, IWbemClassObject** ppObject) {
    if (ppObject == nullptr || !decl) {
        return WBEM_E_INVALID_PARAMETER;
    }
    *ppObject = nullptr;
    HRESULT hr = WBEM_S_NO_ERROR;
    CClassObject* object = CClassObject::Create(std::move(decl), false, &hr);
    if (object == nullptr) {
        return hr;
    }
    hr = object->LoadDefaults();
    if (FAILED(hr)) {
        object->Release();
        return hr;
    }
    *ppObject = object;
    return WBEM_S_NO_ERROR;
}

std::shared_ptr<const ClassDecl> GetClassDecl(IWbemClassObject* object) {
    CClassObject* own = nullptr;
    if (object == nullptr ||
        FAILED(object->QueryInterface(IID_LayerClassObject, reinterpret_cast<void**>(&own)))) {
        return nullptr;
    }
    std::shared_ptr<const ClassDecl> decl = own->Decl();
    own->Release();
    return decl;
}

} // namespace svcproc::wbem
