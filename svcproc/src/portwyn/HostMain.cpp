// portwyn: the driver host. Plays the kernel for the port driver: loads it,
// announces its one device with the service processor's port range, serves
// the device interface until SIGTERM or SIGINT, then withdraws it.
#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "HardwarePortIo.h"
#include "PortProtocol.h"
#include "Portwyn.h"
#include "Simulator.h"
#include "WdfHost.h"

namespace {

struct HostOptions {
    std::string ports = "sim";
    std::string profile = "default";
    std::string simControl;
    std::string portBaseText = "0x2B0";
    uint32_t portBase = SVCP_DEFAULT_PORT_BASE;
    bool verifier = false;
};

bool ParsePortBase(const std::string& text, uint32_t* base) {
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || text[0] == '-' || value > 0x10000 - SVCP_REGISTER_SPAN) {
        return false;
    }
    *base = static_cast<uint32_t>(value);
    return true;
}

// 0: go on; otherwise the exit code.
int ParseArguments(int argc, char** argv, HostOptions* options) {
    CLI::App app{"portwyn driver host: serves the service processor's port driver"};
    app.add_option("--ports", options->ports, "Port backend: sim (default) or hw")
        ->check(CLI::IsMember({"sim", "hw"}));
    app.add_option("--profile", options->profile, "Simulator board profile (default: default)");
    app.add_option("--sim-control", options->simControl, "Simulator control socket path");
    app.add_option("--port-base", options->portBaseText,
                   "Port base of the service processor (default: 0x2B0)");
    app.add_flag("--verifier", options->verifier, "Run the driver under the framework verifier");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return -1;
    } catch (const CLI::ParseError& error) {
        std::fprintf(stderr, "portwyn: %s (see --help)\n", error.what());
        return 2;
    }
    if (!ParsePortBase(options->portBaseText, &options->portBase)) {
        std::fprintf(stderr, "portwyn: --port-base: not a port number: %s (see --help)\n",
                     options->portBaseText.c_str());
        return 2;
    }
    return 0;
}

std::unique_ptr<IPortIo> OpenBackend(const HostOptions& options, std::string* error) {
    if (options.ports == "hw") {
        return svcproc::kernel::OpenHardwarePorts(options.portBase, SVCP_REGISTER_SPAN, error);
    }
    svcproc::sim::SimOptions sim;
    sim.profile = options.profile;
    sim.controlPath = options.simControl;
    sim.portBase = options.portBase;
    return svcproc::sim::StartSimulator(sim, error);
}

int Serve(const HostOptions& options, const sigset_t& stopSignals) {
    std::string error;
    std::unique_ptr<IPortIo> backend = OpenBackend(options, &error);
    if (!backend) {
        std::fprintf(stderr, "portwyn: %s\n", error.c_str());
        return 2;
    }
    SetPortIoBackend(backend.get());
    svcproc::kernel::SetVerifierEnabled(options.verifier);

    WDFDRIVER driver = nullptr;
    NTSTATUS status = svcproc::kernel::LoadDriver(DriverEntry, &driver);
    if (!NT_SUCCESS(status)) {
        std::fprintf(stderr, "portwyn: DriverEntry failed: 0x%08x\n", (unsigned)status);
        return 1;
    }
    WDFDEVICE device = nullptr;
    status = svcproc::kernel::AddDevice(driver, &device);
    if (NT_SUCCESS(status)) {
        status =
            svcproc::kernel::StartDevice(device, {{options.portBase, SVCP_REGISTER_SPAN}}, &error);
    } else {
        error = "device add failed";
    }
    if (!NT_SUCCESS(status)) {
        std::fprintf(stderr, "portwyn: the device did not start: %s (0x%08x)\n", error.c_str(),
                     (unsigned)status);
        svcproc::kernel::UnloadDriver(driver);
        return 1;
    }
    for (const std::string& path : svcproc::kernel::EnabledInterfacePaths(device)) {
        std::fprintf(stderr, "portwyn: serving \\Device\\PORTWYN at %s\n", path.c_str());
    }
    int signal = 0;
    sigwait(&stopSignals, &signal);
    svcproc::kernel::UnloadDriver(driver); // withdraws the interface
    SetPortIoBackend(nullptr);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    HostOptions options;
    int code = ParseArguments(argc, argv, &options);
    if (code != 0) {
        return code < 0 ? 0 : code;
    }
    // Blocked before any thread starts, so only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return Serve(options, stopSignals);
}
