// wbemq: enumerate, fetch and watch management objects on the WBEM endpoint.
#include <CLI/CLI.hpp>
#include <chrono>
#include <csignal>
#include <iostream>
#include <limits>
#include <optional>
#include <poll.h>

#include "Output.h"
#include "Readable.h"
#include "WbemClient.h"

namespace {

using svcproc::wbemwire::ClientConnection;
using svcproc::wbemwire::MessageType;
using svcproc::wbemwire::Object;
using svcproc::wbemwire::Reply;

volatile std::sig_atomic_t g_Interrupted = 0;

void OnSignal(int) {
    g_Interrupted = 1;
}

struct Options {
    std::string nameSpace = "root\\cimv2";
    std::string impersonation = "impersonate";
    bool json = false;
    bool brief = false;
    std::string target;
    std::optional<int> count;
    std::optional<double> timeout;
};

int Fail(const std::string& message) {
    std::cerr << "wbemq: " << message << '\n';
    return 1;
}

std::optional<uint8_t> ImpersonationLevel(const std::string& name) {
    const char* names[] = {"anonymous", "identify", "impersonate", "delegate"};
    for (uint8_t i = 0; i < 4; ++i) {
        if (name == names[i] || name == std::to_string(i + 1)) {
            return static_cast<uint8_t>(i + 1);
        }
    }
    return std::nullopt;
}

bool Open(ClientConnection& connection, MessageType type, const Options& options,
          std::string* error) {
    svcproc::wbemwire::Request request;
    request.type = type;
    request.impersonationLevel = *ImpersonationLevel(options.impersonation);
    request.nameSpace = options.nameSpace;
    request.target = options.target;
    return connection.Connect(svcproc::wbemwire::DefaultEndpointPath(), error) &&
           connection.Send(request, error);
}

// Objects until the final status; 0 on success.
int Collect(ClientConnection& connection, std::vector<Object>* objects) {
    while (true) {
        Reply reply;
        std::string error;
        if (connection.Read(&reply, -1, &error) != ClientConnection::ReadResult::Reply) {
            return Fail(error);
        }
        if (reply.type == MessageType::Object) {
            objects->push_back(std::move(reply.object));
        } else if (reply.status.hresult < 0) {
            return Fail(wbemq::ErrorText(reply.status.hresult, reply.status.text));
        } else {
            return 0;
        }
    }
}

int RunQuery(MessageType type, const Options& options) {
    ClientConnection connection;
    std::string error;
    if (!Open(connection, type, options, &error)) {
        return Fail(error);
    }
    std::vector<Object> objects;
    if (int rc = Collect(connection, &objects); rc != 0) {
        return rc;
    }
    for (const Object& object : objects) {
        if (options.json) {
            wbemq::PrintJson(std::cout, object);
        } else if (type == MessageType::GetObject) {
            wbemq::PrintObject(std::cout, object);
        }
    }
    if (!options.json && type == MessageType::Enumerate) {
        wbemq::PrintTable(std::cout, objects, options.brief);
    }
    return 0;
}

int RunWatch(const Options& options) {
    ClientConnection connection;
    std::string error;
    if (!Open(connection, MessageType::Watch, options, &error)) {
        return Fail(error);
    }
    Reply reply;
    if (connection.Read(&reply, -1, &error) != ClientConnection::ReadResult::Reply) {
        return Fail(error);
    }
    if (reply.type != MessageType::Status || reply.status.hresult < 0) {
        return Fail(reply.type == MessageType::Status
                        ? wbemq::ErrorText(reply.status.hresult, reply.status.text)
                        : "the endpoint did not confirm the watch");
    }
    // From here on no event of the class is missed; scripts wait for this line.
    std::cerr << "watching " << options.target << '\n';
    using Clock = std::chrono::steady_clock;
    auto deadline = options.timeout
                        ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(*options.timeout))
                        : Clock::time_point::max();
    int events = 0;
    while (!g_Interrupted && (!options.count || events < *options.count)) {
        if (Clock::now() >= deadline) {
            if (options.count) {
                return Fail("timed out after " + std::to_string(events) + " of " +
                            std::to_string(*options.count) + " events");
            }
            return 0;
        }
        struct pollfd pfd {
            connection.Fd(), POLLIN, 0
        };
        if (poll(&pfd, 1, 200) <= 0) {
            continue;
        }
        if (connection.Read(&reply, 30000, &error) != ClientConnection::ReadResult::Reply) {
            return Fail(error);
        }
        if (reply.type == MessageType::Status) {
            return reply.status.hresult < 0
                       ? Fail(wbemq::ErrorText(reply.status.hresult, reply.status.text))
                       : 0;
        }
        if (options.json) {
            wbemq::PrintJson(std::cout, reply.object);
        } else {
            auto now = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::system_clock::now().time_since_epoch());
            std::cout << wbemq::EventLine(reply.object, now.count()) << '\n';
        }
        std::cout.flush();
        ++events;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Query the management objects of the WBEM endpoint "
                 "($SVCPROC_RUNTIME_DIR/wbem/endpoint.sock, runtime dir /run/svcproc by "
                 "default)."};
    app.require_subcommand(1);
    app.fallthrough(); // --json and the like may follow the subcommand
    app.failure_message([](const CLI::App*, const CLI::Error& error) {
        return std::string("wbemq: ") + error.what() + " (see --help)\n";
    });
    Options options;
    app.add_option("--namespace", options.nameSpace, "Namespace of the class")
        ->capture_default_str();
    app.add_option("--impersonation", options.impersonation,
                   "What the provider may do as you: anonymous, identify, impersonate, delegate")
        ->capture_default_str()
        ->check([](const std::string& value) {
            return ImpersonationLevel(value) ? std::string() : "unknown level " + value;
        });
    app.add_flag("--json", options.json,
                 "One JSON object per instance or event and line instead of a table");

    CLI::App* enumerate = app.add_subcommand("enum", "List every instance of a class as a table");
    enumerate->add_option("CLASS", options.target, "Class name")->required();
    enumerate->add_flag("--brief", options.brief,
                        "Only the readable columns (sensors: name, reading, state, limits in "
                        "their unit; LEDs: name, on or off)");
    CLI::App* get = app.add_subcommand("get", "Show the instance an object path names");
    get->add_option("PATH", options.target, "Object path, e.g. Class.Name=\"value\"")->required();
    CLI::App* watch =
        app.add_subcommand("watch", "Print the events of a class as they come, one line with "
                                    "the local time each, until interrupted, --count events "
                                    "or --timeout seconds");
    watch->add_option("CLASS", options.target, "Event class name")->required();
    watch->add_option("--count", options.count, "Stop after this many events")
        ->check(CLI::Range(1, std::numeric_limits<int>::max()));
    watch
        ->add_option("--timeout", options.timeout,
                     "Stop after this many seconds (an error if --count events did not come)")
        ->check(CLI::NonNegativeNumber);
    CLI11_PARSE(app, argc, argv);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (*enumerate) {
        return RunQuery(MessageType::Enumerate, options);
    }
    if (*get) {
        return RunQuery(MessageType::GetObject, options);
    }
    return RunWatch(options);
}
