// Building the service processor's response packets: count, type, data and
// the checksum over type and data.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "model/FaultPlan.h"
#include "model/SensorBank.h"

namespace svcproc::sim {

using Packet = std::vector<uint8_t>;

uint8_t TypeOfKind(SensorKind kind);
std::optional<SensorKind> KindOfType(uint8_t type);

// True when bytes 1 to N (N = byte 0) add up to 0 modulo 256 and the packet
// holds exactly N + 1 bytes.
bool HasValidChecksum(std::span<const uint8_t> packet);

// Adds the count in front and the checksum behind type and data.
Packet FramePacket(uint8_t type, std::span<const uint8_t> data);

// The answer to a read command (voltages, fans, temperatures, LEDs), or
// nullopt for a command that is not a read.
std::optional<Packet> BuildReadResponse(uint8_t command, const CSensorBank& bank);
// An alert response of one kind: its current mask and every reading.
Packet BuildAlertResponse(const CSensorBank& bank, SensorKind kind);
// The alert poll's answer when nothing is pending: type equal to the command.
Packet BuildNoAlertResponse();
// The answer to an acknowledgement of the alert of this type.
Packet BuildAckReply(uint8_t type);

// Rewrites a response as the faults ask: readings dropped or added, the type
// of another command, a checksum off by one, a count of 64. Faults that do
// not concern the response itself are ignored here.
void ApplyResponseFaults(Packet& packet, const FaultSet& faults);

} // namespace svcproc::sim
