#include "model/PacketCodec.h"

#include "model/SpProtocol.h"

namespace svcproc::sim {
namespace {

void AppendWord(Packet& data, uint16_t value) {
    data.push_back(static_cast<uint8_t>(value >> 8));
    data.push_back(static_cast<uint8_t>(value & 0xFF));
}

void AppendReadings(Packet& data, const CSensorBank& bank, SensorKind kind) {
    for (size_t i = 0; i < bank.Count(kind); ++i) {
        const uint16_t raw = bank.Raw(kind, i);
        if (kind == SensorKind::Temperature) {
            data.push_back(static_cast<uint8_t>(raw));
        } else {
            AppendWord(data, raw);
        }
    }
}

// Bytes per reading in a response of this type; 0 for one without readings.
size_t ReadingWidth(uint8_t type) {
    switch (type) {
    case kCmdReadTemperatures:
        return 1;
    case kCmdReadVoltages:
    case kCmdReadFans:
    case kCmdReadLeds:
        return 2;
    default:
        return 0;
    }
}

uint8_t OtherType(uint8_t type) {
    switch (type) {
    case kCmdReadVoltages:
        return kCmdReadFans;
    case kCmdReadFans:
        return kCmdReadTemperatures;
    case kCmdReadTemperatures:
        return kCmdReadVoltages;
    default:
        return kCmdReadVoltages;
    }
}

} // namespace

uint8_t TypeOfKind(SensorKind kind) {
    switch (kind) {
    case SensorKind::Voltage:
        return kCmdReadVoltages;
    case SensorKind::Fan:
        return kCmdReadFans;
    case SensorKind::Temperature:
        break;
    }
    return kCmdReadTemperatures;
}

std::optional<SensorKind> KindOfType(uint8_t type) {
    switch (type) {
    case kCmdReadVoltages:
        return SensorKind::Voltage;
    case kCmdReadFans:
        return SensorKind::Fan;
    case kCmdReadTemperatures:
        return SensorKind::Temperature;
    default:
        return std::nullopt;
    }
}

bool HasValidChecksum(std::span<const uint8_t> packet) {
    if (packet.empty() || packet.size() != size_t{packet[0]} + 1) {
        return false;
    }
    unsigned sum = 0;
    for (size_t i = 1; i < packet.size(); ++i) {
        sum += packet[i];
    }
    return (sum & 0xFFu) == 0;
}

Packet FramePacket(uint8_t type, std::span<const uint8_t> data) {
    Packet packet;
    packet.reserve(data.size() + 3);
    packet.push_back(static_cast<uint8_t>(data.size() + 2));
    packet.push_back(type);
    packet.insert(packet.end(), data.begin(), data.end());
    packet.push_back(ChecksumOf(std::span<const uint8_t>(packet).subspan(1)));
    return packet;
}

std::optional<Packet> BuildReadResponse(uint8_t command, const CSensorBank& bank) {
    Packet data;
    if (command == kCmdReadLeds) {
        AppendWord(data, bank.LedState());
        return FramePacket(command, data);
    }
    const auto kind = KindOfType(command);
    if (!kind) {
        return std::nullopt;
    }
    AppendReadings(data, bank, *kind);
    return FramePacket(command, data);
}

Packet BuildAlertResponse(const CSensorBank& bank, SensorKind kind) {
    Packet data;
    AppendWord(data, bank.AlertMask(kind));
    AppendReadings(data, bank, kind);
    return FramePacket(TypeOfKind(kind), data);
}

Packet BuildNoAlertResponse() {
    return FramePacket(kCmdPollAlert, {});
}

Packet BuildAckReply(uint8_t type) {
    return FramePacket(type, {});
}

void ApplyResponseFaults(Packet& packet, const FaultSet& faults) {
    if (packet.size() < 3) {
        return;
    }
    Packet data(packet.begin() + 2, packet.end() - 1);
    uint8_t type = packet[1];
    const size_t width = ReadingWidth(type);
    if (faults[static_cast<size_t>(FaultKind::FewReadings)] && width != 0 && data.size() >= width) {
        data.resize(data.size() - width);
    }
    if (faults[static_cast<size_t>(FaultKind::ManyReadings)] && width != 0) {
        data.insert(data.end(), width, 0);
    }
    if (faults[static_cast<size_t>(FaultKind::WrongType)]) {
        type = OtherType(type);
    }
    packet = FramePacket(type, data);
    if (faults[static_cast<size_t>(FaultKind::BadChecksum)]) {
        packet.back() = static_cast<uint8_t>(packet.back() + 1);
    }
    if (faults[static_cast<size_t>(FaultKind::Count64)]) {
        packet[0] = 64;
    }
}

} // namespace svcproc::sim
