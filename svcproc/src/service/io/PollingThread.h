// The library's alert-polling thread: created waiting by Initialise,
// released by Run, stopped and joined by Terminate.
#pragma once

#include <cstdint>

#include "platform/sync/Sync.h"

class CIOUnit;

class CPollingThread {
public:
    CPollingThread();
    ~CPollingThread();
    CPollingThread(const CPollingThread&) = delete;
    CPollingThread& operator=(const CPollingThread&) = delete;

    bool Initialise(CIOUnit* pIOUnit, HANDLE hIOdevice, uint32_t PortBase);
    void Run();
    // Must not be called from the polling thread itself: it waits for it.
    void Terminate();

    static DWORD PollingThreadProc(void* parameter);

    bool IsInitialised() const { return m_bInit; }

private:
    // Closes whichever of the two events is open; a later Initialise makes
    // them again.
    void CloseEvents();

    bool m_bInit;
    CIOUnit* m_pIOUnit;
    uint32_t m_PortBase;
    HANDLE m_hIOdevice;
    HANDLE m_hThread;
    HANDLE m_hStopEvent;
    HANDLE m_hRunEvent;
};
