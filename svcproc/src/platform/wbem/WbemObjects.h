// The layer's implementations of the WBEM interfaces: class objects from the
// schema, the core services of a namespace, contexts and two ready sinks.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ComObject.h"
#include "Schema.h"
#include "WbemInterfaces.h"

namespace svcproc::wbem {

// The class object of a declaration (count 1): Get reads defaults, Put sets
// them, SpawnInstance makes instances that start with those defaults.
SVCP_WBEM_EXPORT HRESULT CreateClassObject(std::shared_ptr<const ClassDecl> decl,
                                           IWbemClassObject** ppObject);
// The declaration behind an object of this layer, or null for any other.
SVCP_WBEM_EXPORT std::shared_ptr<const ClassDecl> GetClassDecl(IWbemClassObject* object);

// Converts `value` to the canonical representation of a CIM type:
// sint8 VT_I1, uint8 VT_UI1, sint16 VT_I2, uint16 VT_UI2, sint32 VT_I4,
// uint32 VT_UI4, sint64 VT_I8, uint64 VT_UI8, real32 VT_R4, real64 VT_R8,
// boolean VT_BOOL, string/datetime/reference VT_BSTR, char16 VT_UI2, and
// VT_ARRAY of these for arrays. Integers convert when the number fits, or
// when the source has the target's width (a VT_I2 carries a uint16's 16
// bits, a VT_I4 a uint32's 32 bits). Strings stay strings and booleans stay
// booleans. VT_EMPTY and VT_NULL give VT_NULL. WBEM_E_TYPE_MISMATCH
// otherwise; WBEM_E_OUT_OF_MEMORY when a copy cannot be made.
SVCP_WBEM_EXPORT HRESULT ConvertToCimType(const VARIANT& value, CIMTYPE type, VARIANT* out);
// The CIM type name as MOF writes it ("uint16", "string[]").
SVCP_WBEM_EXPORT std::wstring CimTypeName(CIMTYPE type);

// The core services handed to providers of a namespace (count 1): GetObject
// and GetObjectAsync of a class of the namespace; other requests answer
// WBEM_E_NOT_SUPPORTED. WBEM_E_INVALID_NAMESPACE when the schema has no
// class in `nameSpace`.
SVCP_WBEM_EXPORT HRESULT CreateCoreServices(std::shared_ptr<const Schema> schema,
                                            const std::wstring& nameSpace,
                                            IWbemServices** ppServices);

// An empty context (count 1).
SVCP_WBEM_EXPORT HRESULT CreateWbemContext(IWbemContext** ppContext);

// A response handler that keeps what it is given, for in-process callers
// and tests. Created with count 1.
class SVCP_WBEM_EXPORT CObjectCollector final
    : public com::CUnknownImpl<IWbemObjectSink, IID_IWbemObjectSink> {
public:
    static CObjectCollector* Create();

    HRESULT Indicate(LONG lObjectCount, IWbemClassObject** apObjArray) override;
    HRESULT SetStatus(LONG lFlags, HRESULT hResult, BSTR strParam,
                      IWbemClassObject* pObjParam) override;

    // The objects indicated so far, each AddRef'ed for the caller.
    std::vector<IWbemClassObject*> TakeObjects();
    size_t ObjectCount() const;
    bool HasStatus() const;
    HRESULT Status() const;
    int StatusCalls() const;
    // Waits up to `milliseconds` for a SetStatus; false on time-out.
    bool WaitForStatus(uint32_t milliseconds) const;
    // Waits up to `milliseconds` until at least `count` objects arrived.
    bool WaitForObjects(size_t count, uint32_t milliseconds) const;

private:
    CObjectCollector() = default;
    ~CObjectCollector();

    mutable std::mutex m_Mutex;
    mutable std::condition_variable m_Changed;
    std::vector<IWbemClassObject*> m_vObjects;
    int m_nStatusCalls = 0;
    HRESULT m_hrStatus = WBEM_S_NO_ERROR;
};

// An init sink that records the status a provider reports. Count 1.
class SVCP_WBEM_EXPORT CInitStatusSink final
    : public com::CUnknownImpl<IWbemProviderInitSink, IID_IWbemProviderInitSink> {
public:
    static CInitStatusSink* Create();

    HRESULT SetStatus(LONG lStatus, LONG lFlags) override;

    bool HasStatus() const;
    LONG Status() const;
    bool WaitForStatus(uint32_t milliseconds) const;

private:
    CInitStatusSink() = default;
    ~CInitStatusSink() = default;

    mutable std::mutex m_Mutex;
    mutable std::condition_variable m_Changed;
    bool m_bHasStatus = false;
    LONG m_lStatus = 0;
};

} // namespace svcproc::wbem
