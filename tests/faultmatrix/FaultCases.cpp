#include "FaultCases.h"

#include <cstdio>

namespace faultmatrix {
namespace {

constexpr uint32_t kSuccess = 0;
constexpr uint32_t kTimeout = 0xC00000B5;       // a wait ran out
constexpr uint32_t kDeviceState = 0xC0000184;   // ST_HOST_BUSY found set
constexpr uint32_t kProtocolError = 0xC0000186; // ST_ERROR while reading, count of 64

const Fault kStuckIbf{"stuck_ibf", "fault stuck_ibf 1"};
const Fault kNoResponse{"no_response", "fault no_response 1"};
const Fault kErrorMid{"error_mid_response", "fault error_mid_response 1"};
const Fault kHostBusy{"host_busy", "fault host_busy 1"};
const Fault kCount64{"count64", "fault count64 1"};
const Fault kBadChecksum{"bad_checksum", "fault bad_checksum 1"};
const Fault kWrongType{"wrong_type", "fault wrong_type 1"};
const Fault kFewReadings{"few_readings", "fault few_readings 1"};
const Fault kManyReadings{"many_readings", "fault many_readings 1"};
// Well inside the 10000 polls of a wait, and twice beyond them.
const Fault kLatencyWithin{"latency_100", "fault latency 100"};
const Fault kLatencyBeyond{"latency_20000", "fault latency 20000"};

const std::string kTimedOut = IoctlFailed(ERROR_SEM_TIMEOUT);
const std::string kIoDevice = IoctlFailed(ERROR_IO_DEVICE);
const std::string kBadCommand = IoctlFailed(ERROR_BAD_COMMAND);

constexpr const char* kPacketOnly =
    "no meaning: the register channel has no transaction, error bit or packet, so a packet "
    "fault never reaches it; checked that it works while the fault is armed";

std::vector<Case> BuildCases() {
    using O = Op;
    using R = Outcome;
    return {
        // A stuck ST_IBF: the first byte written is never taken.
        {&kStuckIbf, O::ReadVoltages, kTimeout, R::Kept, {kTimedOut}, ""},
        {&kStuckIbf, O::ReadFans, kTimeout, R::Kept, {kTimedOut}, ""},
        {&kStuckIbf, O::ReadTemperatures, kTimeout, R::Kept, {kTimedOut}, ""},
        {&kStuckIbf, O::ReadLeds, kTimeout, R::Kept, {kTimedOut}, ""},
        {&kStuckIbf, O::AlertPoll, kTimeout, R::AlertKept, {kTimedOut}, "not acknowledged"},
        {&kStuckIbf, O::RegisterRead, kSuccess, R::NotIssued, {}, kPacketOnly},
        {&kStuckIbf, O::RegisterWrite, kSuccess, R::NotIssued, {}, kPacketOnly},

        // The request is taken, no response byte ever comes.
        {&kNoResponse, O::ReadVoltages, kTimeout, R::Kept, {kTimedOut}, ""},
        {&kNoResponse, O::ReadFans, kTimeout, R::Kept, {kTimedOut}, ""},
        {&kNoResponse, O::ReadTemperatures, kTimeout, R::Kept, {kTimedOut}, ""},
        {&kNoResponse, O::ReadLeds, kTimeout, R::Kept, {kTimedOut}, ""},
        {&kNoResponse, O::AlertPoll, kTimeout, R::AlertKept, {kTimedOut}, "not acknowledged"},
        {&kNoResponse, O::RegisterRead, kSuccess, R::NotIssued, {}, kPacketOnly},
        {&kNoResponse, O::RegisterWrite, kSuccess, R::NotIssued, {}, kPacketOnly},

        // ST_ERROR rises half-way through the response.
        {&kErrorMid, O::ReadVoltages, kProtocolError, R::Kept, {kIoDevice}, ""},
        {&kErrorMid, O::ReadFans, kProtocolError, R::Kept, {kIoDevice}, ""},
        {&kErrorMid, O::ReadTemperatures, kProtocolError, R::Kept, {kIoDevice}, ""},
        {&kErrorMid, O::ReadLeds, kProtocolError, R::Kept, {kIoDevice}, ""},
        {&kErrorMid, O::AlertPoll, kProtocolError, R::AlertKept, {kIoDevice}, "not acknowledged"},
        {&kErrorMid, O::RegisterRead, kSuccess, R::NotIssued, {}, kPacketOnly},
        {&kErrorMid, O::RegisterWrite, kSuccess, R::NotIssued, {}, kPacketOnly},

        // ST_HOST_BUSY already set: the transaction is refused before any write.
        {&kHostBusy, O::ReadVoltages, kDeviceState, R::Kept, {kBadCommand}, ""},
        {&kHostBusy, O::ReadFans, kDeviceState, R::Kept, {kBadCommand}, ""},
        {&kHostBusy, O::ReadTemperatures, kDeviceState, R::Kept, {kBadCommand}, ""},
        {&kHostBusy, O::ReadLeds, kDeviceState, R::Kept, {kBadCommand}, ""},
        {&kHostBusy, O::AlertPoll, kDeviceState, R::AlertKept, {kBadCommand}, ""},
        {&kHostBusy, O::RegisterRead, kSuccess, R::NotIssued, {}, kPacketOnly},
        {&kHostBusy, O::RegisterWrite, kSuccess, R::NotIssued, {}, kPacketOnly},

        // A response count byte of 64.
        {&kCount64, O::ReadVoltages, kProtocolError, R::Kept, {kIoDevice}, ""},
        {&kCount64, O::ReadFans, kProtocolError, R::Kept, {kIoDevice}, ""},
        {&kCount64, O::ReadTemperatures, kProtocolError, R::Kept, {kIoDevice}, ""},
        {&kCount64, O::ReadLeds, kProtocolError, R::Kept, {kIoDevice}, ""},
        {&kCount64, O::AlertPoll, kProtocolError, R::AlertKept, {kIoDevice}, "not acknowledged"},
        {&kCount64, O::RegisterRead, kSuccess, R::NotIssued, {}, kPacketOnly},
        {&kCount64, O::RegisterWrite, kSuccess, R::NotIssued, {}, kPacketOnly},

        // The driver moves the bytes without looking: only the library sees it.
        {&kBadChecksum, O::ReadVoltages, kSuccess, R::Kept, {}, "dropped without a line"},
        {&kBadChecksum, O::ReadFans, kSuccess, R::Kept, {}, "dropped without a line"},
        {&kBadChecksum, O::ReadTemperatures, kSuccess, R::Kept, {}, "dropped without a line"},
        {&kBadChecksum, O::ReadLeds, kSuccess, R::Kept, {}, "dropped without a line"},
        {&kBadChecksum,
         O::AlertPoll,
         kSuccess,
         R::AlertKept,
         {"CIOUnit::PollAlerts - Invalid Response Packet\n"},
         "the driver does not acknowledge a response that does not add up, so the alert is "
         "offered again"},
        {&kBadChecksum, O::RegisterRead, kSuccess, R::NotIssued, {}, kPacketOnly},
        {&kBadChecksum, O::RegisterWrite, kSuccess, R::NotIssued, {}, kPacketOnly},

        // The type byte of another command (voltages answer as fans, fans as
        // temperatures, temperatures and LEDs as voltages).
        {&kWrongType,
         O::ReadVoltages,
         kSuccess,
         R::Kept,
         {"CIOUnit::UpdateVoltages - Type 0xa2 not Voltage"},
         ""},
        {&kWrongType,
         O::ReadFans,
         kSuccess,
         R::Kept,
         {"CIOUnit::UpdateFans - Type 0xa4 not Fan"},
         ""},
        {&kWrongType,
         O::ReadTemperatures,
         kSuccess,
         R::Kept,
         {"CIOUnit::UpdateTemperatures - Type 0xa6 not Temperature"},
         ""},
        {&kWrongType,
         O::ReadLeds,
         kSuccess,
         R::Kept,
         {"CIOUnit::UpdateLeds - Type 0xa6 not LED"},
         ""},
        {&kWrongType,
         O::AlertPoll,
         kSuccess,
         R::AlertAsFans,
         {"CIOUnit::ProcessFanAlerts - Number of fan readings 4 does not agree with SMBIOS 3",
          "CFanMap::UpdateReading - cannot find SmbiosIndex 3 in Map"},
         "a voltage alert typed as fans is a well-formed fan alert: nothing can tell it apart; "
         "the acknowledgement names the wrong type, so the real alert stays pending"},
        {&kWrongType, O::RegisterRead, kSuccess, R::NotIssued, {}, kPacketOnly},
        {&kWrongType, O::RegisterWrite, kSuccess, R::NotIssued, {}, kPacketOnly},

        // One reading fewer than the board has: stored as far as it goes.
        {&kFewReadings,
         O::ReadVoltages,
         kSuccess,
         R::Stored,
         {"CIOUnit::UpdateVoltages - Number of voltage readings 3 does not agree with SMBIOS 4"},
         ""},
        {&kFewReadings,
         O::ReadFans,
         kSuccess,
         R::Stored,
         {"CIOUnit::UpdateFans - Number of fan readings 2 does not agree with SMBIOS 3"},
         ""},
        {&kFewReadings,
         O::ReadTemperatures,
         kSuccess,
         R::Stored,
         {"CIOUnit::UpdateTemperatures - Number of temperature readings 1 does not agree with "
          "SMBIOS 2"},
         ""},
        {&kFewReadings,
         O::ReadLeds,
         kSuccess,
         R::Kept,
         {"CIOUnit::UpdateLeds - Count/Length 0x02/0x03 not correct for read LED state"},
         "an LED response without its word changes no state"},
        {&kFewReadings,
         O::AlertPoll,
         kSuccess,
         R::AlertReported,
         {"CIOUnit::ProcessVoltageAlerts - Number of voltage readings 3 does not agree with "
          "SMBIOS 4"},
         ""},
        {&kFewReadings, O::RegisterRead, kSuccess, R::NotIssued, {}, kPacketOnly},
        {&kFewReadings, O::RegisterWrite, kSuccess, R::NotIssued, {}, kPacketOnly},

        // One reading more than the board has: the extra one has no sensor.
        {&kManyReadings,
         O::ReadVoltages,
         kSuccess,
         R::Stored,
         {"CIOUnit::UpdateVoltages - Number of voltage readings 5 does not agree with SMBIOS 4",
          "CVoltageMap::UpdateReading - cannot find SmbiosIndex 4 in Map"},
         ""},
        {&kManyReadings,
         O::ReadFans,
         kSuccess,
         R::Stored,
         {"CIOUnit::UpdateFans - Number of fan readings 4 does not agree with SMBIOS 3",
          "CFanMap::UpdateReading - cannot find SmbiosIndex 3 in Map"},
         ""},
        {&kManyReadings,
         O::ReadTemperatures,
         kSuccess,
         R::Stored,
         {"CIOUnit::UpdateTemperatures - Number of temperature readings 3 does not agree with "
          "SMBIOS 2",
          "CTemperatureMap::UpdateReading - cannot find SmbiosIndex 2 in Map"},
         ""},
        {&kManyReadings,
         O::ReadLeds,
         kSuccess,
         R::Stored,
         {"CIOUnit::UpdateLeds - Count/Length 0x06/0x07 not correct for read LED state"},
         "the word is applied anyway"},
        {&kManyReadings,
         O::AlertPoll,
         kSuccess,
         R::AlertReported,
         {"CIOUnit::ProcessVoltageAlerts - Number of voltage readings 5 does not agree with "
          "SMBIOS 4",
          "CVoltageMap::UpdateReading - cannot find SmbiosIndex 4 in Map"},
         ""},
        {&kManyReadings, O::RegisterRead, kSuccess, R::NotIssued, {}, kPacketOnly},
        {&kManyReadings, O::RegisterWrite, kSuccess, R::NotIssued, {}, kPacketOnly},

        // Status polls before every byte, within the waits' patience.
        {&kLatencyWithin, O::ReadVoltages, kSuccess, R::Stored, {}, ""},
        {&kLatencyWithin, O::ReadFans, kSuccess, R::Stored, {}, ""},
        {&kLatencyWithin, O::ReadTemperatures, kSuccess, R::Stored, {}, ""},
        {&kLatencyWithin, O::ReadLeds, kSuccess, R::Stored, {}, ""},
        {&kLatencyWithin, O::AlertPoll, kSuccess, R::AlertReported, {}, ""},
        {&kLatencyWithin, O::RegisterRead, kSuccess, R::NotIssued, {}, "latency applies here too"},
        {&kLatencyWithin, O::RegisterWrite, kSuccess, R::NotIssued, {}, "latency applies here too"},

        // Status polls before every byte, beyond a wait's 10000 polls.
        {&kLatencyBeyond, O::ReadVoltages, kTimeout, R::Kept, {kTimedOut}, ""},
        {&kLatencyBeyond, O::ReadFans, kTimeout, R::Kept, {kTimedOut}, ""},
        {&kLatencyBeyond, O::ReadTemperatures, kTimeout, R::Kept, {kTimedOut}, ""},
        {&kLatencyBeyond, O::ReadLeds, kTimeout, R::Kept, {kTimedOut}, ""},
        {&kLatencyBeyond, O::AlertPoll, kTimeout, R::AlertKept, {kTimedOut}, ""},
        {&kLatencyBeyond, O::RegisterRead, kTimeout, R::NotIssued, {}, "latency applies here too"},
        {&kLatencyBeyond, O::RegisterWrite, kTimeout, R::NotIssued, {}, "latency applies here too"},
    };
}

const char* OpName(Op op) {
    switch (op) {
    case Op::ReadVoltages:
        return "ReadVoltages";
    case Op::ReadFans:
        return "ReadFans";
    case Op::ReadTemperatures:
        return "ReadTemperatures";
    case Op::ReadLeds:
        return "ReadLeds";
    case Op::AlertPoll:
        return "AlertPoll";
    case Op::RegisterRead:
        return "RegisterRead";
    case Op::RegisterWrite:
        break;
    }
    return "RegisterWrite";
}

} // namespace

std::string IoctlFailed(DWORD lastError) {
    char line[80];
    std::snprintf(line, sizeof line, "SvcpRequestResponse - Ioctl failed: Last Error=0x%08x",
                  static_cast<unsigned>(lastError));
    return line;
}

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = BuildCases();
    return cases;
}

std::string CaseName(const Case& c) {
    return std::string(c.fault->name) + "_" + OpName(c.op);
}

} // namespace faultmatrix
