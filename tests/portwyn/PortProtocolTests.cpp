#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "FakePorts.h"

namespace {

constexpr UCHAR kReadVoltages[3] = {0x02, 0xA6, 0x5A};
constexpr UCHAR kPollAlert[3] = {0x02, 0xA1, 0x5F};

class PortProtocolTest : public ::testing::Test {
protected:
    void SetUp() override { SetPortIoBackend(&m_Ports); }
    void TearDown() override { SetPortIoBackend(nullptr); }

    static SVCP_PACKET Packet(const UCHAR (&request)[3], uint32_t alertPoll = 0) {
        SVCP_PACKET packet{};
        std::memcpy(packet.Request, request, 3);
        packet.RequestLength = 3;
        packet.AlertPoll = alertPoll;
        packet.PortBase = SVCP_DEFAULT_PORT_BASE;
        return packet;
    }

    FakePorts m_Ports;
};

// The host's own flags in what it wrote back to the status register.
std::vector<UCHAR> HostFlags(const std::vector<UCHAR>& writes) {
    std::vector<UCHAR> flags;
    for (UCHAR w : writes) {
        flags.push_back(w & (ST_HOST_BUSY | ST_ERROR));
    }
    return flags;
}

// Status reads of an exchange that are not input-empty waits: the busy check,
// read-modify-write and the discarded read of BeginTransaction, the error
// check, the read-modify-write of EndTransaction.
constexpr int kNonWaitStatusReads = 5;
// Each byte read costs one discarded status read and one poll that finds it.
constexpr int StatusReadsForResponse(int count) {
    return 2 * (count + 1);
}

TEST_F(PortProtocolTest, AlertPollWithAlertClearReadsStatusOnceAndNothingElse) {
    SVCP_PACKET packet = Packet(kPollAlert, 1);
    packet.AlertPending = 7;
    std::memset(packet.Response, 0x77, sizeof packet.Response);
    EXPECT_EQ(Exchange(&packet), STATUS_SUCCESS);
    EXPECT_EQ(m_Ports.Operations(), 1);
    EXPECT_EQ(m_Ports.Reads(SVCP_STATUS), 1);
    EXPECT_EQ(packet.AlertPending, 0u);
    for (UCHAR b : packet.Response) {
        ASSERT_EQ(b, 0x77);
    }
}

TEST_F(PortProtocolTest, PlainExchangeOfThreeBytesWaitsTenTimes) {
    m_Ports.m_Offered = {0x04, 0xA6, 0x01, 0x2C, 0x2D};
    SVCP_PACKET packet = Packet(kReadVoltages);
    packet.AlertPending = 5;
    ASSERT_EQ(Exchange(&packet), STATUS_SUCCESS);
    EXPECT_EQ(m_Ports.Reads(SVCP_STATUS), 10 + kNonWaitStatusReads + StatusReadsForResponse(4));
    EXPECT_EQ(m_Ports.m_vDataWrites, std::vector<UCHAR>({0x02, 0xA6, 0x5A}));
    EXPECT_EQ(HostFlags(m_Ports.m_vStatusWrites), std::vector<UCHAR>({ST_HOST_BUSY, 0x00}));
    EXPECT_EQ(m_Ports.Reads(SVCP_DATA), 5);
    EXPECT_EQ(packet.ResponseLength, 5);
    EXPECT_EQ(std::memcmp(packet.Response, "\x04\xA6\x01\x2C\x2D", 5), 0);
    EXPECT_EQ(packet.Response[5], 0);
    EXPECT_EQ(packet.AlertPending, 5u); // a plain exchange leaves it alone
    EXPECT_FALSE(m_Ports.m_bHostBusy);
}

TEST_F(PortProtocolTest, ExchangeThatClearsTheErrorFlagWaitsTwelveTimes) {
    m_Ports.m_bError = true;
    m_Ports.m_Offered = {0x00};
    SVCP_PACKET packet = Packet(kReadVoltages);
    ASSERT_EQ(Exchange(&packet), STATUS_SUCCESS);
    // ClearErrorFlag adds its two waits, a read-modify-write and a discarded read.
    EXPECT_EQ(m_Ports.Reads(SVCP_STATUS), 12 + kNonWaitStatusReads + 2 + StatusReadsForResponse(0));
    EXPECT_EQ(HostFlags(m_Ports.m_vStatusWrites),
              std::vector<UCHAR>({ST_HOST_BUSY | ST_ERROR, ST_HOST_BUSY, 0x00}));
    EXPECT_EQ(packet.ResponseLength, 1); // count 0: just the count byte
    EXPECT_FALSE(m_Ports.m_bError);
}

struct FaultCase {
    const char* name;
    void (*arrange)(FakePorts&, SVCP_PACKET&);
    NTSTATUS status;
    bool hostBusyAfter;
    bool anyWrite;
};

const FaultCase kFaults[] = {
    {"count 64",
     [](FakePorts& p, SVCP_PACKET&) {
         p.m_Offered = {64, 0xA6};
     },
     STATUS_DEVICE_PROTOCOL_ERROR, false, true},
    {"error mid-response",
     [](FakePorts& p, SVCP_PACKET&) {
         p.m_Offered = {0x04, 0xA6, 0x01, 0x2C, 0x2D};
         p.m_nErrorAfterBytes = 2;
     },
     STATUS_DEVICE_PROTOCOL_ERROR, false, true},
    {"host busy already set", [](FakePorts& p, SVCP_PACKET&) { p.m_bHostBusy = true; },
     STATUS_INVALID_DEVICE_STATE, true, false},
    {"no response byte", [](FakePorts&, SVCP_PACKET&) {}, STATUS_IO_TIMEOUT, false, true},
    {"response cut short",
     [](FakePorts& p, SVCP_PACKET&) {
         p.m_Offered = {0x04, 0xA6};
     },
     STATUS_IO_TIMEOUT, false, true},
    {"input never empty", [](FakePorts& p, SVCP_PACKET&) { p.m_bStuckIbf = true; },
     STATUS_IO_TIMEOUT, false, false},
    {"request too long",
     [](FakePorts& p, SVCP_PACKET& packet) {
         packet.RequestLength = 17;
         p.m_Offered = {0x00};
     },
     STATUS_INVALID_PARAMETER, false, true},
};

TEST_F(PortProtocolTest, FailuresGiveTheirStatusAndEndTheTransaction) {
    for (const FaultCase& c : kFaults) {
        SCOPED_TRACE(c.name);
        FakePorts ports;
        SetPortIoBackend(&ports);
        SVCP_PACKET packet = Packet(kReadVoltages);
        c.arrange(ports, packet);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Exchange(&packet), c.status);
        // Bounded: even the worst of these is a few 10 ms waits.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(ports.m_bHostBusy, c.hostBusyAfter);
        EXPECT_EQ(packet.ResponseLength, 0);
        bool wrote = !ports.m_vStatusWrites.empty() || !ports.m_vDataWrites.empty();
        EXPECT_EQ(wrote, c.anyWrite);
        if (c.anyWrite) {
            // EndTransaction ran: the last status write clears the flag.
            EXPECT_EQ(ports.m_vStatusWrites.back() & ST_HOST_BUSY, 0);
        }
    }
    SetPortIoBackend(&m_Ports);
}

