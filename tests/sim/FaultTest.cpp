// Every fault as the handshake sees it, and how long it lasts.
#include "SimTestSupport.h"

namespace simtest {
namespace {

struct FaultCase {
    const char* name;
    FaultKind fault;
    uint32_t status;    // of a read-voltages exchange
    int responseLength; // -1: not checked
    bool checksumOk;    // when the exchange succeeded
    uint8_t type;       // when the exchange succeeded
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class FaultTest : public ModelTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, OneTransactionFailsAsTheHandshakeExpectsThenAllIsWell) {
    const FaultCase& c = GetParam();
    m_pModel->ArmFault(c.fault, 1);
    SVCP_PACKET packet{};
    EXPECT_EQ(Read(0xA6, &packet), c.status);
    if (c.responseLength >= 0) {
        EXPECT_EQ(packet.ResponseLength, c.responseLength);
    }
    if (c.status == kSuccess) {
        EXPECT_EQ(ChecksumOk(packet), c.checksumOk);
        EXPECT_EQ(packet.Response[1], c.type);
    }
    EXPECT_EQ(Status() & 0x80, 0) << "ST_HOST_BUSY must not stay set";

    SVCP_PACKET next{};
    ASSERT_EQ(Read(0xA6, &next), kSuccess);
    EXPECT_EQ(next.ResponseLength, 11);
    EXPECT_TRUE(ChecksumOk(next));
}

INSTANTIATE_TEST_SUITE_P(
    EveryFault, FaultTest,
    ::testing::Values(
        FaultCase{"stuck_ibf", FaultKind::StuckIbf, kTimeout, 0, false, 0},
        FaultCase{"no_response", FaultKind::NoResponse, kTimeout, 0, false, 0},
        FaultCase{"error_mid_response", FaultKind::ErrorMidResponse, kProtocolError, 0, false, 0},
        FaultCase{"host_busy", FaultKind::HostBusy, kInvalidDeviceState, 0, false, 0},
        FaultCase{"count64", FaultKind::Count64, kProtocolError, 0, false, 0},
        FaultCase{"bad_checksum", FaultKind::BadChecksum, kSuccess, 11, false, 0xA6},
        FaultCase{"wrong_type", FaultKind::WrongType, kSuccess, 11, true, 0xA2},
        FaultCase{"few_readings", FaultKind::FewReadings, kSuccess, 9, true, 0xA6},
        FaultCase{"many_readings", FaultKind::ManyReadings, kSuccess, 13, true, 0xA6}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ModelTest, HostBusyRefusalWritesNothing) {
    m_pModel->ArmFault(FaultKind::HostBusy, 1);
    m_Ports.Reset();
    EXPECT_EQ(Read(0xA6), kInvalidDeviceState);
    EXPECT_EQ(m_Ports.m_nReads, 1);
    EXPECT_TRUE(m_Ports.m_vWrites.empty());
    EXPECT_EQ(m_pModel->Stats().m_RefusedBusy, 1u);
}

TEST_F(ModelTest, ErrorMidResponseStopsAfterHalfTheBytes) {
    m_pModel->ArmFault(FaultKind::ErrorMidResponse, 1);
    SVCP_PACKET packet{};
    EXPECT_EQ(Read(0xA6, &packet), kProtocolError);
    // 11 bytes: the first 5 arrive, then the error flag.
    EXPECT_EQ(packet.Response[0], 0x0A);
    EXPECT_EQ(packet.Response[4], 0x01);
    EXPECT_EQ(packet.Response[5], 0x00);
    EXPECT_EQ(Status() & 0x20, 0x20);
    const int before = m_Driver.InputEmptyWaits();
    ASSERT_EQ(Read(0xA6), kSuccess);
    EXPECT_EQ(m_Driver.InputEmptyWaits() - before, 12) << "the flag is cleared first";
}

TEST_F(ModelTest, Count64IsTheOnlyByteThatArrives) {
    m_pModel->ArmFault(FaultKind::Count64, 1);
    SVCP_PACKET packet{};
    EXPECT_EQ(Read(0xA4, &packet), kProtocolError);
    EXPECT_EQ(packet.Response[0], 64);
    EXPECT_EQ(packet.ResponseLength, 0);
    EXPECT_EQ(m_pModel->Stats().m_DiscardedResponses, 1u);
}

TEST_F(ModelTest, FaultsLastForTheirCount) {
    m_pModel->ArmFault(FaultKind::NoResponse, 2);
    EXPECT_EQ(Read(0xA6), kTimeout);
    EXPECT_EQ(Read(0xA2), kTimeout);
    EXPECT_EQ(Read(0xA4), kSuccess);
    m_pModel->ArmFault(FaultKind::BadChecksum, 3);
    m_pModel->ArmFault(FaultKind::BadChecksum, 0);
    SVCP_PACKET packet{};
    ASSERT_EQ(Read(0xA6, &packet), kSuccess);
    EXPECT_TRUE(ChecksumOk(packet)) << "a count of 0 disarms";
    EXPECT_EQ(m_pModel->Stats().m_FaultedTransactions, 2u);
}

TEST_F(ModelTest, FaultsCombine) {
    m_pModel->ArmFault(FaultKind::FewReadings, 1);
    m_pModel->ArmFault(FaultKind::WrongType, 1);
    SVCP_PACKET packet{};
    ASSERT_EQ(Read(0xA4, &packet), kSuccess);
    EXPECT_EQ(ResponseBytes(packet).size(), 4u);
    EXPECT_EQ(packet.Response[1], 0xA6);
    EXPECT_TRUE(ChecksumOk(packet));
}

TEST_F(ModelTest, LatencySlowsEveryByteWithinTheWaits) {
    SVCP_PACKET packet{};
    m_Ports.Reset();
    ASSERT_EQ(Read(0xA6, &packet), kSuccess);
    const int quick = m_Ports.m_nReads;
    m_pModel->SetLatency(50);
    m_Ports.Reset();
    ASSERT_EQ(Read(0xA6, &packet), kSuccess);
    EXPECT_TRUE(ChecksumOk(packet));
    EXPECT_GT(m_Ports.m_nReads, quick + 50 * 11);
    EXPECT_EQ(m_pModel->Stats().m_HandshakeViolations, 0u);

    uint8_t value = 0;
    ASSERT_EQ(m_Driver.ReadRegister(0x00, &value), kSuccess);
    EXPECT_EQ(value, 1);

    m_pModel->SetLatency(20000); // longer than any wait
    EXPECT_EQ(Read(0xA6), kTimeout);
    m_pModel->SetLatency(0);
    EXPECT_EQ(Read(0xA6), kSuccess);
}

TEST_F(ModelTest, HostBusyRefusesAnAlertPollOnceThenItIsServed) {
    ASSERT_TRUE(m_pModel->ForceAlert(SensorKind::Voltage, 0, true));
    m_pModel->ArmFault(FaultKind::HostBusy, 1);
    SVCP_PACKET packet{};
    EXPECT_EQ(PollAlert(&packet), kInvalidDeviceState);
    ASSERT_EQ(PollAlert(&packet), kSuccess);
    EXPECT_EQ(packet.AlertPending, 1u);
    EXPECT_EQ(m_pModel->Stats().m_RefusedBusy, 1u);
}

TEST_F(ModelTest, AlertOfTheWrongTypeIsNotConsumedByItsAcknowledgement) {
    ASSERT_TRUE(m_pModel->ForceAlert(SensorKind::Voltage, 0, true));
    m_pModel->ArmFault(FaultKind::WrongType, 1);
    SVCP_PACKET packet{};
    ASSERT_EQ(PollAlert(&packet), kSuccess);
    EXPECT_EQ(packet.Response[1], 0xA2);
    EXPECT_EQ(m_Ports.WritesTo(kBase).back(), 0xBD) << "acknowledges what it was sent";
    EXPECT_EQ(m_pModel->Stats().m_UnmatchedAcknowledgements, 1u);
    ASSERT_EQ(PollAlert(&packet), kSuccess);
    EXPECT_EQ(packet.Response[1], 0xA6);
    EXPECT_EQ(Status() & 0x10, 0);
}

TEST_F(ModelTest, ReadingFaultsApplyToAlertResponses) {
    ASSERT_TRUE(m_pModel->ForceAlert(SensorKind::Fan, 0, true));
    m_pModel->ArmFault(FaultKind::ManyReadings, 1);
    SVCP_PACKET packet{};
    ASSERT_EQ(PollAlert(&packet), kSuccess);
    EXPECT_EQ(packet.Response[0], 2 * 4 + 4);
    EXPECT_TRUE(ChecksumOk(packet));
}

} // namespace
} // namespace simtest
