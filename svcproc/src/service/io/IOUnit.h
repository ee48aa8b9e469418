// The library's I/O unit: the request channel to the port driver, the
// service processor's reads and alert polls, the listener list and the
// polling thread that drives the polls.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "ListenerList.h"
#include "PollingThread.h"
#include "ServiceApi.h"
#include "SvcpIoctl.h"
#include "SvcpProtocol.h"
#include "platform/sync/Sync.h"

class CDataCache;
class CSensorMap;

class CIOUnit {
public:
    explicit CIOUnit(CDataCache* pCache);
    ~CIOUnit();
    CIOUnit(const CIOUnit&) = delete;
    CIOUnit& operator=(const CIOUnit&) = delete;

    bool Initialise(uint32_t PortBase);
    bool InitialiseIODevice();
    bool SvcpRequestResponse(SVCP_PACKET& packet);

    void ReadVoltages();
    void ReadFans();
    void ReadTemperatures();
    void ReadLeds();
    void UpdateVoltages(const SVCP_PACKET& packet);
    void UpdateFans(const SVCP_PACKET& packet);
    void UpdateTemperatures(const SVCP_PACKET& packet);
    void UpdateLeds(const SVCP_PACKET& packet);
    SERVICE_CODE ReadSensor(uint32_t handle, CSensorReading& reading);
    SERVICE_CODE ReadLed(uint32_t handle, CLedReading& reading);

    void PollAlerts();
    void ProcessAlerts(const SVCP_PACKET& packet);
    void ProcessVoltageAlerts(const SVCP_PACKET& packet);
    void ProcessFanAlerts(const SVCP_PACKET& packet);
    void ProcessTemperatureAlerts(const SVCP_PACKET& packet);
    void FireVoltageStateChange(uint16_t position, uint32_t state, int32_t reading);
    void FireFanStateChange(uint16_t position, uint32_t state, int32_t reading);
    void FireTemperatureStateChange(uint16_t position, uint32_t state, int32_t reading);
    void RegisterSensorStateListener(ISensorStateListener* listener);
    void UnregisterSensorStateListener(ISensorStateListener* listener);

    CPollingThread& PollingThread() { return m_PollingThread; }
    bool IsInitialised() const { return m_bInit; }

    // The log texts of one sensor kind (defined with the code that logs them).
    struct ReadTexts;
    struct AlertTexts;

private:
    void ReadKind(uint8_t command, const char* trace, void (CIOUnit::*update)(const SVCP_PACKET&));
    void UpdateSensors(svcproc::io::SensorKind kind, const SVCP_PACKET& packet,
                       const ReadTexts& texts);
    void ProcessSensorAlerts(svcproc::io::SensorKind kind, const SVCP_PACKET& packet,
                             const AlertTexts& texts);
    void FireStateChange(svcproc::io::SensorKind kind, uint16_t position, uint32_t state,
                         int32_t reading, const AlertTexts& texts);
    // Refreshes a kind (1 to 4) when its readings are stale. Callers that
    // find a refresh of the kind already under way wait for it and use its
    // outcome, so concurrent readers cost one exchange, not one each.
    void RefreshIfStale(uint32_t kind);

    // One refresh at a time per kind; counts the attempts made.
    struct RefreshGate {
        std::mutex mutex;
        std::atomic<uint32_t> attempts{0};
    };

    bool m_bInit;
    uint32_t m_PortBase;
    CDataCache* m_pCache;
    HANDLE m_hIODevice;
    CPollingThread m_PollingThread;
    CListenerList m_Listeners;
    RefreshGate m_RefreshGates[4];
};
