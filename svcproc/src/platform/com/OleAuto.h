// The automation values: BSTR, VARIANT and one-dimensional SAFEARRAYs.
#pragma once

#include <cstdint>

#include "../base/WinTypes.h"
#include "HResult.h"
#include "Unknown.h"

using OLECHAR = wchar_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPWSTR = wchar_t*;
using LPCWSTR = const wchar_t*;
using UINT = uint32_t;
using INT = int32_t;
using SHORT = int16_t;
using CHAR = char;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using FLOAT = float;
using DOUBLE = double;

// A BSTR points at the characters of a length-prefixed, zero-terminated wide
// buffer; the 32-bit byte length sits just before the first character. A
// null BSTR is a valid empty string.
using BSTR = OLECHAR*;

SVCP_COM_EXPORT BSTR SysAllocString(const OLECHAR* text);
// `length` characters copied from `text`, or zero-filled when `text` is null.
SVCP_COM_EXPORT BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
SVCP_COM_EXPORT void SysFreeString(BSTR text);
SVCP_COM_EXPORT UINT SysStringLen(BSTR text);
SVCP_COM_EXPORT UINT SysStringByteLen(BSTR text);

using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct SAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
};

// fFeatures bits.
constexpr USHORT FADF_HAVEVARTYPE = 0x0080;
constexpr USHORT FADF_BSTR = 0x0100;
constexpr USHORT FADF_UNKNOWN = 0x0200;
constexpr USHORT FADF_VARIANT = 0x0800;

// Only one dimension is supported. `vt` is the element type.
struct SAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    void* pvData;
    SAFEARRAYBOUND rgsabound[1];
    VARTYPE vt;
};
using LPSAFEARRAY = SAFEARRAY*;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        SAFEARRAY* parray;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        void* byref;
    };
};
using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;

#define V_VT(v) ((v)->vt)
#define V_I2(v) ((v)->iVal)
#define V_I4(v) ((v)->lVal)
#define V_UI1(v) ((v)->bVal)
#define V_BOOL(v) ((v)->boolVal)
#define V_BSTR(v) ((v)->bstrVal)
#define V_ERROR(v) ((v)->scode)
#define V_ARRAY(v) ((v)->parray)
#define V_UNKNOWN(v) ((v)->punkVal)

// VT_EMPTY, contents not freed.
SVCP_COM_EXPORT void VariantInit(VARIANT* value);
// Frees what the value owns (string, array, interface reference) and leaves
// VT_EMPTY. DISP_E_ARRAYISLOCKED for a locked array and DISP_E_BADVARTYPE for
// an unknown type leave the value as it was.
SVCP_COM_EXPORT HRESULT VariantClear(VARIANT* value);
// Clears `dest`, then copies `source` deeply (strings and arrays duplicated,
// interfaces AddRef'ed). On failure `dest` is VT_EMPTY.
SVCP_COM_EXPORT HRESULT VariantCopy(VARIANT* dest, const VARIANT* source);

// Element types: VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4, VT_I8, VT_UI8,
// VT_INT, VT_UINT, VT_R4, VT_R8, VT_BOOL, VT_ERROR, VT_BSTR, VT_VARIANT,
// VT_UNKNOWN. Elements start zeroed (null strings, empty variants).
SVCP_COM_EXPORT SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements);
// Only cDims == 1 is supported; other counts give null.
SVCP_COM_EXPORT SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* bounds);
// Frees the elements and the array; DISP_E_ARRAYISLOCKED while accessed.
SVCP_COM_EXPORT HRESULT SafeArrayDestroy(SAFEARRAY* array);
// Stores a copy: `value` is the BSTR itself for VT_BSTR, the IUnknown* for
// VT_UNKNOWN, and points at the element otherwise.
SVCP_COM_EXPORT HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value);
// Copies the element out into *value (a new BSTR, an AddRef'ed interface, a
// deep-copied VARIANT, or the bytes).
SVCP_COM_EXPORT HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value);
SVCP_COM_EXPORT HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dimension, LONG* lowerBound);
SVCP_COM_EXPORT HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dimension, LONG* upperBound);
SVCP_COM_EXPORT UINT SafeArrayGetDim(SAFEARRAY* array);
SVCP_COM_EXPORT UINT SafeArrayGetElemsize(SAFEARRAY* array);
SVCP_COM_EXPORT HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt);
SVCP_COM_EXPORT HRESULT SafeArrayLock(SAFEARRAY* array);
SVCP_COM_EXPORT HRESULT SafeArrayUnlock(SAFEARRAY* array);
// Locks the array and hands out its element storage.
SVCP_COM_EXPORT HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data);
SVCP_COM_EXPORT HRESULT SafeArrayUnaccessData(SAFEARRAY* array);
SVCP_COM_EXPORT HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** copy);
