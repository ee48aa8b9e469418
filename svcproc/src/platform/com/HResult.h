// Result codes of the COM and WBEM layer: HRESULT values with the platform's
// names and numbers, so callers compare and log them as written.
#pragma once

#include <cstdint>

#include "../base/WinTypes.h"

#define SVCP_COM_EXPORT __attribute__((visibility("default")))

using HRESULT = int32_t;
using SCODE = int32_t;

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

constexpr HRESULT MakeHResult(uint32_t value) {
    return static_cast<HRESULT>(value);
}
// A Win32 error code as a failure of facility 7.
constexpr HRESULT HRESULT_FROM_WIN32(DWORD error) {
    return error == 0 ? 0 : MakeHResult((error & 0xFFFFu) | 0x80070000u);
}

// General results.
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002u);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003u);
constexpr HRESULT E_ABORT = MakeHResult(0x80004004u);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005u);
constexpr HRESULT E_HANDLE = MakeHResult(0x80070006u);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057u);

// COM runtime.
constexpr HRESULT CO_E_NOTINITIALIZED = MakeHResult(0x800401F0u);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154u);
constexpr HRESULT RPC_E_CHANGED_MODE = MakeHResult(0x80010106u);
constexpr HRESULT RPC_E_TOO_LATE = MakeHResult(0x80010119u);
// CoImpersonateClient or CoRevertToSelf on a thread that is not serving a
// client call.
constexpr HRESULT RPC_E_NO_CONTEXT = MakeHResult(0x8001011Eu);

// OLE automation values.
constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHResult(0x80020005u);
constexpr HRESULT DISP_E_BADVARTYPE = MakeHResult(0x80020008u);
constexpr HRESULT DISP_E_OVERFLOW = MakeHResult(0x8002000Au);
constexpr HRESULT DISP_E_BADINDEX = MakeHResult(0x8002000Bu);
constexpr HRESULT DISP_E_ARRAYISLOCKED = MakeHResult(0x8002000Du);

// WBEM results.
constexpr HRESULT WBEM_S_NO_ERROR = 0;
constexpr HRESULT WBEM_S_FALSE = 1;
constexpr HRESULT WBEM_S_TIMEDOUT = 0x40004;
constexpr HRESULT WBEM_S_NO_MORE_DATA = 0x40005;
constexpr HRESULT WBEM_E_FAILED = MakeHResult(0x80041001u);
constexpr HRESULT WBEM_E_NOT_FOUND = MakeHResult(0x80041002u);
constexpr HRESULT WBEM_E_ACCESS_DENIED = MakeHResult(0x80041003u);
constexpr HRESULT WBEM_E_PROVIDER_FAILURE = MakeHResult(0x80041004u);
constexpr HRESULT WBEM_E_TYPE_MISMATCH = MakeHResult(0x80041005u);
constexpr HRESULT WBEM_E_OUT_OF_MEMORY = MakeHResult(0x80041006u);
constexpr HRESULT WBEM_E_INVALID_CONTEXT = MakeHResult(0x80041007u);
constexpr HRESULT WBEM_E_INVALID_PARAMETER = MakeHResult(0x80041008u);
constexpr HRESULT WBEM_E_NOT_AVAILABLE = MakeHResult(0x80041009u);
constexpr HRESULT WBEM_E_CRITICAL_ERROR = MakeHResult(0x8004100Au);
constexpr HRESULT WBEM_E_NOT_SUPPORTED = MakeHResult(0x8004100Cu);
constexpr HRESULT WBEM_E_INVALID_NAMESPACE = MakeHResult(0x8004100Eu);
constexpr HRESULT WBEM_E_INVALID_OBJECT = MakeHResult(0x8004100Fu);
constexpr HRESULT WBEM_E_INVALID_CLASS = MakeHResult(0x80041010u);
constexpr HRESULT WBEM_E_PROVIDER_NOT_FOUND = MakeHResult(0x80041011u);
constexpr HRESULT WBEM_E_PROVIDER_LOAD_FAILURE = MakeHResult(0x80041013u);
constexpr HRESULT WBEM_E_INITIALIZATION_FAILURE = MakeHResult(0x80041014u);
constexpr HRESULT WBEM_E_TRANSPORT_FAILURE = MakeHResult(0x80041015u);
constexpr HRESULT WBEM_E_INVALID_OPERATION = MakeHResult(0x80041016u);
constexpr HRESULT WBEM_E_ALREADY_EXISTS = MakeHResult(0x80041019u);
constexpr HRESULT WBEM_E_UNEXPECTED = MakeHResult(0x8004101Du);
constexpr HRESULT WBEM_E_INVALID_SYNTAX = MakeHResult(0x80041021u);
constexpr HRESULT WBEM_E_READ_ONLY = MakeHResult(0x80041023u);
constexpr HRESULT WBEM_E_PROVIDER_NOT_CAPABLE = MakeHResult(0x80041024u);
constexpr HRESULT WBEM_E_INVALID_PROPERTY_TYPE = MakeHResult(0x8004102Au);
constexpr HRESULT WBEM_E_VALUE_OUT_OF_RANGE = MakeHResult(0x8004102Bu);
constexpr HRESULT WBEM_E_TIMED_OUT = MakeHResult(0x80041032u);
constexpr HRESULT WBEM_E_SHUTTING_DOWN = MakeHResult(0x80041033u);
constexpr HRESULT WBEM_E_INVALID_OBJECT_PATH = MakeHResult(0x8004103Au);

namespace svcproc::com {
// The code in words for messages ("access denied", "not found"), or null
// for a code this layer does not know.
SVCP_COM_EXPORT const char* HResultText(HRESULT hr);
} // namespace svcproc::com
