// The model seen through the port handshake: read commands, status bits,
// alerts and their acknowledgement, the register channel.
#include <atomic>
#include <mutex>
#include <thread>

#include "Log.h"
#include "SimTestSupport.h"

namespace simtest {
namespace {

using Bytes = std::vector<uint8_t>;

struct ReadCase {
    uint8_t command;
    Bytes expected; // count, type and data; the checksum is checked apart
};

class ReadCommandTest : public ModelTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadCommandTest, AnswersFromTheBoardsCurrentValues) {
    const ReadCase& c = GetParam();
    SVCP_PACKET packet{};
    ASSERT_EQ(Read(c.command, &packet), kSuccess);
    Bytes response = ResponseBytes(packet);
    ASSERT_EQ(response.size(), c.expected.size() + 1);
    EXPECT_TRUE(ChecksumOk(packet));
    response.pop_back();
    EXPECT_EQ(response, c.expected);
    EXPECT_EQ(packet.AlertPending, 0u);
}

INSTANTIATE_TEST_SUITE_P(DefaultBoard, ReadCommandTest,
                         ::testing::Values(
                             // 3.30 V, 5.00 V, 12.00 V, 1.20 V in units of 10 mV, high byte first.
                             ReadCase{0xA6,
                                      {0x0A, 0xA6, 0x01, 0x4A, 0x01, 0xF4, 0x04, 0xB0, 0x00, 0x78}},
                             // 2400, 1800, 2100 rpm.
                             ReadCase{0xA2, {0x08, 0xA2, 0x09, 0x60, 0x07, 0x08, 0x08, 0x34}},
                             // 40 and 35 degrees.
                             ReadCase{0xA4, {0x04, 0xA4, 0x28, 0x23}},
                             // Power LED on.
                             ReadCase{0xED, {0x04, 0xED, 0x00, 0x01}}));

TEST_F(ModelTest, AnIdleBoardShowsNoStatusBits) {
    EXPECT_EQ(Status(), 0);
}

TEST_F(ModelTest, PlainExchangeTakesTenInputEmptyWaits) {
    ASSERT_EQ(Read(0xA6), kSuccess);
    EXPECT_EQ(m_Driver.InputEmptyWaits(), 10);
    EXPECT_EQ(Status() & 0x80, 0) << "ST_HOST_BUSY left set";
}

TEST_F(ModelTest, ValuesSetWhileRunningAreAnsweredNext) {
    ASSERT_TRUE(m_pModel->SetRaw(SensorKind::Fan, 1, 0x0E10));
    ASSERT_TRUE(m_pModel->SetRaw(SensorKind::Temperature, 0, 0x2D));
    m_pModel->SetLeds(0x0006, true);
    m_pModel->SetLeds(0x0001, false);
    SVCP_PACKET fans{}, temps{}, leds{};
    ASSERT_EQ(Read(0xA2, &fans), kSuccess);
    ASSERT_EQ(Read(0xA4, &temps), kSuccess);
    ASSERT_EQ(Read(0xED, &leds), kSuccess);
    EXPECT_EQ(fans.Response[4], 0x0E);
    EXPECT_EQ(fans.Response[5], 0x10);
    EXPECT_EQ(temps.Response[2], 0x2D);
    EXPECT_EQ(leds.Response[2], 0x00);
    EXPECT_EQ(leds.Response[3], 0x06);
    EXPECT_FALSE(m_pModel->SetRaw(SensorKind::Fan, 3, 1)) << "the board has 3 fans";
}

TEST_F(ModelTest, AlertPollWithoutAlertIsOneStatusRead) {
    SVCP_PACKET packet{};
    packet.Response[5] = 0x77;
    packet.Request[0] = 0x02;
    packet.Request[1] = 0xA1;
    packet.Request[2] = 0x5F;
    packet.RequestLength = 3;
    packet.AlertPoll = 1;
    packet.AlertPending = 1;
    m_Ports.Reset();
    ASSERT_EQ(m_Driver.Exchange(packet), kSuccess);
    EXPECT_EQ(m_Ports.m_nReads, 1);
    EXPECT_TRUE(m_Ports.m_vWrites.empty());
    EXPECT_EQ(packet.AlertPending, 0u);
    EXPECT_EQ(packet.Response[5], 0x77);
}

TEST_F(ModelTest, VoltageLeavingItsLimitsRaisesAnAlertThatIsAcknowledged) {
    // 3.3 V rail: lower critical limit 2970 mV. At the limit it is still fine.
    ASSERT_TRUE(m_pModel->SetRaw(SensorKind::Voltage, 0, 297));
    EXPECT_EQ(Status() & 0x10, 0);
    ASSERT_TRUE(m_pModel->SetRaw(SensorKind::Voltage, 0, 296));
    EXPECT_EQ(Status() & 0x10, 0x10);

    SVCP_PACKET packet{};
    m_Ports.Reset();
    ASSERT_EQ(PollAlert(&packet), kSuccess);
    EXPECT_EQ(packet.AlertPending, 1u);
    const Bytes expected = {0x0C, 0xA6, 0x00, 0x01, 0x01, 0x28, 0x01, 0xF4, 0x04, 0xB0, 0x00, 0x78};
    Bytes response = ResponseBytes(packet);
    ASSERT_EQ(response.size(), 13u);
    EXPECT_TRUE(ChecksumOk(packet));
    response.pop_back();
    EXPECT_EQ(response, expected);
    // The request, then the acknowledgement.
    EXPECT_EQ(m_Ports.WritesTo(kBase), (Bytes{0x02, 0xA1, 0x5F, 0x03, 0xA1, 0xA6, 0xB9}));
    EXPECT_EQ(Status() & 0x10, 0) << "acknowledged alert still pending";
    EXPECT_EQ(m_pModel->Stats().m_Acknowledgements, 1u);

    // Back inside the limits: the clear is reported as an alert too.
    ASSERT_TRUE(m_pModel->SetRaw(SensorKind::Voltage, 0, 330));
    ASSERT_EQ(PollAlert(&packet), kSuccess);
    ASSERT_EQ(packet.AlertPending, 1u);
    EXPECT_EQ(packet.Response[1], 0xA6);
    EXPECT_EQ(packet.Response[2], 0x00);
    EXPECT_EQ(packet.Response[3], 0x00);
    EXPECT_EQ(Status() & 0x10, 0);
}

TEST_F(ModelTest, AlertOnCommandAndItsClear) {
    ASSERT_TRUE(m_pModel->ForceAlert(SensorKind::Fan, 2, true));
    SVCP_PACKET packet{};
    ASSERT_EQ(PollAlert(&packet), kSuccess);
    ASSERT_EQ(packet.AlertPending, 1u);
    EXPECT_EQ(ResponseBytes(packet).size(), 11u); // N = 2 * 3 + 4
    EXPECT_EQ(packet.Response[1], 0xA2);
    EXPECT_EQ(packet.Response[3], 0x04);
    EXPECT_EQ(m_Ports.WritesTo(kBase).back(), 0xBD);

    ASSERT_TRUE(m_pModel->ForceAlert(SensorKind::Fan, 2, false));
    ASSERT_EQ(PollAlert(&packet), kSuccess);
    ASSERT_EQ(packet.AlertPending, 1u);
    EXPECT_EQ(packet.Response[3], 0x00);
    EXPECT_EQ(Status() & 0x10, 0);
}

TEST_F(ModelTest, TemperatureAlertCarriesOneByteReadings) {
    ASSERT_TRUE(m_pModel->SetRaw(SensorKind::Temperature, 1, 86)); // above 85.0 C
    SVCP_PACKET packet{};
    ASSERT_EQ(PollAlert(&packet), kSuccess);
    ASSERT_EQ(packet.AlertPending, 1u);
    EXPECT_EQ(ResponseBytes(packet),
              (Bytes{0x06, 0xA4, 0x00, 0x02, 0x28, 0x56,
                     static_cast<uint8_t>(0x100 - ((0xA4 + 0x02 + 0x28 + 0x56) & 0xFF))}));
}

TEST_F(ModelTest, PendingKindsAreReportedOneAtATime) {
    ASSERT_TRUE(m_pModel->ForceAlert(SensorKind::Temperature, 0, true));
    ASSERT_TRUE(m_pModel->ForceAlert(SensorKind::Voltage, 3, true));
    SVCP_PACKET first{}, second{}, third{};
    ASSERT_EQ(PollAlert(&first), kSuccess);
    ASSERT_EQ(PollAlert(&second), kSuccess);
    ASSERT_EQ(PollAlert(&third), kSuccess);
    EXPECT_EQ(first.Response[1], 0xA6);
    EXPECT_EQ(first.Response[3], 0x08);
    EXPECT_EQ(second.Response[1], 0xA4);
    EXPECT_EQ(second.Response[3], 0x01);
    EXPECT_EQ(third.AlertPending, 0u);
}

TEST_F(ModelTest, AnAlertNotAcknowledgedStaysPending) {
    ASSERT_TRUE(m_pModel->ForceAlert(SensorKind::Voltage, 1, true));
    // The poll command in a plain exchange: the response is read, no
    // acknowledgement follows.
    SVCP_PACKET packet{};
    ASSERT_EQ(Read(0xA1, &packet), kSuccess);
    EXPECT_EQ(packet.Response[1], 0xA6);
    EXPECT_EQ(Status() & 0x10, 0x10);
    ASSERT_EQ(PollAlert(&packet), kSuccess);
    EXPECT_EQ(packet.AlertPending, 1u);
    EXPECT_EQ(Status() & 0x10, 0);
}

TEST_F(ModelTest, PollCommandWithNothingPendingAnswersItsOwnType) {
    SVCP_PACKET packet{};
    ASSERT_EQ(Read(0xA1, &packet), kSuccess);
    EXPECT_EQ(ResponseBytes(packet), (Bytes{0x02, 0xA1, 0x5F}));
}

TEST_F(ModelTest, BadRequestsRaiseTheErrorFlag) {
    SVCP_PACKET packet = MakeRequest(0xA6);
    packet.Request[2] = 0x5B; // checksum off by one
    EXPECT_EQ(m_Driver.Exchange(packet), kProtocolError);
    EXPECT_EQ(m_pModel->Stats().m_BadChecksums, 1u);
    EXPECT_EQ(Status() & 0xA0, 0x20) << "error flag up, host flag down";

    // The next exchange clears the flag first: two more input-empty waits.
    const int before = m_Driver.InputEmptyWaits();
    ASSERT_EQ(Read(0xA6), kSuccess);
    EXPECT_EQ(m_Driver.InputEmptyWaits() - before, 12);

    EXPECT_EQ(Read(0x42), kProtocolError) << "unknown command";
    packet = MakeRequest(0xA6);
    packet.Request[0] = 0x01; // no packet is that short
    EXPECT_EQ(m_Driver.Exchange(packet), kProtocolError);
    EXPECT_EQ(m_pModel->Stats().m_BadRequests, 2u);
    EXPECT_EQ(m_pModel->Stats().m_Requests[0xA6], 1u);
}

TEST_F(ModelTest, SendOnlyLeavesNoResponseBehind) {
    SVCP_PACKET packet = MakeRequest(0xA6);
    ASSERT_EQ(m_Driver.SendOnly(packet), kSuccess);
    EXPECT_EQ(Status(), 0) << "an unread response must not survive the transaction";
    EXPECT_EQ(m_pModel->Stats().m_DiscardedResponses, 1u);
    ASSERT_EQ(Read(0xA4, &packet), kSuccess);
    EXPECT_EQ(packet.Response[1], 0xA4);
}

TEST_F(ModelTest, RegisterChannelReadsAndWrites) {
    uint8_t value = 0;
    ASSERT_EQ(m_Driver.ReadRegister(0x00, &value), kSuccess);
    EXPECT_EQ(value, 1) << "board family";
    ASSERT_EQ(m_Driver.ReadRegister(0x01, &value), kSuccess);
    EXPECT_EQ(value, 0x22) << "firmware revision";
    ASSERT_EQ(m_Driver.WriteRegister(0x20, 0x5A), kSuccess);
    ASSERT_EQ(m_Driver.ReadRegister(0x20, &value), kSuccess);
    EXPECT_EQ(value, 0x5A);

    m_Ports.Reset();
    ASSERT_EQ(m_Driver.WriteRegister(0xFF, 0x99), kSuccess);
    EXPECT_EQ(m_Ports.m_vWrites, (std::vector<std::pair<uint32_t, uint8_t>>{{kBase + 12, 0xFF}}));
    EXPECT_EQ(m_pModel->Register(0xFF), 0);
    const auto stats = m_pModel->Stats();
    EXPECT_EQ(stats.m_RegisterCommands, 1u);
    EXPECT_EQ(stats.m_RegisterWrites, 1u);
    EXPECT_EQ(stats.m_RegisterReads, 3u);
    EXPECT_EQ(stats.m_HandshakeViolations, 0u);
}

TEST_F(ModelTest, PortsOutsideTheBlockAreNotDecoded) {
    EXPECT_EQ(m_pModel->ReadPort(kBase + 16), 0xFF);
    EXPECT_EQ(m_pModel->ReadPort(kBase - 4), 0xFF);
    EXPECT_EQ(m_pModel->ReadPort(kBase + 2), 0xFF);
    m_pModel->WritePort(0x80, 0x12);
    EXPECT_EQ(m_pModel->Stats().m_ForeignPortOps, 4u);
}

TEST_F(ModelTest, DataWrittenOutsideATransactionIsRefused) {
    m_pModel->WritePort(kBase, 0x02);
    m_pModel->WritePort(kBase, 0xA6);
    m_pModel->WritePort(kBase, 0x5A);
    EXPECT_EQ(Status(), 0);
    EXPECT_EQ(m_pModel->Stats().m_HandshakeViolations, 3u);
    EXPECT_EQ(m_pModel->Stats().m_Requests[0xA6], 0u);
}

struct CapturedLines {
    static void Sink(void* context, _LOG_LEVEL, const char* text) {
        static_cast<CapturedLines*>(context)->m_vLines.emplace_back(text);
    }
    std::vector<std::string> m_vLines;
};

TEST_F(ModelTest, InterleavedTransactionsAreReportedLoudly) {
    CapturedLines captured;
    svcproc::log::SetCaptureSink(&CapturedLines::Sink, &captured);
    // This thread opens a transaction; another thread touches the ports.
    m_pModel->WritePort(kBase + 4, 0x80);
    std::thread other([&] { m_pModel->ReadPort(kBase + 4); });
    other.join();
    m_pModel->WritePort(kBase + 4, 0x00);
    svcproc::log::SetCaptureSink(nullptr, nullptr);
    EXPECT_EQ(m_pModel->Stats().m_Interleaved, 1u);
    ASSERT_EQ(captured.m_vLines.size(), 1u);
    EXPECT_EQ(captured.m_vLines[0],
              "Simulator: transactions interleaved: port access from another thread while a "
              "transaction is open (1 so far)");
}

TEST(ModelDeathTest, InterleavingAbortsWhenAskedTo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto model = MakeModel("default", true);
            model->WritePort(kBase + 4, 0x80);
            std::thread other([&] { model->ReadPort(kBase + 4); });
            other.join();
        },
        "");
}

