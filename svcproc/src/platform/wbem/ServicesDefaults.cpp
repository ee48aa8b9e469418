// What an IWbemServices answers for the requests its implementation does
// not serve.
#include "WbemInterfaces.h"

HRESULT IWbemServices::OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                     IWbemCallResult**) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::CancelAsyncCall(IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::QueryObjectSink(LONG, IWbemObjectSink**) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**,
                                 IWbemCallResult**) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                 IEnumWbemClassObject**) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                      IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                             IEnumWbemClassObject**) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                  IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                  IWbemClassObject**, IWbemCallResult**) {
    return WBEM_E_NOT_SUPPORTED;
}
HRESULT IWbemServices::ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                       IWbemClassObject*, IWbemObjectSink*) {
    return WBEM_E_NOT_SUPPORTED;
}
