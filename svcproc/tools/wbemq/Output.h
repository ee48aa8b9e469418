// How wbemq prints objects: an aligned table or one JSON object per line.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "WbemWire.h"

namespace wbemq {

std::string ValueText(const svcproc::wbemwire::Value& value);

// One row per object, one column per property (in order of appearance).
void PrintTable(std::ostream& out, const std::vector<svcproc::wbemwire::Object>& objects);
// One object as aligned "property  value" lines.
void PrintObject(std::ostream& out, const svcproc::wbemwire::Object& object);
// One line: property names as keys, null for properties without a value.
void PrintJson(std::ostream& out, const svcproc::wbemwire::Object& object);

// "access denied (0x80041003)", with the endpoint's reason when it adds one.
std::string ErrorText(int32_t hresult, const std::string& reason);

} // namespace wbemq
