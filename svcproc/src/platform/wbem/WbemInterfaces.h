// The WBEM interfaces: class objects, contexts, sinks, services, and the
// provider-side interfaces a provider implements.
#pragma once

#include "WbemTypes.h"

class IWbemClassObject;
class IWbemContext;
class IWbemObjectSink;
class IWbemServices;
// Appear only in signatures: the layer never hands them out.
class IWbemCallResult;
class IEnumWbemClassObject;
class IWbemQualifierSet;

// A class definition or an instance. Property names compare without regard
// to case. Methods this layer does not offer return WBEM_E_NOT_SUPPORTED.
class IWbemClassObject : public IUnknown {
public:
    virtual HRESULT GetQualifierSet(IWbemQualifierSet** ppQualSet) = 0;
    // pVal, pType and plFlavor may each be null. A property without a value
    // comes back as VT_NULL.
    virtual HRESULT Get(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE* pType,
                        LONG* plFlavor) = 0;
    // Type 0 converts the value to the declared CIM type; a non-zero type
    // must be the declared one. WBEM_E_NOT_FOUND for an undeclared property,
    // WBEM_E_TYPE_MISMATCH for a value that does not convert, WBEM_E_READ_ONLY
    // for a system property. A null pVal, VT_NULL or VT_EMPTY clears it.
    virtual HRESULT Put(LPCWSTR wszName, LONG lFlags, VARIANT* pVal, CIMTYPE Type) = 0;
    // On an instance: back to the class's default value.
    virtual HRESULT Delete(LPCWSTR wszName) = 0;
    // Property names as a SAFEARRAY of BSTR. With WBEM_FLAG_ONLY_IF_TRUE and
    // a qualifier name: the properties that carry that qualifier.
    virtual HRESULT GetNames(LPCWSTR wszQualifierName, LONG lFlags, VARIANT* pQualifierVal,
                             SAFEARRAY** pNames) = 0;
    virtual HRESULT BeginEnumeration(LONG lEnumFlags) = 0;
    // WBEM_S_NO_MORE_DATA after the last property.
    virtual HRESULT Next(LONG lFlags, BSTR* strName, VARIANT* pVal, CIMTYPE* pType,
                         LONG* plFlavor) = 0;
    virtual HRESULT EndEnumeration() = 0;
    virtual HRESULT GetPropertyQualifierSet(LPCWSTR wszProperty, IWbemQualifierSet** ppQualSet) = 0;
    virtual HRESULT Clone(IWbemClassObject** ppCopy) = 0;
    virtual HRESULT GetObjectText(LONG lFlags, BSTR* pstrObjectText) = 0;
    virtual HRESULT SpawnDerivedClass(LONG lFlags, IWbemClassObject** ppNewClass) = 0;
    virtual HRESULT SpawnInstance(LONG lFlags, IWbemClassObject** ppNewInstance) = 0;
    virtual HRESULT CompareTo(LONG lFlags, IWbemClassObject* pCompareTo) = 0;
    virtual HRESULT GetPropertyOrigin(LPCWSTR wszName, BSTR* pstrClassName) = 0;
    // WBEM_S_NO_ERROR when the object's class is or derives from the
    // ancestor, WBEM_S_FALSE otherwise.
    virtual HRESULT InheritsFrom(LPCWSTR strAncestor) = 0;
    virtual HRESULT GetMethod(LPCWSTR wszName, LONG lFlags, IWbemClassObject** ppInSignature,
                              IWbemClassObject** ppOutSignature) = 0;
    virtual HRESULT PutMethod(LPCWSTR wszName, LONG lFlags, IWbemClassObject* pInSignature,
                              IWbemClassObject* pOutSignature) = 0;
    virtual HRESULT DeleteMethod(LPCWSTR wszName) = 0;
    virtual HRESULT BeginMethodEnumeration(LONG lEnumFlags) = 0;
    virtual HRESULT NextMethod(LONG lFlags, BSTR* pstrName, IWbemClassObject** ppInSignature,
                               IWbemClassObject** ppOutSignature) = 0;
    virtual HRESULT EndMethodEnumeration() = 0;
    virtual HRESULT GetMethodQualifierSet(LPCWSTR wszMethod, IWbemQualifierSet** ppQualSet) = 0;
    virtual HRESULT GetMethodOrigin(LPCWSTR wszMethodName, BSTR* pstrClassName) = 0;

protected:
    ~IWbemClassObject() = default;
};

