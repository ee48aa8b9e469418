// What the model has seen, for the control socket's stats command.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace svcproc::sim {

struct SimStats {
    std::array<uint64_t, 256> m_Requests{}; // valid request packets per command byte
    uint64_t m_Acknowledgements = 0;
    uint64_t m_UnmatchedAcknowledgements = 0; // acknowledged a type that was not sent
    uint64_t m_PortReads = 0;
    uint64_t m_PortWrites = 0;
    uint64_t m_Transactions = 0; // ended with ST_HOST_BUSY cleared
    uint64_t m_RefusedBusy = 0;  // transactions refused on a forced ST_HOST_BUSY
    uint64_t m_AlertsSent = 0;
    uint64_t m_BadChecksums = 0;
    uint64_t m_BadRequests = 0;         // impossible count or unknown command
    uint64_t m_DiscardedResponses = 0;  // response bytes left unread at transaction end
    uint64_t m_HandshakeViolations = 0; // writes while ST_IBF, reads with nothing offered,
                                        // data written outside a transaction
    uint64_t m_Interleaved = 0;
    uint64_t m_FaultedTransactions = 0;
    uint64_t m_RegisterReads = 0;
    uint64_t m_RegisterWrites = 0;
    uint64_t m_RegisterCommands = 0; // bare commands (register 0xFF)
    uint64_t m_ForeignPortOps = 0;   // ports outside the register block
};

// One "name value" line per counter; requests are listed for every read
// command and for any other command byte seen.
std::string FormatStats(const SimStats& stats);

} // namespace svcproc::sim
