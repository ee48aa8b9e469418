// Real x86 I/O ports through ioperm/inb/outb. Needs root (CAP_SYS_RAWIO).
#pragma once

#include <memory>
#include <string>

#include "PortIo.h"

namespace svcproc::kernel {

// Grants the process the ports [base, base + length) and returns a backend
// for them; null with *error when the grant is refused.
__attribute__((visibility("default"))) std::unique_ptr<IPortIo>
OpenHardwarePorts(uint32_t base, uint32_t length, std::string* error);

} // namespace svcproc::kernel
