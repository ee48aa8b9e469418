// Who may reach what: clients of another uid and anonymous clients never get
// provider data, and each refusal is logged; the device socket admits only
// root and its group by its mode; the client endpoint admits every local
// user and leaves the decision to the providers.
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include "StackHarness.h"

namespace {

using namespace svcproc::wbemwire;
using stack::Outcome;

constexpr uid_t kNobody = 65534;
constexpr int32_t kAccessDenied = static_cast<int32_t>(0x80041003);
const char kSensorPath[] = "VQX_SpNumericSensor.Name=\"VCC 12V(00010002)\"";
const char kLedPath[] = "VQX_LedAlarmDevice.Name=\"Power LED(00040001)\"";

size_t Count(const std::string& text, const std::string& line) {
    size_t count = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) {
        ++count;
    }
    return count;
}

// A log line holding both parts, in that order.
bool HasLine(const std::string& text, const std::string& head, const std::string& tail) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t at = line.find(head);
        if (at != std::string::npos && line.find(tail, at + head.size()) != std::string::npos) {
            return true;
        }
    }
    return false;
}
const char kWatchRefused[] = "WBEM endpoint - request for VQX_SpNumericSensorAlert of client pid ";
const char kRefusedTail[] = " failed, HRESULT=0x80041003";

// Runs `body` in a child that has become uid/gid `id` with the given
// supplementary groups; its result text comes back through a pipe.
std::string AsUser(uid_t id, const std::vector<gid_t>& groups,
                   const std::function<std::string()>& body, int timeoutMs = 20000) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return "pipe failed";
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        std::string text = "could not change identity";
        if (setgroups(groups.size(), groups.data()) == 0 && setgid(id) == 0 && setuid(id) == 0) {
            text = body();
        }
        (void)!write(pipeFds[1], text.data(), text.size());
        _exit(0);
    }
    close(pipeFds[1]);
    std::string out;
    pollfd fd{pipeFds[0], POLLIN, 0};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline && poll(&fd, 1, 100) >= 0) {
        if (fd.revents == 0) {
            continue;
        }
        char buffer[512];
        ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return out;
}

// "denied" when the request got the access-denied status and no object,
// otherwise what happened.
std::string Refused(const std::string& endpoint, MessageType type, const std::string& target,
                    uint8_t level) {
    Outcome got = stack::Query(endpoint, type, target, level);
    if (got.end == Outcome::End::Status && got.hresult == kAccessDenied && got.objects.empty()) {
        return "denied";
    }
    char text[96];
    std::snprintf(text, sizeof text, "%s: end %d, HRESULT 0x%08x, %zu objects", target.c_str(),
                  static_cast<int>(got.end), static_cast<uint32_t>(got.hresult),
                  got.objects.size());
    return text;
}

struct Refusal {
    MessageType type;
    const char* target;
};
const Refusal kRequests[] = {{MessageType::Enumerate, "VQX_SpNumericSensor"},
                             {MessageType::Enumerate, "VQX_LedAlarmDevice"},
                             {MessageType::GetObject, kSensorPath},
                             {MessageType::GetObject, kLedPath}};

class StackSecurityTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(m_Stack.Start("default", &error)) << error;
    }
    // An event for a watcher to miss or see.
    void RaiseAndClear() {
        ASSERT_TRUE(m_Stack.Control("alert voltage 2 on"));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ASSERT_TRUE(m_Stack.Control("alert voltage 2 off"));
    }
    stack::Stack m_Stack;
};

TEST_F(StackSecurityTest, AnAnonymousClientGetsNoProviderDataAndEachRefusalIsLogged) {
    // A granted client first, so the providers are up when the anonymous come.
    ASSERT_TRUE(stack::Enumerate(m_Stack.Endpoint(), "VQX_SpNumericSensor").Succeeded());
    ASSERT_TRUE(stack::Enumerate(m_Stack.Endpoint(), "VQX_LedAlarmDevice").Succeeded());
    // The providers are initialised by then, so the refusal is the access check's.
    const std::string line = "::CheckClientAccess - CheckAccess - failed, error=0x";
    size_t logged = Count(m_Stack.ServiceLogText(), line);
    for (const Refusal& r : kRequests) {
        EXPECT_EQ(Refused(m_Stack.Endpoint(), r.type, r.target, 1), "denied");
    }
    EXPECT_EQ(Count(m_Stack.ServiceLogText(), line), logged + std::size(kRequests))
        << m_Stack.ServiceLogText();

    stack::EventWatcher watcher;
    std::string error;
    bool watching = watcher.Start(m_Stack.Endpoint(), "VQX_SpNumericSensorAlert", &error, 1);
    if (watching) {
        stack::EventWatcher granted;
        ASSERT_TRUE(granted.Start(m_Stack.Endpoint(), "VQX_SpNumericSensorAlert", &error));
        RaiseAndClear();
        EXPECT_TRUE(granted.WaitForEvents(2, 10000));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_TRUE(watcher.Events().empty()) << "an anonymous watcher got sensor events";
    } else {
        EXPECT_NE(error.find("0x80041003"), std::string::npos) << error;
        EXPECT_TRUE(HasLine(m_Stack.ServiceLogText(), kWatchRefused, kRefusedTail));
    }
}

