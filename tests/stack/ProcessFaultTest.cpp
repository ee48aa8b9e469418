// Processes of the stack dying or leaving at bad moments: the driver host
// under a running service, the service under connected clients, clients in
// the middle of their requests.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "StackHarness.h"
#include "WbemClient.h"

namespace {

using namespace svcproc::wbemwire;
using stack::Outcome;

class ProcessFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(m_Stack.Start("default", &error)) << error;
    }

    // Name -> the given property, for every object of a successful enumeration.
    std::map<std::string, std::string> Readings(const std::string& className,
                                                const std::string& property) {
        Outcome got = stack::Enumerate(m_Stack.Endpoint(), className);
        EXPECT_TRUE(got.Succeeded()) << got.error;
        std::map<std::string, std::string> out;
        for (const Object& object : got.objects) {
            out[stack::PropertyText(object, "Name")] = stack::PropertyText(object, property);
        }
        return out;
    }

    stack::Stack m_Stack;
};

TEST_F(ProcessFaultTest, DriverHostKilledTheServiceKeepsAnsweringWithTheLastValues) {
    auto sensors = Readings("VQX_SpNumericSensor", "CurrentReading");
    auto leds = Readings("VQX_LedAlarmDevice", "AlarmState");
    ASSERT_FALSE(sensors.empty());
    ASSERT_FALSE(leds.empty());

    ASSERT_EQ(kill(m_Stack.m_Portwyn.Pid(), SIGKILL), 0);
    EXPECT_NE(m_Stack.m_Portwyn.Wait(5000), -1);
    // Past the library's refresh interval, so every read tries the lost device.
    for (int round = 0; round < 4; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        EXPECT_EQ(Readings("VQX_SpNumericSensor", "CurrentReading"), sensors) << round;
        EXPECT_EQ(Readings("VQX_LedAlarmDevice", "AlarmState"), leds) << round;
    }
    EXPECT_TRUE(m_Stack.m_Telvane.Running());
    std::string watchError;
    stack::EventWatcher watcher;
    EXPECT_TRUE(watcher.Start(m_Stack.Endpoint(), "VQX_SpNumericSensorAlert", &watchError))
        << watchError;
}

TEST_F(ProcessFaultTest, ServiceKilledConnectedClientsGetAnErrorNotAHang) {
    // A management client watching, one enumerating in a loop from here.
    std::string watchOut = m_Stack.Root() + "/watch.out";
    RunningProcess watch;
    watch.Start({stack::Bin("wbemq"), "watch", "VQX_SpNumericSensorAlert"}, m_Stack.Environment(),
                watchOut);
    stack::EventWatcher watcher;
    std::string error;
    ASSERT_TRUE(watcher.Start(m_Stack.Endpoint(), "VQX_SpNumericSensorAlert", &error)) << error;
    std::atomic<bool> stop{false};
    std::atomic<int> served{0};
    std::atomic<bool> ended{false};
    Outcome last;
    std::thread enumerator([&] {
        while (!stop) {
            Outcome got = stack::Enumerate(m_Stack.Endpoint(), "VQX_SpNumericSensor", 3, 10000);
            if (!got.Succeeded()) {
                last = got;
                ended = true;
                return;
            }
            ++served;
        }
    });
    ASSERT_TRUE(WaitFor([&] { return served > 3; }, 10000));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // the wbemq watch is up

    ASSERT_EQ(kill(m_Stack.m_Telvane.Pid(), SIGKILL), 0);
    EXPECT_NE(m_Stack.m_Telvane.Wait(5000), -1);

    // wbemq's own watch has no time limit: only the lost connection ends it.
    int code = watch.Wait(10000);
    EXPECT_NE(code, -1) << "the watching wbemq still waits";
    EXPECT_NE(code, 0);
    EXPECT_NE(ReadWholeFile(watchOut).find("wbemq: "), std::string::npos)
        << ReadWholeFile(watchOut);
    EXPECT_TRUE(WaitFor([&] { return watcher.Ended() != Outcome::End::Timeout; }, 10000));
    EXPECT_EQ(watcher.Ended(), Outcome::End::Closed);
    // The enumerator's request ended well before its 10 s limit.
    EXPECT_TRUE(WaitFor([&] { return ended.load(); }, 8000));
    stop = true;
    enumerator.join();
    EXPECT_TRUE(last.end == Outcome::End::Closed || last.end == Outcome::End::ConnectFailed)
        << static_cast<int>(last.end) << " " << last.error;

    ProcessResult later = RunProcess({stack::Bin("wbemq"), "enum", "VQX_SpNumericSensor"},
                                     m_Stack.Environment(), 10000);
    EXPECT_NE(later.exitCode, -1) << "wbemq hung without a service";
    EXPECT_NE(later.exitCode, 0);
    EXPECT_NE(later.err.find("wbemq: "), std::string::npos) << later.err;
}

