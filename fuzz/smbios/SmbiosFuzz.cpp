// Feeds arbitrary bytes through the table source, the raw table holder, the
// walk and all three parsers. Every input is written to a file the table
// source reads, so the fuzzed path is the one the library runs.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "Log.h"
#include "smbios/RawSMBios.h"
#include "smbios/SMBiosChipData.h"
#include "smbios/SMBiosLedData.h"
#include "smbios/SMBiosSensorData.h"

namespace {
std::string g_path;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/smbios_fuzz.XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) {
        std::abort();
    }
    g_path = std::string(dir) + "/table.bin";
    setenv("SVCPROC_SMBIOS_TABLE", g_path.c_str(), 1);
    // Every line is formatted (so its arguments are exercised) and dropped.
    setenv("SVCPROC_LOG_LEVEL", "4", 1);
    setenv("SVCPROC_LOG_FILE", "/dev/null", 1);
    svcproc::log::ReloadConfiguration();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(g_path.c_str(), "wb");
    if (!file) {
        std::abort();
    }
    if (size) {
        std::fwrite(data, 1, size, file);
    }
    std::fclose(file);

    CRawSMBios raw;
    if (!raw.Initialise()) {
        return 0;
    }
    CSMBiosChipData chips;
    chips.Initialise(raw);
    uint16_t chip = chips.m_vDevices.empty() ? 0xFFFF : chips.m_vDevices[0]->m_Handle;
    CSMBiosSensorData sensors(chip);
    sensors.Initialise(raw);
    CSMBiosLedData leds;
    leds.Initialise(raw);
    return 0;
}
