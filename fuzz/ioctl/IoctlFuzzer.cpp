// The driver's I/O control handler fed arbitrary codes, lengths and buffers,
// over the simulated service processor. Input layout: byte 0 picks the code
// (0-3: the four codes, else the next four bytes are the code), byte 1 bit 0
// keeps the configured port base, bytes 2-3 the input and output lengths
// (up to 255), the rest is the buffer.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "Portwyn.h"
#include "Simulator.h"
#include "WdfHost.h"

namespace {

WDFDEVICE StartOnce() {
    static WDFDEVICE device = [] {
        char pattern[] = "/tmp/portwyn-fuzz-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            std::abort();
        }
        ::setenv("SVCPROC_RUNTIME_DIR", pattern, 1);
        std::string error;
        static std::unique_ptr<IPortIo> sim = svcproc::sim::StartSimulator({}, &error);
        if (!sim) {
            std::abort();
        }
        SetPortIoBackend(sim.get());
        WDFDRIVER driver = nullptr;
        WDFDEVICE created = nullptr;
        if (!NT_SUCCESS(svcproc::kernel::LoadDriver(DriverEntry, &driver)) ||
            !NT_SUCCESS(svcproc::kernel::AddDevice(driver, &created)) ||
            !NT_SUCCESS(
                svcproc::kernel::StartDevice(created, {{SVCP_DEFAULT_PORT_BASE, 16}}, &error))) {
            std::abort();
        }
        return created;
    }();
    return device;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const ULONG kCodes[] = {IOCTL_SVCP_SEND, IOCTL_SVCP_REQUEST_RESPONSE,
                                   IOCTL_SVCP_READ_REGISTER, IOCTL_SVCP_WRITE_REGISTER};
    WDFDEVICE device = StartOnce();
    if (size < 4) {
        return 0;
    }
    ULONG code = kCodes[data[0] & 3];
    size_t offset = 4;
    if (data[0] >= 4) {
        if (size < 8) {
            return 0;
        }
        std::memcpy(&code, data + 4, 4);
        offset = 8;
    }
    uint32_t inLength = data[2];
    uint32_t outLength = data[3];
    std::vector<uint8_t> in(inLength);
    // An empty vector's data() may be null, which memcpy must not get.
    if (size_t given = std::min<size_t>(inLength, size - offset); given != 0) {
        std::memcpy(in.data(), data + offset, given);
    }
    if ((data[1] & 1) != 0) {
        // Keep the configured base so the request reaches the ports.
        if (inLength >= sizeof(SVCP_PACKET) && (code == kCodes[0] || code == kCodes[1])) {
            uint32_t base = SVCP_DEFAULT_PORT_BASE;
            std::memcpy(in.data() + offsetof(SVCP_PACKET, PortBase), &base, 4);
        } else if (inLength >= sizeof(SVCP_REGISTER_ACCESS)) {
            uint32_t base = SVCP_DEFAULT_PORT_BASE;
            std::memcpy(in.data() + offsetof(SVCP_REGISTER_ACCESS, PortBase), &base, 4);
        }
    }
    std::vector<uint8_t> out(outLength, 0xA5);
    uint32_t information = 0;
    NTSTATUS status = svcproc::kernel::SendDeviceControl(device, code, in.data(), inLength,
                                                         out.data(), outLength, &information);
    if (information > outLength || (!NT_SUCCESS(status) && information != 0)) {
        std::abort();
    }
    if (NT_SUCCESS(status) && code == IOCTL_SVCP_REQUEST_RESPONSE) {
        SVCP_PACKET packet;
        std::memcpy(&packet, out.data(), sizeof packet);
        // An alert poll with nothing pending leaves the caller's bytes alone.
        bool exchanged = packet.AlertPoll == 0 || packet.AlertPending != 0;
        if (exchanged && packet.ResponseLength != 0 &&
            packet.ResponseLength != packet.Response[0] + 1) {
            std::abort();
        }
    }
    return 0;
}
