// One request to a simulator's control socket.
#pragma once

#include <string>

namespace svcproc::sim {

struct ControlReply {
    bool m_bOk = false;
    std::string m_sData;   // the data lines, LF-terminated
    std::string m_sReason; // after "error ", when not ok
};

// Sends one request line and waits for its final line. False and *error when
// the socket cannot be reached or the reply is cut short; a reply of "error"
// is still a true result, with m_bOk false.
bool SendControlRequest(const std::string& socketPath, const std::string& line, ControlReply* reply,
                        std::string* error);

} // namespace svcproc::sim
