// Captures the log lines of a test through liblog's capture hook.
#pragma once

#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Log.h"

class LogCapture {
public:
    struct Line {
        _LOG_LEVEL level;
        std::string text;
    };

    explicit LogCapture(const char* level = "4") {
        setenv("SVCPROC_LOG_LEVEL", level, 1);
        svcproc::log::ReloadConfiguration();
        svcproc::log::SetCaptureSink(&LogCapture::Sink, this);
    }
    ~LogCapture() { svcproc::log::SetCaptureSink(nullptr, nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> Lines() const {
        std::lock_guard<std::mutex> guard(*m_pMutex);
        return m_vLines;
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& line : Lines()) {
            texts.push_back(line.text);
        }
        return texts;
    }
    size_t Count(const std::string& text) const {
        size_t count = 0;
        for (const auto& line : Lines()) {
            count += line.text == text ? 1 : 0;
        }
        return count;
    }
    bool Has(const std::string& text, _LOG_LEVEL level) const {
        for (const auto& line : Lines()) {
            if (line.text == text && line.level == level) {
                return true;
            }
        }
        return false;
    }
    // Index of the first line equal to text, or -1.
    long IndexOf(const std::string& text) const {
        auto lines = Lines();
        for (size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].text == text) {
                return static_cast<long>(i);
            }
        }
        return -1;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(*m_pMutex);
        m_vLines.clear();
    }

private:
    static void Sink(void* context, _LOG_LEVEL level, const char* text) {
        auto* self = static_cast<LogCapture*>(context);
        std::lock_guard<std::mutex> guard(*self->m_pMutex);
        self->m_vLines.push_back({level, text});
    }

    // On the heap: a mutex in a stack object is never destroyed for TSan, so a
    // later stack mutex at the same address would be taken for it and show a
    // lock cycle that does not exist.
    std::unique_ptr<std::mutex> m_pMutex = std::make_unique<std::mutex>();
    std::vector<Line> m_vLines;
};
