#include "PortIo.h"

#include <atomic>
#include <chrono>

namespace {
std::atomic<IPortIo*> g_backend{nullptr};
} // namespace

void SetPortIoBackend(IPortIo* backend) {
    g_backend = backend;
}

IPortIo* GetPortIoBackend() {
    return g_backend.load();
}

// Without a backend the ports read as a floating bus would.
UCHAR READ_PORT_UCHAR(uint32_t port) {
    IPortIo* backend = g_backend.load();
    return backend != nullptr ? backend->ReadPort(port) : 0xFF;
}

void WRITE_PORT_UCHAR(uint32_t port, UCHAR value) {
    if (IPortIo* backend = g_backend.load()) {
        backend->WritePort(port, value);
    }
}

void KeStallExecutionProcessor(ULONG microseconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(microseconds);
    while (std::chrono::steady_clock::now() < until) {
    }
}
