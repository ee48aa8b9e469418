#include "model/FaultPlan.h"

namespace svcproc::sim {
namespace {

constexpr std::array<std::string_view, kFaultKindCount> kFaultNames = {
    "stuck_ibf",    "no_response", "error_mid_response", "host_busy",     "count64",
    "bad_checksum", "wrong_type",  "few_readings",       "many_readings",
};

} // namespace

std::optional<FaultKind> FaultFromName(std::string_view name) {
    for (size_t i = 0; i < kFaultNames.size(); ++i) {
        if (kFaultNames[i] == name) {
            return static_cast<FaultKind>(i);
        }
    }
    return std::nullopt;
}

std::string_view FaultName(FaultKind kind) {
    return kFaultNames[static_cast<size_t>(kind)];
}

std::string_view FaultNameList() {
    return "stuck_ibf, no_response, error_mid_response, host_busy, count64, bad_checksum, "
           "wrong_type, few_readings, many_readings";
}

bool CFaultPlan::Consume(FaultKind kind) {
    uint32_t& remaining = m_dwRemaining[Index(kind)];
    if (remaining == 0) {
        return false;
    }
    --remaining;
    return true;
}

FaultSet CFaultPlan::TransactionFaults() const {
    FaultSet set;
    for (size_t i = 0; i < kFaultKindCount; ++i) {
        set[i] = m_dwRemaining[i] > 0 && static_cast<FaultKind>(i) != FaultKind::HostBusy;
    }
    return set;
}

void CFaultPlan::ConsumeAll(const FaultSet& used) {
    for (size_t i = 0; i < kFaultKindCount; ++i) {
        if (used[i]) {
            Consume(static_cast<FaultKind>(i));
        }
    }
}

} // namespace svcproc::sim
