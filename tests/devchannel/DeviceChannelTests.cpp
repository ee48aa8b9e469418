#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "DeviceChannel.h"
#include "DeviceChannelServer.h"
#include "DeviceChannelWire.h"
#include "Log.h"

using svcproc::devchannel::DeviceInterfaceServer;
namespace wire = svcproc::devchannel::wire;

namespace {

constexpr DWORD kEcho = 0x1000;
constexpr DWORD kFail = 0x2000;
constexpr DWORD kSlow = 0x3000;

struct CapturedLog {
    std::mutex lock;
    std::vector<std::string> lines;
    static void Sink(void* context, _LOG_LEVEL, const char* text) {
        auto* self = static_cast<CapturedLog*>(context);
        std::lock_guard<std::mutex> hold(self->lock);
        self->lines.emplace_back(text);
    }
    bool Contains(const std::string& line) {
        std::lock_guard<std::mutex> hold(lock);
        for (const auto& l : lines) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }
};

class DeviceChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/devchannel-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_sRuntime = pattern;
        ::setenv("SVCPROC_RUNTIME_DIR", m_sRuntime.c_str(), 1);
        svcproc::log::SetCaptureSink(&CapturedLog::Sink, &m_Log);
        m_pServer = std::make_unique<DeviceInterfaceServer>(
            SVCP_INTERFACE_CLASS_GUID_STRING, "PORTWYN",
            [this](uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out, uint32_t outLen,
                   uint32_t* information) {
                return Handle(code, in, inLen, out, outLen, information);
            });
    }
    void TearDown() override {
        m_pServer.reset();
        svcproc::log::SetCaptureSink(nullptr, nullptr);
        std::filesystem::remove_all(m_sRuntime);
    }

    // Echo: output = input (as far as it fits), information = bytes written.
    // Fail: status taken from the first four input bytes, output scribbled.
    // Slow: counts requests in flight, to show they never overlap.
    NTSTATUS Handle(uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out, uint32_t outLen,
                    uint32_t* information) {
        if (code == kEcho) {
            uint32_t n = std::min(inLen, outLen);
            std::memcpy(out, in, n);
            *information = n;
            return STATUS_SUCCESS;
        }
        if (code == kFail) {
            NTSTATUS status;
            std::memcpy(&status, in, sizeof status);
            std::memset(out, 0xEE, outLen);
            *information = outLen;
            return status;
        }
        if (code == kSlow) {
            if (++m_nInFlight > 1) {
                m_bOverlapped = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            --m_nInFlight;
            ++m_nDone;
            return STATUS_SUCCESS;
        }
        return STATUS_INVALID_DEVICE_REQUEST;
    }

    void Enable() {
        std::string error;
        ASSERT_TRUE(m_pServer->Enable(&error)) << error;
    }

    std::vector<std::wstring> Enumerate() {
        std::vector<std::wstring> paths;
        HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_SVCP, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        EXPECT_NE(set, INVALID_HANDLE_VALUE_DEVINFO);
        for (DWORD i = 0;; ++i) {
            SP_DEVICE_INTERFACE_DATA data{};
            data.cbSize = sizeof data;
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_SVCP, i, &data)) {
                EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
                break;
            }
            DWORD size = 0;
            EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr));
            EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
            std::vector<uint8_t> buffer(size);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            EXPECT_TRUE(
                SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr));
            paths.emplace_back(detail->DevicePath);
        }
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
        return paths;
    }

    HANDLE Open(DWORD share = 0) {
        std::string path = m_pServer->Path();
        std::wstring wide(path.begin(), path.end());
        return CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }

    // A raw connection that speaks the wire format by hand.
    int Connect() {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, m_pServer->Path().c_str());
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        return fd;
    }
    // Waits for the server to close `fd`; false if it stays open.
    static bool ClosedByServer(int fd) {
        timeval timeout{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char byte;
        ssize_t got;
        while ((got = ::recv(fd, &byte, 1, 0)) > 0) {
        }
        return got == 0;
    }
    void ExpectEchoWorks(HANDLE device) {
        uint8_t in[5] = {1, 2, 3, 4, 5};
        uint8_t out[8] = {};
        DWORD returned = 99;
        ASSERT_TRUE(
            DeviceIoControl(device, kEcho, in, sizeof in, out, sizeof out, &returned, nullptr));
        EXPECT_EQ(returned, 5u);
        EXPECT_EQ(std::memcmp(in, out, 5), 0);
        EXPECT_EQ(out[5], 0);
    }

    std::string m_sRuntime;
    CapturedLog m_Log;
    std::unique_ptr<DeviceInterfaceServer> m_pServer;
    std::atomic<int> m_nInFlight{0};
    std::atomic<int> m_nDone{0};
    std::atomic<bool> m_bOverlapped{false};
};

