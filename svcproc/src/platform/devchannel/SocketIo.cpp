#include "SocketIo.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <sys/socket.h>

#include "DeviceChannelServer.h"

namespace svcproc::devchannel::detail {

bool SendAll(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t sent = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool ReceiveAll(int fd, void* data, size_t size) {
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
        ssize_t got = ::recv(fd, bytes, size, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

std::string RuntimeDirectory() {
    const char* dir = std::getenv("SVCPROC_RUNTIME_DIR");
    return dir != nullptr && *dir != '\0' ? dir : "/run/svcproc";
}

} // namespace svcproc::devchannel::detail

namespace svcproc::devchannel {

std::string InterfaceClassDirectory(const std::string& classGuid) {
    return detail::RuntimeDirectory() + "/devices/" + classGuid;
}

} // namespace svcproc::devchannel
