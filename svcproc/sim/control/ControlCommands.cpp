#include <charconv>
#include <cstdio>
#include <optional>
#include <vector>

#include "control/ControlProtocol.h"

namespace svcproc::sim {
namespace {

std::vector<std::string_view> SplitWords(std::string_view line) {
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) {
            ++i;
        }
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

std::optional<uint32_t> ParseNumber(std::string_view text, uint32_t max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<SensorKind> ParseKind(std::string_view text) {
    if (text == "voltage") {
        return SensorKind::Voltage;
    }
    if (text == "fan") {
        return SensorKind::Fan;
    }
    if (text == "temperature") {
        return SensorKind::Temperature;
    }
    return std::nullopt;
}

std::optional<bool> ParseSwitch(std::string_view text) {
    if (text == "on") {
        return true;
    }
    if (text == "off") {
        return false;
    }
    return std::nullopt;
}

std::string Error(std::string_view reason) {
    return "error " + std::string(reason) + "\n";
}

const char* KindName(SensorKind kind) {
    switch (kind) {
    case SensorKind::Voltage:
        return "voltage";
    case SensorKind::Fan:
        return "fan";
    case SensorKind::Temperature:
        break;
    }
    return "temperature";
}

struct SensorAddress {
    SensorKind m_Kind;
    size_t m_nPosition;
};

// KIND POS at words[1] and words[2], checked against the board.
std::optional<SensorAddress> ParseSensor(const CServiceProcessorModel& model,
                                         const std::vector<std::string_view>& words,
                                         std::string* error) {
    const auto kind = ParseKind(words[1]);
    if (!kind) {
        *error =
            Error("unknown kind '" + std::string(words[1]) + "' (voltage, fan or temperature)");
        return std::nullopt;
    }
    const auto position = ParseNumber(words[2], 0xFFFF);
    if (!position || *position >= model.Count(*kind)) {
        *error =
            Error("no " + std::string(KindName(*kind)) + " at position " + std::string(words[2]) +
                  " (the board has " + std::to_string(model.Count(*kind)) + ")");
        return std::nullopt;
    }
    return SensorAddress{*kind, *position};
}

std::string DoSet(CServiceProcessorModel& model, const std::vector<std::string_view>& words) {
    if (words.size() != 4) {
        return Error("usage: set KIND POS RAW");
    }
    std::string error;
    const auto sensor = ParseSensor(model, words, &error);
    if (!sensor) {
        return error;
    }
    const uint32_t max = sensor->m_Kind == SensorKind::Temperature ? 0xFF : 0xFFFF;
    const auto raw = ParseNumber(words[3], max);
    if (!raw) {
        return Error("raw value '" + std::string(words[3]) + "' is not a number from 0 to " +
                     std::to_string(max));
    }
    model.SetRaw(sensor->m_Kind, sensor->m_nPosition, static_cast<uint16_t>(*raw));
    return "ok\n";
}

std::string DoAlert(CServiceProcessorModel& model, const std::vector<std::string_view>& words) {
    if (words.size() != 4) {
        return Error("usage: alert KIND POS on|off");
    }
    std::string error;
    const auto sensor = ParseSensor(model, words, &error);
    if (!sensor) {
        return error;
    }
    const auto on = ParseSwitch(words[3]);
    if (!on) {
        return Error("expected on or off, not '" + std::string(words[3]) + "'");
    }
    model.ForceAlert(sensor->m_Kind, sensor->m_nPosition, *on);
    return "ok\n";
}

std::string DoLed(CServiceProcessorModel& model, const std::vector<std::string_view>& words) {
    if (words.size() != 3) {
        return Error("usage: led MASK on|off");
    }
    const auto mask = ParseNumber(words[1], 0xFFFF);
    if (!mask) {
        return Error("mask '" + std::string(words[1]) + "' is not a 16-bit number");
    }
    const auto on = ParseSwitch(words[2]);
    if (!on) {
        return Error("expected on or off, not '" + std::string(words[2]) + "'");
    }
    model.SetLeds(static_cast<uint16_t>(*mask), *on);
    return "ok\n";
}

std::string DoFault(CServiceProcessorModel& model, const std::vector<std::string_view>& words) {
    if (words.size() < 2 || words.size() > 3) {
        return Error("usage: fault NAME [COUNT] | fault latency POLLS | fault clear");
    }
    if (words[1] == "clear" && words.size() == 2) {
        model.ClearFaults();
        model.SetLatency(0);
        return "ok\n";
    }
    if (words[1] == "latency") {
        const auto polls = words.size() == 3 ? ParseNumber(words[2], 0xFFFFFFFFu) : std::nullopt;
        if (!polls) {
            return Error("usage: fault latency POLLS");
        }
        model.SetLatency(*polls);
        return "ok\n";
    }
    const auto kind = FaultFromName(words[1]);
    if (!kind) {
        return Error("unknown fault '" + std::string(words[1]) + "' (" +
                     std::string(FaultNameList()) + ", latency, clear)");
    }
    const auto count = words.size() == 3 ? ParseNumber(words[2], 0xFFFFFFFFu) : 1u;
    if (!count) {
        return Error("count '" + std::string(words[2]) + "' is not a number");
    }
    model.ArmFault(*kind, *count);
    return "ok\n";
}

std::string DoGet(CServiceProcessorModel& model, const std::vector<std::string_view>& words) {
    if (words.size() != 3) {
        return Error("usage: get KIND POS");
    }
    std::string error;
    const auto sensor = ParseSensor(model, words, &error);
    if (!sensor) {
        return error;
    }
    const bool alert =
        sensor->m_nPosition < 16 && (model.AlertMask(sensor->m_Kind) >> sensor->m_nPosition) & 1u;
    return "raw " + std::to_string(model.Raw(sensor->m_Kind, sensor->m_nPosition)) + " alert " +
           (alert ? "1" : "0") + "\nok\n";
}

std::string DoLeds(CServiceProcessorModel& model, const std::vector<std::string_view>& words) {
    if (words.size() != 1) {
        return Error("usage: leds");
    }
    char text[32];
    std::snprintf(text, sizeof text, "leds 0x%04x\nok\n", model.LedState());
    return text;
}

} // namespace

std::string ExecuteControlLine(CServiceProcessorModel& model, std::string_view line) {
    const auto words = SplitWords(line);
    if (words.empty()) {
        return Error("empty request");
    }
    const std::string_view verb = words[0];
    if (verb == "set") {
        return DoSet(model, words);
    }
    if (verb == "alert") {
        return DoAlert(model, words);
    }
    if (verb == "led") {
        return DoLed(model, words);
    }
    if (verb == "fault") {
        return DoFault(model, words);
    }
    if (verb == "get") {
        return DoGet(model, words);
    }
    if (verb == "leds") {
        return DoLeds(model, words);
    }
    if (verb == "stats" && words.size() == 1) {
        return FormatStats(model.Stats()) + "ok\n";
    }
    return Error("unknown request '" + std::string(verb) + "'");
}

} // namespace svcproc::sim
