// One client connection of the endpoint.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Security.h"
#include "WbemWire.h"

namespace svcproc::wbemserver {

class CConnection {
public:
    CConnection(int fd, security::PeerIdentity peer);
    ~CConnection();
    CConnection(const CConnection&) = delete;
    CConnection& operator=(const CConnection&) = delete;

    int Fd() const { return m_nFd; }
    const security::PeerIdentity& Peer() const { return m_Peer; }

    // Sends one whole frame; false (and the connection dead) when it cannot.
    // `noWait`: give up rather than block on a client that does not read.
    bool Send(const std::vector<uint8_t>& frame, bool noWait = false);
    bool SendStatus(int32_t hresult, const std::string& text, bool noWait = false);
    // Ends the connection: the I/O loop sees it hang up and drops it.
    void Kill();
    bool IsDead() const { return m_bDead.load(); }

    // Taken while a frame goes out, so watch replies and events never mix.
    std::mutex& WriteLock() { return m_WriteLock; }

    // The class this connection watches; empty while it does not.
    std::wstring m_WatchClass;

private:
    bool SendLocked(const std::vector<uint8_t>& frame, bool noWait);

    int m_nFd;
    security::PeerIdentity m_Peer;
    std::atomic<bool> m_bDead{false};
    std::mutex m_WriteLock;
};

using ConnectionPtr = std::shared_ptr<CConnection>;

} // namespace svcproc::wbemserver
