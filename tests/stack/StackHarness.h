// The whole stack as separate processes on a temporary runtime directory:
// the driver host with the simulator, the service, and clients that speak
// the endpoint's protocol from this process. Shared by the stack tests and
// the stack benchmarks.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <utility>
#include <vector>

#include "Processes.h"
#include "WbemClient.h"

namespace stack {

std::string Bin(const char* name);

class Stack {
public:
    Stack() = default;
    ~Stack();
    Stack(const Stack&) = delete;
    Stack& operator=(const Stack&) = delete;

    // Starts the driver host and the service on `profile`; false (and the
    // reason in *error) when either does not come up and answer.
    bool Start(const std::string& profile, std::string* error, int serviceLogLevel = 1);
    void Stop();

    // Sends one simulator control line; the data lines, or nullopt-like
    // false on an error reply or an unreachable socket.
    bool Control(const std::string& line, std::string* data = nullptr);
    // The simulator's counters ("stats"), empty when unreachable.
    std::map<std::string, uint64_t> Stats();

    std::string Endpoint() const { return m_Run + "/wbem/endpoint.sock"; }
    std::string SimSocket() const { return m_Run + "/sim.sock"; }
    // The device interface socket the driver host publishes, empty if none.
    std::string DeviceSocket() const;
    std::string ServiceLogText() const { return ReadWholeFile(m_Root + "/telvane.log"); }
    std::string HostLogText() const { return ReadWholeFile(m_Root + "/portwyn.log"); }
    const std::vector<std::string>& Environment() const { return m_Env; }
    const std::string& Root() const { return m_Root; }

    RunningProcess m_Portwyn;
    RunningProcess m_Telvane;

private:
    std::string m_Root;
    std::string m_Run;
    std::vector<std::string> m_Env;
};

// A process's resident memory (kB) and its CPU time so far (clock ticks);
// -1 when it cannot be read.
long ResidentKb(pid_t pid);
long CpuTicks(pid_t pid);

// One request and all its replies.
struct Outcome {
    enum class End { Status, Closed, Timeout, ConnectFailed, Malformed };
    End end = End::ConnectFailed;
    int32_t hresult = 0;
    std::string error;
    std::vector<svcproc::wbemwire::Object> objects;
    bool Succeeded() const { return end == End::Status && hresult >= 0; }
};

Outcome Query(const std::string& endpoint, svcproc::wbemwire::MessageType type,
              const std::string& target, uint8_t level = 3, int timeoutMs = 10000);
inline Outcome Enumerate(const std::string& endpoint, const std::string& className,
                         uint8_t level = 3, int timeoutMs = 10000) {
    return Query(endpoint, svcproc::wbemwire::MessageType::Enumerate, className, level, timeoutMs);
}

std::string PropertyText(const svcproc::wbemwire::Object& object, const std::string& name);

// A client watching a class's events on a thread of its own; it records the
// Name and CurrentState of every event in the order they arrive.
class EventWatcher {
public:
    using Event = std::pair<std::string, std::string>;
    ~EventWatcher();

    // Connects and waits for the endpoint's answer; false with the status or
    // the reason in *error when the watch was not confirmed.
    bool Start(const std::string& endpoint, const std::string& className, std::string* error,
               uint8_t level = 3);
    void Stop();
    std::vector<Event> Events();
    bool WaitForEvents(size_t count, int timeoutMs);
    // How the watch ended while this client still listened (Timeout: it
    // has not ended).
    Outcome::End Ended();

private:
    void Listen();

    svcproc::wbemwire::ClientConnection m_Connection;
    std::thread m_Thread;
    std::atomic<bool> m_bStop{false};
    std::atomic<Outcome::End> m_End{Outcome::End::Timeout};
    std::mutex m_Lock;
    std::vector<Event> m_Events;
};

} // namespace stack
