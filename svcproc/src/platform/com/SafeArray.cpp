#include <cstdlib>
#include <cstring>

#include "ComApi.h"
#include "OleAuto.h"

namespace {
// The byte size of one element, or 0 for a type arrays do not hold.
ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
    case VT_R4:
        return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
        return 8;
    case VT_BSTR:
        return sizeof(BSTR);
    case VT_UNKNOWN:
        return sizeof(IUnknown*);
    case VT_VARIANT:
        return sizeof(VARIANT);
    default:
        return 0;
    }
}

USHORT FeaturesOf(VARTYPE vt) {
    USHORT features = FADF_HAVEVARTYPE;
    if (vt == VT_BSTR) {
        features |= FADF_BSTR;
    } else if (vt == VT_UNKNOWN) {
        features |= FADF_UNKNOWN;
    } else if (vt == VT_VARIANT) {
        features |= FADF_VARIANT;
    }
    return features;
}

char* ElementAt(SAFEARRAY* array, ULONG offset) {
    return static_cast<char*>(array->pvData) + size_t{offset} * array->cbElements;
}

void FreeElement(VARTYPE vt, char* element) {
    if (vt == VT_BSTR) {
        BSTR* text = reinterpret_cast<BSTR*>(element);
        SysFreeString(*text);
        *text = nullptr;
    } else if (vt == VT_UNKNOWN) {
        IUnknown** unknown = reinterpret_cast<IUnknown**>(element);
        if (*unknown != nullptr) {
            (*unknown)->Release();
        }
        *unknown = nullptr;
    } else if (vt == VT_VARIANT) {
        VariantClear(reinterpret_cast<VARIANT*>(element));
    }
}

void FreeArray(SAFEARRAY* array) {
    for (ULONG i = 0; i < array->rgsabound[0].cElements; ++i) {
        FreeElement(array->vt, ElementAt(array, i));
    }
    std::free(array->pvData);
    std::free(array);
}

// The element offset of `indices` in a one-dimensional array, or false.
bool OffsetOf(SAFEARRAY* array, const LONG* indices, ULONG* offset) {
    if (array == nullptr || indices == nullptr) {
        return false;
    }
    int64_t relative = int64_t{indices[0]} - array->rgsabound[0].lLbound;
    if (relative < 0 || relative >= int64_t{array->rgsabound[0].cElements}) {
        return false;
    }
    *offset = static_cast<ULONG>(relative);
    return true;
}

