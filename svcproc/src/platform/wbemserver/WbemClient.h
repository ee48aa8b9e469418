// A client connection to the WBEM endpoint (see WbemWire.h for the protocol).
#pragma once

#include <string>

#include "WbemWire.h"

namespace svcproc::wbemwire {

// $SVCPROC_RUNTIME_DIR/wbem/endpoint.sock, the runtime dir defaulting to
// /run/svcproc.
std::string RuntimeDirectory();
std::string DefaultEndpointPath();

// Whole-buffer socket I/O with a time limit (milliseconds; negative: none).
enum class IoResult { Done, Timeout, Closed, Failed };
// *got (when given) tells how many bytes arrived.
IoResult ReadExact(int fd, void* buffer, size_t size, int timeoutMs, size_t* got = nullptr);
IoResult WriteAll(int fd, const void* buffer, size_t size);

class ClientConnection {
public:
    ClientConnection() = default;
    ~ClientConnection();
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    bool Connect(const std::string& path, std::string* error);
    bool Send(const Request& request, std::string* error);
    bool SendRaw(const void* bytes, size_t size, std::string* error);

    enum class ReadResult { Reply, Timeout, Closed, Malformed };
    // The next reply within `timeoutMs` (negative: no limit).
    ReadResult Read(Reply* reply, int timeoutMs, std::string* error);

    int Fd() const { return m_nFd; }
    void Close();

private:
    int m_nFd = -1;
};

} // namespace svcproc::wbemwire
