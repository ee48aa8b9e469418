// CIOUnit's bulk reads of voltages, fans, temperatures and LEDs, and the
// on-demand reads that refresh a stale kind.
#include "IOUnit.h"
#include "Log.h"
#include "SensorMapOf.h"
#include "core/DataCache.h"

using svcproc::io::SensorKind;

struct CIOUnit::ReadTexts {
    const char* wrongType;
    const char* countMismatch;
};

namespace {

const CIOUnit::ReadTexts* TextsOf(SensorKind kind);

unsigned AsHex(const void* pointer) {
    return static_cast<unsigned>(uintptr_t(pointer));
}

} // namespace

void CIOUnit::ReadKind(uint8_t command, const char* trace,
                       void (CIOUnit::*update)(const SVCP_PACKET&)) {
    LogQuick(LOG_TRACE, trace);
    SVCP_PACKET packet = svcproc::io::MakeRequestPacket(command, m_PortBase, false);
    if (!SvcpRequestResponse(packet)) {
        return;
    }
    if (!svcproc::io::IsValidResponse(packet)) {
        return;
    }
    (this->*update)(packet);
}

void CIOUnit::ReadVoltages() {
    ReadKind(SVCP_CMD_READ_VOLTAGES, "CIOUnit::ReadVoltages", &CIOUnit::UpdateVoltages);
}

void CIOUnit::ReadFans() {
    ReadKind(SVCP_CMD_READ_FANS, "CIOUnit::ReadFans", &CIOUnit::UpdateFans);
}

void CIOUnit::ReadTemperatures() {
    ReadKind(SVCP_CMD_READ_TEMPERATURES, "CIOUnit::ReadTemperatures", &CIOUnit::UpdateTemperatures);
}

void CIOUnit::ReadLeds() {
    ReadKind(SVCP_CMD_READ_LEDS, "CIOUnit::ReadLeds", &CIOUnit::UpdateLeds);
}

void CIOUnit::UpdateVoltages(const SVCP_PACKET& packet) {
    UpdateSensors(SensorKind::Voltage, packet, *TextsOf(SensorKind::Voltage));
}

void CIOUnit::UpdateFans(const SVCP_PACKET& packet) {
    UpdateSensors(SensorKind::Fan, packet, *TextsOf(SensorKind::Fan));
}

void CIOUnit::UpdateTemperatures(const SVCP_PACKET& packet) {
    UpdateSensors(SensorKind::Temperature, packet, *TextsOf(SensorKind::Temperature));
}

void CIOUnit::UpdateSensors(SensorKind kind, const SVCP_PACKET& packet, const ReadTexts& texts) {
    const uint8_t type = packet.Response[1];
    if (type != svcproc::io::SensorCommand(kind)) {
        Log(LOG_ERROR, texts.wrongType, type);
        return;
    }
    const svcproc::io::BulkReadings readings =
        svcproc::io::DecodeBulkReadings(kind, svcproc::io::ResponseOf(packet));
    CDataCache::CAccess access = m_pCache->Access();
    CSensorMap& map = SensorMapOf(access, kind);
    if (readings.announced != static_cast<int32_t>(map.Size())) {
        Log(LOG_INFO, texts.countMismatch, readings.announced, static_cast<int>(map.Size()));
    }
    for (size_t k = 0; k < readings.values.size(); ++k) {
        map.UpdateReading(static_cast<uint16_t>(k), readings.values[k]);
    }
    map.m_dwLastUpdate = GetTickCount();
}

void CIOUnit::UpdateLeds(const SVCP_PACKET& packet) {
    const uint8_t type = packet.Response[1];
    if (type != SVCP_CMD_READ_LEDS) {
        Log(LOG_ERROR, "CIOUnit::UpdateLeds - Type 0x%02x not LED", type);
        return;
    }
    const uint8_t count = packet.Response[0];
    if (count != 4 && packet.ResponseLength != 5) {
        Log(LOG_INFO,
            "CIOUnit::UpdateLeds - Count/Length 0x%02x/0x%02x not correct for read LED state",
            count, packet.ResponseLength);
    }
    // A response too short to hold the word would hand its checksum over
    // as LED states: keep the states as they are and retry on the next read.
    if (count < 4) {
        return;
    }
    const uint16_t word = svcproc::io::DecodeLedWord(svcproc::io::ResponseOf(packet));
    CDataCache::CAccess access = m_pCache->Access();
    access.Leds().UpdateStates(word);
    access.Leds().m_dwLastUpdate = GetTickCount();
}

