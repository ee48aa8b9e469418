// A board profile: one description of a board from which both its SMBIOS
// table and its simulated service processor are made, so the two agree.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "SmbiosTableBuilder.h"
#include "model/SensorBank.h"
#include "model/ServiceProcessorModel.h"

namespace svcproc::sim {

inline constexpr const char* kServiceProcessorDescription = "Tessaro VQX Service Processor";

struct SensorSpec {
    std::string m_sDescription;
    uint16_t m_wRaw = 0; // initial value, in the unit the service processor sends
    ProbeValues m_Probe; // voltage and temperature probes
    std::optional<uint16_t> m_NominalSpeed; // fans
    ThresholdSet m_Thresholds;              // SMBIOS units
};

struct LedSpec {
    std::string m_sDescription;
    uint16_t m_wBitMap = 0;
    bool m_bOn = false;
};

// A management device that is not the service processor, with probes of its
// own: the library must pass over it.
struct ForeignDeviceSpec {
    std::string m_sDescription;
    std::vector<SensorSpec> m_vTemperatures;
};

struct BoardProfile {
    std::string m_sName;
    int m_nBoardFamily = 1;
    std::string m_sVersionSuffix; // follows the family code in the BIOS version
    // Indexed by SensorKind - 1; a sensor's position is its index here.
    std::array<std::vector<SensorSpec>, 3> m_vSensors;
    std::vector<LedSpec> m_vLeds;
    std::optional<ForeignDeviceSpec> m_ForeignDevice;

    const std::vector<SensorSpec>& Sensors(SensorKind kind) const {
        return m_vSensors[static_cast<size_t>(kind) - 1];
    }
};

std::string BiosVersionOf(const BoardProfile& profile);
// The raw structure table: BIOS, the service processor's management device,
// its probes, fans, components and thresholds, the LEDs, end of table.
std::vector<uint8_t> BuildTable(const BoardProfile& profile);
CSensorBank BuildSensorBank(const BoardProfile& profile);
// Register 0x00: board family; 0x01: firmware revision; the rest 0.
RegisterFile BuildRegisterFile(const BoardProfile& profile);

// The profiles this simulator knows, or nullopt for an unknown name.
std::optional<BoardProfile> FindProfile(const std::string& name);
std::vector<std::string> KnownProfileNames();

} // namespace svcproc::sim
