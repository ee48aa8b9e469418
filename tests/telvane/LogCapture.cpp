#include "LogCapture.h"

#include <algorithm>
#include <cstdlib>

LogCapture::LogCapture() {
    setenv("SVCPROC_LOG_LEVEL", "4", 1);
    svcproc::log::ReloadConfiguration();
    svcproc::log::SetCaptureSink(&LogCapture::Sink, this);
}

LogCapture::~LogCapture() {
    svcproc::log::SetCaptureSink(nullptr, nullptr);
}

void LogCapture::Sink(void* context, _LOG_LEVEL, const char* text) {
    auto* self = static_cast<LogCapture*>(context);
    std::lock_guard<std::mutex> lock(self->m_Mutex);
    self->m_vLines.emplace_back(text);
}

std::vector<std::string> LogCapture::Lines() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_vLines;
}

bool LogCapture::Contains(const std::string& text) const {
    return IndexOf(text) >= 0;
}

int LogCapture::Count(const std::string& text) const {
    auto lines = Lines();
    return static_cast<int>(std::count(lines.begin(), lines.end(), text));
}

int LogCapture::IndexOf(const std::string& text, int from) const {
    auto lines = Lines();
    for (size_t i = static_cast<size_t>(std::max(from, 0)); i < lines.size(); ++i) {
        if (lines[i] == text) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_vLines.clear();
}
