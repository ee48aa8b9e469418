#include "ScmStore.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace svcproc::scm {

namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
    }
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string EnvOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

bool MakeDirectories(const std::string& path) {
    std::string partial;
    std::stringstream parts(path);
    std::string part;
    if (!path.empty() && path[0] == '/') {
        partial = "/";
    }
    while (std::getline(parts, part, '/')) {
        if (part.empty()) {
            continue;
        }
        partial += part + "/";
        if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string Narrow(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) {
        AppendUtf8(out, static_cast<uint32_t>(*text));
    }
    return out;
}

std::wstring Widen(const std::string& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        bool complete = extra >= 0 && i + extra < text.size();
        for (int k = 1; complete && k <= extra; ++k) {
            complete = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        }
        if (!complete) {
            out += L'\xFFFD';
            ++i;
            continue;
        }
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        out += static_cast<wchar_t>(cp);
        i += extra + 1;
    }
    return out;
}

bool IsValidServiceName(const std::wstring& name) {
    if (name.empty() || name.size() > 256 || name == L"." || name == L"..") {
        return false;
    }
    for (wchar_t c : name) {
        bool ok = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') ||
                  (c >= L'0' && c <= L'9') || c == L'_' || c == L'-' || c == L'.' || c == L'@';
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::string UnitDirectory() {
    return EnvOr("SVCPROC_SCM_UNIT_DIR", "/etc/systemd/system");
}

std::string UnitPath(const std::string& unitDir, const std::wstring& name) {
    return unitDir + "/" + Narrow(name.c_str()) + ".service";
}

std::string WantsLinkPath(const std::string& unitDir, const std::wstring& name) {
    return unitDir + "/multi-user.target.wants/" + Narrow(name.c_str()) + ".service";
}

std::string StatusPath(const std::wstring& name) {
    return EnvOr("SVCPROC_RUNTIME_DIR", "/run/svcproc") + "/scm/" + Narrow(name.c_str()) +
           ".status";
}

bool WriteStatusFile(const std::wstring& name, const SERVICE_STATUS& status) {
    std::string path = StatusPath(name);
    std::string dir = path.substr(0, path.rfind('/'));
    if (!MakeDirectories(dir)) {
        return false;
    }
    std::string temporary = path + ".tmp." + std::to_string(getpid());
    FILE* file = std::fopen(temporary.c_str(), "w");
    if (!file) {
        return false;
    }
    int written =
        std::fprintf(file,
                     "pid=%ld\ntype=%u\nstate=%u\ncontrols=%u\nwin32exit=%u\n"
                     "specificexit=%u\ncheckpoint=%u\nwaithint=%u\n",
                     static_cast<long>(getpid()), status.dwServiceType, status.dwCurrentState,
                     status.dwControlsAccepted, status.dwWin32ExitCode,
                     status.dwServiceSpecificExitCode, status.dwCheckPoint, status.dwWaitHint);
    bool ok = written > 0 && std::fclose(file) == 0;
    if (!ok || std::rename(temporary.c_str(), path.c_str()) != 0) {
        int saved = errno;
        std::remove(temporary.c_str());
        errno = saved;
        return false;
    }
    return true;
}

std::optional<StoredStatus> ReadStatusFile(const std::wstring& name) {
    std::ifstream in(StatusPath(name));
    if (!in) {
        return std::nullopt;
    }
    StoredStatus stored;
    bool havePid = false, haveState = false;
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, eq);
        char* end = nullptr;
        unsigned long long value = std::strtoull(line.c_str() + eq + 1, &end, 10);
        if (end == line.c_str() + eq + 1) {
            continue;
        }
        DWORD v = static_cast<DWORD>(value);
        SERVICE_STATUS& s = stored.status;
        if (key == "pid") {
            stored.pid = static_cast<long>(value);
            havePid = true;
        } else if (key == "type") {
            s.dwServiceType = v;
        } else if (key == "state") {
            s.dwCurrentState = v;
            haveState = true;
        } else if (key == "controls") {
            s.dwControlsAccepted = v;
        } else if (key == "win32exit") {
            s.dwWin32ExitCode = v;
        } else if (key == "specificexit") {
            s.dwServiceSpecificExitCode = v;
        } else if (key == "checkpoint") {
            s.dwCheckPoint = v;
        } else if (key == "waithint") {
            s.dwWaitHint = v;
        }
    }
    if (!havePid || !haveState) {
        return std::nullopt;
    }
    return stored;
}

bool ProcessIsAlive(long pid) {
    if (pid <= 0) {
        return false;
    }
    if (kill(static_cast<pid_t>(pid), 0) == 0) {
        // A zombie has ended its work; it only waits for its parent.
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text;
        if (std::getline(stat, text)) {
            auto close = text.rfind(')');
            if (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z') {
                return false;
            }
        }
        return true;
    }
    return errno == EPERM;
}

DWORD ErrorFromErrno(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_GEN_FAILURE;
    }
}

} // namespace svcproc::scm
