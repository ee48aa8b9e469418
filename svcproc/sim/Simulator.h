// The simulated service processor: a register-level stand-in for the board's
// controller behind the port I/O interface, built from a board profile that
// also yields the matching SMBIOS table.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/PortIo.h"

namespace svcproc::sim {

struct SimOptions {
    std::string profile = "default";
    std::string controlPath; // empty: no control socket
    uint32_t portBase = 0x2B0;
    // Debug aid: abort the process when two transactions interleave on the
    // ports. Also switched on by SVCPROC_SIM_ABORT_ON_INTERLEAVE=1.
    bool abortOnInterleave = false;
};

// Null and *error set for an unknown profile or a control socket that cannot
// be served. The returned port backend owns the control socket; destroying
// it stops the socket and removes its file.
std::unique_ptr<IPortIo> StartSimulator(const SimOptions& options, std::string* error);

// The SMBIOS table of a profile (raw structure table), or empty + *error.
std::vector<uint8_t> BuildProfileTable(const std::string& profile, std::string* error);

std::vector<std::string> ProfileNames();

} // namespace svcproc::sim
