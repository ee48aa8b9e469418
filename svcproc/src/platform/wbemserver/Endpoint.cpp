#include "Endpoint.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "Log.h"
#include "Requests.h"
#include "WbemClient.h"
#include "WbemServer.h"

namespace svcproc::wbemserver {
namespace {

// No code of the layer says "busy"; this is the platform's.
constexpr HRESULT kServerTooBusy = MakeHResult(0x80041045u);
constexpr int kSendTimeoutMs = 10000;

bool MakeDirectories(const std::string& path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string part = path.substr(0, pos);
            if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
                return false;
            }
        }
    }
    return true;
}

bool SomeoneServes(const std::string& path) {
    wbemwire::ClientConnection probe;
    std::string ignored;
    return probe.Connect(path, &ignored);
}

void LogFailure(const char* what, const std::string& path) {
    Log(LOG_ERROR, "WBEM endpoint - %s %s failed, error=0x%08x", what, path.c_str(),
        static_cast<unsigned>(errno));
}

} // namespace

CEndpoint::~CEndpoint() {
    Stop();
}

bool CEndpoint::Start(const std::string& path) {
    m_Path = path;
    std::string dir = path.substr(0, path.rfind('/'));
    struct sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path) || !MakeDirectories(dir)) {
        LogFailure("creating", dir);
        return false;
    }
    if (SomeoneServes(path)) {
        Log(LOG_ERROR, "WBEM endpoint - %s is served by another process", path.c_str());
        return false;
    }
    unlink(path.c_str()); // a socket left behind by a process that ended
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    m_nListenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_nListenFd < 0 ||
        bind(m_nListenFd, reinterpret_cast<struct sockaddr*>(&address), sizeof(address)) != 0 ||
        chmod(path.c_str(), 0666) != 0 || listen(m_nListenFd, 64) != 0 ||
        pipe2(m_WakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        LogFailure("serving", path);
        Stop();
        return false;
    }
    m_IoThread = std::thread(&CEndpoint::IoLoop, this);
    for (int i = 0; i < kLayerThreads; ++i) {
        m_vLayerThreads.emplace_back(&CEndpoint::LayerThread, this);
    }
    Log(LOG_STATUS, "WBEM endpoint - serving %s", path.c_str());
    return true;
}

void CEndpoint::Stop() {
    {
        std::lock_guard guard(m_Lock);
        m_bStopping = true;
        for (auto& [fd, slot] : m_Polled) {
            slot.connection->Kill();
        }
        for (auto& connection : m_Work) {
            connection->Kill();
        }
    }
    m_WorkReady.notify_all();
    Wake();
    if (m_IoThread.joinable()) {
        m_IoThread.join();
    }
    for (std::thread& thread : m_vLayerThreads) {
        thread.join();
    }
    m_vLayerThreads.clear();
    std::map<int, Slot> polled;
    {
        std::lock_guard guard(m_Lock);
        polled.swap(m_Polled);
        for (Slot& slot : m_vReturned) {
            polled[slot.connection->Fd()] = slot;
        }
        m_vReturned.clear();
        m_Work.clear();
    }
    for (auto& [fd, slot] : polled) {
        if (slot.watched) {
            slot.watched->Unwatch(slot.connection);
        }
    }
    for (int* fd : {&m_nListenFd, &m_WakePipe[0], &m_WakePipe[1]}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
    if (!m_Path.empty()) {
        unlink(m_Path.c_str());
        Log(LOG_STATUS, "WBEM endpoint - stopped serving %s", m_Path.c_str());
        m_Path.clear();
    }
}

void CEndpoint::Wake() {
    if (m_WakePipe[1] >= 0) {
        char byte = 1;
        [[maybe_unused]] ssize_t ignored = write(m_WakePipe[1], &byte, 1);
    }
}

void CEndpoint::IoLoop() {
    while (true) {
        std::vector<struct pollfd> fds{{m_WakePipe[0], POLLIN, 0}, {m_nListenFd, POLLIN, 0}};
        std::vector<std::pair<ConnectionPtr, ProviderPtr>> ended;
        {
            std::lock_guard guard(m_Lock);
            if (m_bStopping) {
                return;
            }
            for (Slot& slot : m_vReturned) {
                if (slot.connection->IsDead()) {
                    ended.emplace_back(slot.connection, slot.watched);
                } else {
                    m_Polled[slot.connection->Fd()] = std::move(slot);
                }
            }
            m_vReturned.clear();
            for (auto& [fd, slot] : m_Polled) {
                fds.push_back({fd, POLLIN, 0});
            }
        }
        for (auto& [connection, watched] : ended) {
            if (watched) {
                watched->Unwatch(connection);
            }
        }
        ended.clear();
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) {
            LogFailure("polling", m_Path);
            return;
        }
        if (fds[0].revents != 0) {
            char drain[64];
            while (read(m_WakePipe[0], drain, sizeof(drain)) > 0) {
            }
        }
        if (fds[1].revents & POLLIN) {
            AcceptOne();
        }
        std::lock_guard guard(m_Lock);
        for (size_t i = 2; i < fds.size(); ++i) {
            auto it = m_Polled.find(fds[i].fd);
            if (fds[i].revents == 0 || it == m_Polled.end()) {
                continue;
            }
            Slot slot = std::move(it->second);
            m_Polled.erase(it);
            if (slot.watched || !(fds[i].revents & POLLIN)) {
                // A watcher that speaks or hangs up ends its watch.
                ended.emplace_back(slot.connection, slot.watched);
                continue;
            }
            ++m_nBusy;
            m_Work.push_back(slot.connection);
            m_WorkReady.notify_one();
        }
        if (!ended.empty()) {
            Wake(); // handled at the top, outside the lock
            for (auto& [connection, watched] : ended) {
                m_vReturned.push_back({connection, watched});
                connection->Kill();
            }
        }
    }
}

