// The polled handshake with the service processor over its four port
// registers. Every wait tests its condition at most kPollLimit times with a
// 1 microsecond stall after each failed test, so every step is bounded.
#pragma once

#include "NtStatus.h"
#include "PortIo.h"
#include "SvcpIoctl.h"

// Register offsets from the port base.
constexpr ULONG SVCP_DATA = 0;
constexpr ULONG SVCP_STATUS = 4;
constexpr ULONG SVCP_REG_DATA = 8;
constexpr ULONG SVCP_REG_COMMAND = 12;
constexpr ULONG SVCP_REGISTER_SPAN = 16;

// Status bits.
constexpr UCHAR ST_OBF = 0x01;
constexpr UCHAR ST_IBF = 0x02;
constexpr UCHAR ST_ALERT = 0x10;
constexpr UCHAR ST_ERROR = 0x20;
constexpr UCHAR ST_OUT_VALID = 0x40;
constexpr UCHAR ST_HOST_BUSY = 0x80;

constexpr int kPollLimit = 10000;

// Primitives.
NTSTATUS WaitInputEmpty(ULONG portBase);
NTSTATUS WriteDataByte(ULONG portBase, UCHAR value);
NTSTATUS ReadDataByte(ULONG portBase, UCHAR* value);
NTSTATUS BeginTransaction(ULONG portBase);
void EndTransaction(ULONG portBase);
NTSTATUS ClearErrorFlag(ULONG portBase);
NTSTATUS WaitRegInputEmpty(ULONG portBase);
NTSTATUS WaitRegOutputFull(ULONG portBase);

// Steps and operations on a request buffer.
NTSTATUS SendRequest(SVCP_PACKET* packet);
NTSTATUS ReceiveResponse(SVCP_PACKET* packet);
NTSTATUS AcknowledgeAlert(SVCP_PACKET* packet);
NTSTATUS Exchange(SVCP_PACKET* packet);
NTSTATUS SendOnly(SVCP_PACKET* packet);
NTSTATUS ReadRegister(SVCP_REGISTER_ACCESS* access);
NTSTATUS WriteRegister(SVCP_REGISTER_ACCESS* access);
