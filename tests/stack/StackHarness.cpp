#include "StackHarness.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "WbemClient.h"
#include "control/ControlClient.h"

namespace stack {

using namespace svcproc::wbemwire;

std::string Bin(const char* name) {
    return std::string(STACK_BIN_DIR) + "/" + name;
}

Stack::~Stack() {
    Stop();
}

bool Stack::Start(const std::string& profile, std::string* error, int serviceLogLevel) {
    m_Root = MakeTempDir("svcproc_stack");
    m_Run = m_Root + "/run";
    mkdir(m_Run.c_str(), 0755);
    // Other users (the security tests run clients as nobody) must reach the
    // sockets below.
    chmod(m_Root.c_str(), 0755);
    m_Env = MakeEnvironment({{"SVCPROC_RUNTIME_DIR", m_Run},
                             {"SVCPROC_SCM_UNIT_DIR", m_Root},
                             {"NOTIFY_SOCKET", ""},
                             {"SVCPROC_SCM", ""},
                             {"SVCPROC_LOG_FILE", ""},
                             {"SVCPROC_LOG_LEVEL", "1"}});
    std::string table = m_Root + "/table.bin";
    if (RunProcess({Bin("spsim"), "table", profile, table}, m_Env).exitCode != 0) {
        *error = "spsim could not write the table of " + profile;
        return false;
    }
    m_Portwyn.Start(
        {Bin("portwyn"), "--ports=sim", "--profile", profile, "--sim-control", SimSocket()}, m_Env,
        m_Root + "/portwyn.log");
    if (!WaitFor([&] { return !DeviceSocket().empty() && access(SimSocket().c_str(), F_OK) == 0; },
                 10000)) {
        *error = "the driver host did not come up: " + HostLogText();
        return false;
    }
    std::vector<std::string> serviceEnv =
        MakeEnvironment({{"SVCPROC_RUNTIME_DIR", m_Run},
                         {"SVCPROC_SCM", "1"},
                         {"SVCPROC_SMBIOS_TABLE", table},
                         {"SVCPROC_LOG_LEVEL", std::to_string(serviceLogLevel)},
                         {"SVCPROC_LOG_FILE", ""},
                         {"NOTIFY_SOCKET", ""}});
    m_Telvane.Start({Bin("telvane")}, serviceEnv, m_Root + "/telvane.log");
    bool answers = WaitFor(
        [&] {
            // The providers register one after the other: ready once both answer.
            return !m_Telvane.Running() ||
                   (Enumerate(Endpoint(), "VQX_SpNumericSensor", 3, 5000).Succeeded() &&
                    Enumerate(Endpoint(), "VQX_LedAlarmDevice", 3, 5000).Succeeded());
        },
        20000);
    if (!answers || !m_Telvane.Running()) {
        *error = "the service did not answer: " + ServiceLogText();
        return false;
    }
    return true;
}

void Stack::Stop() {
    m_Telvane.Stop();
    m_Portwyn.Stop();
    if (!m_Root.empty()) {
        RemoveTree(m_Root);
        m_Root.clear();
    }
}

bool Stack::Control(const std::string& line, std::string* data) {
    svcproc::sim::ControlReply reply;
    std::string error;
    if (!svcproc::sim::SendControlRequest(SimSocket(), line, &reply, &error) || !reply.m_bOk) {
        return false;
    }
    if (data) {
        *data = reply.m_sData;
    }
    return true;
}

std::map<std::string, uint64_t> Stack::Stats() {
    std::map<std::string, uint64_t> out;
    std::string data;
    if (!Control("stats", &data)) {
        return out;
    }
    std::istringstream lines(data);
    std::string name;
    uint64_t value = 0;
    while (lines >> name >> value) {
        out[name] = value;
    }
    return out;
}

std::string Stack::DeviceSocket() const {
    std::error_code ec;
    for (auto& dir : std::filesystem::directory_iterator(m_Run + "/devices", ec)) {
        for (auto& entry : std::filesystem::directory_iterator(dir.path(), ec)) {
            if (entry.is_socket(ec)) {
                return entry.path().string();
            }
        }
    }
    return {};
}

long ResidentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

long CpuTicks(pid_t pid) {
    std::string text = ReadWholeFile("/proc/" + std::to_string(pid) + "/stat");
    size_t close = text.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    // After the command: state is field 3; utime and stime are fields 14, 15.
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long utime = -1, stime = -1;
    for (int index = 3; fields >> field && index <= 15; ++index) {
        if (index == 14) {
            utime = std::stol(field);
        } else if (index == 15) {
            stime = std::stol(field);
        }
    }
    return utime < 0 || stime < 0 ? -1 : utime + stime;
}

Outcome Query(const std::string& endpoint, MessageType type, const std::string& target,
              uint8_t level, int timeoutMs) {
    Outcome outcome;
    ClientConnection client;
    Request request;
    request.type = type;
    request.impersonationLevel = level;
    request.nameSpace = "root\\cimv2";
    request.target = target;
    if (!client.Connect(endpoint, &outcome.error) || !client.Send(request, &outcome.error)) {
        return outcome;
    }
    for (;;) {
        Reply reply;
        switch (client.Read(&reply, timeoutMs, &outcome.error)) {
        case ClientConnection::ReadResult::Reply:
            break;
        case ClientConnection::ReadResult::Timeout:
            outcome.end = Outcome::End::Timeout;
            return outcome;
        case ClientConnection::ReadResult::Closed:
            outcome.end = Outcome::End::Closed;
            return outcome;
        case ClientConnection::ReadResult::Malformed:
            outcome.end = Outcome::End::Malformed;
            return outcome;
        }
        if (reply.type == MessageType::Status) {
            outcome.end = Outcome::End::Status;
            outcome.hresult = reply.status.hresult;
            outcome.error = reply.status.text;
            return outcome;
        }
        outcome.objects.push_back(std::move(reply.object));
    }
}

std::string PropertyText(const Object& object, const std::string& name) {
    for (const Property& p : object.properties) {
        if (p.name == name) {
            switch (p.value.kind) {
            case Value::Kind::String:
                return p.value.text;
            case Value::Kind::Integer:
                return std::to_string(p.value.integer);
            case Value::Kind::Unsigned:
                return std::to_string(p.value.unsignedValue);
            case Value::Kind::Real:
                return std::to_string(p.value.real);
            case Value::Kind::Boolean:
                return p.value.boolean ? "true" : "false";
            default:
                return {};
            }
        }
    }
    return {};
}

EventWatcher::~EventWatcher() {
    Stop();
}

bool EventWatcher::Start(const std::string& endpoint, const std::string& className,
                         std::string* error, uint8_t level) {
    Request request;
    request.type = MessageType::Watch;
    request.impersonationLevel = level;
    request.nameSpace = "root\\cimv2";
    request.target = className;
    Reply reply;
    if (!m_Connection.Connect(endpoint, error) || !m_Connection.Send(request, error)) {
        return false;
    }
    if (m_Connection.Read(&reply, 10000, error) != ClientConnection::ReadResult::Reply) {
        return false;
    }
    if (reply.type != MessageType::Status || reply.status.hresult < 0) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08x", static_cast<uint32_t>(reply.status.hresult));
        *error = std::string("watch refused: ") + code + " " + reply.status.text;
        return false;
    }
    m_Thread = std::thread([this] { Listen(); });
    return true;
}

