// Latencies of the running service on the bigboard profile:
//  - a full enumeration of VQX_SpNumericSensor through the client socket
//    (median; budget 5 ms);
//  - from an alert raised in the simulator to the event at a watching client
//    (99th percentile over 100 alerts; budget 130 ms).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "Processes.h"
#include "WbemClient.h"
#include "control/ControlClient.h"

using Clock = std::chrono::steady_clock;
using namespace svcproc::wbemwire;

namespace {

std::string Bin(const char* name) {
    return std::string(TELVANE_BIN_DIR) + "/" + name;
}

double Millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

bool Enumerate(const std::string& endpoint, size_t* objects) {
    ClientConnection client;
    std::string error;
    Request request;
    request.nameSpace = "root\\cimv2";
    request.target = "VQX_SpNumericSensor";
    if (!client.Connect(endpoint, &error) || !client.Send(request, &error)) {
        return false;
    }
    *objects = 0;
    for (;;) {
        Reply reply;
        if (client.Read(&reply, 5000, &error) != ClientConnection::ReadResult::Reply) {
            return false;
        }
        if (reply.type == MessageType::Status) {
            return reply.status.hresult >= 0;
        }
        ++*objects;
    }
}

bool WaitEvent(ClientConnection& watch, const char* state) {
    std::string error;
    for (;;) {
        Reply reply;
        if (watch.Read(&reply, 5000, &error) != ClientConnection::ReadResult::Reply ||
            reply.type != MessageType::Object) {
            return false;
        }
        for (const Property& p : reply.object.properties) {
            if (p.name == "CurrentState" && p.value.text == state) {
                return true;
            }
        }
    }
}

} // namespace

int main() {
    std::string root = MakeTempDir("telvane_bench");
    std::string run = root + "/run";
    mkdir(run.c_str(), 0755);
    std::vector<std::string> env = MakeEnvironment({{"SVCPROC_RUNTIME_DIR", run},
                                                    {"SVCPROC_SCM", "1"},
                                                    {"SVCPROC_SMBIOS_TABLE", root + "/table.bin"},
                                                    {"SVCPROC_LOG_LEVEL", "1"},
                                                    {"NOTIFY_SOCKET", ""}});
    std::string control = run + "/sim.sock";
    RunProcess({Bin("spsim"), "table", "bigboard", root + "/table.bin"}, env);
    RunningProcess portwyn, telvane;
    portwyn.Start(
        {Bin("portwyn"), "--ports=sim", "--profile", "bigboard", "--sim-control", control}, env,
        root + "/portwyn.log");
    WaitFor([&] { return access(control.c_str(), F_OK) == 0; }, 10000);
    std::string endpoint = run + "/wbem/endpoint.sock";
    telvane.Start({Bin("telvane")}, env, root + "/telvane.log");
    if (!WaitFor([&] { return access(endpoint.c_str(), F_OK) == 0; }, 15000)) {
        std::fprintf(stderr, "telvane_bench: the service did not come up\n");
        RemoveTree(root);
        return 1;
    }

    std::vector<double> enumeration;
    size_t objects = 0;
    for (int i = 0; i < 220; ++i) {
        auto start = Clock::now();
        if (!Enumerate(endpoint, &objects)) {
            std::fprintf(stderr, "telvane_bench: enumeration failed\n");
            return 1;
        }
        if (i >= 20) { // the first ones warm the provider up
            enumeration.push_back(Millis(Clock::now() - start));
        }
    }
    std::printf("enumeration of %zu sensors: median %.3f ms, p99 %.3f ms (budget: median 5 ms)\n",
                objects, Percentile(enumeration, 0.5), Percentile(enumeration, 0.99));

    ClientConnection watch;
    std::string error;
    Request request;
    request.type = MessageType::Watch;
    request.nameSpace = "root\\cimv2";
    request.target = "VQX_SpNumericSensorAlert";
    Reply started;
    if (!watch.Connect(endpoint, &error) || !watch.Send(request, &error) ||
        watch.Read(&started, 5000, &error) != ClientConnection::ReadResult::Reply) {
        std::fprintf(stderr, "telvane_bench: watch failed: %s\n", error.c_str());
        return 1;
    }
    std::vector<double> alerts;
    svcproc::sim::ControlReply reply;
    for (int i = 0; i < 100; ++i) {
        auto start = Clock::now();
        svcproc::sim::SendControlRequest(control, "alert voltage 1 on", &reply, &error);
        if (!WaitEvent(watch, "Critical")) {
            std::fprintf(stderr, "telvane_bench: no event for alert %d\n", i);
            return 1;
        }
        alerts.push_back(Millis(Clock::now() - start));
        svcproc::sim::SendControlRequest(control, "alert voltage 1 off", &reply, &error);
        WaitEvent(watch, "Ok");
    }
    std::printf(
        "alert to event over %zu alerts: median %.1f ms, p99 %.1f ms (budget: p99 130 ms)\n",
        alerts.size(), Percentile(alerts, 0.5), Percentile(alerts, 0.99));
    watch.Close();
    telvane.Stop();
    portwyn.Stop();
    RemoveTree(root);
    return 0;
}
