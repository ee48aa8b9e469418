// Feeds arbitrary bytes through the table source, the raw table holder, the
// walk and all three parsers.
//
// Most inputs take the fast way: the bytes go into a memory file the table
// source reads, the holder's read procedure runs on the fuzzing thread and
// only error lines are formatted. One input in kSlowShare (chosen by a hash
// of its bytes, so the choice repeats) takes the library's own way: the read
// thread of CRawSMBios::Initialise, with every line formatted at level 4.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "Log.h"
#include "smbios/RawSMBios.h"
#include "smbios/SMBiosChipData.h"
#include "smbios/SMBiosLedData.h"
#include "smbios/SMBiosSensorData.h"

namespace {

constexpr uint32_t kSlowShare = 64;

int g_table = -1;

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

void SetLogLevel(const char* level) {
    setenv("SVCPROC_LOG_LEVEL", level, 1);
    svcproc::log::ReloadConfiguration();
}

uint32_t Hash(const uint8_t* data, size_t size) {
    uint32_t h = 2166136261u;
    for (size_t i = 0; i < size; ++i) {
        h = (h ^ data[i]) * 16777619u;
    }
    return h;
}

void WriteTable(const uint8_t* data, size_t size) {
    Check(ftruncate(g_table, 0) == 0);
    size_t done = 0;
    while (done < size) {
        ssize_t n = pwrite(g_table, data + done, size - done, static_cast<off_t>(done));
        Check(n > 0);
        done += static_cast<size_t>(n);
    }
}

// What the parsers found must lie in what they were given.
void CheckParsers(const CRawSMBios& raw) {
    CSMBiosChipData chips;
    chips.Initialise(const_cast<CRawSMBios&>(raw));
    Check(chips.m_bInit == !chips.m_vDevices.empty());
    uint16_t chip = chips.m_vDevices.empty() ? 0xFFFF : chips.m_vDevices[0]->m_Handle;

    CSMBiosSensorData sensors(chip);
    sensors.Initialise(const_cast<CRawSMBios&>(raw));
    for (const SensorDescriptor* sensor : sensors.m_vChipSensors) {
        Check(sensors.GetSensorForHandle(sensor->m_Handle) != nullptr);
        Check(sensor->m_SensorType >= SMBIOS_SENSOR_VOLTAGE &&
              sensor->m_SensorType <= SMBIOS_SENSOR_TEMPERATURE);
        Check(CSMBiosSensorData::GetSensorTypeName(*sensor) != nullptr);
    }
    for (const auto& threshold : sensors.m_vAllThresholds) {
        Check(sensors.GetThresholdForHandle(threshold->m_Handle) != nullptr);
    }

    CSMBiosLedData leds;
    Check(leds.Initialise(const_cast<CRawSMBios&>(raw)));
    for (const auto& led : leds.m_vLeds) {
        Check(led->m_Description.size() < raw.GetByteCount());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_table = memfd_create("smbios_fuzz_table", 0);
    Check(g_table >= 0);
    std::string path = "/proc/self/fd/" + std::to_string(g_table);
    setenv("SVCPROC_SMBIOS_TABLE", path.c_str(), 1);
    setenv("SVCPROC_LOG_FILE", "/dev/null", 1);
    SetLogLevel("1");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    WriteTable(data, size);
    const bool slow = Hash(data, size) % kSlowShare == 0;
    CRawSMBios raw;
    if (slow) {
        SetLogLevel("4");
        bool ok = raw.Initialise();
        Check(ok == raw.IsReadOk());
    } else {
        CRawSMBios::ReadSMBiosThread(&raw);
    }
    if (raw.IsReadOk()) {
        Check(raw.GetBytes() != nullptr && raw.GetByteCount() >= 4 && raw.GetByteCount() <= size);
        CheckParsers(raw);
    }
    if (slow) {
        SetLogLevel("1");
    }
    return 0;
}
