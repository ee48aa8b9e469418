// spsim: the simulated service processor's command.
//   spsim table PROFILE FILE [--dump-bin]   write a profile's SMBIOS table
//   spsim profiles                          list the profiles
//   spsim -c SOCK set|alert|led|fault|get|leds|stats ...   drive a running simulator
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "Simulator.h"
#include "SmbiosTableBuilder.h"
#include "control/ControlClient.h"
#include "model/FaultPlan.h"

namespace {

int Fail(const std::string& reason) {
    std::fprintf(stderr, "spsim: %s\n", reason.c_str());
    return 1;
}

int WriteTable(const std::string& profile, const std::string& file, bool dumpBin) {
    std::string error;
    std::vector<uint8_t> table = svcproc::sim::BuildProfileTable(profile, &error);
    if (table.empty()) {
        return Fail(error);
    }
    if (dumpBin) {
        table = svcproc::sim::MakeDumpBin(table);
    }
    if (!svcproc::sim::WriteFile(file, table, &error)) {
        return Fail(error);
    }
    return 0;
}

int SendRequest(const std::string& socket, const std::string& line) {
    if (socket.empty()) {
        return Fail("this command needs the simulator's control socket: -c SOCK");
    }
    if (line.find_first_of("\r\n") != std::string::npos) {
        return Fail("arguments must not contain line breaks");
    }
    svcproc::sim::ControlReply reply;
    std::string error;
    if (!svcproc::sim::SendControlRequest(socket, line, &reply, &error)) {
        return Fail(error);
    }
    std::fputs(reply.m_sData.c_str(), stdout);
    return reply.m_bOk ? 0 : Fail(reply.m_sReason);
}

const std::vector<std::string> kKinds = {"voltage", "fan", "temperature"};
const std::vector<std::string> kSwitch = {"on", "off"};

struct Arguments {
    std::string socket;
    std::string profile;
    std::string file;
    bool dumpBin = false;
    std::string kind;
    std::string position;
    std::string value;
    std::string onOff;
    std::string fault;
    std::string count;
};

CLI::App* SensorCommand(CLI::App& app, const char* name, const char* help, Arguments& a) {
    CLI::App* command = app.add_subcommand(name, help);
    command->add_option("KIND", a.kind, "voltage, fan or temperature")
        ->required()
        ->check(CLI::IsMember(kKinds));
    command->add_option("POS", a.position, "position of the sensor, from 0")->required();
    return command;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated service processor: board profile tables and control of a running "
                 "simulator"};
    app.require_subcommand(1);
    Arguments a;
    app.add_option("-c,--control", a.socket, "control socket of the running simulator");

    CLI::App* table = app.add_subcommand("table", "write a profile's SMBIOS structure table");
    table->add_option("PROFILE", a.profile, "board profile")->required();
    table->add_option("FILE", a.file, "file to write")->required();
    table->add_flag("--dump-bin", a.dumpBin, "write a dmidecode --dump-bin image instead");

    app.add_subcommand("profiles", "list the board profiles");

    CLI::App* set = SensorCommand(app, "set", "set a sensor's raw value", a);
    set->add_option("RAW", a.value,
                    "value in the unit the service processor sends: voltage 10 mV, fan rpm, "
                    "temperature whole degrees Celsius")
        ->required();
    CLI::App* alert = SensorCommand(app, "alert",
                                    "force a sensor's alert on, or let it follow "
                                    "its limits again (off)",
                                    a);
    alert->add_option("STATE", a.onOff, "on or off")->required()->check(CLI::IsMember(kSwitch));
    SensorCommand(app, "get", "show a sensor's raw value and alert", a);

    CLI::App* led = app.add_subcommand("led", "switch the LEDs of a 16-bit mask");
    led->add_option("MASK", a.value, "bits of the LED state word")->required();
    led->add_option("STATE", a.onOff, "on or off")->required()->check(CLI::IsMember(kSwitch));
    app.add_subcommand("leds", "show the LED state word");

    CLI::App* fault = app.add_subcommand(
        "fault", "arm a fault for COUNT transactions (default 1; 0 disarms), 'latency POLLS' "
                 "or 'clear'");
    fault
        ->add_option("NAME", a.fault,
                     std::string(svcproc::sim::FaultNameList()) + ", latency or clear")
        ->required();
    fault->add_option("COUNT", a.count, "transactions (for latency: status polls per byte)");

    app.add_subcommand("stats", "show the simulator's counters, one 'name value' per line");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::ParseError& error) {
        std::fprintf(stderr, "spsim: %s (see --help)\n", error.what());
        return 2;
    }

    if (table->parsed()) {
        return WriteTable(a.profile, a.file, a.dumpBin);
    }
    if (app.got_subcommand("profiles")) {
        for (const std::string& name : svcproc::sim::ProfileNames()) {
            std::printf("%s\n", name.c_str());
        }
        return 0;
    }
    std::string line;
    if (set->parsed()) {
        line = "set " + a.kind + " " + a.position + " " + a.value;
    } else if (alert->parsed()) {
        line = "alert " + a.kind + " " + a.position + " " + a.onOff;
    } else if (app.got_subcommand("get")) {
        line = "get " + a.kind + " " + a.position;
    } else if (led->parsed()) {
        line = "led " + a.value + " " + a.onOff;
    } else if (app.got_subcommand("leds")) {
        line = "leds";
    } else if (fault->parsed()) {
        line = "fault " + a.fault + (a.count.empty() ? "" : " " + a.count);
    } else {
        line = "stats";
    }
    return SendRequest(a.socket, line);
}
