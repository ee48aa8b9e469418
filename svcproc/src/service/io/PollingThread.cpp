#include "PollingThread.h"

#include "IOUnit.h"
#include "Log.h"

namespace {

// The pause between the end of one alert poll and the start of the next.
constexpr DWORD kAlertPollPauseMs = 100;

unsigned AsHex(const void* pointer) {
    return static_cast<unsigned>(uintptr_t(pointer));
}

} // namespace

CPollingThread::CPollingThread()
    : m_bInit(false), m_pIOUnit(nullptr), m_PortBase(0), m_hIOdevice(INVALID_HANDLE_VALUE),
      m_hThread(INVALID_HANDLE_VALUE), m_hStopEvent(INVALID_HANDLE_VALUE),
      m_hRunEvent(INVALID_HANDLE_VALUE) {
    LogQuick(LOG_INFO, "CPollingThread Constructed");
}

CPollingThread::~CPollingThread() {
    if (m_hThread != INVALID_HANDLE_VALUE && m_bInit) {
        Terminate();
    }
    CloseEvents();
    LogQuick(LOG_INFO, "CPollingThread Destroyed");
}

void CPollingThread::CloseEvents() {
    for (HANDLE* event : {&m_hRunEvent, &m_hStopEvent}) {
        if (*event != INVALID_HANDLE_VALUE) {
            CloseHandle(*event);
            *event = INVALID_HANDLE_VALUE;
        }
    }
}

bool CPollingThread::Initialise(CIOUnit* pIOUnit, HANDLE hIOdevice, uint32_t PortBase) {
    if (m_bInit) {
        LogQuick(LOG_INFO, "CPollingThread::Initialise - Already initialised");
        return true;
    }
    if (pIOUnit == nullptr) {
        LogQuick(LOG_ERROR, "CPollingThread::Initialise - pIOUnit==NULL");
        return false;
    }
    Log(LOG_INFO, "CPollingThread::Initialise - PortBase=0x%08x, hIOdevice=0x%08x, pIOUnit=0x%08x",
        PortBase, AsHex(hIOdevice), AsHex(pIOUnit));
    m_PortBase = PortBase;
    m_hIOdevice = hIOdevice;
    m_pIOUnit = pIOUnit;

    m_hRunEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_hRunEvent == nullptr || m_hRunEvent == INVALID_HANDLE_VALUE) {
        Log(LOG_ERROR, "CPollingThread::Initialise - CreateEvent failed: Last Error=0x%08x",
            GetLastError());
        m_hRunEvent = INVALID_HANDLE_VALUE;
        return false;
    }
    m_hStopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_hStopEvent == nullptr || m_hStopEvent == INVALID_HANDLE_VALUE) {
        Log(LOG_ERROR, "CPollingThread::Initialise - CreateEvent failed: Last Error=0x%08x",
            GetLastError());
        m_hStopEvent = INVALID_HANDLE_VALUE;
        CloseEvents();
        return false;
    }
    HANDLE thread = CreateThread(nullptr, 0, &CPollingThread::PollingThreadProc, this, 0, nullptr);
    if (thread == nullptr || thread == INVALID_HANDLE_VALUE) {
        Log(LOG_ERROR, "CPollingThread::Initialise - _beginthreadex error=0x%x", GetLastError());
        CloseEvents();
        return false;
    }
    m_hThread = thread;
    m_bInit = true;
    return true;
}

DWORD CPollingThread::PollingThreadProc(void* parameter) {
    auto* self = static_cast<CPollingThread*>(parameter);
    const HANDLE events[2] = {self->m_hStopEvent, self->m_hRunEvent};
    for (;;) {
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
            return 0;
        }
        self->m_pIOUnit->PollAlerts();
        if (WaitForSingleObject(self->m_hStopEvent, kAlertPollPauseMs) == WAIT_OBJECT_0) {
            return 0;
        }
    }
}

void CPollingThread::Run() {
    if (m_bInit) {
        SetEvent(m_hRunEvent);
    } else {
        LogQuick(LOG_ERROR, "CPollingThread::Run - Thread not started");
    }
}

void CPollingThread::Terminate() {
    LogQuick(LOG_TRACE, "CPollingThread::Terminate entered");
    if (!m_bInit) {
        LogQuick(LOG_ERROR, "CPollingThread::Terminate - Thread not started");
        return;
    }
    ResetEvent(m_hRunEvent);
    SetEvent(m_hStopEvent);
    if (m_hThread != INVALID_HANDLE_VALUE) {
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
        m_hThread = INVALID_HANDLE_VALUE;
        LogQuick(LOG_TRACE, "CPollingThread::Terminate - Thread terminated");
    }
    m_bInit = false;
}
