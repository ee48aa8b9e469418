#include "PortProtocol.h"

#include <cstring>

namespace {

UCHAR ReadStatus(ULONG portBase) {
    return READ_PORT_UCHAR(portBase + SVCP_STATUS);
}

NTSTATUS WaitBitsClear(ULONG port, UCHAR bits) {
    for (int poll = 0; poll < kPollLimit; ++poll) {
        if ((READ_PORT_UCHAR(port) & bits) == 0) {
            return STATUS_SUCCESS;
        }
        KeStallExecutionProcessor(1);
    }
    return STATUS_IO_TIMEOUT;
}

bool OutputFull(UCHAR status) {
    return (status & (ST_OBF | ST_OUT_VALID)) == (ST_OBF | ST_OUT_VALID);
}

} // namespace

NTSTATUS WaitInputEmpty(ULONG portBase) {
    return WaitBitsClear(portBase + SVCP_STATUS, ST_IBF);
}

NTSTATUS WaitRegInputEmpty(ULONG portBase) {
    return WaitBitsClear(portBase + SVCP_REG_COMMAND, ST_IBF);
}

NTSTATUS WaitRegOutputFull(ULONG portBase) {
    (void)READ_PORT_UCHAR(portBase + SVCP_REG_COMMAND);
    for (int poll = 0; poll < kPollLimit; ++poll) {
        if (OutputFull(READ_PORT_UCHAR(portBase + SVCP_REG_COMMAND))) {
            return STATUS_SUCCESS;
        }
        KeStallExecutionProcessor(1);
    }
    return STATUS_IO_TIMEOUT;
}

NTSTATUS WriteDataByte(ULONG portBase, UCHAR value) {
    NTSTATUS status = WaitInputEmpty(portBase);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    WRITE_PORT_UCHAR(portBase + SVCP_DATA, value);
    return WaitInputEmpty(portBase);
}

NTSTATUS ReadDataByte(ULONG portBase, UCHAR* value) {
    (void)ReadStatus(portBase);
    for (int poll = 0; poll < kPollLimit; ++poll) {
        UCHAR status = ReadStatus(portBase);
        if (status & ST_ERROR) {
            return STATUS_DEVICE_PROTOCOL_ERROR;
        }
        if (OutputFull(status)) {
            *value = READ_PORT_UCHAR(portBase + SVCP_DATA);
            return STATUS_SUCCESS;
        }
        KeStallExecutionProcessor(1);
    }
    return STATUS_IO_TIMEOUT;
}

NTSTATUS BeginTransaction(ULONG portBase) {
    if (ReadStatus(portBase) & ST_HOST_BUSY) {
        return STATUS_INVALID_DEVICE_STATE;
    }
    NTSTATUS status = WaitInputEmpty(portBase);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    WRITE_PORT_UCHAR(portBase + SVCP_STATUS, ReadStatus(portBase) | ST_HOST_BUSY);
    (void)WaitInputEmpty(portBase);
    (void)ReadStatus(portBase);
    return STATUS_SUCCESS;
}

void EndTransaction(ULONG portBase) {
    (void)WaitInputEmpty(portBase);
    WRITE_PORT_UCHAR(portBase + SVCP_STATUS,
                     static_cast<UCHAR>(ReadStatus(portBase) & ~ST_HOST_BUSY));
    (void)WaitInputEmpty(portBase);
}

NTSTATUS ClearErrorFlag(ULONG portBase) {
    if ((ReadStatus(portBase) & ST_ERROR) == 0) {
        return STATUS_SUCCESS;
    }
    NTSTATUS status = WaitInputEmpty(portBase);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    WRITE_PORT_UCHAR(portBase + SVCP_STATUS, static_cast<UCHAR>(ReadStatus(portBase) & ~ST_ERROR));
    status = WaitInputEmpty(portBase);
    (void)ReadStatus(portBase);
    return status;
}

NTSTATUS SendRequest(SVCP_PACKET* packet) {
    if (packet->RequestLength > SVCP_REQUEST_MAX) {
        return STATUS_INVALID_PARAMETER;
    }
    NTSTATUS status = STATUS_SUCCESS;
    for (int i = 0; i < packet->RequestLength && NT_SUCCESS(status); ++i) {
        status = WriteDataByte(packet->PortBase, packet->Request[i]);
    }
    return status;
}

