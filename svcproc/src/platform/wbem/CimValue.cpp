#include <cfloat>
#include <cmath>
#include <cstring>
#include <cwchar>

#include "WbemInternal.h"

namespace svcproc::wbem {
namespace {

using Int128 = __int128;

struct IntegerTarget {
    VARTYPE vt;
    int width;
    bool isSigned;
};

bool IntegerTargetOf(CIMTYPE base, IntegerTarget* target) {
    switch (base) {
    case CIM_SINT8:
        *target = {VT_I1, 8, true};
        return true;
    case CIM_UINT8:
        *target = {VT_UI1, 8, false};
        return true;
    case CIM_SINT16:
        *target = {VT_I2, 16, true};
        return true;
    case CIM_UINT16:
    case CIM_CHAR16:
        *target = {VT_UI2, 16, false};
        return true;
    case CIM_SINT32:
        *target = {VT_I4, 32, true};
        return true;
    case CIM_UINT32:
        *target = {VT_UI4, 32, false};
        return true;
    case CIM_SINT64:
        *target = {VT_I8, 64, true};
        return true;
    case CIM_UINT64:
        *target = {VT_UI8, 64, false};
        return true;
    default:
        return false;
    }
}

// The number a variant holds and the width of its type in bits.
bool ReadInteger(const VARIANT& value, Int128* number, int* width) {
    switch (value.vt) {
    case VT_I1:
        *number = static_cast<int8_t>(value.cVal);
        *width = 8;
        return true;
    case VT_UI1:
        *number = value.bVal;
        *width = 8;
        return true;
    case VT_I2:
        *number = value.iVal;
        *width = 16;
        return true;
    case VT_UI2:
        *number = value.uiVal;
        *width = 16;
        return true;
    case VT_I4:
    case VT_INT:
        *number = value.lVal;
        *width = 32;
        return true;
    case VT_UI4:
    case VT_UINT:
        *number = value.ulVal;
        *width = 32;
        return true;
    case VT_I8:
        *number = value.llVal;
        *width = 64;
        return true;
    case VT_UI8:
        *number = value.ullVal;
        *width = 64;
        return true;
    default:
        return false;
    }
}

bool InRange(Int128 number, const IntegerTarget& target) {
    Int128 low = target.isSigned ? -(Int128{1} << (target.width - 1)) : 0;
    Int128 high =
        target.isSigned ? (Int128{1} << (target.width - 1)) - 1 : (Int128{1} << target.width) - 1;
    return number >= low && number <= high;
}

void StoreInteger(const IntegerTarget& target, Int128 number, VARIANT* out) {
    uint64_t bits = static_cast<uint64_t>(number);
    out->vt = target.vt;
    switch (target.width) {
    case 8:
        out->bVal = static_cast<BYTE>(bits);
        break;
    case 16:
        out->uiVal = static_cast<USHORT>(bits);
        break;
    case 32:
        out->ulVal = static_cast<ULONG>(bits);
        break;
    default:
        out->ullVal = bits;
        break;
    }
}

HRESULT ConvertInteger(const VARIANT& value, const IntegerTarget& target, bool strict,
                       VARIANT* out) {
    Int128 number = 0;
    int width = 0;
    if (!ReadInteger(value, &number, &width)) {
        return WBEM_E_TYPE_MISMATCH;
    }
    // A signed variant of the same width carries an unsigned value's bits,
    // the way callers write uint16 as VT_I2 and uint32 as VT_I4.
    if (!InRange(number, target) && (strict || width != target.width)) {
        return WBEM_E_TYPE_MISMATCH;
    }
    StoreInteger(target, number, out);
    return S_OK;
}

HRESULT ConvertReal(const VARIANT& value, CIMTYPE base, VARIANT* out) {
    double real = 0.0;
    Int128 number = 0;
    int width = 0;
    if (value.vt == VT_R8) {
        real = value.dblVal;
    } else if (value.vt == VT_R4) {
        real = value.fltVal;
    } else if (ReadInteger(value, &number, &width)) {
        real = static_cast<double>(number);
    } else {
        return WBEM_E_TYPE_MISMATCH;
    }
    if (base == CIM_REAL64) {
        out->vt = VT_R8;
        out->dblVal = real;
        return S_OK;
    }
    if (std::isfinite(real) && std::fabs(real) > FLT_MAX) {
        return WBEM_E_TYPE_MISMATCH;
    }
    out->vt = VT_R4;
    out->fltVal = static_cast<float>(real);
    return S_OK;
}

HRESULT ConvertScalar(const VARIANT& value, CIMTYPE base, bool strict, VARIANT* out) {
    VariantInit(out);
    if (value.vt == VT_EMPTY || value.vt == VT_NULL) {
        out->vt = VT_NULL;
        return S_OK;
    }
    IntegerTarget target{};
    if (IntegerTargetOf(base, &target)) {
        return ConvertInteger(value, target, strict, out);
    }
    switch (base) {
    case CIM_REAL32:
    case CIM_REAL64:
        return ConvertReal(value, base, out);
    case CIM_BOOLEAN:
        if (value.vt != VT_BOOL) {
            return WBEM_E_TYPE_MISMATCH;
        }
        out->vt = VT_BOOL;
        out->boolVal = value.boolVal ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_REFERENCE:
        if (value.vt != VT_BSTR) {
            return WBEM_E_TYPE_MISMATCH;
        }
        if (value.bstrVal == nullptr) {
            out->vt = VT_NULL;
            return S_OK;
        }
        out->bstrVal = SysAllocStringLen(value.bstrVal, SysStringLen(value.bstrVal));
        if (out->bstrVal == nullptr) {
            return WBEM_E_OUT_OF_MEMORY;
        }
        out->vt = VT_BSTR;
        return S_OK;
    default:
        return WBEM_E_TYPE_MISMATCH;
    }
}

VARTYPE CanonicalVt(CIMTYPE base) {
    IntegerTarget target{};
    if (IntegerTargetOf(base, &target)) {
        return target.vt;
    }
    switch (base) {
    case CIM_REAL32:
        return VT_R4;
    case CIM_REAL64:
        return VT_R8;
    case CIM_BOOLEAN:
        return VT_BOOL;
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_REFERENCE:
        return VT_BSTR;
    default:
        return VT_EMPTY;
    }
}

// A borrowed view of element `index` as a variant; nothing to free.
VARIANT ElementView(SAFEARRAY* array, ULONG index) {
    const char* element =
        static_cast<const char*>(array->pvData) + size_t{index} * array->cbElements;
    if (array->vt == VT_VARIANT) {
        return *reinterpret_cast<const VARIANT*>(element);
    }
    VARIANT view;
    VariantInit(&view);
    view.vt = array->vt;
    std::memcpy(&view.llVal, element, array->cbElements);
    return view;
}

// Moves a converted scalar into element `index` of a canonical array.
void StoreElement(SAFEARRAY* array, ULONG index, VARIANT* element) {
    char* slot = static_cast<char*>(array->pvData) + size_t{index} * array->cbElements;
    if (element->vt == VT_NULL) {
        std::memset(slot, 0, array->cbElements); // a null string
    } else {
        std::memcpy(slot, &element->llVal, array->cbElements);
    }
    VariantInit(element);
}

HRESULT ConvertArray(const VARIANT& value, CIMTYPE type, bool strict, VARIANT* out) {
    VariantInit(out);
    if (value.vt == VT_EMPTY || value.vt == VT_NULL ||
        ((value.vt & VT_ARRAY) && value.parray == nullptr)) {
        out->vt = VT_NULL;
        return S_OK;
    }
    CIMTYPE base = type & ~CIM_FLAG_ARRAY;
    VARTYPE elementVt = CanonicalVt(base);
    if (!(value.vt & VT_ARRAY) || (value.vt & VT_BYREF) || value.parray->cDims != 1 ||
        elementVt == VT_EMPTY) {
        return WBEM_E_TYPE_MISMATCH;
    }
    SAFEARRAY* source = value.parray;
    ULONG count = source->rgsabound[0].cElements;
    SAFEARRAY* result = SafeArrayCreateVector(elementVt, 0, count);
    if (result == nullptr) {
        return WBEM_E_OUT_OF_MEMORY;
    }
    for (ULONG i = 0; i < count; ++i) {
        VARIANT element;
        HRESULT hr = ConvertScalar(ElementView(source, i), base, strict, &element);
        if (SUCCEEDED(hr) && element.vt == VT_NULL && elementVt != VT_BSTR) {
            hr = WBEM_E_TYPE_MISMATCH; // only strings have a null element
        }
        if (FAILED(hr)) {
            VariantClear(&element);
            SafeArrayDestroy(result);
            return hr;
        }
        StoreElement(result, i, &element);
    }
    out->vt = VT_ARRAY | elementVt;
    out->parray = result;
    return S_OK;
}

HRESULT Convert(const VARIANT& value, CIMTYPE type, bool strict, VARIANT* out) {
    if (type & CIM_FLAG_ARRAY) {
        return ConvertArray(value, type, strict, out);
    }
    if (value.vt & VT_ARRAY) {
        VariantInit(out);
        return WBEM_E_TYPE_MISMATCH;
    }
    return ConvertScalar(value, type, strict, out);
}

// A MOF literal as a variant of its own kind; false when out of memory.
bool ConstantToVariant(const MofConstant& constant, VARIANT* out) {
    VariantInit(out);
    switch (constant.kind) {
    case MofConstant::Kind::Null:
        out->vt = VT_NULL;
        return true;
    case MofConstant::Kind::Boolean:
        out->vt = VT_BOOL;
        out->boolVal = constant.boolean ? VARIANT_TRUE : VARIANT_FALSE;
        return true;
    case MofConstant::Kind::Integer:
        if (constant.negative) {
            out->vt = VT_I8;
            out->llVal = static_cast<int64_t>(0 - constant.magnitude);
        } else {
            out->vt = VT_UI8;
            out->ullVal = constant.magnitude;
        }
        return true;
    case MofConstant::Kind::Real:
        out->vt = VT_R8;
        out->dblVal = constant.real;
        return true;
    case MofConstant::Kind::String:
        out->bstrVal = MakeBstr(constant.text);
        if (out->bstrVal == nullptr) {
            return false;
        }
        out->vt = VT_BSTR;
        return true;
    }
    return false;
}

bool ScalarsEqual(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt) {
        return false;
    }
    switch (a.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return true;
    case VT_BSTR: {
        UINT length = SysStringLen(a.bstrVal);
        return length == SysStringLen(b.bstrVal) &&
               (length == 0 || std::wmemcmp(a.bstrVal, b.bstrVal, length) == 0);
    }
    case VT_R4:
        return a.fltVal == b.fltVal;
    case VT_R8:
        return a.dblVal == b.dblVal;
    case VT_BOOL:
        return (a.boolVal != 0) == (b.boolVal != 0);
    default: {
        Int128 x = 0;
        Int128 y = 0;
        int width = 0;
        return ReadInteger(a, &x, &width) && ReadInteger(b, &y, &width) && x == y;
    }
    }
}

std::wstring Quoted(BSTR text) {
    std::wstring result = L"\"";
    for (UINT i = 0; i < SysStringLen(text); ++i) {
        wchar_t c = text[i];
        if (c == L'"' || c == L'\\') {
            result += L'\\';
        }
        result += c;
    }
    return result + L"\"";
}

std::wstring ScalarText(const VARIANT& value) {
    Int128 number = 0;
    int width = 0;
    wchar_t buffer[64];
    switch (value.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return L"NULL";
    case VT_BSTR:
        return value.bstrVal == nullptr ? L"NULL" : Quoted(value.bstrVal);
    case VT_BOOL:
        return value.boolVal ? L"TRUE" : L"FALSE";
    case VT_R4:
        std::swprintf(buffer, 64, L"%g", static_cast<double>(value.fltVal));
        return buffer;
    case VT_R8:
        std::swprintf(buffer, 64, L"%g", value.dblVal);
        return buffer;
    default:
        if (!ReadInteger(value, &number, &width)) {
            return L"?";
        }
        if (number < 0) {
            std::swprintf(buffer, 64, L"%lld", static_cast<long long>(number));
        } else {
            std::swprintf(buffer, 64, L"%llu", static_cast<unsigned long long>(number));
        }
        return buffer;
    }
}

} // namespace

