// The board families the library recognises, and the rule that tells them
// apart. Compile-time configuration of the deliverable: the simulator's board
// profiles include this header to build matching BIOS version texts.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace svcproc::board {

// A board family is recognised by the first two characters of the BIOS
// version (SMBIOS Type 0). Index 0 is family 1, index 3 family 4.
//   family 1: "TA"   family 2: "TB"   family 3: "TC"   family 4: "TD"
// All four place the service processor's register block at the same port
// base. Family 2 boards carry a fan described "Chassis Fan" that is not
// enumerated to clients (it is still read and alerted on).
inline constexpr std::array<std::string_view, 4> kBoardFamilyCodes = {"TA", "TB", "TC", "TD"};

inline constexpr int kFirstBoardFamily = 1;
inline constexpr int kLastBoardFamily = 4;

// The family whose "Chassis Fan" is left out of the sensor enumeration.
inline constexpr int kChassisFanHiddenFamily = 2;
inline constexpr std::wstring_view kHiddenChassisFanDescription = L"Chassis Fan";

// The service processor's register block, the same for every family.
inline constexpr uint16_t kServiceProcessorPortBase = 0x2B0;

// The code of family 1 to 4; empty for any other number.
constexpr std::string_view BoardFamilyCode(int family) {
    if (family < kFirstBoardFamily || family > kLastBoardFamily) {
        return {};
    }
    return kBoardFamilyCodes[static_cast<size_t>(family - kFirstBoardFamily)];
}

// True when the version text has at least two characters and its first two
// equal the code exactly (case-sensitive).
constexpr bool IsBoardFamily(std::string_view version, std::string_view code) {
    return code.size() == 2 && version.size() >= 2 && version.substr(0, 2) == code;
}

} // namespace svcproc::board