NTSTATUS ReceiveResponse(SVCP_PACKET* packet) {
    std::memset(packet->Response, 0, sizeof packet->Response);
    packet->ResponseLength = 0;
    UCHAR count = 0;
    NTSTATUS status = ReadDataByte(packet->PortBase, &count);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    packet->Response[0] = count;
    if (count >= SVCP_RESPONSE_MAX) {
        return STATUS_DEVICE_PROTOCOL_ERROR;
    }
    for (int i = 1; i <= count; ++i) {
        status = ReadDataByte(packet->PortBase, &packet->Response[i]);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    packet->ResponseLength = static_cast<UCHAR>(count + 1);
    return STATUS_SUCCESS;
}

// The reply to an acknowledgement is drained, never kept.
NTSTATUS AcknowledgeAlert(SVCP_PACKET* packet) {
    UCHAR command = packet->Request[1];
    UCHAR type = packet->Response[1];
    if (command == type) {
        return STATUS_SUCCESS;
    }
    const UCHAR ack[4] = {0x03, command, type, static_cast<UCHAR>(-(command + type))};
    for (UCHAR byte : ack) {
        if (!NT_SUCCESS(WriteDataByte(packet->PortBase, byte))) {
            break;
        }
    }
    UCHAR count = 0;
    NTSTATUS status = ReadDataByte(packet->PortBase, &count);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (count >= 16) {
        return STATUS_DEVICE_PROTOCOL_ERROR;
    }
    for (int i = 0; i < count; ++i) {
        UCHAR discarded;
        status = ReadDataByte(packet->PortBase, &discarded);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    return status;
}

namespace {

// Bytes 1 to N of a response add up to 0 modulo 256.
bool ResponseAddsUp(const SVCP_PACKET& packet) {
    UCHAR sum = 0;
    for (int i = 1; i <= packet.Response[0] && i < SVCP_RESPONSE_MAX; ++i) {
        sum = static_cast<UCHAR>(sum + packet.Response[i]);
    }
    return sum == 0;
}

} // namespace

NTSTATUS Exchange(SVCP_PACKET* packet) {
    const ULONG base = packet->PortBase;
    if (packet->AlertPoll != 0 && (ReadStatus(base) & ST_ALERT) == 0) {
        packet->AlertPending = 0;
        return STATUS_SUCCESS;
    }
    NTSTATUS status = BeginTransaction(base);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = ClearErrorFlag(base);
    if (NT_SUCCESS(status) && packet->AlertPoll != 0) {
        packet->AlertPending = (ReadStatus(base) & ST_ALERT) ? 1 : 0;
    }
    bool talk = NT_SUCCESS(status) && (packet->AlertPoll == 0 || packet->AlertPending != 0);
    if (talk) {
        status = SendRequest(packet);
        if (NT_SUCCESS(status)) {
            status = ReceiveResponse(packet);
        }
        // A corrupted alert response is not acknowledged: the service
        // processor then offers the alert again on the next poll instead of
        // counting it as delivered, and no state change is lost.
        if (NT_SUCCESS(status) && packet->AlertPoll != 0 && ResponseAddsUp(*packet)) {
            status = AcknowledgeAlert(packet);
        }
    }
    EndTransaction(base);
    return status;
}

NTSTATUS SendOnly(SVCP_PACKET* packet) {
    NTSTATUS status = BeginTransaction(packet->PortBase);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = ClearErrorFlag(packet->PortBase);
    if (NT_SUCCESS(status)) {
        status = SendRequest(packet);
    }
    EndTransaction(packet->PortBase);
    return status;
}

namespace {

// Hands the register's number to the chip once it takes input, and waits
// until the chip has read it.
NTSTATUS SendRegisterCommand(ULONG base, UCHAR reg) {
    NTSTATUS status = WaitRegInputEmpty(base);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    WRITE_PORT_UCHAR(base + SVCP_REG_COMMAND, reg);
    return WaitRegInputEmpty(base);
}

} // namespace

NTSTATUS ReadRegister(SVCP_REGISTER_ACCESS* access) {
    const ULONG base = access->PortBase;
    NTSTATUS status = SendRegisterCommand(base, access->Register);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = WaitRegOutputFull(base);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    access->Value = READ_PORT_UCHAR(base + SVCP_REG_DATA);
    return STATUS_SUCCESS;
}

NTSTATUS WriteRegister(SVCP_REGISTER_ACCESS* access) {
    const ULONG base = access->PortBase;
    NTSTATUS status = SendRegisterCommand(base, access->Register);
    if (!NT_SUCCESS(status) || access->Register == SVCP_REGISTER_COMMAND_ONLY) {
        return status;
    }
    WRITE_PORT_UCHAR(base + SVCP_REG_DATA, access->Value);
    return WaitRegInputEmpty(base);
}
