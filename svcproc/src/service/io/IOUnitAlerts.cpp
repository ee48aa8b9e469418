// CIOUnit's alert poll, the state changes it derives from the alert words and
// the listener calls that report them.
#include "IOUnit.h"
#include "Log.h"
#include "SensorMapOf.h"
#include "core/DataCache.h"

using svcproc::io::SensorKind;

struct CIOUnit::AlertTexts {
    const char* tooShort;
    const char* countMismatch;
    const char* collectedMismatch; // null: one byte per reading, always agrees
    const char* traceUnchanged;
    const char* traceAsserted;
    const char* traceDeasserted;
    const char* fireNotFound;
    const char* invalidListener;
};

namespace {

const CIOUnit::AlertTexts kVoltageTexts = {
    "CIOUnit::ProcessVoltageAlerts - Count 0x%02x too short for an alert mask",
    "CIOUnit::ProcessVoltageAlerts - Number of voltage readings %d does not agree with SMBIOS %d",
    "CIOUnit::ProcessVoltageAlerts - Internal Error - Number of voltage readings collected %d "
    "does not agree with expected %d",
    "ProcessVoltageAlerts - StateChange_Unchanged",
    "ProcessVoltageAlerts - StateChange_Asserted",
    "ProcessVoltageAlerts - StateChange_Deasserted",
    "CIOUnit::FireVoltageStateChange - SmbiosHandle 0x04x not found in voltage map",
    "CIOUnit::FireVoltageStateChange - invalid listener pointer 0x%08p"};
const CIOUnit::AlertTexts kFanTexts = {
    "CIOUnit::ProcessFanAlerts - Count 0x%02x too short for an alert mask",
    "CIOUnit::ProcessFanAlerts - Number of fan readings %d does not agree with SMBIOS %d",
    "CIOUnit::ProcessFanAlerts - Internal Error - Number of fan readings collected %d does not "
    "agree with expected %d",
    "ProcessFanAlerts - StateChange_Unchanged",
    "ProcessFanAlerts - StateChange_Asserted",
    "ProcessFanAlerts - StateChange_Deasserted",
    "CIOUnit::FireFanStateChange - SmbiosHandle 0x04x not found in fan map",
    "CIOUnit::FireFanStateChange - invalid listener pointer 0x%08p"};
const CIOUnit::AlertTexts kTemperatureTexts = {
    "CIOUnit::ProcessTemperatureAlerts - Count 0x%02x too short for an alert mask",
    "CIOUnit::ProcessTemperatureAlerts - Number of temperature readings %d does not agree with "
    "SMBIOS %d",
    nullptr,
    "ProcessTemperatureAlerts - StateChange_Unchanged",
    "ProcessTemperatureAlerts - StateChange_Asserted",
    "ProcessTemperatureAlerts - StateChange_Deasserted",
    "CIOUnit::FireTemperatureStateChange - SmbiosHandle 0x04x not found in temperature map",
    "CIOUnit::FireTemperatureStateChange - invalid listener pointer 0x%08p"};

unsigned AsHex(const void* pointer) {
    return static_cast<unsigned>(uintptr_t(pointer));
}

// Stands in for the platform's code-pointer check without touching the
// object: a listener pointer must be non-null and aligned for its class.
bool IsBadListenerPointer(const ISensorStateListener* listener) {
    return listener == nullptr ||
           reinterpret_cast<uintptr_t>(listener) % alignof(ISensorStateListener) != 0;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
// The text prints the pointer with "%08p", which the format check frowns on.
void LogInvalidListener(const char* format, const ISensorStateListener* listener) {
    Log(LOG_ERROR, format, static_cast<const void*>(listener));
}
#pragma GCC diagnostic pop

} // namespace

void CIOUnit::PollAlerts() {
    SVCP_PACKET packet = svcproc::io::MakeRequestPacket(SVCP_CMD_POLL_ALERT, m_PortBase, true);
    if (!SvcpRequestResponse(packet)) {
        return;
    }
    if (packet.AlertPending == 0) {
        return;
    }
    if (!svcproc::io::IsValidResponse(packet)) {
        LogQuick(LOG_ERROR, "CIOUnit::PollAlerts - Invalid Response Packet\n");
        return;
    }
    ProcessAlerts(packet);
}

void CIOUnit::ProcessAlerts(const SVCP_PACKET& packet) {
    const uint8_t type = packet.Response[1];
    switch (type) {
    case SVCP_CMD_READ_FANS:
        ProcessFanAlerts(packet);
        break;
    case SVCP_CMD_READ_TEMPERATURES:
        ProcessTemperatureAlerts(packet);
        break;
    case SVCP_CMD_READ_VOLTAGES:
        ProcessVoltageAlerts(packet);
        break;
    default:
        Log(LOG_ERROR, "CIOUnit::ProcessAlerts - Type 0x%02x not Valid", type);
        break;
    }
}

void CIOUnit::ProcessVoltageAlerts(const SVCP_PACKET& packet) {
    ProcessSensorAlerts(SensorKind::Voltage, packet, kVoltageTexts);
}

void CIOUnit::ProcessFanAlerts(const SVCP_PACKET& packet) {
    ProcessSensorAlerts(SensorKind::Fan, packet, kFanTexts);
}

void CIOUnit::ProcessTemperatureAlerts(const SVCP_PACKET& packet) {
    ProcessSensorAlerts(SensorKind::Temperature, packet, kTemperatureTexts);
}

// The maps hold readings in the units the sensor information declares, so
// alert readings are scaled as the bulk reads scale them before they are
// stored; the listeners hear them as received.
void CIOUnit::ProcessSensorAlerts(SensorKind kind, const SVCP_PACKET& packet,
                                  const AlertTexts& texts) {
    const svcproc::io::AlertReadings alert =
        svcproc::io::DecodeAlertReadings(kind, svcproc::io::ResponseOf(packet));
    // Without a whole mask the stored one would be replaced by the checksum,
    // and later alerts compared against it.
    if (!alert.hasMask) {
        Log(LOG_ERROR, texts.tooShort, packet.Response[0]);
        return;
    }
    std::vector<StateChange> changes;
    {
        CDataCache::CAccess access = m_pCache->Access();
        CSensorMap& map = SensorMapOf(access, kind);
        if (alert.expected != static_cast<int32_t>(map.Size())) {
            Log(LOG_INFO, texts.countMismatch, alert.expected, static_cast<int>(map.Size()));
        }
        const int32_t collected = static_cast<int32_t>(alert.values.size());
        if (texts.collectedMismatch != nullptr && collected != alert.expected) {
            Log(LOG_ERROR, texts.collectedMismatch, collected, alert.expected);
            return;
        }
        for (int32_t i = 0; i < alert.expected; ++i) {
            changes.push_back(
                svcproc::io::DeriveStateChange(map.m_wAlertBits, alert.mask, uint32_t(i)));
        }
        map.m_wAlertBits = alert.mask;
    }
    for (size_t i = 0; i < changes.size(); ++i) {
        const uint16_t position = static_cast<uint16_t>(i);
        const int32_t raw = alert.values[i];
        const int32_t scaled = svcproc::io::ScaleReading(kind, uint32_t(raw));
        switch (changes[i]) {
        case StateChange_Unchanged: {
            LogQuick(LOG_TRACE, texts.traceUnchanged);
            CDataCache::CAccess access = m_pCache->Access();
            SensorMapOf(access, kind).UpdateReading(position, scaled);
            break;
        }
        case StateChange_Asserted:
        case StateChange_Deasserted: {
            const bool asserted = changes[i] == StateChange_Asserted;
            const uint32_t state = asserted ? SENSOR_STATE_CRITICAL : SENSOR_STATE_OK;
            LogQuick(LOG_TRACE, asserted ? texts.traceAsserted : texts.traceDeasserted);
            {
                CDataCache::CAccess access = m_pCache->Access();
                SensorMapOf(access, kind).UpdateState(position, state, scaled);
            }
            FireStateChange(kind, position, state, raw, texts);
            break;
        }
        }
    }
}

void CIOUnit::FireVoltageStateChange(uint16_t position, uint32_t state, int32_t reading) {
    FireStateChange(SensorKind::Voltage, position, state, reading, kVoltageTexts);
}

void CIOUnit::FireFanStateChange(uint16_t position, uint32_t state, int32_t reading) {
    FireStateChange(SensorKind::Fan, position, state, reading, kFanTexts);
}

void CIOUnit::FireTemperatureStateChange(uint16_t position, uint32_t state, int32_t reading) {
    FireStateChange(SensorKind::Temperature, position, state, reading, kTemperatureTexts);
}

void CIOUnit::FireStateChange(SensorKind kind, uint16_t position, uint32_t state, int32_t reading,
                              const AlertTexts& texts) {
    {
        CDataCache::CAccess access = m_pCache->Access();
        if (SensorMapOf(access, kind).Find(position) == nullptr) {
            LogQuick(LOG_INFO, texts.fireNotFound);
            return;
        }
    }
    const uint32_t handle = MakeServiceHandle(static_cast<uint32_t>(kind), position);
    // No library lock is held from here on: a listener may call back in.
    m_Listeners.ForEach([&](ISensorStateListener* listener) {
        if (IsBadListenerPointer(listener)) {
            LogInvalidListener(texts.invalidListener, listener);
            return;
        }
        listener->SensorStateChanged(handle, state, reading);
    });
}

void CIOUnit::RegisterSensorStateListener(ISensorStateListener* listener) {
    Log(LOG_TRACE, "CIOUnit::RegisterSensorStateListener(0x%08x)", AsHex(listener));
    m_Listeners.Add(listener);
}

void CIOUnit::UnregisterSensorStateListener(ISensorStateListener* listener) {
    Log(LOG_TRACE, "CIOUnit::UnregisterSensorStateListener(0x%08x)", AsHex(listener));
    m_Listeners.Remove(listener);
}
