// Initialises COM for the process, creates the two providers and registers
// them with the decoupled registrar.
#pragma once

#include <mutex>

#include "com/Com.h"
#include "wbem/WbemInterfaces.h"

namespace telvane {

class CSensorProvider;
class CLedProvider;

class CComServer {
public:
    CComServer();
    ~CComServer();
    CComServer(const CComServer&) = delete;
    CComServer& operator=(const CComServer&) = delete;

    HRESULT Initialise();
    HRESULT InitComServer();
    HRESULT RegisterSensorInstance();
    HRESULT RegisterLedInstance();
    // Releases the providers, revokes both registrations and leaves COM.
    void Clear();

    // The sensor provider with a reference for the caller, or null. Safe
    // against a concurrent Clear.
    CSensorProvider* AcquireSensorProvider();
    bool HasLedProvider();

    bool m_bInit = false;
    bool m_bComInitialised = false;
    IWbemDecoupledRegistrar* m_pSensorRegistrar = nullptr;
    IWbemDecoupledRegistrar* m_pLedRegistrar = nullptr;
    CSensorProvider* m_pSensorProvider = nullptr;
    CLedProvider* m_pLedProvider = nullptr;

private:
    // Guards the two provider pointers between the polling thread's events
    // and the worker thread's Clear.
    std::mutex m_ProviderLock;
};

} // namespace telvane
