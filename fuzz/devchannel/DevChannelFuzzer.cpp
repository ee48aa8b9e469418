// The device channel server's message decoding fed arbitrary byte streams:
// each input is sent on a fresh connection, which is then half-closed. The
// server must answer what is well formed, drop the rest, and close the
// connection in bounded time without disturbing itself.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "DeviceChannelServer.h"

namespace {

svcproc::devchannel::DeviceInterfaceServer& ServerOnce() {
    static svcproc::devchannel::DeviceInterfaceServer* server = [] {
        char pattern[] = "/tmp/devchannel-fuzz-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) {
            std::abort();
        }
        ::setenv("SVCPROC_RUNTIME_DIR", pattern, 1);
        auto* created = new svcproc::devchannel::DeviceInterfaceServer(
            "{fuzz}", "device",
            [](uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out, uint32_t outLen,
               uint32_t* information) {
                if (code & 1) {
                    return STATUS_INVALID_DEVICE_REQUEST;
                }
                uint32_t n = inLen < outLen ? inLen : outLen;
                std::memcpy(out, in, n);
                *information = n;
                return STATUS_SUCCESS;
            });
        std::string error;
        if (!created->Enable(&error)) {
            std::abort();
        }
        return created;
    }();
    return *server;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto& server = ServerOnce();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = server.Path();
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::abort(); // the server stopped accepting
    }
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    // A refused or dropped connection may stop reading; that is fine.
    ::send(fd, data, size, MSG_NOSIGNAL);
    ::shutdown(fd, SHUT_WR);
    char buffer[8192];
    ssize_t got;
    while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        std::abort(); // the server kept a finished connection open
    }
    ::close(fd);
    return 0;
}
