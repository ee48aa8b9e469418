// The socket, its I/O loop and the pool of layer threads that run requests.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Connection.h"
#include "Providers.h"

namespace svcproc::wbemserver {

class CEndpoint {
public:
    static constexpr int kLayerThreads = 4;
    static constexpr size_t kMaxConnections = 256;
    // A request that has begun must be complete within this time.
    static constexpr int kRequestTimeoutMs = 10000;

    ~CEndpoint();

    bool Start(const std::string& path);
    void Stop();
    const std::string& Path() const { return m_Path; }

private:
    struct Slot {
        ConnectionPtr connection;
        ProviderPtr watched; // set while the connection watches events
    };

    void IoLoop();
    void AcceptOne();
    void Wake();
    void LayerThread();
    // Reads and runs one request; returns the connection to the I/O loop
    // when it stays open.
    void Serve(const ConnectionPtr& connection);
    void GiveBack(const ConnectionPtr& connection, ProviderPtr watched);

    std::string m_Path;
    int m_nListenFd = -1;
    int m_WakePipe[2] = {-1, -1};
    bool m_bStopping = false;
    std::thread m_IoThread;
    std::vector<std::thread> m_vLayerThreads;

    std::mutex m_Lock; // guards everything below
    std::condition_variable m_WorkReady;
    std::deque<ConnectionPtr> m_Work;
    std::vector<Slot> m_vReturned;
    std::map<int, Slot> m_Polled; // idle and watching connections, by fd
    size_t m_nBusy = 0;
};

} // namespace svcproc::wbemserver
