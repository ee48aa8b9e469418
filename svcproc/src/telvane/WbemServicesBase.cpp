#include "WbemServicesBase.h"

namespace telvane {

using S = CWbemServicesBase;

HRESULT S::OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::QueryObjectSink(LONG, IWbemObjectSink**) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_FOUND;
}
HRESULT S::DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_FOUND;
}
HRESULT S::PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                 IEnumWbemClassObject**) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                      IWbemObjectSink*) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                      IWbemClassObject**, IWbemCallResult**) {
    return WBEM_E_NOT_AVAILABLE;
}
HRESULT S::ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                           IWbemObjectSink*) {
    return WBEM_E_NOT_AVAILABLE;
}

} // namespace telvane
