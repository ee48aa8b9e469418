// Small helpers for building and reading values in the layer's tests.
#pragma once

#include <string>
#include <vector>

#include "Com.h"

namespace svcproc::test {

// A VARIANT that clears itself.
struct Value {
    VARIANT v;
    Value() { VariantInit(&v); }
    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;
    ~Value() { VariantClear(&v); }
};

inline void SetI2(VARIANT* v, int16_t x) {
    v->vt = VT_I2;
    v->iVal = x;
}
inline void SetI4(VARIANT* v, int32_t x) {
    v->vt = VT_I4;
    v->lVal = x;
}
inline void SetBool(VARIANT* v, bool x) {
    v->vt = VT_BOOL;
    v->boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
}
inline void SetBstr(VARIANT* v, const wchar_t* text) {
    v->vt = VT_BSTR;
    v->bstrVal = SysAllocString(text);
}
inline void SetStrings(VARIANT* v, const std::vector<std::wstring>& texts) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size()));
    for (size_t i = 0; i < texts.size(); ++i) {
        LONG index = static_cast<LONG>(i);
        BSTR text = SysAllocString(texts[i].c_str());
        SafeArrayPutElement(array, &index, text);
        SysFreeString(text);
    }
    v->vt = VT_ARRAY | VT_BSTR;
    v->parray = array;
}
inline std::vector<std::wstring> Strings(SAFEARRAY* array) {
    std::vector<std::wstring> result;
    LONG low = 0;
    LONG high = -1;
    SafeArrayGetLBound(array, 1, &low);
    SafeArrayGetUBound(array, 1, &high);
    for (LONG i = low; i <= high; ++i) {
        BSTR text = nullptr;
        SafeArrayGetElement(array, &i, &text);
        result.emplace_back(text == nullptr ? L"" : text);
        SysFreeString(text);
    }
    return result;
}

} // namespace svcproc::test