HRESULT ConvertToCimType(const VARIANT& value, CIMTYPE type, VARIANT* out) {
    if (out == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    return Convert(value, type, false, out);
}

HRESULT MofValueToVariant(const MofValue& value, CIMTYPE type, VARIANT* out) {
    VariantInit(out);
    bool wantArray = (type & CIM_FLAG_ARRAY) != 0;
    if (value.isArray != wantArray) {
        bool isNull = !value.isArray && value.items.size() == 1 &&
                      value.items[0].kind == MofConstant::Kind::Null;
        if (!isNull) {
            return WBEM_E_TYPE_MISMATCH;
        }
    }
    VARIANT source;
    VariantInit(&source);
    if (value.isArray) {
        SAFEARRAY* items =
            SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(value.items.size()));
        if (items == nullptr) {
            return WBEM_E_OUT_OF_MEMORY;
        }
        source.vt = VT_ARRAY | VT_VARIANT;
        source.parray = items;
        VARIANT* slots = static_cast<VARIANT*>(items->pvData);
        for (size_t i = 0; i < value.items.size(); ++i) {
            if (!ConstantToVariant(value.items[i], &slots[i])) {
                VariantClear(&source);
                return WBEM_E_OUT_OF_MEMORY;
            }
        }
    } else if (value.items.size() != 1 || !ConstantToVariant(value.items[0], &source)) {
        return value.items.size() != 1 ? WBEM_E_TYPE_MISMATCH : WBEM_E_OUT_OF_MEMORY;
    }
    HRESULT hr = Convert(source, type, true, out);
    VariantClear(&source);
    return hr;
}

