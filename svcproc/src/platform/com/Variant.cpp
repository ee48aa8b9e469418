#include <cstring>

#include "OleAuto.h"

namespace {
bool IsScalarType(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
    case VT_ERROR:
    case VT_BSTR:
    case VT_UNKNOWN:
        return true;
    default:
        return false;
    }
}

bool IsKnownType(VARTYPE vt) {
    if (vt & VT_BYREF) {
        return true;
    }
    if (vt & VT_ARRAY) {
        VARTYPE element = vt & ~VT_ARRAY;
        return element == VT_VARIANT ||
               (IsScalarType(element) && element != VT_EMPTY && element != VT_NULL);
    }
    return IsScalarType(vt);
}
} // namespace

void VariantInit(VARIANT* value) {
    if (value != nullptr) {
        std::memset(value, 0, sizeof(VARIANT));
        value->vt = VT_EMPTY;
    }
}

HRESULT VariantClear(VARIANT* value) {
    if (value == nullptr) {
        return E_INVALIDARG;
    }
    if (!IsKnownType(value->vt)) {
        return DISP_E_BADVARTYPE;
    }
    if (!(value->vt & VT_BYREF)) {
        if (value->vt & VT_ARRAY) {
            HRESULT hr = SafeArrayDestroy(value->parray);
            if (FAILED(hr)) {
                return hr;
            }
        } else if (value->vt == VT_BSTR) {
            SysFreeString(value->bstrVal);
        } else if (value->vt == VT_UNKNOWN && value->punkVal != nullptr) {
            value->punkVal->Release();
        }
    }
    VariantInit(value);
    return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* source) {
    if (dest == nullptr || source == nullptr) {
        return E_INVALIDARG;
    }
    if (dest == source) {
        return S_OK;
    }
    if (!IsKnownType(source->vt)) {
        return DISP_E_BADVARTYPE;
    }
    HRESULT hr = VariantClear(dest);
    if (FAILED(hr)) {
        return hr;
    }
    VARIANT copy = *source;
    if (!(source->vt & VT_BYREF)) {
        if (source->vt & VT_ARRAY) {
            copy.parray = nullptr;
            if (source->parray != nullptr) {
                hr = SafeArrayCopy(source->parray, &copy.parray);
                if (FAILED(hr)) {
                    return hr;
                }
            }
        } else if (source->vt == VT_BSTR && source->bstrVal != nullptr) {
            copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
            if (copy.bstrVal == nullptr) {
                return E_OUTOFMEMORY;
            }
        } else if (source->vt == VT_UNKNOWN && source->punkVal != nullptr) {
            source->punkVal->AddRef();
        }
    }
    *dest = copy;
    return S_OK;
}
