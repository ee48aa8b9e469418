// The resource manager and the providers in this process, over the real
// library (driver host and simulator as a process) and the real registrar.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <sys/stat.h>
#include <thread>

#include "LogCapture.h"
#include "Processes.h"
#include "ResourceManager.h"
#include "SensorProvider.h"
#include "ServiceHost.h"
#include "com/ComApi.h"
#include "wbem/WbemObjects.h"

using namespace telvane;

namespace {

std::string Bin(const char* name) {
    return std::string(TELVANE_BIN_DIR) + "/" + name;
}

// Passes every call to the real registrar, except the registration it was
// told to refuse.
class RefusingRegistrar : public IWbemDecoupledRegistrar {
public:
    RefusingRegistrar(IWbemDecoupledRegistrar* real, std::wstring refused)
        : m_pReal(real), m_Refused(std::move(refused)) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IWbemDecoupledRegistrar)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_nRefs; }
    ULONG Release() override {
        ULONG left = --m_nRefs;
        if (left == 0) {
            m_pReal->Release();
            delete this;
        }
        return left;
    }
    HRESULT Register(LONG flags, IWbemContext* context, LPCWSTR user, LPCWSTR locale, LPCWSTR scope,
                     LPCWSTR registration, IUnknown* provider) override {
        if (registration && m_Refused == registration) {
            return WBEM_E_ACCESS_DENIED;
        }
        return m_pReal->Register(flags, context, user, locale, scope, registration, provider);
    }
    HRESULT UnRegister() override { return m_pReal->UnRegister(); }

private:
    virtual ~RefusingRegistrar() = default;
    IWbemDecoupledRegistrar* m_pReal;
    std::wstring m_Refused;
    std::atomic<ULONG> m_nRefs{1};
};

class ResourceManagerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_Root = MakeTempDir("telvane_rm");
        std::string run = s_Root + "/run";
        mkdir(run.c_str(), 0755);
        setenv("SVCPROC_RUNTIME_DIR", run.c_str(), 1);
        setenv("SVCPROC_SMBIOS_TABLE", (s_Root + "/table.bin").c_str(), 1);
        std::vector<std::string> env = MakeEnvironment({});
        RunProcess({Bin("spsim"), "table", "default", s_Root + "/table.bin"}, env);
        s_Portwyn = new RunningProcess;
        s_Portwyn->Start({Bin("portwyn"), "--ports=sim", "--profile", "default"}, env,
                         s_Root + "/portwyn.log");
        WaitFor(
            [&] {
                return ReadWholeFile(s_Root + "/portwyn.log").find("serving") !=
                           std::string::npos ||
                       access((run + "/devices").c_str(), F_OK) == 0;
            },
            10000);
        Sleep(200);
    }
    static void TearDownTestSuite() {
        delete s_Portwyn;
        RemoveTree(s_Root);
    }
    void TearDown() override {
        if (m_bFactoryReplaced) {
            svcproc::com::RegisterClassFactory(CLSID_WbemDecoupledRegistrar, m_Original);
        }
        CResourceManager::Destroy();
    }
    void Refuse(const std::wstring& registration) {
        svcproc::com::ClassFactory original = svcproc::com::RegisterClassFactory(
            CLSID_WbemDecoupledRegistrar, [this, registration](REFIID riid, void** ppv) {
                void* real = nullptr;
                HRESULT hr = m_Original(IID_IWbemDecoupledRegistrar, &real);
                if (FAILED(hr)) {
                    return hr;
                }
                auto* wrapper = new RefusingRegistrar(static_cast<IWbemDecoupledRegistrar*>(real),
                                                      registration);
                hr = wrapper->QueryInterface(riid, ppv);
                wrapper->Release();
                return hr;
            });
        m_Original = original;
        m_bFactoryReplaced = true;
    }

    static std::string s_Root;
    static RunningProcess* s_Portwyn;
    svcproc::com::ClassFactory m_Original;
    bool m_bFactoryReplaced = false;
};

std::string ResourceManagerTest::s_Root;
RunningProcess* ResourceManagerTest::s_Portwyn = nullptr;