HRESULT CopyElement(VARTYPE vt, const char* source, char* dest, ULONG size) {
    if (vt == VT_BSTR) {
        BSTR text = *reinterpret_cast<BSTR const*>(source);
        BSTR copy = nullptr;
        if (text != nullptr) {
            copy = SysAllocStringLen(text, SysStringLen(text));
            if (copy == nullptr) {
                return E_OUTOFMEMORY;
            }
        }
        *reinterpret_cast<BSTR*>(dest) = copy;
    } else if (vt == VT_UNKNOWN) {
        IUnknown* unknown = *reinterpret_cast<IUnknown* const*>(source);
        if (unknown != nullptr) {
            unknown->AddRef();
        }
        *reinterpret_cast<IUnknown**>(dest) = unknown;
    } else if (vt == VT_VARIANT) {
        VARIANT* target = reinterpret_cast<VARIANT*>(dest);
        VariantInit(target);
        return VariantCopy(target, reinterpret_cast<const VARIANT*>(source));
    } else {
        std::memcpy(dest, source, size);
    }
    return S_OK;
}
} // namespace

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) {
    ULONG size = ElementSize(vt);
    if (size == 0 || int64_t{lowerBound} + elements - 1 > INT32_MAX ||
        !svcproc::com::AllocationAllowed()) {
        return nullptr;
    }
    SAFEARRAY* array = static_cast<SAFEARRAY*>(std::calloc(1, sizeof(SAFEARRAY)));
    if (array == nullptr) {
        return nullptr;
    }
    if (elements > 0) {
        array->pvData = std::calloc(elements, size);
        if (array->pvData == nullptr) {
            std::free(array);
            return nullptr;
        }
    }
    array->cDims = 1;
    array->fFeatures = FeaturesOf(vt);
    array->cbElements = size;
    array->rgsabound[0] = {elements, lowerBound};
    array->vt = vt;
    return array;
}

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* bounds) {
    if (cDims != 1 || bounds == nullptr) {
        return nullptr;
    }
    return SafeArrayCreateVector(vt, bounds[0].lLbound, bounds[0].cElements);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (array == nullptr) {
        return S_OK;
    }
    if (array->cLocks > 0) {
        return DISP_E_ARRAYISLOCKED;
    }
    FreeArray(array);
    return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value) {
    ULONG offset = 0;
    if (!OffsetOf(array, indices, &offset)) {
        return array == nullptr || indices == nullptr ? E_INVALIDARG : DISP_E_BADINDEX;
    }
    if (value == nullptr && array->vt != VT_BSTR && array->vt != VT_UNKNOWN) {
        return E_INVALIDARG;
    }
    char* slot = ElementAt(array, offset);
    // Strings and interfaces are passed by value, everything else by address.
    const void* source = value;
    if (array->vt == VT_BSTR || array->vt == VT_UNKNOWN) {
        source = &value;
    }
    alignas(VARIANT) char staged[sizeof(VARIANT)];
    HRESULT hr =
        CopyElement(array->vt, static_cast<const char*>(source), staged, array->cbElements);
    if (FAILED(hr)) {
        return hr;
    }
    FreeElement(array->vt, slot);
    std::memcpy(slot, staged, array->cbElements);
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value) {
    ULONG offset = 0;
    if (!OffsetOf(array, indices, &offset)) {
        return array == nullptr || indices == nullptr ? E_INVALIDARG : DISP_E_BADINDEX;
    }
    if (value == nullptr) {
        return E_INVALIDARG;
    }
    return CopyElement(array->vt, ElementAt(array, offset), static_cast<char*>(value),
                       array->cbElements);
}

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* lowerBound) {
    if (array == nullptr || lowerBound == nullptr) {
        return E_INVALIDARG;
    }
    if (dimension != 1) {
        return DISP_E_BADINDEX;
    }
    *lowerBound = array->rgsabound[0].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* upperBound) {
    if (array == nullptr || upperBound == nullptr) {
        return E_INVALIDARG;
    }
    if (dimension != 1) {
        return DISP_E_BADINDEX;
    }
    *upperBound =
        static_cast<LONG>(int64_t{array->rgsabound[0].lLbound} + array->rgsabound[0].cElements - 1);
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* array) {
    return array == nullptr ? 0 : array->cDims;
}

UINT SafeArrayGetElemsize(SAFEARRAY* array) {
    return array == nullptr ? 0 : array->cbElements;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
    if (array == nullptr || vt == nullptr) {
        return E_INVALIDARG;
    }
    *vt = array->vt;
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* array) {
    if (array == nullptr) {
        return E_INVALIDARG;
    }
    ++array->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array) {
    if (array == nullptr) {
        return E_INVALIDARG;
    }
    if (array->cLocks == 0) {
        return E_UNEXPECTED;
    }
    --array->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
    if (array == nullptr || data == nullptr) {
        return E_INVALIDARG;
    }
    ++array->cLocks;
    *data = array->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) {
    return SafeArrayUnlock(array);
}

HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy) {
    if (array == nullptr || copy == nullptr) {
        return E_INVALIDARG;
    }
    *copy = nullptr;
    SAFEARRAY* result = SafeArrayCreateVector(array->vt, array->rgsabound[0].lLbound,
                                              array->rgsabound[0].cElements);
    if (result == nullptr) {
        return E_OUTOFMEMORY;
    }
    for (ULONG i = 0; i < array->rgsabound[0].cElements; ++i) {
        HRESULT hr =
            CopyElement(array->vt, ElementAt(array, i), ElementAt(result, i), array->cbElements);
        if (FAILED(hr)) {
            FreeArray(result);
            return hr;
        }
    }
    *copy = result;
    return S_OK;
}
