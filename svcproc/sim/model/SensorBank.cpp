#include "model/SensorBank.h"

#include <utility>

namespace svcproc::sim {

uint32_t RawToSmbiosScale(SensorKind kind) {
    return kind == SensorKind::Fan ? 1u : 10u;
}

CSensorBank::CSensorBank(std::array<std::vector<SimSensor>, 3> sensors, uint16_t ledState)
    : m_vSensors(std::move(sensors)), m_wLedState(ledState) {}

uint16_t CSensorBank::Raw(SensorKind kind, size_t position) const {
    const auto& sensors = Sensors(kind);
    return position < sensors.size() ? sensors[position].m_wRaw : 0;
}

bool CSensorBank::SetRaw(SensorKind kind, size_t position, uint16_t raw) {
    auto& sensors = m_vSensors[Index(kind)];
    if (position >= sensors.size()) {
        return false;
    }
    sensors[position].m_wRaw = raw;
    return true;
}

bool CSensorBank::ForceAlert(SensorKind kind, size_t position, bool on) {
    auto& sensors = m_vSensors[Index(kind)];
    if (position >= sensors.size()) {
        return false;
    }
    sensors[position].m_bForcedAlert = on;
    return true;
}

bool CSensorBank::OutOfLimits(SensorKind kind, const SimSensor& sensor) const {
    const uint32_t value = uint32_t{sensor.m_wRaw} * RawToSmbiosScale(kind);
    if (sensor.m_wLowerCritical != kNoLimit && value < sensor.m_wLowerCritical) {
        return true;
    }
    return sensor.m_wUpperCritical != kNoLimit && value > sensor.m_wUpperCritical;
}

uint16_t CSensorBank::AlertMask(SensorKind kind) const {
    const auto& sensors = Sensors(kind);
    uint16_t mask = 0;
    for (size_t i = 0; i < sensors.size() && i < 16; ++i) {
        if (sensors[i].m_bForcedAlert || OutOfLimits(kind, sensors[i])) {
            mask = static_cast<uint16_t>(mask | (1u << i));
        }
    }
    return mask;
}

std::optional<SensorKind> CSensorBank::PendingAlertKind() const {
    for (SensorKind kind : kAllSensorKinds) {
        if (AlertMask(kind) != ReportedMask(kind)) {
            return kind;
        }
    }
    return std::nullopt;
}

void CSensorBank::SetLeds(uint16_t mask, bool on) {
    m_wLedState = static_cast<uint16_t>(on ? (m_wLedState | mask) : (m_wLedState & ~mask));
}

} // namespace svcproc::sim
