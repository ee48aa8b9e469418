#include "DeviceChannelServer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "DeviceChannel.h"
#include "DeviceChannelWire.h"
#include "Log.h"
#include "SocketIo.h"

namespace svcproc::devchannel {
namespace {

// Enough for every client the system has; more are turned away.
constexpr size_t kMaxConnections = 32;
constexpr int kReplyTimeoutSeconds = 2;

struct Connection {
    int fd = -1;
    unsigned id = 0;
    bool open = false;
    uint32_t access = 0;
    uint32_t shareMode = 0;
    std::vector<uint8_t> pending;
};

// Sharing as the platform decides it: each side must allow what the other
// wants to do.
bool SharingConflicts(const Connection& held, uint32_t access, uint32_t shareMode) {
    auto wantsRead = [](uint32_t a) { return (a & GENERIC_READ) != 0; };
    auto wantsWrite = [](uint32_t a) { return (a & GENERIC_WRITE) != 0; };
    return (wantsRead(access) && (held.shareMode & FILE_SHARE_READ) == 0) ||
           (wantsWrite(access) && (held.shareMode & FILE_SHARE_WRITE) == 0) ||
           (wantsRead(held.access) && (shareMode & FILE_SHARE_READ) == 0) ||
           (wantsWrite(held.access) && (shareMode & FILE_SHARE_WRITE) == 0);
}

bool MakeDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

bool FillAddress(const std::string& path, sockaddr_un* address) {
    *address = {};
    address->sun_family = AF_UNIX;
    if (path.size() >= sizeof address->sun_path) {
        return false;
    }
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool SomeoneServes(const sockaddr_un& address) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool live =
        fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return live;
}

} // namespace

struct DeviceInterfaceServer::State {
    std::string classGuid;
    std::string name;
    RequestHandler handler;
    std::string path;
    std::mutex lock; // Enable and Disable
    bool enabled = false;
    int listenFd = -1;
    int wakeFds[2] = {-1, -1};
    std::thread thread;
    std::vector<Connection> connections; // server thread only
    unsigned nextId = 1;

