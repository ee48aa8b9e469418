// Serves the control protocol on a Unix stream socket, on a thread of its
// own, for any number of clients at once.
#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "model/ServiceProcessorModel.h"

namespace svcproc::sim {

class CControlServer {
public:
    // Null and *error when the socket cannot be served: path too long, a live
    // socket already there, no permission. A stale socket file is replaced.
    static std::unique_ptr<CControlServer> Start(const std::string& path,
                                                 CServiceProcessorModel& model, std::string* error);
    // Stops the thread, closes every connection and removes the socket file.
    ~CControlServer();

    CControlServer(const CControlServer&) = delete;
    CControlServer& operator=(const CControlServer&) = delete;

private:
    struct Client {
        int m_nFd = -1;
        std::string m_sPending;
    };

    CControlServer(std::string path, CServiceProcessorModel& model, int listenFd, int wakeRead,
                   int wakeWrite);
    void Run();
    void Accept();
    // False when the connection is to be closed.
    bool Serve(Client& client);

    const std::string m_sPath;
    CServiceProcessorModel& m_Model;
    int m_nListenFd;
    int m_nWakeRead;
    int m_nWakeWrite;
    std::vector<Client> m_vClients;
    std::thread m_Thread;
};

} // namespace svcproc::sim
