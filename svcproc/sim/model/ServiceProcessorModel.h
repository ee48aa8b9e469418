// The service processor as the host's port handshake sees it: four byte
// registers, the status bits, request packets in, response packets out, the
// alert poll and its acknowledgement, and the register channel. All port
// operations and all control calls are serialised on one lock, so the
// control socket may change values while a driver runs.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "model/FaultPlan.h"
#include "model/PacketCodec.h"
#include "model/SensorBank.h"
#include "model/SimStats.h"
#include "platform/kernel/PortIo.h"

namespace svcproc::sim {

using RegisterFile = std::array<uint8_t, 256>;

class CServiceProcessorModel : public IPortIo {
public:
    CServiceProcessorModel(uint32_t portBase, CSensorBank bank, RegisterFile registers,
                           bool abortOnInterleave);

    UCHAR ReadPort(uint32_t port) override;
    void WritePort(uint32_t port, UCHAR value) override;

    // Control operations; false for a position the board does not have.
    bool SetRaw(SensorKind kind, size_t position, uint16_t raw);
    bool ForceAlert(SensorKind kind, size_t position, bool on);
    void SetLeds(uint16_t mask, bool on);
    void ArmFault(FaultKind kind, uint32_t transactions);
    void ClearFaults();
    // Status polls before each byte is taken or offered; 0 answers at once.
    void SetLatency(uint32_t polls);

    SimStats Stats() const;
    size_t Count(SensorKind kind) const;
    uint16_t Raw(SensorKind kind, size_t position) const;
    uint16_t AlertMask(SensorKind kind) const;
    uint16_t LedState() const;
    uint8_t Register(uint8_t number) const;
    uint32_t PortBase() const { return m_dwPortBase; }

private:
    struct SentAlert {
        SensorKind m_Kind;
        uint16_t m_wMask;
    };

    UCHAR ReadStatus();
    UCHAR ReadData();
    void WriteStatus(UCHAR value);
    void WriteData(UCHAR value);
    UCHAR ReadRegisterCommand();
    UCHAR ReadRegisterData();
    void WriteRegisterCommand(UCHAR value);
    void WriteRegisterData(UCHAR value);

    UCHAR ComposeStatus(bool fakeBusy) const;
    void NoteForcedBusy(bool alertShown);
    void CloseForcedBusyPair();
    bool IbfShown() const { return m_bStuckIbf || m_dwIbfPolls > 0; }
    bool OutputPending() const { return m_nNextOut < m_vOutput.size() && m_nNextOut < m_nErrorAt; }
    bool OutputVisible() const { return OutputPending() && !IbfShown() && m_dwObfPolls == 0; }
    bool RegisterOutputVisible() const {
        return m_bRegOutputFull && m_dwRegIbfPolls == 0 && m_dwRegObfPolls == 0;
    }

    void BeginTransaction();
    void EndTransaction();
    void ProcessRequest();
    void HandleAcknowledgement(uint8_t type);
    Packet AlertPollResponse();
    void QueueResponse(Packet packet, bool firstResponseFaults);
    void CheckOwner();

    const uint32_t m_dwPortBase;
    const bool m_bAbortOnInterleave;
    mutable std::mutex m_Lock;
    CSensorBank m_Bank;
    CFaultPlan m_Faults;
    RegisterFile m_Registers;
    SimStats m_Stats;
    uint32_t m_dwLatency = 0;

    // Packet channel.
    bool m_bHostBusy = false;
    bool m_bError = false;
    bool m_bStuckIbf = false;
    uint32_t m_dwIbfPolls = 0;
    Packet m_vInput;
    bool m_bDiscardInput = false;
    Packet m_vOutput;
    size_t m_nNextOut = 0;
    size_t m_nErrorAt = SIZE_MAX;
    uint32_t m_dwObfPolls = 0;
    UCHAR m_byLastData = 0;
    std::thread::id m_Owner;
    FaultSet m_ActiveFaults;
    bool m_bResponseFaultsUsed = false;
    std::optional<SentAlert> m_LastAlert;
    bool m_bBusyPairOpen = false;

    // Register channel.
    std::optional<uint8_t> m_LatchedRegister;
    bool m_bRegOutputFull = false;
    uint8_t m_byRegOutput = 0;
    uint32_t m_dwRegIbfPolls = 0;
    uint32_t m_dwRegObfPolls = 0;
};

} // namespace svcproc::sim