// Sequential transactions from several threads are fine; values changed
// meanwhile from a control thread show up whole.
TEST_F(ModelTest, ConcurrentControlDoesNotDisturbTransactions) {
    std::atomic<bool> stop{false};
    std::atomic<bool> written{false};
    std::thread control([&] {
        for (uint16_t i = 0; !stop; ++i) {
            m_pModel->SetRaw(SensorKind::Voltage, 2, (i & 1) ? 0x0101 : 0x0202);
            written = true;
        }
    });
    // Until the first write the profile's own value, with unequal bytes, is
    // served.
    while (!written) {
        std::this_thread::yield();
    }
    std::mutex queue;
    auto worker = [&] {
        CHandshakeDriver driver(*m_pModel, kBase);
        for (int i = 0; i < 200; ++i) {
            std::lock_guard lock(queue);
            SVCP_PACKET packet = MakeRequest(0xA6);
            ASSERT_EQ(driver.Exchange(packet), kSuccess);
            ASSERT_TRUE(ChecksumOk(packet));
            ASSERT_EQ(packet.Response[6], packet.Response[7]);
        }
    };
    std::thread a(worker), b(worker);
    a.join();
    b.join();
    stop = true;
    control.join();
    EXPECT_EQ(m_pModel->Stats().m_Interleaved, 0u);
    EXPECT_EQ(m_pModel->Stats().m_Requests[0xA6], 400u);
}

} // namespace
} // namespace simtest
