// Register map, status bits and packet bytes of the service processor, as
// the model presents them to the host.
#pragma once

#include <cstdint>
#include <span>

namespace svcproc::sim {

// Register offsets from the port base.
inline constexpr uint32_t kRegData = 0;
inline constexpr uint32_t kRegStatus = 4;
inline constexpr uint32_t kRegRegData = 8;
inline constexpr uint32_t kRegRegCommand = 12;

// Status bits (packet status register; the first three also in the register
// channel's command register).
inline constexpr uint8_t kStObf = 0x01;
inline constexpr uint8_t kStIbf = 0x02;
inline constexpr uint8_t kStAlert = 0x10;
inline constexpr uint8_t kStError = 0x20;
inline constexpr uint8_t kStOutValid = 0x40;
inline constexpr uint8_t kStHostBusy = 0x80;

// Command bytes; a response's type equals its command.
inline constexpr uint8_t kCmdPollAlert = 0xA1;
inline constexpr uint8_t kCmdReadFans = 0xA2;
inline constexpr uint8_t kCmdReadTemperatures = 0xA4;
inline constexpr uint8_t kCmdReadVoltages = 0xA6;
inline constexpr uint8_t kCmdReadLeds = 0xED;
// First byte of the host's alert acknowledgement (its count).
inline constexpr uint8_t kAckCount = 0x03;

// Register number that makes a register-channel write a bare command.
inline constexpr uint8_t kRegisterCommandOnly = 0xFF;

// Largest request the host can send and largest response it accepts.
inline constexpr size_t kMaxRequestBytes = 16;
inline constexpr uint8_t kMaxResponseCount = 63;

// The two's complement of the sum of the bytes: the byte that makes the
// checksummed run add up to 0 modulo 256.
constexpr uint8_t ChecksumOf(std::span<const uint8_t> bytes) {
    unsigned sum = 0;
    for (uint8_t b : bytes) {
        sum += b;
    }
    return static_cast<uint8_t>(0x100u - (sum & 0xFFu));
}

} // namespace svcproc::sim
