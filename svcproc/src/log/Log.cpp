// liblog.so: one line per call, "time level [thread] text", to stderr or to
// the file named by SVCPROC_LOG_FILE; SVCPROC_LOG_LEVEL (0..4, default 2)
// keeps the lines whose level is at or below it.
#include "Log.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <mutex>
#include <string>

namespace {

constexpr int kDefaultLevel = 2;

struct LogState {
    std::mutex mutex;
    std::atomic<int> maxLevel{kDefaultLevel};
    FILE* file = nullptr; // null: stderr
    svcproc::log::CaptureSink sink = nullptr;
    void* sinkContext = nullptr;
};

LogState& State() {
    // Never destroyed: lines may be written from static destructors of the
    // callers after this library's own statics would have gone.
    static LogState* state = new LogState;
    return *state;
}

int LevelFromEnvironment() {
    const char* text = std::getenv("SVCPROC_LOG_LEVEL");
    if (text == nullptr || *text == '\0') {
        return kDefaultLevel;
    }
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*end != '\0' || value < 0 || value > 4) {
        return kDefaultLevel;
    }
    return static_cast<int>(value);
}

void Configure(LogState& state) {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.maxLevel = LevelFromEnvironment();
    if (state.file != nullptr) {
        std::fclose(state.file);
        state.file = nullptr;
    }
    const char* path = std::getenv("SVCPROC_LOG_FILE");
    if (path != nullptr && *path != '\0') {
        state.file = std::fopen(path, "a");
        if (state.file != nullptr) {
            setvbuf(state.file, nullptr, _IOLBF, 0);
        }
    }
}

__attribute__((constructor)) void ConfigureAtLoad() { Configure(State()); }

bool Enabled(_LOG_LEVEL level) {
    return static_cast<int>(level) <= State().maxLevel.load(std::memory_order_relaxed);
}

const char* LevelName(_LOG_LEVEL level) {
    switch (level) {
    case LOG_ERROR:
        return "ERROR";
    case LOG_STATUS:
        return "STATUS";
    case LOG_INFO:
        return "INFO";
    case LOG_TRACE:
        return "TRACE";
    }
    return "LEVEL?";
}

void Emit(_LOG_LEVEL level, const char* text) {
    LogState& state = State();
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    long tid = syscall(SYS_gettid);
    size_t len = std::strlen(text);
    const char* newline = (len > 0 && text[len - 1] == '\n') ? "" : "\n";

    std::lock_guard<std::mutex> lock(state.mutex);
    FILE* out = state.file != nullptr ? state.file : stderr;
    std::fprintf(out, "%s.%03ld %-6s [%ld] %s%s", stamp, now.tv_nsec / 1000000, LevelName(level),
                 tid, text, newline);
    std::fflush(out);
    if (state.sink != nullptr) {
        state.sink(state.sinkContext, level, text);
    }
}

// glibc reads %s in a wide format as a narrow string; the callers mean wide.
std::wstring WidenStringConversions(const wchar_t* format) {
    std::wstring out;
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        out += *p;
        if (*p != L'%') {
            continue;
        }
        ++p;
        if (*p == L'%') {
            out += *p;
            continue;
        }
        while (*p != L'\0' && std::wcschr(L"-+ #0123456789.*hlLqjzt", *p) != nullptr) {
            out += *p++;
        }
        if (*p == L'\0') {
            break;
        }
        if (*p == L's' && out.back() == L'h') {
            out.pop_back(); // %hs: narrow, which glibc spells %s
        } else if (*p == L's' && out.back() != L'l') {
            out += L'l';
        }
        out += *p;
    }
    return out;
}

// The callers' %p is the platform's: bare upper-case hex digits, zero-padded
// to the field width (eight when none is given). glibc would add "0x" and
// print "(nil)" for null, so %p becomes a hex conversion of the pointer's bits.
std::string PointerConversionsAsHex(const char* format) {
    std::string out;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        const char* start = p++;
        if (*p == '%') {
            out += "%%";
            continue;
        }
        std::string spec;
        while (*p != '\0' && std::strchr("-+ #0123456789.*hlLqjzt", *p) != nullptr) {
            spec += *p++;
        }
        if (*p == '\0') {
            out.append(start, p);
            break;
        }
        if (*p != 'p') {
            out += '%';
            out += spec;
            out += *p;
            continue;
        }
        std::string width;
        for (char c : spec) {
            if (c >= '0' && c <= '9' && !(width.empty() && c == '0')) {
                width += c;
            }
        }
        out += "%0" + (width.empty() ? std::string("8") : width) + "lX";
    }
    return out;
}

} // namespace

void Log(_LOG_LEVEL level, const char* format, ...) {
    if (!Enabled(level) || format == nullptr) {
        return;
    }
    std::string rewritten;
    if (std::strchr(format, 'p') != nullptr) {
        rewritten = PointerConversionsAsHex(format);
        format = rewritten.c_str();
    }
    char buffer[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    Emit(level, buffer);
}

void LogQuick(_LOG_LEVEL level, const char* text) {
    if (!Enabled(level) || text == nullptr) {
        return;
    }
    Emit(level, text);
}

void WLog(_LOG_LEVEL level, const wchar_t* format, ...) {
    if (!Enabled(level) || format == nullptr) {
        return;
    }
    std::wstring fixed = WidenStringConversions(format);
    wchar_t wide[2048];
    va_list args;
    va_start(args, format);
    int n = std::vswprintf(wide, sizeof wide / sizeof wide[0], fixed.c_str(), args);
    va_end(args);
    if (n < 0) {
        // Truncated or unconvertible: keep what was written.
        wide[sizeof wide / sizeof wide[0] - 1] = L'\0';
    }
    std::mbstate_t mb{};
    const wchar_t* src = wide;
    char narrow[4096];
    size_t len = std::wcsrtombs(narrow, &src, sizeof narrow - 1, &mb);
    if (len == static_cast<size_t>(-1)) {
        // Not representable in the current locale: write code points below
        // 0x80 as they are and the rest as '?'.
        size_t i = 0;
        for (const wchar_t* p = wide; *p != L'\0' && i < sizeof narrow - 1; ++p) {
            narrow[i++] = (*p < 0x80) ? static_cast<char>(*p) : '?';
        }
        len = i;
    }
    narrow[len < sizeof narrow ? len : sizeof narrow - 1] = '\0';
    Emit(level, narrow);
}

namespace svcproc::log {
void SetCaptureSink(CaptureSink sink, void* context) {
    LogState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    state.sink = sink;
    state.sinkContext = context;
}

void ReloadConfiguration() { Configure(State()); }
} // namespace svcproc::log
