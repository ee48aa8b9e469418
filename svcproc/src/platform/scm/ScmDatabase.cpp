// The service database: one unit file per service in the unit directory.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

#include "../sync/Sync.h"
#include "Scm.h"
#include "ScmStore.h"

using namespace svcproc::scm;

struct ScmObject {
    enum class Kind { Manager, Service } kind;
    DWORD access = 0;
    std::string unitDir;
    std::wstring name; // services only
};

namespace {

std::mutex& HandlesMutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}

std::unordered_set<ScmObject*>& LiveHandles() {
    static auto* handles = new std::unordered_set<ScmObject*>;
    return *handles;
}

SC_HANDLE NewHandle(ScmObject object) {
    auto* handle = new ScmObject(std::move(object));
    std::lock_guard<std::mutex> lock(HandlesMutex());
    LiveHandles().insert(handle);
    return handle;
}

// The object behind a live handle of that kind, copied, or false with
// ERROR_INVALID_HANDLE.
bool Lookup(SC_HANDLE handle, ScmObject::Kind kind, ScmObject* out) {
    std::lock_guard<std::mutex> lock(HandlesMutex());
    if (!handle || !LiveHandles().count(handle) || handle->kind != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    *out = *handle;
    return true;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// systemd command-line quoting: the path as one word, specifiers escaped.
std::string QuoteExecPath(const std::string& path) {
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '\\') {
            out += '\\';
        } else if (c == '%') {
            out += '%';
        }
        out += c;
    }
    return out + "\"";
}

// A unit file value on one line, specifiers escaped.
std::string UnitValue(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n' || c == '\r') {
            out += ' ';
            continue;
        }
        if (c == '%') {
            out += '%';
        }
        out += c;
    }
    return out;
}

bool ParseDependencies(const wchar_t* list, std::string* units) {
    for (const wchar_t* p = list; p && *p; p += wcslen(p) + 1) {
        std::wstring name(p);
        if (!IsValidServiceName(name)) {
            return false;
        }
        *units += (units->empty() ? "" : " ") + Narrow(p) + ".service";
    }
    return true;
}

std::string UnitText(const std::wstring& display, DWORD serviceType, DWORD startType,
                     DWORD errorControl, const std::string& binaryPath,
                     const std::string& loadOrderGroup, const std::string& dependencies) {
    std::string text = "[Unit]\nDescription=" + UnitValue(Narrow(display.c_str())) + "\n";
    if (!dependencies.empty()) {
        text += "Requires=" + dependencies + "\nAfter=" + dependencies + "\n";
    }
    text += "\n[Service]\nType=notify\nExecStart=" + QuoteExecPath(binaryPath) + "\n";
    char extra[160];
    std::snprintf(extra, sizeof extra,
                  "X-SvcprocServiceType=0x%02x\nX-SvcprocStartType=%u\nX-SvcprocErrorControl=%u\n",
                  serviceType, startType, errorControl);
    text += extra;
    if (!loadOrderGroup.empty()) {
        text += "X-SvcprocLoadOrderGroup=" + UnitValue(loadOrderGroup) + "\n";
    }
    if (startType == SERVICE_AUTO_START) {
        text += "\n[Install]\nWantedBy=multi-user.target\n";
    }
    return text;
}

bool WriteNewFile(const std::string& path, const std::string& text) {
    std::string temporary = path + ".tmp." + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            int saved = errno;
            std::remove(temporary.c_str());
            errno = saved;
            return false;
        }
    }
    chmod(temporary.c_str(), 0644);
    // link() never replaces: a unit written meanwhile by someone else wins.
    bool ok = link(temporary.c_str(), path.c_str()) == 0;
    int saved = errno;
    std::remove(temporary.c_str());
    errno = saved;
    return ok;
}

bool EnableAutoStart(const std::string& unitDir, const std::wstring& name) {
    std::string wants = unitDir + "/multi-user.target.wants";
    if (mkdir(wants.c_str(), 0755) != 0 && errno != EEXIST) {
        return false;
    }
    std::string target = "../" + Narrow(name.c_str()) + ".service";
    std::string link = WantsLinkPath(unitDir, name);
    std::remove(link.c_str());
    return symlink(target.c_str(), link.c_str()) == 0;
}

} // namespace

