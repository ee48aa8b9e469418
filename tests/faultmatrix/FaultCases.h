// The fault matrix: every fault the simulated service processor can inject
// against every operation that reaches it, with what the driver completes the
// request with and what the library makes of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/WinTypes.h"

namespace faultmatrix {

enum class Op {
    ReadVoltages,
    ReadFans,
    ReadTemperatures,
    ReadLeds,
    AlertPoll, // with a voltage alert (position 2) pending
    RegisterRead,
    RegisterWrite,
};

struct Fault {
    const char* name; // for test names
    const char* arm;  // control request that arms it ("fault clear" disarms)
};

// What the library does with the outcome of the faulted exchange.
enum class Outcome {
    Kept,          // cached values and last-update time unchanged; the next read retries
    Stored,        // values stored and last-update time moved, as a good response would
    AlertKept,     // no state change, no listener call; the alert comes on the next poll
    AlertReported, // the voltage change is reported to the listener
    AlertAsFans,   // the response passes as a fan alert: fan position 2 is reported;
                   // the real voltage alert comes on the next poll
    NotIssued,     // the library issues no register access
};

struct Case {
    const Fault* fault;
    Op op;
    uint32_t status; // NTSTATUS the driver completes the request with
    Outcome outcome;
    std::vector<std::string> lines; // library lines at level 1 to 3 during the operation
    const char* note;               // why, where it is not obvious
};

const std::vector<Case>& Cases();
std::string CaseName(const Case& c);

// The line the library logs for a failed exchange with this last error.
std::string IoctlFailed(DWORD lastError);

} // namespace faultmatrix
