#include "SvcpProtocol.h"

#include <cstring>

namespace svcproc::io {

namespace {

uint32_t Word(ResponseBytes response, size_t high) {
    return (static_cast<uint32_t>(response[high]) << 8) | response[high + 1];
}

} // namespace

uint8_t SensorCommand(SensorKind kind) {
    switch (kind) {
    case SensorKind::Voltage:
        return SVCP_CMD_READ_VOLTAGES;
    case SensorKind::Fan:
        return SVCP_CMD_READ_FANS;
    case SensorKind::Temperature:
        return SVCP_CMD_READ_TEMPERATURES;
    }
    return 0;
}

ResponseBytes ResponseOf(const SVCP_PACKET& packet) {
    return ResponseBytes(packet.Response);
}

uint8_t Checksum(std::span<const uint8_t> bytes) {
    uint8_t sum = 0;
    for (uint8_t byte : bytes) {
        sum = static_cast<uint8_t>(sum + byte);
    }
    return static_cast<uint8_t>(0x100 - sum);
}

SVCP_PACKET MakeRequestPacket(uint8_t command, uint32_t portBase, bool alertPoll) {
    SVCP_PACKET packet;
    std::memset(&packet, 0, sizeof(packet));
    packet.Request[0] = 0x02;
    packet.Request[1] = command;
    packet.Request[2] = Checksum(std::span<const uint8_t>(&packet.Request[1], 1));
    packet.RequestLength = 3;
    packet.AlertPoll = alertPoll ? 1 : 0;
    packet.PortBase = portBase;
    return packet;
}

bool IsValidResponse(const SVCP_PACKET& packet) {
    const uint8_t length = packet.ResponseLength;
    if (length < 3 || length > SVCP_RESPONSE_MAX) {
        return false;
    }
    if (packet.AlertPending != 0 && length < 5) {
        return false;
    }
    const uint8_t count = packet.Response[0];
    if (count < 2 || count > SVCP_RESPONSE_MAX - 1) {
        return false;
    }
    return Checksum(std::span<const uint8_t>(&packet.Response[1], count)) == 0;
}

int32_t ScaleReading(SensorKind kind, uint32_t raw) {
    switch (kind) {
    case SensorKind::Voltage:
        return static_cast<uint16_t>(raw * 10u);
    case SensorKind::Temperature:
        return static_cast<int32_t>(raw * 10u);
    case SensorKind::Fan:
        break;
    }
    return static_cast<int32_t>(raw);
}

BulkReadings DecodeBulkReadings(SensorKind kind, ResponseBytes response) {
    BulkReadings readings;
    const int32_t count = response[0] > SVCP_RESPONSE_MAX - 1 ? SVCP_RESPONSE_MAX - 1 : response[0];
    if (kind == SensorKind::Temperature) {
        readings.announced = count - 2;
        for (int32_t k = 0; k < count - 2; ++k) {
            readings.values.push_back(ScaleReading(kind, response[2 + k]));
        }
        return readings;
    }
    // Only whole words before the checksum: an odd count does not turn the
    // checksum into half of a reading.
    readings.announced = (count - 2) / 2;
    for (int32_t k = 0; k < readings.announced; ++k) {
        readings.values.push_back(ScaleReading(kind, Word(response, 2 + 2 * k)));
    }
    return readings;
}

uint16_t DecodeLedWord(ResponseBytes response) {
    return static_cast<uint16_t>(Word(response, 2));
}

AlertReadings DecodeAlertReadings(SensorKind kind, ResponseBytes response) {
    AlertReadings alert;
    const int32_t count = response[0] > SVCP_RESPONSE_MAX - 1 ? SVCP_RESPONSE_MAX - 1 : response[0];
    alert.hasMask = count >= 4;
    alert.mask = static_cast<uint16_t>(Word(response, 2));
    if (kind == SensorKind::Temperature) {
        alert.expected = count - 4;
        for (int32_t k = 0; k < count - 4; ++k) {
            alert.values.push_back(response[4 + k]);
        }
        return alert;
    }
    alert.expected = (count - 4) / 2;
    const int32_t taken = count > 4 ? (count - 3) / 2 : 0;
    for (int32_t k = 0; k < taken; ++k) {
        alert.values.push_back(static_cast<int32_t>(Word(response, 4 + 2 * k)));
    }
    return alert;
}

StateChange DeriveStateChange(uint16_t storedMask, uint16_t newMask, uint32_t position) {
    if (position >= 16) {
        return StateChange_Unchanged;
    }
    const uint16_t bit = static_cast<uint16_t>(1u << position);
    const bool wasSet = (storedMask & bit) != 0;
    const bool isSet = (newMask & bit) != 0;
    if (isSet == wasSet) {
        return StateChange_Unchanged;
    }
    return isSet ? StateChange_Asserted : StateChange_Deasserted;
}

} // namespace svcproc::io
