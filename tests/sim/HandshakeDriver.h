// A small host side of the port handshake, written for these tests so the
// model is checked against the steps a driver takes, independently of the
// driver's own code. Waits poll 10000 times without stalling.
#pragma once

#include <cstdint>
#include <vector>

#include "SvcpIoctl.h"
#include "platform/kernel/PortIo.h"

namespace simtest {

enum Status : uint32_t {
    kSuccess = 0,
    kTimeout = 0xC00000B5,
    kInvalidDeviceState = 0xC0000184,
    kProtocolError = 0xC0000186,
    kInvalidParameter = 0xC000000D,
};

class CHandshakeDriver {
public:
    CHandshakeDriver(IPortIo& ports, uint32_t base) : m_Ports(ports), m_dwBase(base) {}

    uint32_t Exchange(SVCP_PACKET& packet);
    uint32_t SendOnly(SVCP_PACKET& packet);
    uint32_t ReadRegister(uint8_t reg, uint8_t* value);
    uint32_t WriteRegister(uint8_t reg, uint8_t value);

    int InputEmptyWaits() const { return m_nInputEmptyWaits; }

private:
    uint8_t Read(uint32_t offset) { return m_Ports.ReadPort(m_dwBase + offset); }
    void Write(uint32_t offset, uint8_t value) { m_Ports.WritePort(m_dwBase + offset, value); }
    uint32_t WaitInputEmpty();
    uint32_t WaitReg(uint8_t mask, uint8_t want);
    uint32_t WriteDataByte(uint8_t value);
    uint32_t ReadDataByte(uint8_t* value);
    uint32_t Begin();
    void End();
    uint32_t ClearError();
    uint32_t Send(const SVCP_PACKET& packet);
    uint32_t Receive(SVCP_PACKET& packet);
    uint32_t Acknowledge(const SVCP_PACKET& packet);

    IPortIo& m_Ports;
    uint32_t m_dwBase;
    int m_nInputEmptyWaits = 0;
};

// A request packet for a bare command: count 2, the command, its checksum.
SVCP_PACKET MakeRequest(uint8_t command, bool alertPoll = false);
// The response bytes 0..ResponseLength-1.
std::vector<uint8_t> ResponseBytes(const SVCP_PACKET& packet);

} // namespace simtest
