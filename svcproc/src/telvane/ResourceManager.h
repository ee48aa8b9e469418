// The one object the service creates at start and destroys at stop: the
// provider data and the COM server, in the start-up order library and maps,
// providers, state-change listener.
//
// Teardown: the providers reach the provider data only through
// CProviderDataAccess. Destruction first stops the state changes, revokes
// both registrations and releases the providers, then closes the access
// (waiting for a provider call in flight), and only then destroys the
// provider data; a later provider call finds no provider data.
#pragma once

#include <shared_mutex>

#include "ComServer.h"
#include "ProviderData.h"

namespace telvane {

class CSpNumericSensor;

class CResourceManager {
public:
    static HRESULT Create();
    // Destroys the instance, if any, and sets s_pInstance to null.
    static void Destroy();
    HRESULT Initialise();
    void FireSensorStateChanged(CSpNumericSensor* record);

    static CResourceManager* s_pInstance;

    bool m_bInit = false;
    CComServer m_ComServer;
    CProviderData m_ProviderData;

private:
    friend class CProviderDataAccess;
    CResourceManager();
    ~CResourceManager();

    static std::shared_mutex s_AccessLock;
    static bool s_bClosed;
};

// A provider's access to the provider data for the length of one request;
// false once teardown has begun.
class CProviderDataAccess {
public:
    CProviderDataAccess();
    ~CProviderDataAccess() = default;
    CProviderDataAccess(const CProviderDataAccess&) = delete;
    CProviderDataAccess& operator=(const CProviderDataAccess&) = delete;

    explicit operator bool() const { return m_pData != nullptr; }
    CProviderData* operator->() const { return m_pData; }

private:
    std::shared_lock<std::shared_mutex> m_Lock;
    CProviderData* m_pData = nullptr;
};

} // namespace telvane