// One client leaves at each awkward point; after all of them the service
// answers the next client and delivers events to a watcher that stayed.
TEST_F(ProcessFaultTest, ClientsLeavingMidRequestLeaveTheServiceUnaffected) {
    stack::EventWatcher stays;
    std::string error;
    ASSERT_TRUE(stays.Start(m_Stack.Endpoint(), "VQX_SpNumericSensorAlert", &error)) << error;

    auto request = [](MessageType type, const std::string& target) {
        Request r;
        r.type = type;
        r.nameSpace = "root\\cimv2";
        r.target = target;
        return r;
    };
    for (int round = 0; round < 5; ++round) {
        { // Gone before reading anything.
            ClientConnection client;
            ASSERT_TRUE(client.Connect(m_Stack.Endpoint(), &error)) << error;
            ASSERT_TRUE(
                client.Send(request(MessageType::Enumerate, "VQX_SpNumericSensor"), &error));
        }
        { // Gone after the first object.
            ClientConnection client;
            ASSERT_TRUE(client.Connect(m_Stack.Endpoint(), &error)) << error;
            ASSERT_TRUE(client.Send(request(MessageType::Enumerate, "VQX_LedAlarmDevice"), &error));
            Reply reply;
            ASSERT_EQ(client.Read(&reply, 10000, &error), ClientConnection::ReadResult::Reply);
        }
        { // Gone half-way through a request frame.
            ClientConnection client;
            ASSERT_TRUE(client.Connect(m_Stack.Endpoint(), &error)) << error;
            std::vector<uint8_t> frame =
                EncodeRequest(request(MessageType::Enumerate, "VQX_SpNumericSensor"));
            ASSERT_TRUE(client.SendRaw(frame.data(), frame.size() / 2, &error));
        }
        { // A watcher that leaves, both before and after an event.
            stack::EventWatcher leaves;
            ASSERT_TRUE(leaves.Start(m_Stack.Endpoint(), "VQX_SpNumericSensorAlert", &error));
        }
        stack::EventWatcher leavesAfterEvent;
        ASSERT_TRUE(leavesAfterEvent.Start(m_Stack.Endpoint(), "VQX_SpNumericSensorAlert", &error));
        const char* state = round % 2 == 0 ? "on" : "off";
        ASSERT_TRUE(m_Stack.Control(std::string("alert voltage 1 ") + state));
        EXPECT_TRUE(leavesAfterEvent.WaitForEvents(1, 10000)) << round;
        leavesAfterEvent.Stop();
        EXPECT_TRUE(stays.WaitForEvents(static_cast<size_t>(round + 1), 10000)) << round;
    }
    std::vector<stack::EventWatcher::Event> events = stays.Events();
    ASSERT_EQ(events.size(), 5u);
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].second, i % 2 == 0 ? "Critical" : "Ok") << i;
    }
    // An alert while no one but the staying watcher listens, after a
    // watcher left without a word: the service must not trip over it.
    ASSERT_TRUE(m_Stack.Control("alert voltage 1 off"));
    EXPECT_TRUE(stays.WaitForEvents(6, 10000));
    EXPECT_TRUE(stack::Enumerate(m_Stack.Endpoint(), "VQX_SpNumericSensor").Succeeded());
    EXPECT_TRUE(stack::Enumerate(m_Stack.Endpoint(), "VQX_LedAlarmDevice").Succeeded());
    EXPECT_TRUE(m_Stack.m_Telvane.Running());
    EXPECT_EQ(stays.Ended(), Outcome::End::Timeout) << "the staying watch ended";
}

} // namespace
