// SetupAPI-like enumeration, open and I/O control over the interface sockets.
#include "DeviceChannel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

#include "DeviceChannelServer.h"
#include "DeviceChannelWire.h"
#include "SocketIo.h"

struct DeviceInfoSet {
    GUID classGuid;
    std::vector<std::wstring> paths;
};

namespace svcproc::devchannel {
namespace {

struct OpenDevice {
    int fd;
    std::mutex lock;     // one request and its reply at a time per handle
    bool broken = false; // the stream lost its framing; every later call fails
};

void CloseDevice(void* context) {
    auto* device = static_cast<OpenDevice*>(context);
    ::close(device->fd);
    delete device;
}

std::string GuidToString(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

bool SameGuid(const GUID& a, const GUID& b) {
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
           std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// Paths are plain ASCII here; anything else cannot name an interface socket.
bool Narrow(const wchar_t* text, std::string* out) {
    out->clear();
    for (; *text != L'\0'; ++text) {
        if (*text <= 0 || *text > 0x7F) {
            return false;
        }
        out->push_back(static_cast<char>(*text));
    }
    return true;
}

std::vector<std::wstring> ListInterfaces(const std::string& directory) {
    std::vector<std::wstring> paths;
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) {
        return paths;
    }
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue; // a server still setting up, or . and ..
        }
        std::string path = directory + "/" + entry->d_name;
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
            paths.push_back(Widen(path));
        }
    }
    ::closedir(dir);
    std::sort(paths.begin(), paths.end());
    return paths;
}

bool ValidSet(HDEVINFO set) {
    return set != nullptr && set != INVALID_HANDLE_VALUE_DEVINFO;
}

int ConnectTo(const std::string& path, DWORD* error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        *error = ERROR_FILE_NOT_FOUND;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = ERROR_NO_SYSTEM_RESOURCES;
        return -1;
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        *error = errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

// The platform's usual translations of the statuses a driver completes with;
// any other failure reads as a general failure so it is never mistaken for
// success.
DWORD NtStatusToWin32Error(uint32_t status) {
    switch (static_cast<NTSTATUS>(status)) {
    case STATUS_SUCCESS:
        return ERROR_SUCCESS;
    case STATUS_INVALID_PARAMETER:
        return ERROR_INVALID_PARAMETER;
    case STATUS_BUFFER_TOO_SMALL:
        return ERROR_INSUFFICIENT_BUFFER;
    case STATUS_IO_TIMEOUT:
        return ERROR_SEM_TIMEOUT;
    case STATUS_NOT_IMPLEMENTED:
    case STATUS_INVALID_DEVICE_REQUEST:
        return ERROR_INVALID_FUNCTION;
    case STATUS_INVALID_DEVICE_STATE:
        return ERROR_BAD_COMMAND;
    case STATUS_DEVICE_PROTOCOL_ERROR:
        return ERROR_IO_DEVICE;
    case STATUS_DEVICE_BUSY:
        return ERROR_BUSY;
    case STATUS_ACCESS_DENIED:
        return ERROR_ACCESS_DENIED;
    case STATUS_INVALID_HANDLE:
        return ERROR_INVALID_HANDLE;
    case STATUS_NO_MEMORY:
        return ERROR_NOT_ENOUGH_MEMORY;
    case STATUS_INSUFFICIENT_RESOURCES:
        return ERROR_NO_SYSTEM_RESOURCES;
    case STATUS_NOT_SUPPORTED:
        return ERROR_NOT_SUPPORTED;
    case STATUS_SHARING_VIOLATION:
        return ERROR_SHARING_VIOLATION;
    default:
        return ERROR_GEN_FAILURE;
    }
}

} // namespace svcproc::devchannel

using namespace svcproc::devchannel;