void CEndpoint::AcceptOne() {
    int fd = accept4(m_nListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    struct timeval timeout {
        kSendTimeoutMs / 1000, 0
    };
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
    security::PeerIdentity peer;
    if (!security::ReadPeerIdentity(fd, &peer)) {
        close(fd);
        return;
    }
    auto connection = std::make_shared<CConnection>(fd, std::move(peer));
    std::lock_guard guard(m_Lock);
    if (m_Polled.size() + m_nBusy + m_vReturned.size() >= kMaxConnections) {
        Log(LOG_ERROR, "WBEM endpoint - refusing client pid %d: too many connections",
            connection->Peer().pid);
        connection->SendStatus(kServerTooBusy, "too many connections", true);
        return;
    }
    m_Polled[fd] = Slot{connection, nullptr};
}

void CEndpoint::LayerThread() {
    while (true) {
        ConnectionPtr connection;
        {
            std::unique_lock lock(m_Lock);
            m_WorkReady.wait(lock, [this] { return m_bStopping || !m_Work.empty(); });
            if (m_bStopping) {
                return;
            }
            connection = std::move(m_Work.front());
            m_Work.pop_front();
        }
        Serve(connection);
    }
}

void CEndpoint::GiveBack(const ConnectionPtr& connection, ProviderPtr watched) {
    std::lock_guard guard(m_Lock);
    --m_nBusy;
    if (connection) {
        m_vReturned.push_back({connection, std::move(watched)});
        Wake();
    }
}

void CEndpoint::Serve(const ConnectionPtr& connection) {
    auto refuse = [&](const std::string& reason) {
        Log(LOG_ERROR, "WBEM endpoint - refusing a request of client pid %d: %s",
            connection->Peer().pid, reason.c_str());
        connection->SendStatus(WBEM_E_INVALID_PARAMETER, reason);
        connection->Kill();
        GiveBack(nullptr, nullptr);
    };
    uint8_t header[wbemwire::kFrameHeaderSize];
    size_t got = 0;
    auto io =
        wbemwire::ReadExact(connection->Fd(), header, sizeof(header), kRequestTimeoutMs, &got);
    if (io != wbemwire::IoResult::Done) {
        if (got == 0 && io != wbemwire::IoResult::Timeout) {
            GiveBack(nullptr, nullptr); // the client closed between requests
        } else {
            refuse("the request's header was cut short");
        }
        return;
    }
    uint32_t length = wbemwire::FrameBodyLength(header);
    if (length > wbemwire::kMaxRequestBody) {
        refuse("a request of " + std::to_string(length) + " bytes exceeds the limit of " +
               std::to_string(wbemwire::kMaxRequestBody));
        return;
    }
    std::vector<uint8_t> body(length);
    io = wbemwire::ReadExact(connection->Fd(), body.data(), body.size(), kRequestTimeoutMs, &got);
    if (io != wbemwire::IoResult::Done) {
        refuse("the request was cut short after " + std::to_string(got) + " of " +
               std::to_string(length) + " bytes");
        return;
    }
    wbemwire::Request request;
    std::string error;
    if (!wbemwire::DecodeRequest(body.data(), body.size(), &request, &error)) {
        refuse("malformed request: " + error);
        return;
    }
    ProviderPtr watched = RunRequest(connection, request);
    GiveBack(connection->IsDead() ? nullptr : connection, std::move(watched));
}

namespace {

std::mutex g_EndpointLock;
std::unique_ptr<CEndpoint> g_pEndpoint;

// Stops serving before the libraries below this one go away.
struct EndpointReaper {
    ~EndpointReaper() { StopEndpoint(); }
};
const EndpointReaper g_Reaper;

} // namespace

bool StartEndpoint() {
    std::lock_guard guard(g_EndpointLock);
    if (g_pEndpoint) {
        return true;
    }
    auto endpoint = std::make_unique<CEndpoint>();
    if (!endpoint->Start(wbemwire::DefaultEndpointPath())) {
        return false;
    }
    g_pEndpoint = std::move(endpoint);
    return true;
}

void StopEndpoint() {
    std::unique_ptr<CEndpoint> endpoint;
    {
        std::lock_guard guard(g_EndpointLock);
        endpoint.swap(g_pEndpoint);
    }
    if (endpoint) {
        endpoint->Stop();
    }
}

std::string EndpointPath() {
    std::lock_guard guard(g_EndpointLock);
    return g_pEndpoint ? g_pEndpoint->Path() : std::string();
}

} // namespace svcproc::wbemserver
