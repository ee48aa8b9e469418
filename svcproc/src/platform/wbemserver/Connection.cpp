#include "Connection.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

#include "Log.h"

namespace svcproc::wbemserver {

CConnection::CConnection(int fd, security::PeerIdentity peer)
    : m_nFd(fd), m_Peer(std::move(peer)) {}

CConnection::~CConnection() {
    close(m_nFd);
}

bool CConnection::Send(const std::vector<uint8_t>& frame, bool noWait) {
    std::lock_guard guard(m_WriteLock);
    return SendLocked(frame, noWait);
}

bool CConnection::SendStatus(int32_t hresult, const std::string& text, bool noWait) {
    return Send(wbemwire::EncodeStatus({hresult, text}), noWait);
}

bool CConnection::SendLocked(const std::vector<uint8_t>& frame, bool noWait) {
    if (m_bDead.load()) {
        return false;
    }
    size_t done = 0;
    const int flags = MSG_NOSIGNAL | (noWait ? MSG_DONTWAIT : 0);
    while (done < frame.size()) {
        ssize_t sent = send(m_nFd, frame.data() + done, frame.size() - done, flags);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            // A frame cut in two leaves the stream unreadable: end it.
            Log(LOG_ERROR, "WBEM endpoint - send to client pid %d failed, error=0x%08x", m_Peer.pid,
                static_cast<unsigned>(errno));
            Kill();
            return false;
        }
        done += static_cast<size_t>(sent);
    }
    return true;
}

void CConnection::Kill() {
    if (!m_bDead.exchange(true)) {
        shutdown(m_nFd, SHUT_RDWR);
    }
}

} // namespace svcproc::wbemserver