// Named values a caller passes along with a request.
class IWbemContext : public IUnknown {
public:
    virtual HRESULT Clone(IWbemContext** ppNewCopy) = 0;
    virtual HRESULT GetNames(LONG lFlags, SAFEARRAY** pNames) = 0;
    virtual HRESULT BeginEnumeration(LONG lFlags) = 0;
    virtual HRESULT Next(LONG lFlags, BSTR* pstrName, VARIANT* pValue) = 0;
    virtual HRESULT EndEnumeration() = 0;
    virtual HRESULT SetValue(LPCWSTR wszName, LONG lFlags, VARIANT* pValue) = 0;
    virtual HRESULT GetValue(LPCWSTR wszName, LONG lFlags, VARIANT* pValue) = 0;
    virtual HRESULT DeleteValue(LPCWSTR wszName, LONG lFlags) = 0;
    virtual HRESULT DeleteAll() = 0;

protected:
    ~IWbemContext() = default;
};

// Where a provider delivers the objects of a request (or its events) and the
// final status. Indicate AddRefs what it keeps; the caller still releases
// its own references.
class IWbemObjectSink : public IUnknown {
public:
    virtual HRESULT Indicate(LONG lObjectCount, IWbemClassObject** apObjArray) = 0;
    virtual HRESULT SetStatus(LONG lFlags, HRESULT hResult, BSTR strParam,
                              IWbemClassObject* pObjParam) = 0;

protected:
    ~IWbemObjectSink() = default;
};

// A provider reports the outcome of its Initialize here (WBEM_S_INITIALIZED
// or a failure code).
class IWbemProviderInitSink : public IUnknown {
public:
    virtual HRESULT SetStatus(LONG lStatus, LONG lFlags) = 0;

protected:
    ~IWbemProviderInitSink() = default;
};