void EventWatcher::Listen() {
    while (!m_bStop) {
        Reply reply;
        std::string error;
        switch (m_Connection.Read(&reply, 200, &error)) {
        case ClientConnection::ReadResult::Timeout:
            continue;
        case ClientConnection::ReadResult::Closed:
            m_End = Outcome::End::Closed;
            return;
        case ClientConnection::ReadResult::Malformed:
            m_End = Outcome::End::Malformed;
            return;
        case ClientConnection::ReadResult::Reply:
            break;
        }
        if (reply.type == MessageType::Status) {
            m_End = Outcome::End::Status;
            return;
        }
        std::lock_guard<std::mutex> lock(m_Lock);
        m_Events.emplace_back(PropertyText(reply.object, "Name"),
                              PropertyText(reply.object, "CurrentState"));
    }
}

void EventWatcher::Stop() {
    m_bStop = true;
    if (m_Thread.joinable()) {
        m_Thread.join();
    }
    m_Connection.Close();
}

std::vector<EventWatcher::Event> EventWatcher::Events() {
    std::lock_guard<std::mutex> lock(m_Lock);
    return m_Events;
}

bool EventWatcher::WaitForEvents(size_t count, int timeoutMs) {
    return WaitFor([&] { return Events().size() >= count; }, timeoutMs);
}

Outcome::End EventWatcher::Ended() {
    return m_End;
}

} // namespace stack
