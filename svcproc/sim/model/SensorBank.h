// The service processor's view of its board: the current raw value of every
// probe and fan, their limits, alerts forced on command, what the host has
// already been told, and the LED state word.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace svcproc::sim {

// Numbered as the host numbers sensor kinds in its handles.
enum class SensorKind : uint8_t { Voltage = 1, Fan = 2, Temperature = 3 };
inline constexpr std::array<SensorKind, 3> kAllSensorKinds = {SensorKind::Voltage, SensorKind::Fan,
                                                              SensorKind::Temperature};

// SMBIOS marks a missing limit with this value.
inline constexpr uint16_t kNoLimit = 0x8000;

// Multiplier from the raw unit the service processor sends to the unit its
// SMBIOS limits are given in (10 mV -> mV, whole degrees -> tenths).
uint32_t RawToSmbiosScale(SensorKind kind);

struct SimSensor {
    uint16_t m_wRaw = 0;
    // Critical limits in SMBIOS units; kNoLimit for none. The host only knows
    // Ok and Critical, so the critical pair is what raises an alert.
    uint16_t m_wLowerCritical = kNoLimit;
    uint16_t m_wUpperCritical = kNoLimit;
    bool m_bForcedAlert = false;
};

class CSensorBank {
public:
    CSensorBank() = default;
    CSensorBank(std::array<std::vector<SimSensor>, 3> sensors, uint16_t ledState);

    size_t Count(SensorKind kind) const { return Sensors(kind).size(); }
    uint16_t Raw(SensorKind kind, size_t position) const;
    // False for a position the board does not have.
    bool SetRaw(SensorKind kind, size_t position, uint16_t raw);
    // On: the position is in alert whatever its value. Off: it follows its
    // limits again.
    bool ForceAlert(SensorKind kind, size_t position, bool on);

    // Bit i set: position i (< 16) is in alert now.
    uint16_t AlertMask(SensorKind kind) const;
    // The first kind (voltages, fans, temperatures) whose alert mask differs
    // from the one last acknowledged by the host.
    std::optional<SensorKind> PendingAlertKind() const;
    uint16_t ReportedMask(SensorKind kind) const { return m_wReported[Index(kind)]; }
    void MarkReported(SensorKind kind, uint16_t mask) { m_wReported[Index(kind)] = mask; }

    uint16_t LedState() const { return m_wLedState; }
    void SetLeds(uint16_t mask, bool on);

private:
    static size_t Index(SensorKind kind) { return static_cast<size_t>(kind) - 1; }
    const std::vector<SimSensor>& Sensors(SensorKind kind) const { return m_vSensors[Index(kind)]; }
    bool OutOfLimits(SensorKind kind, const SimSensor& sensor) const;

    std::array<std::vector<SimSensor>, 3> m_vSensors;
    std::array<uint16_t, 3> m_wReported = {0, 0, 0};
    uint16_t m_wLedState = 0;
};

} // namespace svcproc::sim
