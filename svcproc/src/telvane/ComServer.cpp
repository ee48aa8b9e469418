#include "ComServer.h"

#include <new>

#include "LedProvider.h"
#include "Log.h"
#include "SensorProvider.h"

namespace telvane {

namespace {

constexpr const wchar_t* kNamespace = L"root\\cimv2";

unsigned Hr(HRESULT hr) {
    return static_cast<unsigned>(hr);
}

struct RegistrationTexts {
    const char* entry;
    const char* createFailed;
    const char* constructionFailed;
    const char* registrationFailed;
    const wchar_t* name;
};

// Registers a fresh provider; on failure both the registrar and the
// provider are released and nulled.
template <typename Provider>
HRESULT Register(const RegistrationTexts& texts, IWbemDecoupledRegistrar** registrar,
                 Provider** provider, std::mutex& providerLock) {
    LogQuick(LOG_TRACE, texts.entry);
    HRESULT result =
        CoCreateInstance(CLSID_WbemDecoupledRegistrar, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IWbemDecoupledRegistrar, reinterpret_cast<void**>(registrar));
    if (FAILED(result)) {
        Log(LOG_ERROR, texts.createFailed, Hr(result));
        *registrar = nullptr;
        return result;
    }
    Provider* created = new (std::nothrow) Provider;
    if (created == nullptr) {
        result = WBEM_E_OUT_OF_MEMORY;
        Log(LOG_ERROR, texts.constructionFailed, Hr(result));
    } else {
        created->AddRef();
        {
            std::lock_guard<std::mutex> lock(providerLock);
            *provider = created;
        }
        IUnknown* unknown = nullptr;
        result = created->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown));
        if (SUCCEEDED(result)) {
            result = (*registrar)
                         ->Register(0, nullptr, nullptr, nullptr, kNamespace, texts.name, unknown);
            unknown->Release();
            if (SUCCEEDED(result)) {
                return result;
            }
            Log(LOG_ERROR, texts.registrationFailed, Hr(result));
        }
    }
    (*registrar)->Release();
    *registrar = nullptr;
    Provider* held = nullptr;
    {
        std::lock_guard<std::mutex> lock(providerLock);
        held = *provider;
        *provider = nullptr;
    }
    if (held) {
        held->Release();
    }
    return result;
}

} // namespace

CComServer::CComServer() {
    LogQuick(LOG_INFO, "CComServer Constructed");
}

CComServer::~CComServer() {
    Clear();
    LogQuick(LOG_INFO, "CComServer Destroyed");
}

HRESULT CComServer::Initialise() {
    LogQuick(LOG_TRACE, "CComServer::Initialise");
    if (m_bInit) {
        LogQuick(LOG_INFO, "CComServer::Initialise - already initialised");
        return S_OK;
    }
    HRESULT result = InitComServer();
    if (FAILED(result)) {
        return result;
    }
    m_bComInitialised = true;
    result = RegisterSensorInstance();
    if (FAILED(result)) {
        Clear();
        return result;
    }
    if (FAILED(RegisterLedInstance())) {
        LogQuick(LOG_STATUS, "CComServer::InitComServer - LED Init failed - Policy is to continue "
                             "with Sensor functionality alone");
    }
    LogQuick(LOG_INFO, "CComServer::Initialise - Initialised Ok");
    m_bInit = true;
    return S_OK;
}

HRESULT CComServer::InitComServer() {
    LogQuick(LOG_TRACE, "CComServer::InitComServer");
    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(result)) {
        Log(LOG_ERROR, "CComServer::InitComServer - CoInitializeEx failed, HRESULT=0x%08x",
            Hr(result));
        return result;
    }
    result =
        CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_CONNECT,
                             RPC_C_IMP_LEVEL_IDENTIFY, nullptr, EOAC_DYNAMIC_CLOAKING, nullptr);
    if (FAILED(result)) {
        Log(LOG_ERROR, "CComServer::InitComServer - CoInitializeSecurity failed, HRESULT=0x%08x",
            Hr(result));
        CoUninitialize();
    }
    return result;
}

HRESULT CComServer::RegisterSensorInstance() {
    return Register<CSensorProvider>(
        {"CComServer::RegisterSensorInstance",
         "CComServer::RegisterSensorInstance - CoCreateInstance of the SensorRegistrar failed, "
         "HRESULT=0x%08x",
         "CComServer::RegisterSensorInstance - SensorProvider construction failed, HRESULT=0x%08x",
         "CComServer::RegisterSensorInstance - SensorProvider registration failed, HRESULT=0x%08x",
         L"VQX_SpNumericSensorProvider"},
        &m_pSensorRegistrar, &m_pSensorProvider, m_ProviderLock);
}

HRESULT CComServer::RegisterLedInstance() {
    return Register<CLedProvider>(
        {"CComServer::RegisterLedInstance",
         "CComServer::RegisterLedInstance - CoCreateInstance of the LedRegistrar failed, "
         "HRESULT=0x%08x",
         "CComServer::RegisterLedInstance - LedProvider construction failed, HRESULT=0x%08x",
         "CComServer::RegisterLedInstance - LedProvider registration failed, HRESULT=0x%08x",
         L"VQX_LedAlarmDeviceProvider"},
        &m_pLedRegistrar, &m_pLedProvider, m_ProviderLock);
}

void CComServer::Clear() {
    LogQuick(LOG_TRACE, "CComServer::Clear");
    CSensorProvider* sensor = nullptr;
    CLedProvider* led = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_ProviderLock);
        std::swap(sensor, m_pSensorProvider);
        std::swap(led, m_pLedProvider);
    }
    if (sensor) {
        LogQuick(LOG_INFO, "CComServer::Clear - Releasing Sensor provider");
        sensor->Release();
    }
    if (led) {
        LogQuick(LOG_INFO, "CComServer::Clear - Releasing Led provider");
        led->Release();
    }
    if (m_pSensorRegistrar) {
        LogQuick(LOG_INFO, "CComServer::Clear - Unregistering Sensor provider");
        m_pSensorRegistrar->UnRegister();
        m_pSensorRegistrar->Release();
        m_pSensorRegistrar = nullptr;
    }
    if (m_pLedRegistrar) {
        LogQuick(LOG_INFO, "CComServer::Clear - Unregistering Led provider");
        m_pLedRegistrar->UnRegister();
        m_pLedRegistrar->Release();
        m_pLedRegistrar = nullptr;
    }
    if (m_bComInitialised) {
        LogQuick(LOG_INFO, "CComServer::Clear - CoUninitialize");
        CoUninitialize();
        m_bComInitialised = false;
    }
}

CSensorProvider* CComServer::AcquireSensorProvider() {
    std::lock_guard<std::mutex> lock(m_ProviderLock);
    if (m_pSensorProvider) {
        m_pSensorProvider->AddRef();
    }
    return m_pSensorProvider;
}

bool CComServer::HasLedProvider() {
    std::lock_guard<std::mutex> lock(m_ProviderLock);
    return m_pLedProvider != nullptr;
}

} // namespace telvane
