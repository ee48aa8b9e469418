// Collects the log lines written while it lives (trace level included).
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "Log.h"

class LogCapture {
public:
    LogCapture();
    ~LogCapture();

    std::vector<std::string> Lines() const;
    bool Contains(const std::string& text) const;
    int Count(const std::string& text) const;
    // The index of the first line equal to `text` at or after `from`, or -1.
    int IndexOf(const std::string& text, int from = 0) const;
    void Clear();

private:
    static void Sink(void* context, _LOG_LEVEL level, const char* text);
    mutable std::mutex m_Mutex;
    std::vector<std::string> m_vLines;
};