bool ValuesEqual(const VARIANT& a, const VARIANT& b) {
    if (!(a.vt & VT_ARRAY) || !(b.vt & VT_ARRAY)) {
        return ScalarsEqual(a, b);
    }
    if (a.vt != b.vt || (a.parray == nullptr) != (b.parray == nullptr)) {
        return false;
    }
    if (a.parray == nullptr) {
        return true;
    }
    ULONG count = a.parray->rgsabound[0].cElements;
    if (count != b.parray->rgsabound[0].cElements) {
        return false;
    }
    for (ULONG i = 0; i < count; ++i) {
        if (!ScalarsEqual(ElementView(a.parray, i), ElementView(b.parray, i))) {
            return false;
        }
    }
    return true;
}

std::wstring ValueText(const VARIANT& value) {
    if (!(value.vt & VT_ARRAY)) {
        return ScalarText(value);
    }
    if (value.parray == nullptr) {
        return L"NULL";
    }
    std::wstring text = L"{";
    for (ULONG i = 0; i < value.parray->rgsabound[0].cElements; ++i) {
        text += (i == 0 ? L"" : L", ") + ScalarText(ElementView(value.parray, i));
    }
    return text + L"}";
}

std::wstring CimTypeName(CIMTYPE type) {
    const wchar_t* name = L"unknown";
    switch (type & ~CIM_FLAG_ARRAY) {
    case CIM_SINT8:
        name = L"sint8";
        break;
    case CIM_UINT8:
        name = L"uint8";
        break;
    case CIM_SINT16:
        name = L"sint16";
        break;
    case CIM_UINT16:
        name = L"uint16";
        break;
    case CIM_SINT32:
        name = L"sint32";
        break;
    case CIM_UINT32:
        name = L"uint32";
        break;
    case CIM_SINT64:
        name = L"sint64";
        break;
    case CIM_UINT64:
        name = L"uint64";
        break;
    case CIM_REAL32:
        name = L"real32";
        break;
    case CIM_REAL64:
        name = L"real64";
        break;
    case CIM_BOOLEAN:
        name = L"boolean";
        break;
    case CIM_STRING:
        name = L"string";
        break;
    case CIM_DATETIME:
        name = L"datetime";
        break;
    case CIM_REFERENCE:
        name = L"ref";
        break;
    case CIM_CHAR16:
        name = L"char16";
        break;
    case CIM_OBJECT:
        name = L"object";
        break;
    default:
        break;
    }
    return std::wstring(name) + ((type & CIM_FLAG_ARRAY) ? L"[]" : L"");
}

} // namespace svcproc::wbem
