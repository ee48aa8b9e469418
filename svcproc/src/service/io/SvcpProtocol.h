// The service processor's packet protocol as pure functions: building the
// request packets, checking responses and decoding the readings and alert
// words they carry. Nothing here touches the device, the cache or the log,
// so tests and the fuzzer drive it with plain bytes.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "SvcpIoctl.h"

constexpr uint8_t SVCP_CMD_POLL_ALERT = 0xA1;
constexpr uint8_t SVCP_CMD_READ_FANS = 0xA2;
constexpr uint8_t SVCP_CMD_READ_TEMPERATURES = 0xA4;
constexpr uint8_t SVCP_CMD_READ_VOLTAGES = 0xA6;
constexpr uint8_t SVCP_CMD_READ_LEDS = 0xED;

enum StateChange : uint32_t {
    StateChange_Unchanged = 0,
    StateChange_Asserted = 1,
    StateChange_Deasserted = 0xFFFF,
};

namespace svcproc::io {

// The handle kind of each sensor; its command byte doubles as its response type.
enum class SensorKind : uint32_t { Voltage = 1, Fan = 2, Temperature = 3 };

uint8_t SensorCommand(SensorKind kind);

// The response bytes as the driver returns them: byte 0 is the count N.
using ResponseBytes = std::span<const uint8_t, SVCP_RESPONSE_MAX>;
ResponseBytes ResponseOf(const SVCP_PACKET& packet);

// The two's complement of the byte sum, so the bytes and it add up to 0.
uint8_t Checksum(std::span<const uint8_t> bytes);

// A zeroed packet with a one-command request (count, command, checksum).
SVCP_PACKET MakeRequestPacket(uint8_t command, uint32_t portBase, bool alertPoll);

// Length, count and checksum checks every response must pass.
bool IsValidResponse(const SVCP_PACKET& packet);

// The value stored in the maps for a raw reading of the kind: voltages in
// millivolts (times 10, truncated to 16 bits), fans as received,
// temperatures in tenths of a degree.
int32_t ScaleReading(SensorKind kind, uint32_t raw);

// A bulk read response: the number of readings its count announces and the
// scaled values it carries, position by position.
struct BulkReadings {
    int32_t announced = 0;
    std::vector<int32_t> values;
};
BulkReadings DecodeBulkReadings(SensorKind kind, ResponseBytes response);

// The LED state word of an LED response.
uint16_t DecodeLedWord(ResponseBytes response);

// An alert response: the alert mask and the raw readings, position by
// position. `expected` is the number of readings the count announces;
// `values` holds those actually collected. A count below 4 leaves no room
// for a complete mask: `hasMask` is false then.
struct AlertReadings {
    bool hasMask = false;
    uint16_t mask = 0;
    int32_t expected = 0;
    std::vector<int32_t> values;
};
AlertReadings DecodeAlertReadings(SensorKind kind, ResponseBytes response);

// How position `position` moved between the stored and the new alert mask.
StateChange DeriveStateChange(uint16_t storedMask, uint16_t newMask, uint32_t position);

} // namespace svcproc::io
