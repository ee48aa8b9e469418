#include "HandshakeDriver.h"

#include <cstring>

namespace simtest {
namespace {

constexpr uint32_t kData = 0, kStatus = 4, kRegData = 8, kRegCommand = 12;
constexpr uint8_t kObf = 0x01, kIbf = 0x02, kAlert = 0x10, kError = 0x20, kOutValid = 0x40,
                  kHostBusy = 0x80;
constexpr int kPolls = 10000;

} // namespace

uint32_t CHandshakeDriver::WaitInputEmpty() {
    ++m_nInputEmptyWaits;
    for (int i = 0; i < kPolls; ++i) {
        if ((Read(kStatus) & kIbf) == 0) {
            return kSuccess;
        }
    }
    return kTimeout;
}

uint32_t CHandshakeDriver::WaitReg(uint8_t mask, uint8_t want) {
    for (int i = 0; i < kPolls; ++i) {
        if ((Read(kRegCommand) & mask) == want) {
            return kSuccess;
        }
    }
    return kTimeout;
}

uint32_t CHandshakeDriver::WriteDataByte(uint8_t value) {
    if (uint32_t status = WaitInputEmpty(); status != kSuccess) {
        return status;
    }
    Write(kData, value);
    return WaitInputEmpty();
}

uint32_t CHandshakeDriver::ReadDataByte(uint8_t* value) {
    Read(kStatus);
    for (int i = 0; i < kPolls; ++i) {
        const uint8_t status = Read(kStatus);
        if (status & kError) {
            return kProtocolError;
        }
        if ((status & (kObf | kOutValid)) == (kObf | kOutValid)) {
            *value = Read(kData);
            return kSuccess;
        }
    }
    return kTimeout;
}

uint32_t CHandshakeDriver::Begin() {
    if (Read(kStatus) & kHostBusy) {
        return kInvalidDeviceState;
    }
    if (uint32_t status = WaitInputEmpty(); status != kSuccess) {
        return status;
    }
    Write(kStatus, Read(kStatus) | kHostBusy);
    WaitInputEmpty();
    Read(kStatus);
    return kSuccess;
}

void CHandshakeDriver::End() {
    WaitInputEmpty();
    Write(kStatus, Read(kStatus) & ~kHostBusy);
    WaitInputEmpty();
}

uint32_t CHandshakeDriver::ClearError() {
    if ((Read(kStatus) & kError) == 0) {
        return kSuccess;
    }
    if (uint32_t status = WaitInputEmpty(); status != kSuccess) {
        return status;
    }
    Write(kStatus, Read(kStatus) & ~kError);
    const uint32_t result = WaitInputEmpty();
    Read(kStatus);
    return result;
}

uint32_t CHandshakeDriver::Send(const SVCP_PACKET& packet) {
    if (packet.RequestLength > SVCP_REQUEST_MAX) {
        return kInvalidParameter;
    }
    uint32_t status = kSuccess;
    for (uint8_t i = 0; i < packet.RequestLength && status == kSuccess; ++i) {
        status = WriteDataByte(packet.Request[i]);
    }
    return status;
}

uint32_t CHandshakeDriver::Receive(SVCP_PACKET& packet) {
    std::memset(packet.Response, 0, sizeof packet.Response);
    packet.ResponseLength = 0;
    uint8_t count = 0;
    if (uint32_t status = ReadDataByte(&count); status != kSuccess) {
        return status;
    }
    packet.Response[0] = count;
    if (count >= 64) {
        return kProtocolError;
    }
    for (uint8_t i = 1; i <= count; ++i) {
        if (uint32_t status = ReadDataByte(&packet.Response[i]); status != kSuccess) {
            return status;
        }
    }
    packet.ResponseLength = static_cast<uint8_t>(count + 1);
    return kSuccess;
}

uint32_t CHandshakeDriver::Acknowledge(const SVCP_PACKET& packet) {
    const uint8_t c = packet.Request[1];
    const uint8_t t = packet.Response[1];
    if (c == t) {
        return kSuccess;
    }
    const uint8_t ack[4] = {0x03, c, t, static_cast<uint8_t>(0x100 - ((c + t) & 0xFF))};
    for (uint8_t b : ack) {
        if (WriteDataByte(b) != kSuccess) {
            break;
        }
    }
    uint8_t count = 0;
    if (uint32_t status = ReadDataByte(&count); status != kSuccess) {
        return status;
    }
    if (count >= 16) {
        return kProtocolError;
    }
    uint32_t status = kSuccess;
    for (uint8_t i = 0; i < count && status == kSuccess; ++i) {
        uint8_t discard = 0;
        status = ReadDataByte(&discard);
    }
    return status;
}

uint32_t CHandshakeDriver::Exchange(SVCP_PACKET& packet) {
    if (packet.AlertPoll != 0 && (Read(kStatus) & kAlert) == 0) {
        packet.AlertPending = 0;
        return kSuccess;
    }
    if (uint32_t status = Begin(); status != kSuccess) {
        return status;
    }
    uint32_t status = ClearError();
    if (status == kSuccess && packet.AlertPoll != 0) {
        packet.AlertPending = (Read(kStatus) & kAlert) ? 1 : 0;
        if (packet.AlertPending == 0) {
            End();
            return kSuccess;
        }
    }
    if (status == kSuccess) {
        status = Send(packet);
    }
    if (status == kSuccess) {
        status = Receive(packet);
    }
    if (status == kSuccess && packet.AlertPoll != 0 && packet.AlertPending != 0) {
        status = Acknowledge(packet);
    }
    End();
    return status;
}

uint32_t CHandshakeDriver::SendOnly(SVCP_PACKET& packet) {
    if (uint32_t status = Begin(); status != kSuccess) {
        return status;
    }
    uint32_t status = ClearError();
    if (status == kSuccess) {
        status = Send(packet);
    }
    End();
    return status;
}

uint32_t CHandshakeDriver::ReadRegister(uint8_t reg, uint8_t* value) {
    if (uint32_t status = WaitReg(kIbf, 0); status != kSuccess) {
        return status;
    }
    Write(kRegCommand, reg);
    if (uint32_t status = WaitReg(kIbf, 0); status != kSuccess) {
        return status;
    }
    Read(kRegCommand);
    if (uint32_t status = WaitReg(kObf | kOutValid, kObf | kOutValid); status != kSuccess) {
        return status;
    }
    *value = Read(kRegData);
    return kSuccess;
}

uint32_t CHandshakeDriver::WriteRegister(uint8_t reg, uint8_t value) {
    if (uint32_t status = WaitReg(kIbf, 0); status != kSuccess) {
        return status;
    }
    Write(kRegCommand, reg);
    if (uint32_t status = WaitReg(kIbf, 0); status != kSuccess) {
        return status;
    }
    if (reg == 0xFF) {
        return kSuccess;
    }
    Write(kRegData, value);
    return WaitReg(kIbf, 0);
}

SVCP_PACKET MakeRequest(uint8_t command, bool alertPoll) {
    SVCP_PACKET packet{};
    packet.Request[0] = 0x02;
    packet.Request[1] = command;
    packet.Request[2] = static_cast<uint8_t>(0x100 - command);
    packet.RequestLength = 3;
    packet.AlertPoll = alertPoll ? 1 : 0;
    packet.PortBase = 0x2B0;
    return packet;
}

std::vector<uint8_t> ResponseBytes(const SVCP_PACKET& packet) {
    return std::vector<uint8_t>(packet.Response, packet.Response + packet.ResponseLength);
}

} // namespace simtest