class StackSecurityAsRootTest : public StackSecurityTest {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "changing to another user needs root";
        }
        StackSecurityTest::SetUp();
    }
};

TEST_F(StackSecurityAsRootTest, AnotherUserReachesTheEndpointButNoProviderData) {
    const std::string line = "::CheckClientAccess - CheckAccess - failed, error=0x00000005";
    size_t logged = Count(m_Stack.ServiceLogText(), line);
    std::string endpoint = m_Stack.Endpoint();
    std::string got = AsUser(kNobody, {}, [&] {
        std::string out;
        for (const Refusal& r : kRequests) {
            out += Refused(endpoint, r.type, r.target, 3) + ";";
        }
        return out;
    });
    EXPECT_EQ(got, "denied;denied;denied;denied;");
    EXPECT_EQ(Count(m_Stack.ServiceLogText(), line), logged + std::size(kRequests))
        << m_Stack.ServiceLogText();
    // The refusals were the providers': the connection was accepted.
    struct stat info {};
    ASSERT_EQ(stat(endpoint.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0006, 0006u) << std::oct << info.st_mode;
}

TEST_F(StackSecurityAsRootTest, AnotherUserWatchingGetsNoSensorEvents) {
    std::string endpoint = m_Stack.Endpoint();
    // Where the other user can leave a mark.
    std::string marks = m_Stack.Root() + "/marks";
    ASSERT_EQ(mkdir(marks.c_str(), 0777), 0);
    chmod(marks.c_str(), 0777);
    std::string flag = marks + "/nobody-watching";
    std::thread raiser([&] {
        if (WaitFor([&] { return access(flag.c_str(), F_OK) == 0; }, 10000)) {
            RaiseAndClear();
        }
    });
    stack::EventWatcher granted;
    std::string error;
    ASSERT_TRUE(granted.Start(endpoint, "VQX_SpNumericSensorAlert", &error)) << error;
    std::string got = AsUser(kNobody, {}, [&] {
        stack::EventWatcher watcher;
        std::string why;
        if (!watcher.Start(endpoint, "VQX_SpNumericSensorAlert", &why)) {
            // A refused watch is as good as one that stays silent.
            int fd = ::open(flag.c_str(), O_CREAT | O_WRONLY, 0644);
            close(fd);
            return why.find("0x80041003") != std::string::npos ? std::string("silent") : why;
        }
        int fd = ::open(flag.c_str(), O_CREAT | O_WRONLY, 0644);
        close(fd);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        size_t events = watcher.Events().size();
        return events == 0 ? std::string("silent") : std::to_string(events) + " events";
    });
    raiser.join();
    EXPECT_TRUE(granted.WaitForEvents(2, 10000)) << "no alert reached the granted watcher";
    EXPECT_EQ(got, "silent") << "a client of another user received sensor events";
    EXPECT_TRUE(HasLine(m_Stack.ServiceLogText(), kWatchRefused, kRefusedTail))
        << m_Stack.ServiceLogText();
}

TEST_F(StackSecurityAsRootTest, TheDeviceSocketAdmitsRootAndItsGroupOnlyByItsMode) {
    std::string device = m_Stack.DeviceSocket();
    ASSERT_FALSE(device.empty());
    struct stat info {};
    ASSERT_EQ(stat(device.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0660u) << std::oct << (info.st_mode & 0777);
    EXPECT_EQ(info.st_uid, 0u);

    auto connectResult = [device] {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", device.c_str());
        int rc = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        int error = rc == 0 ? 0 : errno;
        close(fd);
        return std::string(error == 0 ? "connected" : strerrorname_np(error));
    };
    EXPECT_EQ(AsUser(kNobody, {}, connectResult), "EACCES");
    // A member of the socket's group passes the mode (the host may still
    // refuse a second open).
    EXPECT_NE(AsUser(kNobody, {info.st_gid}, connectResult), "EACCES");
    EXPECT_TRUE(m_Stack.m_Portwyn.Running());
    EXPECT_TRUE(stack::Enumerate(m_Stack.Endpoint(), "VQX_SpNumericSensor").Succeeded());
}

} // namespace
