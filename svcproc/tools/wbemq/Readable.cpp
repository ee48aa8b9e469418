#include "Readable.h"

#include <cstdio>
#include <cstdlib>

#include "Output.h"

namespace wbemq {
namespace {

using svcproc::wbemwire::Object;
using svcproc::wbemwire::Value;

// Readings and limits that UnitModifier scales, with their summary headers.
struct ScaledProperty {
    const char* name;
    const char* header;
};
constexpr ScaledProperty kScaled[] = {
    {"CurrentReading", "Reading"},
    {"LowerThresholdFatal", "Low fatal"},
    {"LowerThresholdCritical", "Low critical"},
    {"LowerThresholdNonCritical", "Low warning"},
    {"UpperThresholdNonCritical", "High warning"},
    {"UpperThresholdCritical", "High critical"},
    {"UpperThresholdFatal", "High fatal"},
    {"NominalReading", nullptr},
    {"MaxReadable", nullptr},
    {"MinReadable", nullptr},
    {"Resolution", nullptr},
};

const Value* Find(const Object& object, const std::string& name) {
    for (const auto& property : object.properties) {
        if (property.name == name) {
            return &property.value;
        }
    }
    return nullptr;
}

std::optional<int64_t> Number(const Value* value) {
    if (value == nullptr) {
        return std::nullopt;
    }
    switch (value->kind) {
    case Value::Kind::Integer:
        return value->integer;
    case Value::Kind::Unsigned:
        if (value->unsignedValue <= static_cast<uint64_t>(INT64_MAX)) {
            return static_cast<int64_t>(value->unsignedValue);
        }
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

bool IsScaled(const std::string& property) {
    for (const auto& scaled : kScaled) {
        if (property == scaled.name) {
            return true;
        }
    }
    return false;
}

// Strings with a space or a quote are quoted, so the line splits back into its fields.
std::string EventField(const Value& value) {
    std::string text = ValueText(value);
    bool plain = !text.empty() && text.find_first_of(" \"=\\") == std::string::npos;
    if (value.kind != Value::Kind::String || plain) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + '"';
}

} // namespace

std::string UnitSymbol(int64_t baseUnits) {
    switch (baseUnits) {
    case 2:
        return "°C";
    case 3:
        return "°F";
    case 4:
        return "K";
    case 5:
        return "V";
    case 6:
        return "A";
    case 7:
        return "W";
    case 19:
        return "rpm";
    default:
        return "";
    }
}

std::string ScaledText(int64_t raw, int64_t unitModifier, int64_t baseUnits) {
    std::string unit = UnitSymbol(baseUnits);
    std::string number;
    if (unitModifier >= 0) {
        // Whole numbers; past 18 digits the raw number is all that is sure.
        if (unitModifier > 18) {
            return std::to_string(raw) + "e" + std::to_string(unitModifier) +
                   (unit.empty() ? "" : " " + unit);
        }
        number = std::to_string(raw);
        if (raw != 0) {
            number += std::string(static_cast<size_t>(unitModifier), '0');
        }
    } else {
        size_t decimals = static_cast<size_t>(unitModifier < -18 ? 18 : -unitModifier);
        // Digits of |raw| as text, so no rounding error creeps in.
        uint64_t magnitude =
            raw < 0 ? static_cast<uint64_t>(-(raw + 1)) + 1 : static_cast<uint64_t>(raw);
        std::string digits = std::to_string(magnitude);
        if (digits.size() <= decimals) {
            digits.insert(0, decimals + 1 - digits.size(), '0');
        }
        number = (raw < 0 ? "-" : "") + digits.substr(0, digits.size() - decimals) + "." +
                 digits.substr(digits.size() - decimals);
    }
    return unit.empty() ? number : number + " " + unit;
}

std::string AlarmStateText(int64_t alarmState) {
    switch (alarmState) {
    case 1:
        return "off";
    case 2:
        return "on";
    case 3:
        return "alternating";
    default:
        return "unknown";
    }
}

std::optional<std::string> ReadableText(const Object& object, const std::string& property) {
    const Value* value = Find(object, property);
    auto number = Number(value);
    if (!number) {
        return std::nullopt;
    }
    if (property == "AlarmState") {
        return AlarmStateText(*number);
    }
    auto modifier = Number(Find(object, "UnitModifier"));
    auto units = Number(Find(object, "BaseUnits"));
    if (IsScaled(property) && modifier && units) {
        return ScaledText(*number, *modifier, *units);
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> SummaryColumns(const Object& object) {
    std::vector<std::pair<std::string, std::string>> columns;
    bool sensor = Find(object, "CurrentReading") != nullptr;
    bool led = Find(object, "AlarmState") != nullptr;
    if (!sensor && !led) {
        return columns;
    }
    const Value* name = Find(object, "Name");
    columns.emplace_back("Name", name ? ValueText(*name) : "");
    if (led) {
        columns.emplace_back("LED", ReadableText(object, "AlarmState").value_or("-"));
        return columns;
    }
    for (const auto& scaled : kScaled) {
        if (scaled.header == nullptr) {
            continue;
        }
        columns.emplace_back(scaled.header, ReadableText(object, scaled.name).value_or("-"));
        if (std::string(scaled.name) == "CurrentReading") {
            const Value* state = Find(object, "CurrentState");
            columns.emplace_back("State", state ? ValueText(*state) : "-");
        }
    }
    return columns;
}

std::string EventLine(const Object& event, int64_t whenMs) {
    std::time_t seconds = static_cast<std::time_t>(whenMs / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[40];
    size_t used = std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(stamp + used, sizeof(stamp) - used, ".%03d", static_cast<int>(whenMs % 1000));
    std::string line = stamp;
    if (!event.className.empty()) {
        line += " " + event.className;
    }
    // The key first, so lines of one sensor line up.
    if (const Value* name = Find(event, "Name")) {
        line += " Name=" + EventField(*name);
    }
    for (const auto& property : event.properties) {
        if (property.name != "Name") {
            line += " " + property.name + "=" + EventField(property.value);
        }
    }
    return line;
}

} // namespace wbemq