TEST_F(ResourceManagerTest, ARefusedLedRegistrationLeavesSensorsRunning) {
    LogCapture log;
    Refuse(L"VQX_LedAlarmDeviceProvider");
    ASSERT_EQ(CResourceManager::Create(), S_OK);
    EXPECT_TRUE(log.Contains("CComServer::InitComServer - LED Init failed - Policy is to continue "
                             "with Sensor functionality alone"));
    EXPECT_TRUE(log.Contains(
        "CComServer::RegisterLedInstance - LedProvider registration failed, HRESULT=0x80041003"));
    ASSERT_NE(CResourceManager::s_pInstance, nullptr);
    EXPECT_FALSE(CResourceManager::s_pInstance->m_ComServer.HasLedProvider());
    EXPECT_EQ(CResourceManager::s_pInstance->m_ComServer.m_pLedRegistrar, nullptr);
    CSensorProvider* sensor = CResourceManager::s_pInstance->m_ComServer.AcquireSensorProvider();
    ASSERT_NE(sensor, nullptr);
    sensor->Release();

    std::vector<std::string> env = MakeEnvironment({});
    EXPECT_EQ(RunProcess({Bin("wbemq"), "enum", "VQX_SpNumericSensor"}, env).exitCode, 0);
    EXPECT_NE(RunProcess({Bin("wbemq"), "enum", "VQX_LedAlarmDevice"}, env).exitCode, 0);
}

TEST_F(ResourceManagerTest, ARefusedSensorRegistrationStopsTheServiceWithItsCode) {
    LogCapture log;
    Refuse(L"VQX_SpNumericSensorProvider");
    g_hStopEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(Process(), WBEM_E_ACCESS_DENIED);
    CloseHandle(g_hStopEvent);
    g_hStopEvent = nullptr;
    EXPECT_EQ(CResourceManager::s_pInstance, nullptr);
    int failed =
        log.IndexOf("CComServer::RegisterSensorInstance - SensorProvider registration failed, "
                    "HRESULT=0x80041003");
    ASSERT_GE(failed, 0);
    EXPECT_GT(log.IndexOf("CComServer::Clear - CoUninitialize", failed), failed);
    EXPECT_TRUE(log.Contains("Process - Create Resource Manager failed, HRESULT=0x80041003"));
    EXPECT_FALSE(log.Contains("Service is Running"));
}

TEST_F(ResourceManagerTest, AProviderCallAfterTeardownFindsNoProviderData) {
    ASSERT_EQ(CResourceManager::Create(), S_OK);
    CSensorProvider* provider = CResourceManager::s_pInstance->m_ComServer.AcquireSensorProvider();
    ASSERT_NE(provider, nullptr);
    CResourceManager::Destroy();

    svcproc::com::CallContext root;
    svcproc::com::SetCallContext(&root);
    auto* sink = svcproc::wbem::CObjectCollector::Create();
    BSTR name = SysAllocString(L"VQX_SpNumericSensor");
    EXPECT_EQ(provider->CreateInstanceEnumAsync(name, 0, nullptr, sink), WBEM_E_SHUTTING_DOWN);
    EXPECT_EQ(sink->ObjectCount(), 0u);
    EXPECT_EQ(sink->Status(), WBEM_E_SHUTTING_DOWN);
    SysFreeString(name);
    svcproc::com::SetCallContext(nullptr);
    sink->Release();
    provider->Release();
}

// Event delivery never touches a sink that a later ProvideEvents released.
TEST_F(ResourceManagerTest, ReplacingTheEventSinkWhileEventsFlowIsSafe) {
    ASSERT_EQ(CResourceManager::Create(), S_OK);
    CSensorProvider* provider = CResourceManager::s_pInstance->m_ComServer.AcquireSensorProvider();
    ASSERT_NE(provider, nullptr);
    std::string error;
    auto schema = svcproc::wbem::LoadSchemaFile(TELVANE_SCHEMA_FILE, &error);
    ASSERT_TRUE(schema) << error;
    IWbemServices* core = nullptr;
    ASSERT_EQ(svcproc::wbem::CreateCoreServices(schema, L"root\\cimv2", &core), S_OK);
    svcproc::com::CallContext root;
    svcproc::com::SetCallContext(&root);
    ASSERT_EQ(provider->Initialize(nullptr, 0, nullptr, nullptr, core, nullptr, nullptr), S_OK);
    svcproc::com::SetCallContext(nullptr);

    CSpNumericSensor* record = CResourceManager::s_pInstance->m_ProviderData.GetSensorAt(0);
    ASSERT_NE(record, nullptr);
    std::atomic<bool> done{false};
    std::thread events([&] {
        while (!done) {
            provider->FireSensorStateChanged(record);
        }
    });
    svcproc::wbem::CObjectCollector* last = nullptr;
    for (int i = 0; i < 300; ++i) {
        auto* sink = svcproc::wbem::CObjectCollector::Create();
        provider->ProvideEvents(sink, 0);
        sink->Release(); // the provider holds the only other reference
        last = sink;
    }
    last->AddRef();
    size_t before = last->ObjectCount();
    ASSERT_TRUE(last->WaitForObjects(before + 1, 5000)) << "the newest sink gets the events";
    done = true;
    events.join();
    last->Release();
    provider->ProvideEvents(nullptr, 0);
    provider->Release();
    core->Release();
}

} // namespace