HDEVINFO SetupDiGetClassDevsW(const GUID* classGuid, const wchar_t* /*enumerator*/,
                              void* /*window*/, DWORD flags) {
    if (classGuid == nullptr || (flags & DIGCF_DEVICEINTERFACE) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE_DEVINFO;
    }
    // An interface is present exactly while its socket exists: the server
    // removes it when the interface is withdrawn.
    auto* set = new DeviceInfoSet{*classGuid, {}};
    set->paths = ListInterfaces(InterfaceClassDirectory(GuidToString(*classGuid)));
    SetLastError(ERROR_SUCCESS);
    return set;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, void* /*deviceInfo*/, const GUID* classGuid,
                                 DWORD memberIndex, SP_DEVICE_INTERFACE_DATA* data) {
    if (!ValidSet(set) || classGuid == nullptr || data == nullptr ||
        data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!SameGuid(*classGuid, set->classGuid) || memberIndex >= set->paths.size()) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    data->InterfaceClassGuid = set->classGuid;
    data->Flags = 0x1; // active
    data->Reserved = memberIndex;
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                      SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detailSize,
                                      DWORD* requiredSize, void* /*deviceInfo*/) {
    if (!ValidSet(set) || data == nullptr || data->Reserved >= set->paths.size() ||
        (detail == nullptr && detailSize != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::wstring& path = set->paths[data->Reserved];
    DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                      (path.size() + 1) * sizeof(WCHAR));
    if (requiredSize != nullptr) {
        *requiredSize = needed;
    }
    if (detail == nullptr || detailSize < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    if (!ValidSet(set)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    delete set;
    return TRUE;
}

HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD shareMode, void* /*security*/,
                   DWORD creation, DWORD flags, HANDLE /*templateFile*/) {
    std::string narrow;
    if (path == nullptr || creation != OPEN_EXISTING || flags != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (!Narrow(path, &narrow)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_SUCCESS;
    int fd = ConnectTo(narrow, &error);
    if (fd < 0) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    wire::OpenMessage open{wire::kOpenMagic, wire::kVersion, access, shareMode};
    wire::OpenReply reply{};
    if (!detail::SendAll(fd, &open, sizeof open) || !detail::ReceiveAll(fd, &reply, sizeof reply)) {
        ::close(fd);
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return INVALID_HANDLE_VALUE;
    }
    if (reply.status != static_cast<uint32_t>(STATUS_SUCCESS)) {
        ::close(fd);
        SetLastError(NtStatusToWin32Error(reply.status));
        return INVALID_HANDLE_VALUE;
    }
    auto* device = new OpenDevice{fd, {}, false};
    HANDLE handle = svcproc::platform::CreateLayerHandle(device, CloseDevice);
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL DeviceIoControl(HANDLE handle, DWORD code, void* inBuffer, DWORD inSize, void* outBuffer,
                     DWORD outSize, DWORD* bytesReturned, void* overlapped) {
    if (bytesReturned != nullptr) {
        *bytesReturned = 0;
    }
    auto* device =
        static_cast<OpenDevice*>(svcproc::platform::GetLayerHandleContext(handle, CloseDevice));
    if (device == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (overlapped != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    if (inSize > wire::kMaxTransfer || outSize > wire::kMaxTransfer ||
        (inSize > 0 && inBuffer == nullptr) || (outSize > 0 && outBuffer == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    wire::RequestHeader request{code, inSize, outSize};
    wire::ReplyHeader reply{};
    std::vector<uint8_t> output;
    {
        std::lock_guard<std::mutex> hold(device->lock);
        if (device->broken) {
            SetLastError(ERROR_DEVICE_NOT_CONNECTED);
            return FALSE;
        }
        device->broken = true;
        // One write per request, so the server wakes once for it.
        std::vector<uint8_t> message(sizeof request + inSize);
        std::memcpy(message.data(), &request, sizeof request);
        if (inSize > 0) {
            std::memcpy(message.data() + sizeof request, inBuffer, inSize);
        }
        if (!detail::SendAll(device->fd, message.data(), message.size()) ||
            !detail::ReceiveAll(device->fd, &reply, sizeof reply) || reply.information > outSize) {
            SetLastError(ERROR_DEVICE_NOT_CONNECTED);
            return FALSE;
        }
        output.resize(reply.information);
        if (!detail::ReceiveAll(device->fd, output.data(), output.size())) {
            SetLastError(ERROR_DEVICE_NOT_CONNECTED);
            return FALSE;
        }
        device->broken = false;
    }
    if (!NT_SUCCESS(static_cast<NTSTATUS>(reply.status))) {
        SetLastError(NtStatusToWin32Error(reply.status));
        return FALSE;
    }
    if (!output.empty()) {
        std::memcpy(outBuffer, output.data(), output.size());
    }
    if (bytesReturned != nullptr) {
        *bytesReturned = reply.information;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
