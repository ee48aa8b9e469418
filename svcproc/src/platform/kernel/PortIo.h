// Port I/O as the driver sees it: byte reads and writes of I/O ports and a
// processor stall, behind one interface so the driver host can run on real
// x86 ports or on the simulated service processor.
#pragma once

#include <cstdint>

#include "../base/WinTypes.h"

class IPortIo {
public:
    virtual ~IPortIo() = default;
    virtual UCHAR ReadPort(uint32_t port) = 0;
    virtual void WritePort(uint32_t port, UCHAR value) = 0;
};

// The backend every READ_PORT_UCHAR and WRITE_PORT_UCHAR of the process goes
// to. Set once by the driver host (or a test) before the driver runs.
void SetPortIoBackend(IPortIo* backend);
IPortIo* GetPortIoBackend();

UCHAR READ_PORT_UCHAR(uint32_t port);
void WRITE_PORT_UCHAR(uint32_t port, UCHAR value);
// Busy-waits on a monotonic clock; never sleeps.
void KeStallExecutionProcessor(ULONG microseconds);
