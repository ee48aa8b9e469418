// Round trip of a read-voltages request from a client, through the device
// channel and the portwyn host, to the simulated service processor and back.
// Prints the median and the 99th percentile; exits 1 over the 50 us budget.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "DeviceChannel.h"

namespace {

constexpr double kBudgetMicroseconds = 50.0;
constexpr int kWarmup = 1000;
constexpr int kRounds = 20000;

HANDLE OpenWhenReady() {
    for (int attempt = 0; attempt < 1000; ++attempt) {
        HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_SVCP, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_SVCP, 0, &data)) {
            DWORD size = 0;
            SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
            std::vector<uint8_t> buffer(size);
            auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
            detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
            SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr);
            HANDLE device = CreateFileW(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, 0,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
            SetupDiDestroyDeviceInfoList(set);
            return device;
        }
        SetupDiDestroyDeviceInfoList(set);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return INVALID_HANDLE_VALUE;
}

bool RoundTrip(HANDLE device) {
    SVCP_PACKET packet{};
    packet.Request[0] = 0x02;
    packet.Request[1] = 0xA6;
    packet.Request[2] = 0x5A;
    packet.RequestLength = 3;
    packet.PortBase = SVCP_DEFAULT_PORT_BASE;
    DWORD returned = 0;
    return DeviceIoControl(device, IOCTL_SVCP_REQUEST_RESPONSE, &packet, sizeof packet, &packet,
                           sizeof packet, &returned, nullptr) &&
           packet.Response[1] == 0xA6;
}

} // namespace

int main() {
    char pattern[] = "/tmp/portwyn-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return 2;
    }
    ::setenv("SVCPROC_RUNTIME_DIR", pattern, 1);
    pid_t host = ::fork();
    if (host == 0) {
        ::execl(PORTWYN_BINARY, "portwyn", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int result = 2;
    HANDLE device = OpenWhenReady();
    if (device == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "bench: the host did not come up\n");
    } else {
        for (int i = 0; i < kWarmup; ++i) {
            RoundTrip(device);
        }
        std::vector<double> micros(kRounds);
        bool ok = true;
        for (double& sample : micros) {
            auto start = std::chrono::steady_clock::now();
            ok = RoundTrip(device) && ok;
            sample =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count();
        }
        std::sort(micros.begin(), micros.end());
        double median = micros[micros.size() / 2];
        double p99 = micros[micros.size() * 99 / 100];
        std::printf("read-voltages round trip: median %.1f us, p99 %.1f us over %d requests "
                    "(budget %.0f us)%s\n",
                    median, p99, kRounds, kBudgetMicroseconds, ok ? "" : ", SOME FAILED");
        result = ok && median <= kBudgetMicroseconds ? 0 : 1;
        CloseHandle(device);
    }
    ::kill(host, SIGTERM);
    ::waitpid(host, nullptr, 0);
    std::filesystem::remove_all(pattern);
    return result;
}
