// Writes the seed tables of the SMBIOS fuzz target into a directory.
#include <cstdio>
#include <string>

#include "SmbiosTableBuilder.h"

using namespace svcproc::sim;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    ProbeValues v;
    v.maximum = 12600;
    v.minimum = 11400;
    v.resolution = 5;
    v.nominal = 12000;
    ThresholdSet t;
    t.lowerCritical = 11400;
    t.upperCritical = 12600;
    SmbiosTableBuilder board;
    board.Bios("1.0.0 AB12")
        .ManagementDevice(0x20, "Tessaro VQX Service Processor", 0x0C, 0x2B0, 0x03)
        .VoltageProbe(0x30, "VCC", v, 0x01)
        .TemperatureProbe(0x31, "CPU", v, 0x02)
        .CoolingDevice(0x32, 0x31, 0x67, 1, 0x03, 3000)
        .Threshold(0x40, t)
        .Component(0x50, "Voltage 12V", 0x20, 0x30, 0x40)
        .Component(0x51, "CPU", 0x20, 0x31, 0xFFFF)
        .Component(0x52, "Fan", 0x20, 0x32, 0x40)
        .Led(0x60, "Fault", 0x0001)
        .Led(0x61, "Power", 0x0004)
        .End();
    SmbiosTableBuilder broken;
    broken.Bios("1.0.0 AB12")
        .ManagementDevice(0x20, "Tessaro VQX Service Processor", 0x0C, 0x2B0, 0x03)
        .WithLength(0x10)
        .VoltageProbe(0x30, "VCC", v, 0x01)
        .WithByte(4, 9)
        .Structure(0x99, 0x70, {1, 2}, {"x"})
        .WithLength(0)
        .Led(0x61, "Power", 0x0004)
        .TruncateStringSet(2);
    const std::pair<const char*, std::vector<uint8_t>> seeds[] = {
        {"board.raw", board.Build()},
        {"board-sm3.bin", MakeDumpBin(board.Build())},
        {"board-sm2.bin", MakeDumpBin(board.Build(), EntryPoint::Smbios2, 2, 8)},
        {"broken.raw", broken.Build()},
    };
    for (const auto& [name, bytes] : seeds) {
        std::string error;
        if (!WriteFile(dir + "/" + name, bytes, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }
    return 0;
}
