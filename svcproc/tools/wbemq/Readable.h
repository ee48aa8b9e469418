// Readable forms of raw property values: readings and thresholds in their real
// unit, LED states as words, events as one time-stamped line.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "WbemWire.h"

namespace wbemq {

// Unit symbol of a BaseUnits code ("V", "°C", "rpm"); empty for codes we do not name.
std::string UnitSymbol(int64_t baseUnits);

// raw × 10^unitModifier with as many decimals as the modifier takes away, then the
// unit: 3300, -3, 5 gives "3.300 V"; 2400, 0, 19 gives "2400 rpm".
std::string ScaledText(int64_t raw, int64_t unitModifier, int64_t baseUnits);

// AlarmState of an LED: "on" (steady), "alternating", "off", or "unknown".
std::string AlarmStateText(int64_t alarmState);

// The readable text of one property of an object, if it has one: scaled readings and
// thresholds of objects with UnitModifier and BaseUnits, LED states.
std::optional<std::string> ReadableText(const svcproc::wbemwire::Object& object,
                                        const std::string& property);

// Readable summary columns of an object (name, reading, state, thresholds; or name and
// LED) as (header, text) pairs; empty for objects with nothing to summarise.
std::vector<std::pair<std::string, std::string>>
SummaryColumns(const svcproc::wbemwire::Object& object);

// "2026-12-11 10:24:33.123 VQX_SpNumericSensorAlert Name="VCC 3.3V(00010000)"
// CurrentState=Critical" with the local time of `when` (milliseconds since the epoch).
std::string EventLine(const svcproc::wbemwire::Object& event, int64_t whenMs);

} // namespace wbemq
