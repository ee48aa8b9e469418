#include "model/SimStats.h"

#include <cstdio>

#include "model/SpProtocol.h"

namespace svcproc::sim {
namespace {

void AppendLine(std::string& out, const char* name, uint64_t value) {
    out += name;
    out += ' ';
    out += std::to_string(value);
    out += '\n';
}

bool AlwaysListed(size_t command) {
    return command == kCmdPollAlert || command == kCmdReadFans || command == kCmdReadTemperatures ||
           command == kCmdReadVoltages || command == kCmdReadLeds;
}

} // namespace

std::string FormatStats(const SimStats& stats) {
    std::string out;
    for (size_t command = 0; command < stats.m_Requests.size(); ++command) {
        if (stats.m_Requests[command] != 0 || AlwaysListed(command)) {
            char name[32];
            std::snprintf(name, sizeof name, "requests_0x%02x", static_cast<unsigned>(command));
            AppendLine(out, name, stats.m_Requests[command]);
        }
    }
    AppendLine(out, "acknowledgements", stats.m_Acknowledgements);
    AppendLine(out, "unmatched_acknowledgements", stats.m_UnmatchedAcknowledgements);
    AppendLine(out, "port_reads", stats.m_PortReads);
    AppendLine(out, "port_writes", stats.m_PortWrites);
    AppendLine(out, "port_operations", stats.m_PortReads + stats.m_PortWrites);
    AppendLine(out, "transactions", stats.m_Transactions);
    AppendLine(out, "refused_busy", stats.m_RefusedBusy);
    AppendLine(out, "alerts_sent", stats.m_AlertsSent);
    AppendLine(out, "bad_checksums", stats.m_BadChecksums);
    AppendLine(out, "bad_requests", stats.m_BadRequests);
    AppendLine(out, "discarded_responses", stats.m_DiscardedResponses);
    AppendLine(out, "handshake_violations", stats.m_HandshakeViolations);
    AppendLine(out, "interleaved", stats.m_Interleaved);
    AppendLine(out, "faulted_transactions", stats.m_FaultedTransactions);
    AppendLine(out, "register_reads", stats.m_RegisterReads);
    AppendLine(out, "register_writes", stats.m_RegisterWrites);
    AppendLine(out, "register_commands", stats.m_RegisterCommands);
    AppendLine(out, "foreign_port_ops", stats.m_ForeignPortOps);
    return out;
}

} // namespace svcproc::sim
