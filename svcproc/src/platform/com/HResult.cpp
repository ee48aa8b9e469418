#include "HResult.h"

#include <iterator>

namespace svcproc::com {
namespace {
struct CodeText {
    HRESULT code;
    const char* text;
};

constexpr CodeText kTexts[] = {
    {S_OK, "success"},
    {S_FALSE, "success (false)"},
    {WBEM_S_NO_MORE_DATA, "no more data"},
    {WBEM_S_TIMEDOUT, "timed out"},
    {E_NOTIMPL, "not implemented"},
    {E_NOINTERFACE, "no such interface"},
    {E_POINTER, "invalid pointer"},
    {E_ABORT, "aborted"},
    {E_FAIL, "unspecified failure"},
    {E_UNEXPECTED, "unexpected failure"},
    {E_ACCESSDENIED, "access denied"},
    {E_HANDLE, "invalid handle"},
    {E_OUTOFMEMORY, "out of memory"},
    {E_INVALIDARG, "invalid argument"},
    {CO_E_NOTINITIALIZED, "COM not initialised"},
    {CLASS_E_NOAGGREGATION, "class does not support aggregation"},
    {CLASS_E_CLASSNOTAVAILABLE, "class not available"},
    {REGDB_E_CLASSNOTREG, "class not registered"},
    {RPC_E_CHANGED_MODE, "concurrency model changed"},
    {RPC_E_TOO_LATE, "too late"},
    {RPC_E_NO_CONTEXT, "no client call"},
    {DISP_E_TYPEMISMATCH, "type mismatch"},
    {DISP_E_BADVARTYPE, "bad variant type"},
    {DISP_E_OVERFLOW, "overflow"},
    {DISP_E_BADINDEX, "bad index"},
    {DISP_E_ARRAYISLOCKED, "array is locked"},
    {WBEM_E_FAILED, "failed"},
    {WBEM_E_NOT_FOUND, "not found"},
    {WBEM_E_ACCESS_DENIED, "access denied"},
    {WBEM_E_PROVIDER_FAILURE, "provider failure"},
    {WBEM_E_TYPE_MISMATCH, "type mismatch"},
    {WBEM_E_OUT_OF_MEMORY, "out of memory"},
    {WBEM_E_INVALID_CONTEXT, "invalid context"},
    {WBEM_E_INVALID_PARAMETER, "invalid parameter"},
    {WBEM_E_NOT_AVAILABLE, "not available"},
    {WBEM_E_CRITICAL_ERROR, "critical error"},
    {WBEM_E_NOT_SUPPORTED, "not supported"},
    {WBEM_E_INVALID_NAMESPACE, "invalid namespace"},
    {WBEM_E_INVALID_OBJECT, "invalid object"},
    {WBEM_E_INVALID_CLASS, "invalid class"},
    {WBEM_E_PROVIDER_NOT_FOUND, "provider not found"},
    {WBEM_E_PROVIDER_LOAD_FAILURE, "provider load failure"},
    {WBEM_E_INITIALIZATION_FAILURE, "initialisation failure"},
    {WBEM_E_TRANSPORT_FAILURE, "transport failure"},
    {WBEM_E_INVALID_OPERATION, "invalid operation"},
    {WBEM_E_ALREADY_EXISTS, "already exists"},
    {WBEM_E_UNEXPECTED, "unexpected"},
    {WBEM_E_INVALID_SYNTAX, "invalid syntax"},
    {WBEM_E_READ_ONLY, "read-only"},
    {WBEM_E_PROVIDER_NOT_CAPABLE, "provider not capable"},
    {WBEM_E_INVALID_PROPERTY_TYPE, "invalid property type"},
    {WBEM_E_VALUE_OUT_OF_RANGE, "value out of range"},
    {WBEM_E_TIMED_OUT, "timed out"},
    {WBEM_E_SHUTTING_DOWN, "shutting down"},
    {WBEM_E_INVALID_OBJECT_PATH, "invalid object path"},
};
} // namespace

const char* HResultText(HRESULT hr) {
    for (const CodeText& entry : kTexts) {
        if (entry.code == hr) {
            return entry.text;
        }
    }
    return nullptr;
}
} // namespace svcproc::com
