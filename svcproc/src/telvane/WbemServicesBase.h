// The IWbemServices methods neither provider serves, with the codes they
// answer. They write no line and touch no sink.
#pragma once

#include "wbem/WbemInterfaces.h"

namespace telvane {

class CWbemServicesBase : public IWbemServices {
public:
    HRESULT OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                          IWbemCallResult**) override;
    HRESULT QueryObjectSink(LONG, IWbemObjectSink**) override;
    HRESULT GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**,
                      IWbemCallResult**) override;
    HRESULT PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override;
    HRESULT PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override;
    HRESULT DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override;
    HRESULT DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
    HRESULT CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override;
    HRESULT CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
    HRESULT PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override;
    HRESULT PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override;
    HRESULT DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override;
    HRESULT DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
    HRESULT CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override;
    HRESULT ExecQuery(const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override;
    HRESULT ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override;
    HRESULT ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                  IEnumWbemClassObject**) override;
    HRESULT ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                       IWbemObjectSink*) override;
    HRESULT ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                       IWbemClassObject**, IWbemCallResult**) override;
    HRESULT ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                            IWbemObjectSink*) override;

protected:
    ~CWbemServicesBase() = default;
};

} // namespace telvane
