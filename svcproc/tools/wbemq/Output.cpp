#include "Output.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "HResult.h"

namespace wbemq {
namespace {

using svcproc::wbemwire::Value;

nlohmann::ordered_json JsonValue(const Value& value) {
    switch (value.kind) {
    case Value::Kind::Null:
        return nullptr;
    case Value::Kind::Boolean:
        return value.boolean;
    case Value::Kind::Integer:
        return value.integer;
    case Value::Kind::Unsigned:
        return value.unsignedValue;
    case Value::Kind::Real:
        return value.real;
    case Value::Kind::String:
        return value.text;
    case Value::Kind::Array: {
        auto array = nlohmann::ordered_json::array();
        for (const Value& item : value.items) {
            array.push_back(JsonValue(item));
        }
        return array;
    }
    }
    return nullptr;
}

// Columns are measured in characters, not bytes.
size_t DisplayWidth(const std::string& text) {
    return static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

void Padded(std::ostream& out, const std::string& text, size_t width) {
    out << text << std::string(width - DisplayWidth(text), ' ');
}

} // namespace

std::string ValueText(const Value& value) {
    switch (value.kind) {
    case Value::Kind::Null:
        return "";
    case Value::Kind::Boolean:
        return value.boolean ? "TRUE" : "FALSE";
    case Value::Kind::Integer:
        return std::to_string(value.integer);
    case Value::Kind::Unsigned:
        return std::to_string(value.unsignedValue);
    case Value::Kind::Real: {
        char text[64];
        std::snprintf(text, sizeof(text), "%g", value.real);
        return text;
    }
    case Value::Kind::String:
        return value.text;
    case Value::Kind::Array: {
        std::string text = "{";
        for (size_t i = 0; i < value.items.size(); ++i) {
            text += (i == 0 ? "" : ", ") + ValueText(value.items[i]);
        }
        return text + "}";
    }
    }
    return "";
}

void PrintTable(std::ostream& out, const std::vector<svcproc::wbemwire::Object>& objects) {
    std::vector<std::string> columns;
    for (const auto& object : objects) {
        for (const auto& property : object.properties) {
            if (std::find(columns.begin(), columns.end(), property.name) == columns.end()) {
                columns.push_back(property.name);
            }
        }
    }
    std::vector<std::vector<std::string>> rows;
    std::vector<size_t> widths;
    for (const std::string& column : columns) {
        widths.push_back(DisplayWidth(column));
    }
    for (const auto& object : objects) {
        std::vector<std::string> row(columns.size());
        for (const auto& property : object.properties) {
            size_t index = static_cast<size_t>(
                std::find(columns.begin(), columns.end(), property.name) - columns.begin());
            row[index] = ValueText(property.value);
            widths[index] = std::max(widths[index], DisplayWidth(row[index]));
        }
        rows.push_back(std::move(row));
    }
    auto printRow = [&](const std::vector<std::string>& cells) {
        for (size_t i = 0; i < cells.size(); ++i) {
            if (i + 1 < cells.size()) {
                Padded(out, cells[i], widths[i] + 2);
            } else {
                out << cells[i];
            }
        }
        out << '\n';
    };
    if (!columns.empty()) {
        printRow(columns);
    }
    for (const auto& row : rows) {
        printRow(row);
    }
}

void PrintObject(std::ostream& out, const svcproc::wbemwire::Object& object) {
    size_t width = 0;
    for (const auto& property : object.properties) {
        width = std::max(width, DisplayWidth(property.name));
    }
    for (const auto& property : object.properties) {
        Padded(out, property.name, width + 2);
        out << ValueText(property.value) << '\n';
    }
}

void PrintJson(std::ostream& out, const svcproc::wbemwire::Object& object) {
    nlohmann::ordered_json line = nlohmann::ordered_json::object();
    for (const auto& property : object.properties) {
        line[property.name] = JsonValue(property.value);
    }
    out << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

std::string ErrorText(int32_t hresult, const std::string& reason) {
    const char* words = svcproc::com::HResultText(hresult);
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08x", static_cast<unsigned>(hresult));
    std::string text = std::string(words != nullptr ? words : "error") + " (" + code + ")";
    if (!reason.empty() && (words == nullptr || reason != words)) {
        text += ": " + reason;
    }
    return text;
}

} // namespace wbemq