void CIOUnit::RefreshIfStale(uint32_t kind) {
    RefreshGate& gate = m_RefreshGates[kind - 1];
    auto isStale = [&] {
        switch (kind) {
        case HANDLE_KIND_VOLTAGE:
            return m_pCache->IsVoltageMapStale();
        case HANDLE_KIND_FAN:
            return m_pCache->IsFanMapStale();
        case HANDLE_KIND_TEMPERATURE:
            return m_pCache->IsTemperatureMapStale();
        }
        return m_pCache->IsLedMapStale();
    };
    if (!isStale()) {
        return;
    }
    const uint32_t attemptsSeen = gate.attempts.load();
    std::lock_guard<std::mutex> lock(gate.mutex);
    // Another reader refreshed (or tried to) while this one waited.
    if (gate.attempts.load() != attemptsSeen || !isStale()) {
        return;
    }
    switch (kind) {
    case HANDLE_KIND_VOLTAGE:
        ReadVoltages();
        break;
    case HANDLE_KIND_FAN:
        ReadFans();
        break;
    case HANDLE_KIND_TEMPERATURE:
        ReadTemperatures();
        break;
    default:
        ReadLeds();
        break;
    }
    gate.attempts.fetch_add(1);
}

SERVICE_CODE CIOUnit::ReadSensor(uint32_t handle, CSensorReading& reading) {
    Log(LOG_TRACE, "CIOUnit::ReadSensor(0x%08x,0x%08x)", handle, AsHex(&reading));
    const uint32_t kind = ServiceHandleKind(handle);
    if (kind != HANDLE_KIND_VOLTAGE && kind != HANDLE_KIND_FAN && kind != HANDLE_KIND_TEMPERATURE) {
        return SERVICE_INVALID_HANDLE;
    }
    RefreshIfStale(kind);
    InternalSensor entry;
    if (m_pCache->GetSensor(handle, entry) != SERVICE_SUCCESS) {
        return SERVICE_INVALID_HANDLE;
    }
    reading.m_Reading = entry.m_Reading;
    reading.m_State = entry.m_State;
    return SERVICE_SUCCESS;
}

SERVICE_CODE CIOUnit::ReadLed(uint32_t handle, CLedReading& reading) {
    Log(LOG_TRACE, "CIOUnit::ReadLed(0x%08x,0x%08x)", handle, AsHex(&reading));
    if (ServiceHandleKind(handle) != HANDLE_KIND_LED) {
        return SERVICE_INVALID_HANDLE;
    }
    RefreshIfStale(HANDLE_KIND_LED);
    InternalLed entry;
    if (!m_pCache->GetLed(handle, entry)) {
        return SERVICE_INVALID_HANDLE;
    }
    reading.m_bOn = entry.m_bOn;
    return SERVICE_SUCCESS;
}

namespace {

const CIOUnit::ReadTexts kVoltageTexts = {
    "CIOUnit::UpdateVoltages - Type 0x%02x not Voltage",
    "CIOUnit::UpdateVoltages - Number of voltage readings %d does not agree with SMBIOS %d"};
const CIOUnit::ReadTexts kFanTexts = {
    "CIOUnit::UpdateFans - Type 0x%02x not Fan",
    "CIOUnit::UpdateFans - Number of fan readings %d does not agree with SMBIOS %d"};
const CIOUnit::ReadTexts kTemperatureTexts = {
    "CIOUnit::UpdateTemperatures - Type 0x%02x not Temperature",
    "CIOUnit::UpdateTemperatures - Number of temperature readings %d does not agree with "
    "SMBIOS %d"};

const CIOUnit::ReadTexts* TextsOf(SensorKind kind) {
    switch (kind) {
    case SensorKind::Voltage:
        return &kVoltageTexts;
    case SensorKind::Fan:
        return &kFanTexts;
    case SensorKind::Temperature:
        break;
    }
    return &kTemperatureTexts;
}

} // namespace
