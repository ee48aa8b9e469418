#include "control/ControlServer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "Log.h"
#include "control/ControlProtocol.h"

namespace svcproc::sim {
namespace {

bool FillAddress(const std::string& path, sockaddr_un* address, std::string* error) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address->sun_path) {
        *error = "control socket path '" + path + "' is empty or longer than " +
                 std::to_string(sizeof address->sun_path - 1) + " bytes";
        return false;
    }
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A socket file that nobody listens on is left over from an earlier run.
bool RemoveStaleSocket(const std::string& path, const sockaddr_un& address, std::string* error) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return true;
    }
    if (!S_ISSOCK(info.st_mode)) {
        *error = "'" + path + "' exists and is not a socket";
        return false;
    }
    const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool live = probe >= 0 && connect(probe, reinterpret_cast<const sockaddr*>(&address),
                                            sizeof address) == 0;
    if (probe >= 0) {
        close(probe);
    }
    if (live) {
        *error = "control socket '" + path + "' is already served by another process";
        return false;
    }
    unlink(path.c_str());
    return true;
}

int Listen(const std::string& path, std::string* error) {
    sockaddr_un address;
    if (!FillAddress(path, &address, error) || !RemoveStaleSocket(path, address, error)) {
        return -1;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        chmod(path.c_str(), 0660) != 0 || listen(fd, 8) != 0) {
        *error = "cannot serve control socket '" + path + "': " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

std::unique_ptr<CControlServer>
CControlServer::Start(const std::string& path, CServiceProcessorModel& model, std::string* error) {
    const int listenFd = Listen(path, error);
    if (listenFd < 0) {
        return nullptr;
    }
    int wake[2];
    if (pipe2(wake, O_CLOEXEC) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        close(listenFd);
        unlink(path.c_str());
        return nullptr;
    }
    return std::unique_ptr<CControlServer>(
        new CControlServer(path, model, listenFd, wake[0], wake[1]));
}

CControlServer::CControlServer(std::string path, CServiceProcessorModel& model, int listenFd,
                               int wakeRead, int wakeWrite)
    : m_sPath(std::move(path)), m_Model(model), m_nListenFd(listenFd), m_nWakeRead(wakeRead),
      m_nWakeWrite(wakeWrite), m_Thread([this] { Run(); }) {}

CControlServer::~CControlServer() {
    const char stop = 1;
    (void)!write(m_nWakeWrite, &stop, 1);
    m_Thread.join();
    for (Client& client : m_vClients) {
        close(client.m_nFd);
    }
    close(m_nListenFd);
    close(m_nWakeRead);
    close(m_nWakeWrite);
    unlink(m_sPath.c_str());
}

void CControlServer::Run() {
    for (;;) {
        std::vector<pollfd> fds = {{m_nWakeRead, POLLIN, 0}, {m_nListenFd, POLLIN, 0}};
        for (const Client& client : m_vClients) {
            fds.push_back({client.m_nFd, POLLIN, 0});
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            Log(LOG_ERROR, "Simulator: control socket poll failed: %s", std::strerror(errno));
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        // Serve the clients polled above before accepting, so indices match.
        for (size_t i = m_vClients.size(); i-- > 0;) {
            if (fds[i + 2].revents != 0 && !Serve(m_vClients[i])) {
                close(m_vClients[i].m_nFd);
                m_vClients.erase(m_vClients.begin() + static_cast<std::ptrdiff_t>(i));
            }
        }
        if (fds[1].revents & POLLIN) {
            Accept();
        }
    }
}

void CControlServer::Accept() {
    const int fd = accept4(m_nListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        m_vClients.push_back({fd, {}});
    }
}

bool CControlServer::Serve(Client& client) {
    char buffer[512];
    const ssize_t n = recv(client.m_nFd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) {
        return true;
    }
    if (n <= 0) {
        return false;
    }
    client.m_sPending.append(buffer, static_cast<size_t>(n));
    size_t end;
    while ((end = client.m_sPending.find('\n')) != std::string::npos) {
        const std::string line = client.m_sPending.substr(0, end);
        client.m_sPending.erase(0, end + 1);
        const std::string reply = line.size() > kMaxControlLine
                                      ? std::string("error request line too long\n")
                                      : ExecuteControlLine(m_Model, line);
        if (!SendAll(client.m_nFd, reply)) {
            return false;
        }
    }
    if (client.m_sPending.size() > kMaxControlLine) {
        SendAll(client.m_nFd, "error request line too long\n");
        return false;
    }
    return true;
}

} // namespace svcproc::sim