    void Serve();
    void Accept();
    // False when the connection is to be closed.
    bool ReadFrom(Connection& connection);
    bool Process(Connection& connection);
    bool ProcessOpen(Connection& connection);
    bool ProcessRequest(Connection& connection, bool* consumed);
    void Drop(Connection& connection, const char* reason);
};

void DeviceInterfaceServer::State::Drop(Connection& connection, const char* reason) {
    if (reason != nullptr) {
        Log(LOG_ERROR, "Device channel %s: closing connection %u: %s", name.c_str(), connection.id,
            reason);
    }
    ::close(connection.fd);
    connection.fd = -1;
}

void DeviceInterfaceServer::State::Accept() {
    int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    if (connections.size() >= kMaxConnections) {
        Log(LOG_ERROR, "Device channel %s: too many connections, refusing one", name.c_str());
        ::close(fd);
        return;
    }
    timeval timeout{kReplyTimeoutSeconds, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    Connection connection;
    connection.fd = fd;
    connection.id = nextId++;
    connections.push_back(std::move(connection));
}

bool DeviceInterfaceServer::State::ReadFrom(Connection& connection) {
    uint8_t chunk[8192];
    ssize_t got = ::recv(connection.fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
        return true;
    }
    if (got <= 0) {
        if (!connection.pending.empty()) {
            char reason[64];
            std::snprintf(reason, sizeof reason, "truncated message (%zu bytes)",
                          connection.pending.size());
            Drop(connection, reason);
        } else {
            Drop(connection, nullptr);
        }
        return false;
    }
    connection.pending.insert(connection.pending.end(), chunk, chunk + got);
    return Process(connection);
}

bool DeviceInterfaceServer::State::Process(Connection& connection) {
    if (!connection.open) {
        if (connection.pending.size() < sizeof(wire::OpenMessage)) {
            return true;
        }
        if (!ProcessOpen(connection)) {
            return false;
        }
    }
    bool consumed = true;
    while (consumed) {
        if (!ProcessRequest(connection, &consumed)) {
            return false;
        }
    }
    return true;
}

bool DeviceInterfaceServer::State::ProcessOpen(Connection& connection) {
    wire::OpenMessage open;
    std::memcpy(&open, connection.pending.data(), sizeof open);
    connection.pending.erase(connection.pending.begin(), connection.pending.begin() + sizeof open);
    if (open.magic != wire::kOpenMagic || open.version != wire::kVersion) {
        Drop(connection, "malformed open message");
        return false;
    }
    bool refused = false;
    for (const Connection& other : connections) {
        if (&other != &connection && other.fd >= 0 && other.open &&
            SharingConflicts(other, open.desiredAccess, open.shareMode)) {
            refused = true;
        }
    }
    wire::OpenReply reply{
        static_cast<uint32_t>(refused ? STATUS_SHARING_VIOLATION : STATUS_SUCCESS)};
    if (!detail::SendAll(connection.fd, &reply, sizeof reply)) {
        Drop(connection, "open reply not taken");
        return false;
    }
    if (refused) {
        Log(LOG_INFO, "Device channel %s: connection %u refused, the device is held", name.c_str(),
            connection.id);
        Drop(connection, nullptr);
        return false;
    }
    connection.open = true;
    connection.access = open.desiredAccess;
    connection.shareMode = open.shareMode;
    return true;
}

bool DeviceInterfaceServer::State::ProcessRequest(Connection& connection, bool* consumed) {
    *consumed = false;
    if (connection.pending.size() < sizeof(wire::RequestHeader)) {
        return true;
    }
    wire::RequestHeader header;
    std::memcpy(&header, connection.pending.data(), sizeof header);
    if (header.inputLength > wire::kMaxTransfer || header.outputLength > wire::kMaxTransfer) {
        char reason[96];
        std::snprintf(reason, sizeof reason, "oversized request (input %u, output %u bytes)",
                      header.inputLength, header.outputLength);
        Drop(connection, reason);
        return false;
    }
    size_t total = sizeof header + header.inputLength;
    if (connection.pending.size() < total) {
        return true;
    }
    // The reply header and its output go out in one write.
    std::vector<uint8_t> reply(sizeof(wire::ReplyHeader) + header.outputLength);
    uint8_t* output = reply.data() + sizeof(wire::ReplyHeader);
    uint32_t information = 0;
    NTSTATUS status = STATUS_INTERNAL_ERROR;
    try {
        status = handler(header.code, connection.pending.data() + sizeof header, header.inputLength,
                         output, header.outputLength, &information);
    } catch (...) {
        information = 0;
    }
    if (information > header.outputLength) {
        status = STATUS_INTERNAL_ERROR;
        information = 0;
    }
    connection.pending.erase(connection.pending.begin(), connection.pending.begin() + total);
    wire::ReplyHeader replyHeader{static_cast<uint32_t>(status), information};
    std::memcpy(reply.data(), &replyHeader, sizeof replyHeader);
    if (!detail::SendAll(connection.fd, reply.data(), sizeof replyHeader + information)) {
        Drop(connection, "reply not taken");
        return false;
    }
    *consumed = true;
    return true;
}

void DeviceInterfaceServer::State::Serve() {
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({wakeFds[0], POLLIN, 0});
        fds.push_back({listenFd, POLLIN, 0});
        for (const Connection& connection : connections) {
            fds.push_back({connection.fd, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            Log(LOG_ERROR, "Device channel %s: poll failed, errno=%d", name.c_str(), errno);
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        for (size_t i = 0; i < connections.size(); ++i) {
            if (fds[i + 2].revents != 0) {
                ReadFrom(connections[i]);
            }
        }
        std::erase_if(connections, [](const Connection& c) { return c.fd < 0; });
        if (fds[1].revents & POLLIN) {
            Accept();
        }
    }
    for (Connection& connection : connections) {
        ::close(connection.fd);
    }
    connections.clear();
}

DeviceInterfaceServer::DeviceInterfaceServer(std::string classGuid, std::string name,
                                             RequestHandler handler)
    : m_pState(std::make_unique<State>()) {
    m_pState->classGuid = std::move(classGuid);
    m_pState->name = std::move(name);
    m_pState->handler = std::move(handler);
    m_pState->path = InterfaceClassDirectory(m_pState->classGuid) + "/" + m_pState->name;
}

DeviceInterfaceServer::~DeviceInterfaceServer() {
    Disable();
}

bool DeviceInterfaceServer::Enable(std::string* error) {
    State& s = *m_pState;
    std::lock_guard<std::mutex> hold(s.lock);
    if (s.enabled) {
        return true;
    }
    std::string directory = InterfaceClassDirectory(s.classGuid);
    s.path = directory + "/" + s.name;
    sockaddr_un address;
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = why + ": " + s.path;
        }
        if (s.listenFd >= 0) {
            ::close(s.listenFd);
            s.listenFd = -1;
        }
        return false;
    };
    if (!FillAddress(s.path, &address)) {
        return fail("socket path too long");
    }
    if (!MakeDirectories(directory)) {
        return fail(std::string("cannot create directory (") + std::strerror(errno) + ")");
    }
    if (SomeoneServes(address)) {
        return fail("interface already served");
    }
    // Bound and listening under a hidden name beside the class directory
    // first, then renamed into it, so nothing that looks into the class
    // directory finds the interface before it accepts connections.
    std::string staging = directory.substr(0, directory.rfind('/')) + "/." + s.name + "." +
                          std::to_string(::getpid()) + ".new";
    sockaddr_un stagingAddress{};
    if (!FillAddress(staging, &stagingAddress)) {
        return fail("socket path too long");
    }
    ::unlink(staging.c_str());
    s.listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s.listenFd < 0 ||
        ::bind(s.listenFd, reinterpret_cast<sockaddr*>(&stagingAddress), sizeof stagingAddress) !=
            0 ||
        ::chmod(staging.c_str(), 0660) != 0 || ::listen(s.listenFd, 16) != 0 ||
        ::rename(staging.c_str(), s.path.c_str()) != 0) {
        int error = errno;
        ::unlink(staging.c_str());
        return fail(std::string("cannot serve socket (") + std::strerror(error) + ")");
    }
    if (::pipe2(s.wakeFds, O_CLOEXEC) != 0) {
        ::unlink(s.path.c_str());
        return fail("cannot create wake pipe");
    }
    s.thread = std::thread([&s] { s.Serve(); });
    s.enabled = true;
    return true;
}

void DeviceInterfaceServer::Disable() {
    State& s = *m_pState;
    std::lock_guard<std::mutex> hold(s.lock);
    if (!s.enabled) {
        return;
    }
    // Remove the name first so no new client finds a server that is going.
    ::unlink(s.path.c_str());
    char wake = 1;
    (void)!::write(s.wakeFds[1], &wake, 1);
    s.thread.join();
    ::close(s.listenFd);
    ::close(s.wakeFds[0]);
    ::close(s.wakeFds[1]);
    s.listenFd = -1;
    s.wakeFds[0] = s.wakeFds[1] = -1;
    ::rmdir(InterfaceClassDirectory(s.classGuid).c_str());
    s.enabled = false;
}

bool DeviceInterfaceServer::IsEnabled() const {
    std::lock_guard<std::mutex> hold(m_pState->lock);
    return m_pState->enabled;
}

std::string DeviceInterfaceServer::Path() const {
    std::lock_guard<std::mutex> hold(m_pState->lock);
    return m_pState->path;
}

} // namespace svcproc::devchannel
