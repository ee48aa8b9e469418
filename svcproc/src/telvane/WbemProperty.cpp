#include "WbemProperty.h"

namespace telvane {

CWbemProperty::CWbemProperty(const wchar_t* name, CIMTYPE cimType)
    : m_Name(name), m_CimType(cimType) {
    VariantInit(&m_Value);
}

CWbemProperty::~CWbemProperty() {
    VariantClear(&m_Value);
}

bool CWbemProperty::ClearForStore() {
    HRESULT hr = VariantClear(&m_Value);
    if (FAILED(hr)) {
        SetError(hr);
        return false;
    }
    return true;
}

void CWbemProperty::SetError(HRESULT code) {
    m_Value.vt = VT_ERROR;
    m_Value.scode = code;
}

void CWbemProperty::SetLong(LONG value) {
    if (ClearForStore()) {
        m_Value.vt = VT_I4;
        m_Value.lVal = value;
    }
}

void CWbemProperty::SetShort(SHORT value) {
    if (ClearForStore()) {
        m_Value.vt = VT_I2;
        m_Value.iVal = value;
    }
}

void CWbemProperty::SetBool(bool value) {
    if (ClearForStore()) {
        m_Value.vt = VT_BOOL;
        m_Value.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
}

void CWbemProperty::SetText(const std::wstring& text) {
    if (!ClearForStore()) {
        return;
    }
    BSTR copy = SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size()));
    if (!copy) {
        SetError(E_OUTOFMEMORY);
        return;
    }
    m_Value.vt = VT_BSTR;
    m_Value.bstrVal = copy;
}

void CWbemProperty::SetTextArray(const std::vector<std::wstring>& texts) {
    if (!ClearForStore()) {
        return;
    }
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size()));
    if (!array) {
        SetError(E_OUTOFMEMORY);
        return;
    }
    for (LONG i = 0; i < static_cast<LONG>(texts.size()); ++i) {
        BSTR element = SysAllocStringLen(texts[i].c_str(), static_cast<UINT>(texts[i].size()));
        HRESULT hr = element ? SafeArrayPutElement(array, &i, element) : E_OUTOFMEMORY;
        SysFreeString(element);
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            SetError(E_OUTOFMEMORY);
            return;
        }
    }
    m_Value.vt = VT_ARRAY | VT_BSTR;
    m_Value.parray = array;
}

} // namespace telvane
