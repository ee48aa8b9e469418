#include "ResourceManager.h"

#include <new>

#include "Log.h"
#include "SensorProvider.h"

namespace telvane {

CResourceManager* CResourceManager::s_pInstance = nullptr;
std::shared_mutex CResourceManager::s_AccessLock;
bool CResourceManager::s_bClosed = true;

CResourceManager::CResourceManager() {
    LogQuick(LOG_INFO, "CResourceManager singleton Constructed");
}

CResourceManager::~CResourceManager() {
    LogQuick(LOG_INFO, "CResourceManager singleton Destroyed");
    m_ProviderData.StopListening();
    m_ComServer.Clear();
    std::unique_lock<std::shared_mutex> lock(s_AccessLock);
    s_bClosed = true;
}

HRESULT CResourceManager::Create() {
    if (s_pInstance == nullptr) {
        auto* instance = new (std::nothrow) CResourceManager;
        if (instance == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::unique_lock<std::shared_mutex> lock(s_AccessLock);
        s_pInstance = instance;
        s_bClosed = false;
    }
    HRESULT result = s_pInstance->Initialise();
    if (FAILED(result)) {
        Destroy();
        return result;
    }
    return S_OK;
}

void CResourceManager::Destroy() {
    CResourceManager* instance = s_pInstance;
    delete instance;
    std::unique_lock<std::shared_mutex> lock(s_AccessLock);
    s_pInstance = nullptr;
}

HRESULT CResourceManager::Initialise() {
    if (m_bInit) {
        LogQuick(LOG_INFO, "CResourceManager::Initialise - Already initialised");
        return S_FALSE;
    }
    if (!m_ProviderData.Initialise()) {
        return E_FAIL;
    }
    HRESULT result = m_ComServer.Initialise();
    if (FAILED(result)) {
        return result;
    }
    m_ProviderData.RegisterSensorStateListener();
    m_bInit = true;
    LogQuick(LOG_INFO, "CResourceManager::Initialise - Initialised Ok");
    return S_OK;
}

void CResourceManager::FireSensorStateChanged(CSpNumericSensor* record) {
    CSensorProvider* provider = m_ComServer.AcquireSensorProvider();
    if (provider == nullptr) {
        LogQuick(LOG_ERROR, "CResourceManager::FireSensorStateChanged - SensorProvider is NULL");
        return;
    }
    provider->FireSensorStateChanged(record);
    provider->Release();
}

CProviderDataAccess::CProviderDataAccess() : m_Lock(CResourceManager::s_AccessLock) {
    if (!CResourceManager::s_bClosed && CResourceManager::s_pInstance) {
        m_pData = &CResourceManager::s_pInstance->m_ProviderData;
    }
}

} // namespace telvane