// A namespace's services. A provider implements the methods it serves; the
// others answer WBEM_E_NOT_SUPPORTED.
class SVCP_WBEM_EXPORT IWbemServices : public IUnknown {
public:
    virtual HRESULT OpenNamespace(const BSTR strNamespace, LONG lFlags, IWbemContext* pCtx,
                                  IWbemServices** ppWorkingNamespace, IWbemCallResult** ppResult);
    virtual HRESULT CancelAsyncCall(IWbemObjectSink* pSink);
    virtual HRESULT QueryObjectSink(LONG lFlags, IWbemObjectSink** ppResponseHandler);
    virtual HRESULT GetObject(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                              IWbemClassObject** ppObject, IWbemCallResult** ppCallResult);
    virtual HRESULT GetObjectAsync(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                   IWbemObjectSink* pResponseHandler);
    virtual HRESULT PutClass(IWbemClassObject* pObject, LONG lFlags, IWbemContext* pCtx,
                             IWbemCallResult** ppCallResult);
    virtual HRESULT PutClassAsync(IWbemClassObject* pObject, LONG lFlags, IWbemContext* pCtx,
                                  IWbemObjectSink* pResponseHandler);
    virtual HRESULT DeleteClass(const BSTR strClass, LONG lFlags, IWbemContext* pCtx,
                                IWbemCallResult** ppCallResult);
    virtual HRESULT DeleteClassAsync(const BSTR strClass, LONG lFlags, IWbemContext* pCtx,
                                     IWbemObjectSink* pResponseHandler);
    virtual HRESULT CreateClassEnum(const BSTR strSuperclass, LONG lFlags, IWbemContext* pCtx,
                                    IEnumWbemClassObject** ppEnum);
    virtual HRESULT CreateClassEnumAsync(const BSTR strSuperclass, LONG lFlags, IWbemContext* pCtx,
                                         IWbemObjectSink* pResponseHandler);
    virtual HRESULT PutInstance(IWbemClassObject* pInst, LONG lFlags, IWbemContext* pCtx,
                                IWbemCallResult** ppCallResult);
    virtual HRESULT PutInstanceAsync(IWbemClassObject* pInst, LONG lFlags, IWbemContext* pCtx,
                                     IWbemObjectSink* pResponseHandler);
    virtual HRESULT DeleteInstance(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                   IWbemCallResult** ppCallResult);
    virtual HRESULT DeleteInstanceAsync(const BSTR strObjectPath, LONG lFlags, IWbemContext* pCtx,
                                        IWbemObjectSink* pResponseHandler);
    virtual HRESULT CreateInstanceEnum(const BSTR strFilter, LONG lFlags, IWbemContext* pCtx,
                                       IEnumWbemClassObject** ppEnum);
    virtual HRESULT CreateInstanceEnumAsync(const BSTR strFilter, LONG lFlags, IWbemContext* pCtx,
                                            IWbemObjectSink* pResponseHandler);
    virtual HRESULT ExecQuery(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                              IWbemContext* pCtx, IEnumWbemClassObject** ppEnum);
    virtual HRESULT ExecQueryAsync(const BSTR strQueryLanguage, const BSTR strQuery, LONG lFlags,
                                   IWbemContext* pCtx, IWbemObjectSink* pResponseHandler);
    virtual HRESULT ExecNotificationQuery(const BSTR strQueryLanguage, const BSTR strQuery,
                                          LONG lFlags, IWbemContext* pCtx,
                                          IEnumWbemClassObject** ppEnum);
    virtual HRESULT ExecNotificationQueryAsync(const BSTR strQueryLanguage, const BSTR strQuery,
                                               LONG lFlags, IWbemContext* pCtx,
                                               IWbemObjectSink* pResponseHandler);
    virtual HRESULT ExecMethod(const BSTR strObjectPath, const BSTR strMethodName, LONG lFlags,
                               IWbemContext* pCtx, IWbemClassObject* pInParams,
                               IWbemClassObject** ppOutParams, IWbemCallResult** ppCallResult);
    virtual HRESULT ExecMethodAsync(const BSTR strObjectPath, const BSTR strMethodName, LONG lFlags,
                                    IWbemContext* pCtx, IWbemClassObject* pInParams,
                                    IWbemObjectSink* pResponseHandler);

protected:
    ~IWbemServices() = default;
};

// Implemented by a provider: called once before any request, with the
// namespace's core services; the outcome goes to pInitSink.
class IWbemProviderInit : public IUnknown {
public:
    virtual HRESULT Initialize(LPWSTR wszUser, LONG lFlags, LPWSTR wszNamespace, LPWSTR wszLocale,
                               IWbemServices* pNamespace, IWbemContext* pCtx,
                               IWbemProviderInitSink* pInitSink) = 0;

protected:
    ~IWbemProviderInit() = default;
};

// Implemented by an event provider: the sink receives its events from now on.
class IWbemEventProvider : public IUnknown {
public:
    virtual HRESULT ProvideEvents(IWbemObjectSink* pSink, LONG lFlags) = 0;

protected:
    ~IWbemEventProvider() = default;
};

class IWbemShutdown : public IUnknown {
public:
    virtual HRESULT Shutdown(LONG uReason, ULONG uMaxMilliseconds, IWbemContext* pCtx) = 0;

protected:
    ~IWbemShutdown() = default;
};

// Makes a provider object that lives in its own process reachable by
// clients under a registration name; created with CoCreateInstance of
// CLSID_WbemDecoupledRegistrar.
class IWbemDecoupledRegistrar : public IUnknown {
public:
    virtual HRESULT Register(LONG a_Flags, IWbemContext* a_Context, LPCWSTR a_User,
                             LPCWSTR a_Locale, LPCWSTR a_Scope, LPCWSTR a_Registration,
                             IUnknown* pIUnknown) = 0;
    virtual HRESULT UnRegister() = 0;

protected:
    ~IWbemDecoupledRegistrar() = default;
};