TEST_F(DeviceChannelTest, InterfaceAppearsOnlyWhileEnabled) {
    EXPECT_TRUE(Enumerate().empty()); // no class directory at all
    EXPECT_FALSE(m_pServer->IsEnabled());
    Enable();
    std::string expected = m_sRuntime + "/devices/" + SVCP_INTERFACE_CLASS_GUID_STRING + "/PORTWYN";
    EXPECT_EQ(m_pServer->Path(), expected);
    auto paths = Enumerate();
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], std::wstring(expected.begin(), expected.end()));
    struct stat info {};
    ASSERT_EQ(::stat(expected.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0660u);

    m_pServer->Disable();
    EXPECT_TRUE(Enumerate().empty());
    EXPECT_FALSE(std::filesystem::exists(expected));
    EXPECT_EQ(Open(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(DeviceChannelTest, EnumerationArgumentErrors) {
    EXPECT_EQ(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_DEVICEINTERFACE),
              INVALID_HANDLE_VALUE_DEVINFO);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    Enable();
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_SVCP, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_SVCP, 0, &data));
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    std::vector<uint8_t> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size - 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    detail->cbSize = 1;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    GUID other = GUID_DEVINTERFACE_SVCP;
    other.Data1 ^= 1;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &other, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_ITEMS);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(DeviceChannelTest, RequestRoundTripCopiesInformationBytes) {
    Enable();
    HANDLE device = Open();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ExpectEchoWorks(device);
    // A request with no buffers at all.
    DWORD returned = 7;
    EXPECT_TRUE(DeviceIoControl(device, kEcho, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(returned, 0u);
    EXPECT_TRUE(CloseHandle(device));
}

TEST_F(DeviceChannelTest, FailureStatusBecomesLastErrorAndLeavesOutputAlone) {
    struct Case {
        NTSTATUS status;
        DWORD error;
    };
    const Case cases[] = {
        {STATUS_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
        {STATUS_BUFFER_TOO_SMALL, ERROR_INSUFFICIENT_BUFFER},
        {STATUS_IO_TIMEOUT, ERROR_SEM_TIMEOUT},
        {STATUS_INVALID_DEVICE_REQUEST, ERROR_INVALID_FUNCTION},
        {STATUS_NOT_IMPLEMENTED, ERROR_INVALID_FUNCTION},
        {STATUS_INVALID_DEVICE_STATE, ERROR_BAD_COMMAND},
        {STATUS_DEVICE_PROTOCOL_ERROR, ERROR_IO_DEVICE},
        {STATUS_DEVICE_BUSY, ERROR_BUSY},
        {STATUS_UNSUCCESSFUL, ERROR_GEN_FAILURE},
        {static_cast<NTSTATUS>(0xC0DE0001u), ERROR_GEN_FAILURE},
    };
    Enable();
    HANDLE device = Open();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    for (const Case& c : cases) {
        uint8_t out[16];
        std::memset(out, 0x5A, sizeof out);
        DWORD returned = 99;
        EXPECT_FALSE(DeviceIoControl(device, kFail, const_cast<NTSTATUS*>(&c.status),
                                     sizeof c.status, out, sizeof out, &returned, nullptr));
        EXPECT_EQ(GetLastError(), c.error) << std::hex << c.status;
        EXPECT_EQ(returned, 0u);
        for (uint8_t b : out) {
            ASSERT_EQ(b, 0x5A);
        }
    }
    ExpectEchoWorks(device); // the handle stays usable after failures
    CloseHandle(device);
}

TEST_F(DeviceChannelTest, ClientSideArgumentErrors) {
    Enable();
    HANDLE device = Open();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    std::vector<uint8_t> big(wire::kMaxTransfer + 1);
    DWORD returned;
    EXPECT_FALSE(
        DeviceIoControl(device, kEcho, big.data(), big.size(), nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(DeviceIoControl(device, kEcho, nullptr, 4, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    int overlapped = 0;
    EXPECT_FALSE(DeviceIoControl(device, kEcho, nullptr, 0, nullptr, 0, &returned, &overlapped));
    EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    ExpectEchoWorks(device);
    CloseHandle(device);
    EXPECT_FALSE(DeviceIoControl(device, kEcho, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(DeviceChannelTest, SecondOpenOfHeldDeviceIsASharingViolation) {
    Enable();
    HANDLE first = Open(0);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Open(FILE_SHARE_READ | FILE_SHARE_WRITE), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    ExpectEchoWorks(first); // the holder is not disturbed
    CloseHandle(first);

    // Once released it opens again; handles that both share coexist.
    HANDLE a = INVALID_HANDLE_VALUE;
    for (int i = 0; i < 1000 && a == INVALID_HANDLE_VALUE; ++i) { // close is asynchronous
        a = Open(FILE_SHARE_READ | FILE_SHARE_WRITE);
        if (a == INVALID_HANDLE_VALUE) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    ASSERT_NE(a, INVALID_HANDLE_VALUE);
    HANDLE b = Open(FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(b, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(0), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    ExpectEchoWorks(a);
    ExpectEchoWorks(b);
    CloseHandle(a);
    CloseHandle(b);
}

TEST_F(DeviceChannelTest, RequestsOfAllHandlesRunOneAtATime) {
    Enable();
    HANDLE a = Open(FILE_SHARE_READ | FILE_SHARE_WRITE);
    HANDLE b = Open(FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(a, INVALID_HANDLE_VALUE);
    ASSERT_NE(b, INVALID_HANDLE_VALUE);
    std::atomic<int> failures{0};
    auto client = [&](HANDLE device) {
        for (int i = 0; i < 20; ++i) {
            DWORD returned;
            if (!DeviceIoControl(device, kSlow, nullptr, 0, nullptr, 0, &returned, nullptr)) {
                ++failures;
            }
        }
    };
    // Two handles and two threads on one handle.
    std::thread t1(client, a), t2(client, b), t3(client, a);
    t1.join();
    t2.join();
    t3.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(m_nDone.load(), 60);
    EXPECT_FALSE(m_bOverlapped.load());
    CloseHandle(a);
    CloseHandle(b);
}

TEST_F(DeviceChannelTest, BadMessagesCloseOnlyTheirConnection) {
    Enable();
    HANDLE good = Open(FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(good, INVALID_HANDLE_VALUE);

    int malformed = Connect();
    wire::OpenMessage bad{0x12345678, wire::kVersion, GENERIC_READ, FILE_SHARE_READ};
    ASSERT_EQ(::send(malformed, &bad, sizeof bad, 0), (ssize_t)sizeof bad);
    EXPECT_TRUE(ClosedByServer(malformed));
    ::close(malformed);
    EXPECT_TRUE(m_Log.Contains("Device channel PORTWYN: closing connection 2: malformed open "
                               "message"));

    auto openRaw = [&]() {
        int fd = Connect();
        wire::OpenMessage open{wire::kOpenMagic, wire::kVersion, GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE};
        EXPECT_EQ(::send(fd, &open, sizeof open, 0), (ssize_t)sizeof open);
        wire::OpenReply reply{};
        EXPECT_EQ(::recv(fd, &reply, sizeof reply, MSG_WAITALL), (ssize_t)sizeof reply);
        EXPECT_EQ(reply.status, 0u);
        return fd;
    };
    int oversized = openRaw();
    wire::RequestHeader huge{kEcho, wire::kMaxTransfer + 1, 0};
    ASSERT_EQ(::send(oversized, &huge, sizeof huge, 0), (ssize_t)sizeof huge);
    EXPECT_TRUE(ClosedByServer(oversized));
    ::close(oversized);
    EXPECT_TRUE(m_Log.Contains("Device channel PORTWYN: closing connection 3: oversized request "
                               "(input 4097, output 0 bytes)"));

    int truncated = openRaw();
    wire::RequestHeader header{kEcho, 10, 10};
    ASSERT_EQ(::send(truncated, &header, sizeof header, 0), (ssize_t)sizeof header);
    ASSERT_EQ(::send(truncated, "abc", 3, 0), 3);
    ::shutdown(truncated, SHUT_WR);
    EXPECT_TRUE(ClosedByServer(truncated));
    ::close(truncated);
    EXPECT_TRUE(m_Log.Contains("Device channel PORTWYN: closing connection 4: truncated message "
                               "(15 bytes)"));

    ExpectEchoWorks(good);
    CloseHandle(good);
}

TEST_F(DeviceChannelTest, WithdrawnInterfaceFailsOpenHandles) {
    Enable();
    HANDLE device = Open();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    m_pServer->Disable();
    DWORD returned;
    EXPECT_FALSE(DeviceIoControl(device, kEcho, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_NOT_CONNECTED);
    CloseHandle(device);
    // Re-enabled, it serves again.
    Enable();
    device = Open();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    ExpectEchoWorks(device);
    CloseHandle(device);
}

TEST_F(DeviceChannelTest, SecondServerForALivePathIsRefused) {
    Enable();
    DeviceInterfaceServer second(SVCP_INTERFACE_CLASS_GUID_STRING, "PORTWYN",
                                 [](uint32_t, const uint8_t*, uint32_t, uint8_t*, uint32_t,
                                    uint32_t*) { return STATUS_SUCCESS; });
    std::string error;
    EXPECT_FALSE(second.Enable(&error));
    EXPECT_EQ(error, "interface already served: " + m_pServer->Path());
    HANDLE device = Open();
    ASSERT_NE(device, INVALID_HANDLE_VALUE); // the first one still serves
    ExpectEchoWorks(device);
    CloseHandle(device);
}

TEST_F(DeviceChannelTest, StaleSocketOfADeadServerIsReplaced) {
    Enable();
    std::string path = m_pServer->Path();
    m_pServer->Disable();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(stale); // bound, never listening: what a crashed host leaves
    Enable();
    HANDLE device = Open();
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    CloseHandle(device);
}

} // namespace
