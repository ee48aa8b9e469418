// Logging interface shared by the user-mode deliverables (liblog.so).
#pragma once

#include <cstdint>

enum _LOG_LEVEL : int32_t {
    LOG_ERROR = 1,
    LOG_STATUS = 2,
    LOG_INFO = 3,
    LOG_TRACE = 4,
};

#define SVCPROC_LOG_EXPORT __attribute__((visibility("default")))

// One line per call. Nothing is returned and nothing is thrown; a line that
// cannot be written is dropped.
SVCPROC_LOG_EXPORT void Log(_LOG_LEVEL level, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
SVCPROC_LOG_EXPORT void LogQuick(_LOG_LEVEL level, const char* text);
// In a WLog format, %s takes a wide string (wchar_t*), as on the platform the
// callers were written for.
SVCPROC_LOG_EXPORT void WLog(_LOG_LEVEL level, const wchar_t* format, ...);

namespace svcproc::log {
// Test hook: every line that passes the level filter is also handed to the
// sink, with its level and its text (no time stamp, no newline added). Pass
// nullptr to remove. The deliverables never call this.
using CaptureSink = void (*)(void* context, _LOG_LEVEL level, const char* text);
SVCPROC_LOG_EXPORT void SetCaptureSink(CaptureSink sink, void* context);
// Re-reads SVCPROC_LOG_LEVEL and SVCPROC_LOG_FILE (read once at load otherwise).
SVCPROC_LOG_EXPORT void ReloadConfiguration();
} // namespace svcproc::log
