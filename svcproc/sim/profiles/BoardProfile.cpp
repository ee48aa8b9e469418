#include "profiles/BoardProfile.h"

#include "service/core/BoardFamily.h"

namespace svcproc::sim {
namespace {

constexpr uint16_t kBiosHandle = 0x0000;
constexpr uint16_t kServiceProcessorHandle = 0x0022;
constexpr uint16_t kForeignDeviceHandle = 0x0023;
constexpr uint8_t kDeviceTypeOther = 0x01;
constexpr uint8_t kAddressTypeIoPort = 0x03;
constexpr uint32_t kForeignDeviceAddress = 0x0290;
constexpr uint8_t kFanDeviceType = 0x67; // chassis fan, status OK
constexpr uint8_t kFirmwareRevision = 0x22;

uint16_t ProbeHandle(SensorKind kind, size_t position) {
    return static_cast<uint16_t>(0x2500 + static_cast<unsigned>(kind) * 0x100 + position);
}

// The low byte places the sensor in the service processor's responses; the
// byte above carries the kind so that a reader using more than the low byte
// would misfile it.
uint32_t OemWord(SensorKind kind, size_t position) {
    return (static_cast<uint32_t>(kind) << 8) | static_cast<uint32_t>(position);
}

class TableWriter {
public:
    explicit TableWriter(SmbiosTableBuilder& builder) : m_Builder(builder) {}

    void Sensor(SensorKind kind, size_t position, const SensorSpec& spec, uint16_t device) {
        const uint16_t probe = ProbeHandle(kind, position);
        const uint32_t oem = OemWord(kind, position);
        switch (kind) {
        case SensorKind::Voltage:
            m_Builder.VoltageProbe(probe, spec.m_sDescription, spec.m_Probe, oem);
            break;
        case SensorKind::Fan:
            m_Builder.CoolingDevice(probe, kNoHandle, kFanDeviceType, 1, oem, spec.m_NominalSpeed);
            break;
        case SensorKind::Temperature:
            m_Builder.TemperatureProbe(probe, spec.m_sDescription, spec.m_Probe, oem);
            break;
        }
        const uint16_t threshold = NextHandle(0x3600);
        m_Builder.Threshold(threshold, spec.m_Thresholds);
        m_Builder.Component(NextHandle(0x3500), spec.m_sDescription, device, probe, threshold);
        ++m_nLinked;
    }

private:
    uint16_t NextHandle(uint16_t base) const { return static_cast<uint16_t>(base + m_nLinked); }

    SmbiosTableBuilder& m_Builder;
    size_t m_nLinked = 0;
};

} // namespace

std::string BiosVersionOf(const BoardProfile& profile) {
    return std::string(board::BoardFamilyCode(profile.m_nBoardFamily)) + profile.m_sVersionSuffix;
}

std::vector<uint8_t> BuildTable(const BoardProfile& profile) {
    SmbiosTableBuilder builder;
    builder.Bios(BiosVersionOf(profile), BiosFields{}, kBiosHandle);
    builder.ManagementDevice(kServiceProcessorHandle, kServiceProcessorDescription,
                             kDeviceTypeOther, board::kServiceProcessorPortBase,
                             kAddressTypeIoPort);
    TableWriter writer(builder);
    for (SensorKind kind : kAllSensorKinds) {
        const auto& sensors = profile.Sensors(kind);
        for (size_t i = 0; i < sensors.size(); ++i) {
            writer.Sensor(kind, i, sensors[i], kServiceProcessorHandle);
        }
    }
    if (profile.m_ForeignDevice) {
        const ForeignDeviceSpec& foreign = *profile.m_ForeignDevice;
        builder.ManagementDevice(kForeignDeviceHandle, foreign.m_sDescription, kDeviceTypeOther,
                                 kForeignDeviceAddress, kAddressTypeIoPort);
        // Its probes sit in a handle range of their own but reuse positions
        // 0.., as a second monitor chip would number them.
        for (size_t i = 0; i < foreign.m_vTemperatures.size(); ++i) {
            const uint16_t probe = static_cast<uint16_t>(0x2C00 + i);
            builder.TemperatureProbe(probe, foreign.m_vTemperatures[i].m_sDescription,
                                     foreign.m_vTemperatures[i].m_Probe, static_cast<uint32_t>(i));
            builder.Component(static_cast<uint16_t>(0x3C00 + i),
                              foreign.m_vTemperatures[i].m_sDescription, kForeignDeviceHandle,
                              probe, kNoHandle);
        }
    }
    for (size_t i = 0; i < profile.m_vLeds.size(); ++i) {
        builder.Led(static_cast<uint16_t>(0x8000 + i), profile.m_vLeds[i].m_sDescription,
                    profile.m_vLeds[i].m_wBitMap);
    }
    builder.End();
    return builder.Build();
}

CSensorBank BuildSensorBank(const BoardProfile& profile) {
    std::array<std::vector<SimSensor>, 3> sensors;
    for (SensorKind kind : kAllSensorKinds) {
        for (const SensorSpec& spec : profile.Sensors(kind)) {
            SimSensor sensor;
            sensor.m_wRaw = spec.m_wRaw;
            sensor.m_wLowerCritical = spec.m_Thresholds.lowerCritical;
            sensor.m_wUpperCritical = spec.m_Thresholds.upperCritical;
            sensors[static_cast<size_t>(kind) - 1].push_back(sensor);
        }
    }
    uint16_t leds = 0;
    for (const LedSpec& led : profile.m_vLeds) {
        if (led.m_bOn) {
            leds = static_cast<uint16_t>(leds | led.m_wBitMap);
        }
    }
    return CSensorBank(std::move(sensors), leds);
}

RegisterFile BuildRegisterFile(const BoardProfile& profile) {
    RegisterFile registers{};
    registers[0x00] = static_cast<uint8_t>(profile.m_nBoardFamily);
    registers[0x01] = kFirmwareRevision;
    return registers;
}

} // namespace svcproc::sim
