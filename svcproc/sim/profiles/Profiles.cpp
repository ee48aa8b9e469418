// The boards the simulator can stand in for. Values are those of a healthy
// board at rest: every sensor starts inside its limits.
#include <utility>

#include "profiles/BoardProfile.h"

namespace svcproc::sim {
namespace {

uint16_t Percent(unsigned value, unsigned percent) {
    return static_cast<uint16_t>(value * percent / 100);
}

// A rail of `millivolts`; limits at 5, 10 and 20 percent around it.
SensorSpec Voltage(std::string description, unsigned millivolts) {
    SensorSpec spec;
    spec.m_sDescription = std::move(description);
    spec.m_wRaw = static_cast<uint16_t>(millivolts / 10);
    spec.m_Probe.maximum = Percent(millivolts, 130);
    spec.m_Probe.minimum = 0;
    spec.m_Probe.resolution = 100; // 10 mV, in tenths of a millivolt
    spec.m_Probe.tolerance = 50;
    spec.m_Probe.accuracy = 150; // 1.5 %
    spec.m_Probe.nominal = static_cast<uint16_t>(millivolts);
    spec.m_Thresholds.lowerNonCritical = Percent(millivolts, 95);
    spec.m_Thresholds.upperNonCritical = Percent(millivolts, 105);
    spec.m_Thresholds.lowerCritical = Percent(millivolts, 90);
    spec.m_Thresholds.upperCritical = Percent(millivolts, 110);
    spec.m_Thresholds.lowerNonRecoverable = Percent(millivolts, 80);
    spec.m_Thresholds.upperNonRecoverable = Percent(millivolts, 120);
    return spec;
}

// A fan turning at `rpm`; only lower limits, at 60, 40 and 20 percent.
SensorSpec Fan(std::string description, unsigned rpm) {
    SensorSpec spec;
    spec.m_sDescription = std::move(description);
    spec.m_wRaw = static_cast<uint16_t>(rpm);
    spec.m_NominalSpeed = static_cast<uint16_t>(rpm);
    spec.m_Thresholds.lowerNonCritical = Percent(rpm, 60);
    spec.m_Thresholds.lowerCritical = Percent(rpm, 40);
    spec.m_Thresholds.lowerNonRecoverable = Percent(rpm, 20);
    return spec;
}

// A probe reading `celsius`; limits in tenths of a degree.
SensorSpec Temperature(std::string description, unsigned celsius) {
    SensorSpec spec;
    spec.m_sDescription = std::move(description);
    spec.m_wRaw = static_cast<uint16_t>(celsius);
    spec.m_Probe.maximum = 1270;
    spec.m_Probe.minimum = 0;
    spec.m_Probe.resolution = 1000; // 1 degree, in thousandths
    spec.m_Probe.tolerance = 20;
    spec.m_Probe.accuracy = 200;
    spec.m_Probe.nominal = static_cast<uint16_t>(celsius * 10);
    spec.m_Thresholds.lowerNonCritical = 100;
    spec.m_Thresholds.upperNonCritical = 700;
    spec.m_Thresholds.lowerCritical = 50;
    spec.m_Thresholds.upperCritical = 850;
    spec.m_Thresholds.lowerNonRecoverable = 0;
    spec.m_Thresholds.upperNonRecoverable = 1000;
    return spec;
}

std::vector<SensorSpec> DefaultVoltages() {
    return {Voltage("VCC 3.3V", 3300), Voltage("VCC 5V", 5000), Voltage("VCC 12V", 12000),
            Voltage("CPU Core", 1200)};
}

std::vector<SensorSpec> DefaultTemperatures() {
    return {Temperature("CPU Temperature", 40), Temperature("System Temperature", 35)};
}

std::vector<LedSpec> DefaultLeds() {
    return {{"Power LED", 0x0001, true},
            {"Attention LED", 0x0002, false},
            {"Disk Activity LED", 0x0004, false}};
}

BoardProfile DefaultProfile() {
    BoardProfile profile;
    profile.m_sName = "default";
    profile.m_nBoardFamily = 1;
    profile.m_sVersionSuffix = "2.20.0113";
    profile.m_vSensors = {
        DefaultVoltages(),
        {Fan("CPU Fan", 2400), Fan("System Fan", 1800), Fan("Power Supply Fan", 2100)},
        DefaultTemperatures()};
    profile.m_vLeds = DefaultLeds();
    return profile;
}

BoardProfile Family2Profile() {
    BoardProfile profile = DefaultProfile();
    profile.m_sName = "family2";
    profile.m_nBoardFamily = 2;
    profile.m_sVersionSuffix = "2.21.0207";
    profile.m_vSensors[1] = {Fan("CPU Fan", 2400), Fan("Chassis Fan", 1500),
                             Fan("Power Supply Fan", 2100)};
    return profile;
}

BoardProfile NoLedsProfile() {
    BoardProfile profile = DefaultProfile();
    profile.m_sName = "noleds";
    profile.m_nBoardFamily = 3;
    profile.m_sVersionSuffix = "2.20.0311";
    profile.m_vLeds.clear();
    return profile;
}

BoardProfile BigBoardProfile() {
    BoardProfile profile;
    profile.m_sName = "bigboard";
    profile.m_nBoardFamily = 4;
    profile.m_sVersionSuffix = "3.02.0415";
    profile.m_vSensors[0] = {
        Voltage("VCC 3.3V", 3300),   Voltage("VCC 5V", 5000),      Voltage("VCC 12V", 12000),
        Voltage("CPU0 Core", 1200),  Voltage("CPU1 Core", 1200),   Voltage("DIMM A VDD", 1500),
        Voltage("DIMM B VDD", 1500), Voltage("VTT", 750),          Voltage("VCC 1.8V", 1800),
        Voltage("VCC 1.05V", 1050),  Voltage("VCC 2.5V", 2500),    Voltage("Standby 3.3V", 3300),
        Voltage("Standby 5V", 5000), Voltage("RTC Battery", 3000), Voltage("PCH Core", 1000),
        Voltage("USB 5V", 5000)};
    profile.m_vSensors[1] = {Fan("CPU0 Fan", 2400),           Fan("CPU1 Fan", 2400),
                             Fan("System Fan 1", 1800),       Fan("System Fan 2", 1800),
                             Fan("System Fan 3", 1800),       Fan("Power Supply Fan 1", 2100),
                             Fan("Power Supply Fan 2", 2100), Fan("Drive Bay Fan", 1600)};
    profile.m_vSensors[2] = {
        Temperature("CPU0 Temperature", 42),    Temperature("CPU1 Temperature", 44),
        Temperature("System Temperature", 35),  Temperature("Inlet Temperature", 25),
        Temperature("Exhaust Temperature", 38), Temperature("DIMM Temperature", 41),
        Temperature("PCH Temperature", 48),     Temperature("Drive Bay Temperature", 33)};
    static const char* const kLedNames[16] = {
        "Power LED",     "Attention LED",   "Disk Activity LED", "Network LED",
        "Drawer LED",    "Printer LED",     "Scanner LED",       "Display LED",
        "Fan Fault LED", "Temperature LED", "Voltage LED",       "Battery LED",
        "Service LED",   "Identify LED",    "Standby LED",       "Tamper LED"};
    for (unsigned i = 0; i < 16; ++i) {
        profile.m_vLeds.push_back({kLedNames[i], static_cast<uint16_t>(1u << i), i == 0});
    }
    profile.m_ForeignDevice =
        ForeignDeviceSpec{"Onboard Hardware Monitor", {Temperature("Board Ambient", 30)}};
    return profile;
}

} // namespace

std::optional<BoardProfile> FindProfile(const std::string& name) {
    if (name == "default") {
        return DefaultProfile();
    }
    if (name == "family2") {
        return Family2Profile();
    }
    if (name == "noleds") {
        return NoLedsProfile();
    }
    if (name == "bigboard") {
        return BigBoardProfile();
    }
    return std::nullopt;
}

std::vector<std::string> KnownProfileNames() {
    return {"default", "family2", "noleds", "bigboard"};
}

} // namespace svcproc::sim
