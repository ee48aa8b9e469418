#include "model/ServiceProcessorModel.h"

#include <cstdlib>
#include <utility>

#include "Log.h"
#include "model/SpProtocol.h"

namespace svcproc::sim {

CServiceProcessorModel::CServiceProcessorModel(uint32_t portBase, CSensorBank bank,
                                               RegisterFile registers, bool abortOnInterleave)
    : m_dwPortBase(portBase), m_bAbortOnInterleave(abortOnInterleave), m_Bank(std::move(bank)),
      m_Registers(registers) {}

UCHAR CServiceProcessorModel::ReadPort(uint32_t port) {
    std::lock_guard lock(m_Lock);
    ++m_Stats.m_PortReads;
    CheckOwner();
    const uint32_t offset = port - m_dwPortBase;
    if (port < m_dwPortBase || offset > kRegRegCommand || offset % 4 != 0) {
        ++m_Stats.m_ForeignPortOps;
        return 0xFF; // nothing decodes the address: a floating bus
    }
    if (offset == kRegStatus) {
        return ReadStatus();
    }
    CloseForcedBusyPair();
    switch (offset) {
    case kRegData:
        return ReadData();
    case kRegRegData:
        return ReadRegisterData();
    default:
        return ReadRegisterCommand();
    }
}

void CServiceProcessorModel::WritePort(uint32_t port, UCHAR value) {
    std::lock_guard lock(m_Lock);
    ++m_Stats.m_PortWrites;
    CheckOwner();
    CloseForcedBusyPair();
    const uint32_t offset = port - m_dwPortBase;
    if (port < m_dwPortBase || offset > kRegRegCommand || offset % 4 != 0) {
        ++m_Stats.m_ForeignPortOps;
        return;
    }
    switch (offset) {
    case kRegData:
        WriteData(value);
        break;
    case kRegStatus:
        WriteStatus(value);
        break;
    case kRegRegData:
        WriteRegisterData(value);
        break;
    default:
        WriteRegisterCommand(value);
        break;
    }
}

// Transactions are owned by the thread that set ST_HOST_BUSY; any port access
// from another thread before it is cleared means two transactions overlap.
void CServiceProcessorModel::CheckOwner() {
    if (!m_bHostBusy || m_Owner == std::this_thread::get_id()) {
        return;
    }
    ++m_Stats.m_Interleaved;
    Log(LOG_ERROR,
        "Simulator: transactions interleaved: port access from another thread while a "
        "transaction is open (%llu so far)",
        static_cast<unsigned long long>(m_Stats.m_Interleaved));
    if (m_bAbortOnInterleave) {
        std::abort();
    }
}

UCHAR CServiceProcessorModel::ComposeStatus(bool fakeBusy) const {
    UCHAR value = 0;
    if (IbfShown()) {
        value |= kStIbf;
    }
    if (OutputVisible()) {
        value |= kStObf | kStOutValid;
    }
    if (m_Bank.PendingAlertKind()) {
        value |= kStAlert;
    }
    if (m_bError) {
        value |= kStError;
    }
    if (m_bHostBusy || fakeBusy) {
        value |= kStHostBusy;
    }
    return value;
}

UCHAR CServiceProcessorModel::ReadStatus() {
    const bool fakeBusy = !m_bHostBusy && m_Faults.Remaining(FaultKind::HostBusy) > 0;
    const UCHAR value = ComposeStatus(fakeBusy);
    if (fakeBusy) {
        NoteForcedBusy((value & kStAlert) != 0);
    } else {
        m_bBusyPairOpen = false;
    }
    if (m_dwIbfPolls > 0) {
        --m_dwIbfPolls;
    } else if (OutputPending() && m_dwObfPolls > 0) {
        --m_dwObfPolls;
    }
    return value;
}

// A host refuses a transaction on the first status read that shows the flag,
// except that an alert poll reads the status once for ST_ALERT before it
// tries to begin. While ST_ALERT is shown, status reads are therefore taken
// in pairs: the refusal is counted on the second read, or on the next other
// port operation.
void CServiceProcessorModel::NoteForcedBusy(bool alertShown) {
    if (alertShown && !m_bBusyPairOpen) {
        m_bBusyPairOpen = true;
        return;
    }
    m_bBusyPairOpen = false;
    if (m_Faults.Consume(FaultKind::HostBusy)) {
        ++m_Stats.m_RefusedBusy;
    }
}

void CServiceProcessorModel::CloseForcedBusyPair() {
    if (m_bBusyPairOpen) {
        m_bBusyPairOpen = false;
        if (m_Faults.Consume(FaultKind::HostBusy)) {
            ++m_Stats.m_RefusedBusy;
        }
    }
}

UCHAR CServiceProcessorModel::ReadData() {
    if (!OutputVisible()) {
        ++m_Stats.m_HandshakeViolations;
        return m_byLastData;
    }
    m_byLastData = m_vOutput[m_nNextOut++];
    m_dwObfPolls = m_dwLatency;
    if (m_nNextOut == m_nErrorAt) {
        m_bError = true;
    }
    if (m_nNextOut == m_vOutput.size()) {
        m_vOutput.clear();
        m_nNextOut = 0;
    }
    return m_byLastData;
}

void CServiceProcessorModel::WriteStatus(UCHAR value) {
    const bool ending = m_bHostBusy && (value & kStHostBusy) == 0;
    if (IbfShown() && !(ending && m_bStuckIbf)) {
        // Not taken: the host wrote before the previous byte was taken.
        ++m_Stats.m_HandshakeViolations;
        return;
    }
    if ((value & kStError) == 0) {
        m_bError = false;
    }
    if (!m_bHostBusy && (value & kStHostBusy) != 0) {
        BeginTransaction();
    } else if (ending) {
        EndTransaction();
    }
    m_dwIbfPolls = m_dwLatency;
}

void CServiceProcessorModel::WriteData(UCHAR value) {
    if (IbfShown() || !m_bHostBusy) {
        ++m_Stats.m_HandshakeViolations;
        return;
    }
    m_dwIbfPolls = m_dwLatency;
    if (m_bDiscardInput) {
        return;
    }
    m_vInput.push_back(value);
    const uint8_t count = m_vInput[0];
    if (count < 2 || count >= kMaxRequestBytes) {
        // No packet of that size exists: refuse the rest of this transaction.
        ++m_Stats.m_BadRequests;
        m_bError = true;
        m_bDiscardInput = true;
        m_vInput.clear();
        return;
    }
    if (m_vInput.size() == size_t{count} + 1) {
        ProcessRequest();
    }
}

void CServiceProcessorModel::BeginTransaction() {
    m_bHostBusy = true;
    m_Owner = std::this_thread::get_id();
    m_ActiveFaults = m_Faults.TransactionFaults();
    if (m_ActiveFaults.any()) {
        ++m_Stats.m_FaultedTransactions;
    }
    m_bStuckIbf = m_ActiveFaults[static_cast<size_t>(FaultKind::StuckIbf)];
    m_bResponseFaultsUsed = false;
    m_vInput.clear();
    m_bDiscardInput = false;
}

void CServiceProcessorModel::EndTransaction() {
    if (OutputPending()) {
        ++m_Stats.m_DiscardedResponses;
    }
    m_vOutput.clear();
    m_nNextOut = 0;
    m_nErrorAt = SIZE_MAX;
    m_vInput.clear();
    m_bDiscardInput = false;
    m_bStuckIbf = false;
    m_LastAlert.reset();
    m_Faults.ConsumeAll(m_ActiveFaults);
    m_ActiveFaults.reset();
    m_bHostBusy = false;
    m_Owner = std::thread::id();
    ++m_Stats.m_Transactions;
}

void CServiceProcessorModel::ProcessRequest() {
    Packet request = std::move(m_vInput);
    m_vInput.clear();
    if (!HasValidChecksum(request)) {
        ++m_Stats.m_BadChecksums;
        m_bError = true;
        return;
    }
    const uint8_t command = request[1];
    if (request[0] == kAckCount && command == kCmdPollAlert) {
        HandleAcknowledgement(request[2]);
        return;
    }
    // Every command of this board is a bare command without parameters.
    std::optional<Packet> response;
    if (request[0] == 2) {
        response =
            command == kCmdPollAlert ? AlertPollResponse() : BuildReadResponse(command, m_Bank);
    }
    if (!response) {
        ++m_Stats.m_BadRequests;
        m_bError = true;
        return;
    }
    ++m_Stats.m_Requests[command];
    QueueResponse(std::move(*response), true);
}

Packet CServiceProcessorModel::AlertPollResponse() {
    const auto kind = m_Bank.PendingAlertKind();
    if (!kind) {
        return BuildNoAlertResponse();
    }
    m_LastAlert = SentAlert{*kind, m_Bank.AlertMask(*kind)};
    ++m_Stats.m_AlertsSent;
    return BuildAlertResponse(m_Bank, *kind);
}

// The alert counts as delivered only when the host acknowledges the type of
// the kind that was sent; otherwise it stays pending and the next poll
// reports it again.
void CServiceProcessorModel::HandleAcknowledgement(uint8_t type) {
    ++m_Stats.m_Acknowledgements;
    if (m_LastAlert && TypeOfKind(m_LastAlert->m_Kind) == type) {
        m_Bank.MarkReported(m_LastAlert->m_Kind, m_LastAlert->m_wMask);
        m_LastAlert.reset();
    } else {
        ++m_Stats.m_UnmatchedAcknowledgements;
    }
    QueueResponse(BuildAckReply(type), false);
}

void CServiceProcessorModel::QueueResponse(Packet packet, bool firstResponseFaults) {
    m_nErrorAt = SIZE_MAX;
    m_nNextOut = 0;
    m_dwObfPolls = m_dwLatency;
    if (firstResponseFaults && !m_bResponseFaultsUsed) {
        m_bResponseFaultsUsed = true;
        ApplyResponseFaults(packet, m_ActiveFaults);
        if (m_ActiveFaults[static_cast<size_t>(FaultKind::NoResponse)]) {
            m_vOutput.clear();
            return;
        }
        if (m_ActiveFaults[static_cast<size_t>(FaultKind::ErrorMidResponse)]) {
            m_nErrorAt = packet.size() / 2;
        }
    }
    m_vOutput = std::move(packet);
}

UCHAR CServiceProcessorModel::ReadRegisterCommand() {
    UCHAR value = 0;
    if (m_dwRegIbfPolls > 0) {
        value |= kStIbf;
    }
    if (RegisterOutputVisible()) {
        value |= kStObf | kStOutValid;
    }
    if (m_dwRegIbfPolls > 0) {
        --m_dwRegIbfPolls;
    } else if (m_bRegOutputFull && m_dwRegObfPolls > 0) {
        --m_dwRegObfPolls;
    }
    return value;
}

UCHAR CServiceProcessorModel::ReadRegisterData() {
    if (!RegisterOutputVisible()) {
        ++m_Stats.m_HandshakeViolations;
        return m_byRegOutput;
    }
    m_bRegOutputFull = false;
    ++m_Stats.m_RegisterReads;
    return m_byRegOutput;
}

void CServiceProcessorModel::WriteRegisterCommand(UCHAR value) {
    if (m_dwRegIbfPolls > 0) {
        ++m_Stats.m_HandshakeViolations;
        return;
    }
    m_dwRegIbfPolls = m_dwLatency;
    if (value == kRegisterCommandOnly) {
        ++m_Stats.m_RegisterCommands;
        m_LatchedRegister.reset();
        m_bRegOutputFull = false;
        return;
    }
    // The register's value is offered at once; a write that follows replaces
    // it instead of reading it.
    m_LatchedRegister = value;
    m_byRegOutput = m_Registers[value];
    m_bRegOutputFull = true;
    m_dwRegObfPolls = m_dwLatency;
}

void CServiceProcessorModel::WriteRegisterData(UCHAR value) {
    if (m_dwRegIbfPolls > 0 || !m_LatchedRegister) {
        ++m_Stats.m_HandshakeViolations;
        return;
    }
    m_Registers[*m_LatchedRegister] = value;
    m_LatchedRegister.reset();
    m_bRegOutputFull = false;
    m_dwRegIbfPolls = m_dwLatency;
    ++m_Stats.m_RegisterWrites;
}

bool CServiceProcessorModel::SetRaw(SensorKind kind, size_t position, uint16_t raw) {
    std::lock_guard lock(m_Lock);
    return m_Bank.SetRaw(kind, position, raw);
}

bool CServiceProcessorModel::ForceAlert(SensorKind kind, size_t position, bool on) {
    std::lock_guard lock(m_Lock);
    return m_Bank.ForceAlert(kind, position, on);
}

void CServiceProcessorModel::SetLeds(uint16_t mask, bool on) {
    std::lock_guard lock(m_Lock);
    m_Bank.SetLeds(mask, on);
}

void CServiceProcessorModel::ArmFault(FaultKind kind, uint32_t transactions) {
    std::lock_guard lock(m_Lock);
    m_Faults.Arm(kind, transactions);
}

void CServiceProcessorModel::ClearFaults() {
    std::lock_guard lock(m_Lock);
    m_Faults.Clear();
    m_bBusyPairOpen = false;
}

void CServiceProcessorModel::SetLatency(uint32_t polls) {
    std::lock_guard lock(m_Lock);
    m_dwLatency = polls;
}

SimStats CServiceProcessorModel::Stats() const {
    std::lock_guard lock(m_Lock);
    return m_Stats;
}

size_t CServiceProcessorModel::Count(SensorKind kind) const {
    std::lock_guard lock(m_Lock);
    return m_Bank.Count(kind);
}

uint16_t CServiceProcessorModel::Raw(SensorKind kind, size_t position) const {
    std::lock_guard lock(m_Lock);
    return m_Bank.Raw(kind, position);
}

uint16_t CServiceProcessorModel::AlertMask(SensorKind kind) const {
    std::lock_guard lock(m_Lock);
    return m_Bank.AlertMask(kind);
}

uint16_t CServiceProcessorModel::LedState() const {
    std::lock_guard lock(m_Lock);
    return m_Bank.LedState();
}

uint8_t CServiceProcessorModel::Register(uint8_t number) const {
    std::lock_guard lock(m_Lock);
    return m_Registers[number];
}

} // namespace svcproc::sim
