// Faults armed from the control socket. Each fault holds for a number of
// packet transactions (one by default); the latency holds until changed.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string_view>

namespace svcproc::sim {

enum class FaultKind : uint8_t {
    StuckIbf,         // ST_IBF never clears after the transaction's first write
    NoResponse,       // the request is taken, no response byte is ever offered
    ErrorMidResponse, // ST_ERROR rises once half of the response has been read
    HostBusy,         // ST_HOST_BUSY reads as set before the host sets it
    Count64,          // the response's count byte is 64
    BadChecksum,      // the response's checksum is off by one
    WrongType,        // the response's type byte is that of another command
    FewReadings,      // one reading fewer than the board has
    ManyReadings,     // one reading more than the board has
};
inline constexpr size_t kFaultKindCount = 9;
using FaultSet = std::bitset<kFaultKindCount>;

std::optional<FaultKind> FaultFromName(std::string_view name);
std::string_view FaultName(FaultKind kind);
// Every fault name, for usage texts.
std::string_view FaultNameList();

class CFaultPlan {
public:
    void Arm(FaultKind kind, uint32_t transactions) { m_dwRemaining[Index(kind)] = transactions; }
    void Clear() { m_dwRemaining.fill(0); }
    uint32_t Remaining(FaultKind kind) const { return m_dwRemaining[Index(kind)]; }
    // Uses up one transaction of the fault; false when none was left.
    bool Consume(FaultKind kind);
    // The faults that apply to a transaction starting now (ST_HOST_BUSY is
    // decided before a transaction can start, so it is never part of it).
    FaultSet TransactionFaults() const;
    void ConsumeAll(const FaultSet& used);

private:
    static size_t Index(FaultKind kind) { return static_cast<size_t>(kind); }
    std::array<uint32_t, kFaultKindCount> m_dwRemaining{};
};

} // namespace svcproc::sim
