// Host facts: computer name and OS version.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <mutex>
#include <sys/utsname.h>
#include <unistd.h>

#include "Log.h"
#include "Security.h"

namespace svcproc::security {
namespace {

constexpr size_t kComputerNameLength = 15;

struct Overrides {
    std::mutex lock;
    std::wstring computerName;
    DWORD major = 0;
    DWORD minor = 0;
    DWORD build = 0;
};

Overrides& TestOverrides() {
    static Overrides overrides;
    return overrides;
}

std::wstring HostComputerName() {
    char host[256] = {};
    if (gethostname(host, sizeof(host) - 1) != 0) {
        return std::wstring();
    }
    std::wstring name;
    for (const char* p = host; *p != '\0' && *p != '.' && name.size() < kComputerNameLength; ++p) {
        name.push_back(static_cast<wchar_t>(std::towupper(static_cast<unsigned char>(*p))));
    }
    return name;
}

// Leading decimal number of `text` at `*pos`, which then points past it and
// one separator.
DWORD NextNumber(const char* text, size_t* pos) {
    DWORD value = 0;
    while (text[*pos] >= '0' && text[*pos] <= '9') {
        value = value * 10 + static_cast<DWORD>(text[*pos] - '0');
        ++*pos;
    }
    if (text[*pos] == '.') {
        ++*pos;
    }
    return value;
}

} // namespace

void SetComputerNameForTest(const std::wstring& name) {
    std::lock_guard guard(TestOverrides().lock);
    TestOverrides().computerName = name;
}

void SetOsVersionForTest(DWORD major, DWORD minor, DWORD build) {
    std::lock_guard guard(TestOverrides().lock);
    TestOverrides().major = major;
    TestOverrides().minor = minor;
    TestOverrides().build = build;
}

} // namespace svcproc::security

BOOL GetComputerNameW(wchar_t* buffer, DWORD* size) {
    using namespace svcproc::security;
    if (size == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::wstring name;
    {
        std::lock_guard guard(TestOverrides().lock);
        name = TestOverrides().computerName;
    }
    if (name.empty()) {
        name = HostComputerName();
    }
    if (name.empty()) {
        LogQuick(LOG_ERROR, "GetComputerNameW - gethostname failed");
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    if (buffer == nullptr || *size < name.size() + 1) {
        *size = static_cast<DWORD>(name.size() + 1);
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    std::wmemcpy(buffer, name.c_str(), name.size() + 1);
    *size = static_cast<DWORD>(name.size());
    return TRUE;
}

BOOL GetVersionExW(OSVERSIONINFOW* info) {
    using namespace svcproc::security;
    if (info == nullptr || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
                            info->dwOSVersionInfoSize != OSVERSIONINFOW_NARROW_SIZE)) {
        LogQuick(LOG_ERROR, "GetVersionExW - bad record size");
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    struct utsname host {};
    if (uname(&host) != 0) {
        LogQuick(LOG_ERROR, "GetVersionExW - uname failed");
        SetLastError(ERROR_GEN_FAILURE);
        return FALSE;
    }
    size_t pos = 0;
    info->dwMajorVersion = NextNumber(host.release, &pos);
    info->dwMinorVersion = NextNumber(host.release, &pos);
    info->dwBuildNumber = NextNumber(host.release, &pos);
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    {
        std::lock_guard guard(TestOverrides().lock);
        if (TestOverrides().major != 0) {
            info->dwMajorVersion = TestOverrides().major;
            info->dwMinorVersion = TestOverrides().minor;
            info->dwBuildNumber = TestOverrides().build;
        }
    }
    // The service-pack text: the kernel's release, cut to what the record holds.
    size_t room =
        (info->dwOSVersionInfoSize - offsetof(OSVERSIONINFOW, szCSDVersion)) / sizeof(WCHAR);
    size_t length = std::min(std::strlen(host.release), room - 1);
    for (size_t i = 0; i < length; ++i) {
        info->szCSDVersion[i] = static_cast<WCHAR>(static_cast<unsigned char>(host.release[i]));
    }
    info->szCSDVersion[length] = L'\0';
    return TRUE;
}
