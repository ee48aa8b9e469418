// Client side of the endpoint protocol.
#include "WbemClient.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace svcproc::wbemwire {
namespace {

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

} // namespace

std::string RuntimeDirectory() {
    const char* dir = std::getenv("SVCPROC_RUNTIME_DIR");
    return dir != nullptr && *dir != '\0' ? dir : "/run/svcproc";
}

std::string DefaultEndpointPath() {
    return RuntimeDirectory() + "/wbem/endpoint.sock";
}

IoResult ReadExact(int fd, void* buffer, size_t size, int timeoutMs, size_t* got) {
    size_t ignored = 0;
    size_t& done = got != nullptr ? *got : ignored;
    done = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto* p = static_cast<uint8_t*>(buffer);
    while (done < size) {
        struct pollfd pfd {
            fd, POLLIN, 0
        };
        int wait = timeoutMs < 0 ? -1 : RemainingMs(deadline);
        int ready = poll(&pfd, 1, wait);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready < 0) {
            return IoResult::Failed;
        }
        if (ready == 0) {
            return IoResult::Timeout;
        }
        ssize_t received = recv(fd, p + done, size - done, 0);
        if (received < 0 && errno == EINTR) {
            continue;
        }
        if (received == 0) {
            return IoResult::Closed;
        }
        if (received < 0) {
            return errno == ECONNRESET ? IoResult::Closed : IoResult::Failed;
        }
        done += static_cast<size_t>(received);
    }
    return IoResult::Done;
}

IoResult WriteAll(int fd, const void* buffer, size_t size) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    size_t done = 0;
    while (done < size) {
        ssize_t sent = send(fd, p + done, size - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0) {
            return errno == EPIPE || errno == ECONNRESET ? IoResult::Closed : IoResult::Failed;
        }
        done += static_cast<size_t>(sent);
    }
    return IoResult::Done;
}

ClientConnection::~ClientConnection() {
    Close();
}

void ClientConnection::Close() {
    if (m_nFd >= 0) {
        close(m_nFd);
        m_nFd = -1;
    }
}

bool ClientConnection::Connect(const std::string& path, std::string* error) {
    Close();
    struct sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) {
        *error = "the endpoint path is too long: " + path;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    m_nFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_nFd < 0 ||
        connect(m_nFd, reinterpret_cast<struct sockaddr*>(&address), sizeof(address)) != 0) {
        *error = "cannot connect to " + path + ": " + std::strerror(errno);
        Close();
        return false;
    }
    return true;
}

bool ClientConnection::Send(const Request& request, std::string* error) {
    std::vector<uint8_t> frame = EncodeRequest(request);
    return SendRaw(frame.data(), frame.size(), error);
}

bool ClientConnection::SendRaw(const void* bytes, size_t size, std::string* error) {
    if (m_nFd < 0 || WriteAll(m_nFd, bytes, size) != IoResult::Done) {
        *error = "the endpoint closed the connection";
        return false;
    }
    return true;
}

ClientConnection::ReadResult ClientConnection::Read(Reply* reply, int timeoutMs,
                                                    std::string* error) {
    uint8_t header[kFrameHeaderSize];
    IoResult io =
        m_nFd < 0 ? IoResult::Closed : ReadExact(m_nFd, header, sizeof(header), timeoutMs);
    if (io == IoResult::Timeout) {
        return ReadResult::Timeout;
    }
    if (io != IoResult::Done) {
        *error = "the endpoint closed the connection";
        return ReadResult::Closed;
    }
    uint32_t length = FrameBodyLength(header);
    if (length > kMaxReplyBody) {
        *error = "the endpoint sent a message of " + std::to_string(length) + " bytes";
        return ReadResult::Malformed;
    }
    std::vector<uint8_t> body(length);
    // Once a frame has begun, the rest follows promptly.
    if (ReadExact(m_nFd, body.data(), body.size(), 30000) != IoResult::Done) {
        *error = "the endpoint's message was cut short";
        return ReadResult::Closed;
    }
    *reply = Reply{};
    if (!DecodeReply(body.data(), body.size(), reply, error)) {
        return ReadResult::Malformed;
    }
    return ReadResult::Reply;
}

} // namespace svcproc::wbemwire