SC_HANDLE OpenSCManagerW(const wchar_t* machineName, const wchar_t* databaseName,
                         DWORD desiredAccess) {
    if (machineName && *machineName) {
        SetLastError(ERROR_INVALID_PARAMETER); // only the local machine is served
        return nullptr;
    }
    if (databaseName && std::wstring(databaseName) != L"ServicesActive") {
        SetLastError(ERROR_DATABASE_DOES_NOT_EXIST);
        return nullptr;
    }
    std::string unitDir = UnitDirectory();
    struct stat info;
    if (stat(unitDir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        SetLastError(ERROR_DATABASE_DOES_NOT_EXIST);
        return nullptr;
    }
    if ((desiredAccess & SC_MANAGER_CREATE_SERVICE) && access(unitDir.c_str(), W_OK) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return NewHandle({ScmObject::Kind::Manager, desiredAccess, unitDir, {}});
}

SC_HANDLE CreateServiceW(SC_HANDLE manager, const wchar_t* serviceName, const wchar_t* displayName,
                         DWORD desiredAccess, DWORD serviceType, DWORD startType,
                         DWORD errorControl, const wchar_t* binaryPathName,
                         const wchar_t* loadOrderGroup, DWORD* tagId, const wchar_t* dependencies,
                         const wchar_t* serviceStartName, const wchar_t* /*password*/) {
    ScmObject owner;
    if (!Lookup(manager, ScmObject::Kind::Manager, &owner)) {
        return nullptr;
    }
    if (!(owner.access & SC_MANAGER_CREATE_SERVICE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    std::wstring name = serviceName ? serviceName : L"";
    if (!IsValidServiceName(name)) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    std::string path = Narrow(binaryPathName);
    std::string units;
    bool localSystem = !serviceStartName || std::wstring(serviceStartName) == L"LocalSystem";
    bool typeOk =
        serviceType == SERVICE_WIN32_OWN_PROCESS || serviceType == SERVICE_WIN32_SHARE_PROCESS;
    bool startOk = startType >= SERVICE_AUTO_START && startType <= SERVICE_DISABLED;
    if (path.empty() || path[0] != '/' || !typeOk || !startOk ||
        errorControl > SERVICE_ERROR_CRITICAL || tagId || !localSystem ||
        !ParseDependencies(dependencies, &units)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string unitPath = UnitPath(owner.unitDir, name);
    std::wstring display = displayName && *displayName ? displayName : name;
    std::string text = UnitText(display, serviceType, startType, errorControl, path,
                                Narrow(loadOrderGroup), units);
    if (!WriteNewFile(unitPath, text)) {
        SetLastError(errno == EEXIST ? ERROR_SERVICE_EXISTS : ErrorFromErrno(errno));
        return nullptr;
    }
    if (startType == SERVICE_AUTO_START && !EnableAutoStart(owner.unitDir, name)) {
        DWORD error = ErrorFromErrno(errno);
        std::remove(unitPath.c_str());
        SetLastError(error);
        return nullptr;
    }
    return NewHandle({ScmObject::Kind::Service, desiredAccess, owner.unitDir, name});
}

SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* serviceName, DWORD desiredAccess) {
    ScmObject owner;
    if (!Lookup(manager, ScmObject::Kind::Manager, &owner)) {
        return nullptr;
    }
    std::wstring name = serviceName ? serviceName : L"";
    if (!IsValidServiceName(name)) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    if (!FileExists(UnitPath(owner.unitDir, name))) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return NewHandle({ScmObject::Kind::Service, desiredAccess, owner.unitDir, name});
}

BOOL QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
    ScmObject object;
    if (!Lookup(service, ScmObject::Kind::Service, &object)) {
        return FALSE;
    }
    if (!(object.access & SERVICE_QUERY_STATUS)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!status) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    SERVICE_STATUS result{};
    result.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    result.dwCurrentState = SERVICE_STOPPED;
    if (auto stored = ReadStatusFile(object.name)) {
        if (ProcessIsAlive(stored->pid)) {
            result = stored->status;
        } else if (stored->status.dwCurrentState == SERVICE_STOPPED) {
            result = stored->status;
        } else {
            // The process ended without reporting that it stopped.
            result.dwServiceType = stored->status.dwServiceType;
            result.dwWin32ExitCode = ERROR_PROCESS_ABORTED;
        }
    }
    *status = result;
    return TRUE;
}

BOOL DeleteService(SC_HANDLE service) {
    ScmObject object;
    if (!Lookup(service, ScmObject::Kind::Service, &object)) {
        return FALSE;
    }
    if (!(object.access & DELETE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::string unitPath = UnitPath(object.unitDir, object.name);
    if (unlink(unitPath.c_str()) != 0) {
        SetLastError(errno == ENOENT ? ERROR_SERVICE_MARKED_FOR_DELETE : ErrorFromErrno(errno));
        return FALSE;
    }
    std::remove(WantsLinkPath(object.unitDir, object.name).c_str());
    return TRUE;
}

BOOL CloseServiceHandle(SC_HANDLE handle) {
    std::lock_guard<std::mutex> lock(HandlesMutex());
    if (!handle || !LiveHandles().erase(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete handle;
    return TRUE;
}

DWORD GetModuleFileNameW(void* module, wchar_t* buffer, DWORD size) {
    if (module || !buffer || size == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string path(4096, '\0');
    ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<size_t>(length) >= path.size()) {
        SetLastError(length <= 0 ? ErrorFromErrno(errno) : ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    path.resize(static_cast<size_t>(length));
    std::wstring wide = Widen(path);
    DWORD copied = static_cast<DWORD>(std::min<size_t>(wide.size(), size - 1));
    wide.copy(buffer, copied);
    buffer[copied] = L'\0';
    if (copied < wide.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    return copied;
}
