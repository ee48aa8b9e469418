// Fixtures for the SMBIOS tests: log capture, tables written to a temporary
// file and read through the library's own acquisition path.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "Log.h"
#include "SmbiosTableBuilder.h"
#include "smbios/RawSMBios.h"

namespace smbiostest {

struct LogLine {
    int level;
    std::string text;
};

inline unsigned Address(const void* p) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}

inline std::string Format(const char* format, unsigned value) {
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

// Captures every log line (all levels) while alive; lines go nowhere else.
class LogCapture {
public:
    LogCapture() {
        setenv("SVCPROC_LOG_LEVEL", "4", 1);
        setenv("SVCPROC_LOG_FILE", "/dev/null", 1);
        svcproc::log::ReloadConfiguration();
        svcproc::log::SetCaptureSink(&LogCapture::Sink, this);
    }
    ~LogCapture() { svcproc::log::SetCaptureSink(nullptr, nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> Lines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    std::vector<std::string> Texts() {
        std::vector<std::string> texts;
        for (const LogLine& line : Lines()) {
            texts.push_back(line.text);
        }
        return texts;
    }
    std::vector<std::string> TextsAt(int level) {
        std::vector<std::string> texts;
        for (const LogLine& line : Lines()) {
            if (line.level == level) {
                texts.push_back(line.text);
            }
        }
        return texts;
    }
    bool Contains(const std::string& text) {
        for (const LogLine& line : Lines()) {
            if (line.text == text) {
                return true;
            }
        }
        return false;
    }
    // Index of the first line equal to `text` at or after `from`, or -1.
    int Find(const std::string& text, int from = 0) {
        std::vector<LogLine> lines = Lines();
        for (size_t i = static_cast<size_t>(from); i < lines.size(); ++i) {
            if (lines[i].text == text) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.clear();
    }

private:
    static void Sink(void* context, _LOG_LEVEL level, const char* text) {
        auto* self = static_cast<LogCapture*>(context);
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_lines.push_back({static_cast<int>(level), text});
    }
    std::mutex m_mutex;
    std::vector<LogLine> m_lines;
};

// A temporary directory that SVCPROC_SMBIOS_TABLE points into while alive.
class TableFile {
public:
    TableFile() {
        char pattern[] = "/tmp/smbios_tests.XXXXXX";
        const char* dir = mkdtemp(pattern);
        EXPECT_NE(dir, nullptr);
        m_dir = dir ? dir : "/tmp";
        m_path = m_dir + "/table.bin";
        setenv("SVCPROC_SMBIOS_TABLE", m_path.c_str(), 1);
    }
    ~TableFile() {
        unsetenv("SVCPROC_SMBIOS_TABLE");
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    TableFile(const TableFile&) = delete;
    TableFile& operator=(const TableFile&) = delete;

    const std::string& Path() const { return m_path; }
    std::string Dir() const { return m_dir; }
    void Write(const std::vector<uint8_t>& bytes) {
        std::string error;
        ASSERT_TRUE(svcproc::sim::WriteFile(m_path, bytes, &error)) << error;
    }
    // Points the table source at another file.
    void PointAt(const std::string& path) { setenv("SVCPROC_SMBIOS_TABLE", path.c_str(), 1); }

private:
    std::string m_dir;
    std::string m_path;
};

// A holder that has read `table` through the table source.
inline bool Load(CRawSMBios& raw, TableFile& file, const std::vector<uint8_t>& table) {
    file.Write(table);
    return raw.Initialise();
}

} // namespace smbiostest
