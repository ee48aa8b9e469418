#include "control/ControlClient.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace svcproc::sim {
namespace {

constexpr int kReplyTimeoutSeconds = 10;

int Connect(const std::string& path, std::string* error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        *error = "control socket path '" + path + "' is empty or too long";
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    timeval timeout{kReplyTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        *error = "cannot connect to '" + path + "': " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

// Splits the reply at its final line; false while it has not arrived.
bool TakeFinalLine(const std::string& text, ControlReply* reply) {
    size_t start = 0;
    size_t end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        const std::string line = text.substr(start, end - start);
        if (line == "ok" || line.rfind("error", 0) == 0) {
            reply->m_bOk = line == "ok";
            reply->m_sData = text.substr(0, start);
            reply->m_sReason = reply->m_bOk ? "" : line.substr(line.size() > 6 ? 6 : line.size());
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace

bool SendControlRequest(const std::string& socketPath, const std::string& line, ControlReply* reply,
                        std::string* error) {
    const int fd = Connect(socketPath, error);
    if (fd < 0) {
        return false;
    }
    const std::string request = line + "\n";
    bool done = send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                static_cast<ssize_t>(request.size());
    if (!done) {
        *error = std::string("cannot send the request: ") + std::strerror(errno);
    }
    std::string text;
    while (done && !TakeFinalLine(text, reply)) {
        char buffer[1024];
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            *error = n == 0 ? std::string("the simulator closed the connection mid-reply")
                            : std::string("no reply: ") + std::strerror(errno);
            done = false;
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return done;
}

} // namespace svcproc::sim
