// One property of a managed-object record: its name, its CIM type tag and
// its current value, owned by the property.
#pragma once

#include <string>
#include <vector>

#include "wbem/WbemTypes.h"

namespace telvane {

// A VT_I4 of this value means "no value": the property is left out of the
// instance.
inline constexpr LONG kUnsetValue = static_cast<LONG>(0x80000000u);

class CWbemProperty {
public:
    CWbemProperty(const wchar_t* name, CIMTYPE cimType);
    ~CWbemProperty();
    CWbemProperty(const CWbemProperty&) = delete;
    CWbemProperty& operator=(const CWbemProperty&) = delete;

    // Each store clears the old value first. A value that cannot be cleared
    // becomes VT_ERROR with the failure code; a text or array that cannot be
    // allocated becomes VT_ERROR with E_OUTOFMEMORY.
    void SetLong(LONG value);
    void SetShort(SHORT value);
    void SetBool(bool value);
    void SetText(const std::wstring& text);
    void SetTextArray(const std::vector<std::wstring>& texts);

    bool IsUnset() const { return m_Value.vt == VT_I4 && m_Value.lVal == kUnsetValue; }
    const std::wstring& Name() const { return m_Name; }
    CIMTYPE CimType() const { return m_CimType; }
    const VARIANT& Value() const { return m_Value; }
    VARIANT* MutableValue() { return &m_Value; }

private:
    bool ClearForStore();
    void SetError(HRESULT code);

    std::wstring m_Name;
    CIMTYPE m_CimType;
    VARIANT m_Value;
};

} // namespace telvane