TEST_F(PortProtocolTest, CountSixtyFourKeepsTheCountByteOnly) {
    m_Ports.m_Offered = {64, 0xA6, 0x01};
    SVCP_PACKET packet = Packet(kReadVoltages);
    std::memset(packet.Response, 0x55, sizeof packet.Response);
    EXPECT_EQ(Exchange(&packet), STATUS_DEVICE_PROTOCOL_ERROR);
    EXPECT_EQ(packet.Response[0], 64);
    EXPECT_EQ(packet.Response[1], 0);
    EXPECT_EQ(m_Ports.Reads(SVCP_DATA), 1);
}

TEST_F(PortProtocolTest, StuckInputGivesUpAfterTenThousandPolls) {
    m_Ports.m_bStuckIbf = true;
    SVCP_PACKET packet = Packet(kReadVoltages);
    EXPECT_EQ(Exchange(&packet), STATUS_IO_TIMEOUT);
    EXPECT_EQ(m_Ports.Reads(SVCP_STATUS), 1 + kPollLimit);
    EXPECT_EQ(m_Ports.Operations(), 1 + kPollLimit);
}

TEST_F(PortProtocolTest, PendingAlertIsReadAndAcknowledged) {
    m_Ports.m_bAlert = true;
    // Alert response of type 0xA6, then the acknowledgement's reply.
    m_Ports.m_Offered = {0x04, 0xA6, 0x01, 0x2C, 0x2D, 0x02, 0xA1, 0x5F};
    SVCP_PACKET packet = Packet(kPollAlert, 1);
    ASSERT_EQ(Exchange(&packet), STATUS_SUCCESS);
    EXPECT_EQ(packet.AlertPending, 1u);
    EXPECT_EQ(packet.ResponseLength, 5);
    EXPECT_EQ(m_Ports.m_vDataWrites,
              std::vector<UCHAR>({0x02, 0xA1, 0x5F, 0x03, 0xA1, 0xA6, 0xB9}));
    EXPECT_TRUE(m_Ports.m_Offered.empty()); // the reply was drained
    EXPECT_FALSE(m_Ports.m_bHostBusy);
}

