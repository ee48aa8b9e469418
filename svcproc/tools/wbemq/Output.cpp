#include "Output.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "HResult.h"
#include "Readable.h"

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

void PrintTable(std::ostream& out, const std::vector<svcproc::wbemwire::Object>& objects,
                bool brief) {
    std::vector<std::vector<std::pair<std::string, std::string>>> summaries;
    std::vector<std::string> summaryColumns;
    for (const auto& object : objects) {
        summaries.push_back(SummaryColumns(object));
        for (const auto& [header, text] : summaries.back()) {
            if (std::find(summaryColumns.begin(), summaryColumns.end(), header) ==
                summaryColumns.end()) {
                summaryColumns.push_back(header);
            }
        }
    }
    std::vector<std::string> rawColumns;
    if (!brief || summaryColumns.empty()) {
        for (const auto& object : objects) {
            for (const auto& property : object.properties) {
                if (std::find(rawColumns.begin(), rawColumns.end(), property.name) ==
                    rawColumns.end()) {
                    rawColumns.push_back(property.name);
                }
            }
        }
    }
    std::vector<std::string> columns = summaryColumns;
    columns.insert(columns.end(), rawColumns.begin(), rawColumns.end());
    std::vector<size_t> widths;
    for (const std::string& column : columns) {
        widths.push_back(DisplayWidth(column));
    }
    auto place = [&](std::vector<std::string>& row, size_t index, std::string text) {
        widths[index] = std::max(widths[index], DisplayWidth(text));
        row[index] = std::move(text);
    };
    std::vector<std::vector<std::string>> rows;
    for (size_t n = 0; n < objects.size(); ++n) {
        std::vector<std::string> row(columns.size());
        for (const auto& [header, text] : summaries[n]) {
            size_t index = static_cast<size_t>(
                std::find(summaryColumns.begin(), summaryColumns.end(), header) -
                summaryColumns.begin());
            place(row, index, text);
        }
        for (const auto& property : objects[n].properties) {
            auto found = std::find(rawColumns.begin(), rawColumns.end(), property.name);
            if (found != rawColumns.end()) {
                size_t index =
                    summaryColumns.size() + static_cast<size_t>(found - rawColumns.begin());
                place(row, index, ValueText(property.value));
            }
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
        out << ValueText(property.value);
        if (auto readable = ReadableText(object, property.name)) {
            out << "  (" << *readable << ")";
        }
        out << '\n';
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
