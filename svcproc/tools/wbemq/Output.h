// How wbemq prints objects: an aligned table or one JSON object per line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "WbemWire.h"

namespace wbemq {

std::string ValueText(const svcproc::wbemwire::Value& value);

// One row per object: the readable summary columns (sensors: name, reading, state and
// limits in their unit; LEDs: name and on/off), then one column per raw property (in order
// of appearance). `brief`: the summary columns alone, where the objects have them.
void PrintTable(std::ostream& out, const std::vector<svcproc::wbemwire::Object>& objects,
                bool brief = false);
// One object as aligned "property  value" lines, a reading or an LED state followed by its
// readable text: "CurrentReading  3300  (3.300 V)".
void PrintObject(std::ostream& out, const svcproc::wbemwire::Object& object);
// One line: property names as keys, null for properties without a value.
void PrintJson(std::ostream& out, const svcproc::wbemwire::Object& object);

// "access denied (0x80041003)", with the endpoint's reason when it adds one.
std::string ErrorText(int32_t hresult, const std::string& reason);

} // namespace wbemq