TEST_F(PortProtocolTest, AlertResponseOfThePollTypeIsNotAcknowledged) {
    m_Ports.m_bAlert = true;
    m_Ports.m_Offered = {0x02, 0xA1, 0x5F};
    SVCP_PACKET packet = Packet(kPollAlert, 1);
    ASSERT_EQ(Exchange(&packet), STATUS_SUCCESS);
    EXPECT_EQ(packet.AlertPending, 1u);
    EXPECT_EQ(m_Ports.m_vDataWrites, std::vector<UCHAR>({0x02, 0xA1, 0x5F}));
}

TEST_F(PortProtocolTest, AcknowledgementReplyOfSixteenFails) {
    m_Ports.m_bAlert = true;
    m_Ports.m_Offered = {0x02, 0xA2, 0x5E, 16};
    SVCP_PACKET packet = Packet(kPollAlert, 1);
    EXPECT_EQ(Exchange(&packet), STATUS_DEVICE_PROTOCOL_ERROR);
    EXPECT_EQ(packet.ResponseLength, 3); // the alert response itself arrived
    EXPECT_FALSE(m_Ports.m_bHostBusy);
}

TEST_F(PortProtocolTest, AcknowledgementWithoutReplyTimesOut) {
    m_Ports.m_bAlert = true;
    m_Ports.m_Offered = {0x02, 0xA4, 0x5C};
    SVCP_PACKET packet = Packet(kPollAlert, 1);
    EXPECT_EQ(Exchange(&packet), STATUS_IO_TIMEOUT);
    EXPECT_EQ(m_Ports.m_vDataWrites.size(), 7u);
    EXPECT_FALSE(m_Ports.m_bHostBusy);
}

TEST_F(PortProtocolTest, SendOnlyWritesTheRequestInsideATransaction) {
    SVCP_PACKET packet = Packet(kReadVoltages);
    EXPECT_EQ(SendOnly(&packet), STATUS_SUCCESS);
    EXPECT_EQ(m_Ports.m_vDataWrites, std::vector<UCHAR>({0x02, 0xA6, 0x5A}));
    EXPECT_EQ(m_Ports.m_vStatusWrites, std::vector<UCHAR>({ST_HOST_BUSY, 0x00}));
    EXPECT_EQ(m_Ports.Reads(SVCP_DATA), 0);

    m_Ports.m_bHostBusy = true;
    m_Ports.m_vStatusWrites.clear();
    EXPECT_EQ(SendOnly(&packet), STATUS_INVALID_DEVICE_STATE);
    EXPECT_TRUE(m_Ports.m_vStatusWrites.empty());
}

TEST_F(PortProtocolTest, RegisterChannel) {
    SVCP_REGISTER_ACCESS access{};
    access.PortBase = SVCP_DEFAULT_PORT_BASE;
    access.Register = 0x12;
    m_Ports.m_RegValue = 0x9C;
    ASSERT_EQ(ReadRegister(&access), STATUS_SUCCESS);
    EXPECT_EQ(access.Value, 0x9C);
    EXPECT_EQ(m_Ports.m_vRegCommandWrites, std::vector<UCHAR>({0x12}));

    access.Value = 0x42;
    ASSERT_EQ(WriteRegister(&access), STATUS_SUCCESS);
    EXPECT_EQ(m_Ports.m_vRegDataWrites, std::vector<UCHAR>({0x42}));

    access.Register = SVCP_REGISTER_COMMAND_ONLY;
    ASSERT_EQ(WriteRegister(&access), STATUS_SUCCESS);
    EXPECT_EQ(m_Ports.m_vRegCommandWrites, std::vector<UCHAR>({0x12, 0x12, 0xFF}));
    EXPECT_EQ(m_Ports.m_vRegDataWrites.size(), 1u); // the command only

    m_Ports.m_bRegReady = false;
    access.Register = 0x12;
    access.Value = 0;
    EXPECT_EQ(ReadRegister(&access), STATUS_IO_TIMEOUT);
    EXPECT_EQ(access.Value, 0);
    // The packet channel was never touched.
    EXPECT_EQ(m_Ports.Reads(SVCP_STATUS), 0);
    EXPECT_TRUE(m_Ports.m_vStatusWrites.empty());
}

} // namespace
