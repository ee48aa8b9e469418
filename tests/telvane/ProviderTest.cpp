// The providers' own behaviour that needs no library: instances written
// from records, interfaces, initialisation checks and class names.
#include <gtest/gtest.h>

#include "LedProvider.h"
#include "LogCapture.h"
#include "ProviderData.h"
#include "SensorProvider.h"
#include "com/ComApi.h"
#include "wbem/WbemObjects.h"

using namespace telvane;

namespace {

std::shared_ptr<const svcproc::wbem::Schema> Schema() {
    std::string error;
    auto schema = svcproc::wbem::LoadSchemaFile(TELVANE_SCHEMA_FILE, &error);
    EXPECT_TRUE(schema) << error;
    return schema;
}

IWbemClassObject* SensorInstance() {
    auto decl = Schema()->FindClass(L"root\\cimv2", L"VQX_SpNumericSensor");
    IWbemClassObject* cls = nullptr;
    IWbemClassObject* instance = nullptr;
    EXPECT_EQ(svcproc::wbem::CreateClassObject(decl, &cls), S_OK);
    EXPECT_EQ(cls->SpawnInstance(0, &instance), S_OK);
    cls->Release();
    return instance;
}

TEST(ProviderTest, AnUnknownThresholdIsLeftOutAndZeroIsWritten) {
    CSensorInformation info;
    info.m_Description = L"VCC";
    info.m_SensorType = 3;
    info.m_vPossibleStates = {L"Ok", L"Critical"};
    info.m_Accuracy = 150;
    info.m_LowerThresholdCritical = 0;
    info.m_UpperThresholdCritical = static_cast<int32_t>(0x80000000u);
    info.m_UnitModifier = -3;
    CProviderData data;
    CSpNumericSensor record;
    data.PopulateSensor(0x00010003, &record, info);
    IWbemClassObject* instance = SensorInstance();
    ASSERT_NE(instance, nullptr);
    FillInstance(&record, instance);
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(instance->Get(L"UpperThresholdCritical", 0, &v, nullptr, nullptr), S_OK);
    EXPECT_EQ(v.vt, VT_NULL);
    ASSERT_EQ(instance->Get(L"LowerThresholdCritical", 0, &v, nullptr, nullptr), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 0);
    ASSERT_EQ(instance->Get(L"UnitModifier", 0, &v, nullptr, nullptr), S_OK);
    EXPECT_EQ(v.lVal, -3);
    ASSERT_EQ(instance->Get(L"Name", 0, &v, nullptr, nullptr), S_OK);
    ASSERT_EQ(v.vt, VT_BSTR);
    EXPECT_STREQ(v.bstrVal, L"VCC(00010003)");
    VariantClear(&v);
    ASSERT_EQ(instance->Get(L"PossibleStates", 0, &v, nullptr, nullptr), S_OK);
    EXPECT_EQ(v.vt, VT_ARRAY | VT_BSTR);
    VariantClear(&v);
    instance->Release();
}

TEST(ProviderTest, InterfacesAnswerInTheirOrder) {
    auto* sensor = new CSensorProvider;
    sensor->AddRef();
    auto* led = new CLedProvider;
    led->AddRef();
    void* p = nullptr;
    EXPECT_EQ(sensor->QueryInterface(IID_IWbemEventProvider, &p), S_OK);
    static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(sensor->QueryInterface(IID_IUnknown, &p), S_OK);
    EXPECT_EQ(p, static_cast<IWbemProviderInit*>(sensor));
    static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(led->QueryInterface(IID_IWbemEventProvider, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(led->QueryInterface(IID_IUnknown, &p), S_OK);
    EXPECT_EQ(p, static_cast<IWbemServices*>(led));
    static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(led->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(sensor->PutClassAsync(nullptr, 0, nullptr, nullptr), WBEM_E_NOT_FOUND);
    EXPECT_EQ(sensor->ExecQuery(nullptr, nullptr, 0, nullptr, nullptr), WBEM_E_NOT_AVAILABLE);
    EXPECT_EQ(led->CreateClassEnumAsync(nullptr, 0, nullptr, nullptr), WBEM_E_NOT_FOUND);
    EXPECT_EQ(sensor->Release(), 0u);
    EXPECT_EQ(led->Release(), 0u);
}

TEST(ProviderTest, InitializeChecksTheCallersLevelAndTheHost) {
    LogCapture log;
    auto schema = Schema();
    IWbemServices* core = nullptr;
    ASSERT_EQ(svcproc::wbem::CreateCoreServices(schema, L"root\\cimv2", &core), S_OK);
    auto* provider = new CSensorProvider;
    provider->AddRef();

    EXPECT_EQ(provider->Initialize(nullptr, 0, nullptr, nullptr, core, nullptr, nullptr),
              RPC_E_NO_CONTEXT)
        << "no client call";
    svcproc::com::CallContext client;
    client.impersonationLevel = RPC_C_IMP_LEVEL_ANONYMOUS;
    svcproc::com::SetCallContext(&client);
    EXPECT_EQ(provider->Initialize(nullptr, 0, nullptr, nullptr, core, nullptr, nullptr),
              WBEM_E_ACCESS_DENIED);
    client.impersonationLevel = RPC_C_IMP_LEVEL_IDENTIFY;
    EXPECT_EQ(provider->Initialize(nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr),
              WBEM_E_INVALID_PARAMETER);
    EXPECT_TRUE(log.Contains("CSensorProvider::Initialize - ImpersonationLevel=2"));
    svcproc::security::SetOsVersionForTest(4, 0, 1381);
    EXPECT_EQ(provider->Initialize(nullptr, 0, nullptr, nullptr, core, nullptr, nullptr),
              WBEM_E_FAILED);
    EXPECT_TRUE(log.Contains("CSensorProvider::Initialize - OS Version=4.0.1381"));
    EXPECT_TRUE(log.Contains("CSensorProvider::Initialize - OS Version too low"));
    svcproc::security::SetOsVersionForTest(0, 0, 0);
    EXPECT_EQ(provider->Initialize(nullptr, 0, nullptr, nullptr, core, nullptr, nullptr), S_OK);

    // Another class is refused before any access check.
    client.uid = 65534;
    client.gid = 65534;
    auto* sink = svcproc::wbem::CObjectCollector::Create();
    BSTR other = SysAllocString(L"VQX_LedAlarmDevice");
    EXPECT_EQ(provider->CreateInstanceEnumAsync(other, 0, nullptr, sink), WBEM_E_INVALID_CLASS);
    EXPECT_EQ(sink->Status(), WBEM_E_INVALID_CLASS);
    EXPECT_FALSE(log.Contains("CheckClientAccess"));
    SysFreeString(other);
    sink->Release();
    svcproc::com::SetCallContext(nullptr);
    EXPECT_EQ(GetImpersonationLevel(), static_cast<DWORD>(RPC_C_IMP_LEVEL_DELEGATE))
        << "a thread without a token";

    CSpNumericSensor record;
    log.Clear();
    provider->FireSensorStateChanged(&record);
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"CSensorProvider::FireSensorStateChanged - "
                                                    "m_pEventSink is NULL - No interested "
                                                    "consumer(s) at this time"});
    provider->Release();
    core->Release();
}

TEST(ProviderTest, ObjectPathKeys) {
    struct Case {
        const wchar_t* path;
        const wchar_t* key;
    } cases[] = {
        {L"VQX_SpNumericSensor.Name=\"VCC(00010003)\"", L"VCC(00010003)"},
        {L"VQX_SpNumericSensor.Name='VCC(00010003)'", L"VCC(00010003)"},
        {L"VQX_SpNumericSensor.DeviceID=\"00010003\",Name=\"VCC(00010003)\"", L"00010003"},
        {L"VQX_SpNumericSensor.Name=\"it's\"", L"it's"},
        {L"VQX_SpNumericSensor.Name=VCC", L""},
        {L"VQX_SpNumericSensor.Name=\"open", L""},
    };
    for (const Case& c : cases) {
        std::wstring key;
        CWbemUtils::GetKeyFromObjectPath(c.path, key);
        EXPECT_EQ(key, c.key);
    }
}

} // namespace
