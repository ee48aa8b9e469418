// The model driven by the driver's own handshake code, linked in-process
// through the port I/O backend.
#include "PortProtocol.h"
#include "SimTestSupport.h"
#include "Simulator.h"

namespace simtest {
namespace {

uint32_t AsCode(NTSTATUS status) {
    return static_cast<uint32_t>(status);
}

class RealDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_pModel = MakeModel("default");
        m_pPorts = std::make_unique<CRecordingPorts>(*m_pModel);
        SetPortIoBackend(m_pPorts.get());
    }
    void TearDown() override { SetPortIoBackend(nullptr); }

    uint32_t Exchange(SVCP_PACKET& packet) { return AsCode(::Exchange(&packet)); }

    std::unique_ptr<CServiceProcessorModel> m_pModel;
    std::unique_ptr<CRecordingPorts> m_pPorts;
};

TEST_F(RealDriverTest, EveryReadCommandOfEveryProfile) {
    for (const std::string& name : svcproc::sim::ProfileNames()) {
        auto model = MakeModel(name);
        SetPortIoBackend(model.get());
        const std::pair<uint8_t, size_t> reads[] = {
            {0xA6, 2 * model->Count(SensorKind::Voltage) + 2},
            {0xA2, 2 * model->Count(SensorKind::Fan) + 2},
            {0xA4, model->Count(SensorKind::Temperature) + 2},
            {0xED, 4}};
        for (const auto& [command, count] : reads) {
            SVCP_PACKET packet = MakeRequest(command);
            ASSERT_EQ(Exchange(packet), kSuccess) << name;
            EXPECT_EQ(packet.Response[0], count) << name;
            EXPECT_EQ(packet.Response[1], command) << name;
            EXPECT_EQ(packet.ResponseLength, count + 1) << name;
            EXPECT_TRUE(ChecksumOk(packet)) << name;
        }
        EXPECT_EQ(model->Stats().m_HandshakeViolations, 0u) << name;
    }
}

TEST_F(RealDriverTest, AlertPollAndAcknowledgement) {
    SVCP_PACKET packet = MakeRequest(0xA1, true);
    m_pPorts->Reset();
    ASSERT_EQ(Exchange(packet), kSuccess);
    EXPECT_EQ(m_pPorts->m_nReads, 1);
    EXPECT_EQ(packet.AlertPending, 0u);

    ASSERT_TRUE(m_pModel->SetRaw(SensorKind::Voltage, 0, 250));
    m_pPorts->Reset();
    ASSERT_EQ(Exchange(packet), kSuccess);
    EXPECT_EQ(packet.AlertPending, 1u);
    EXPECT_EQ(packet.Response[1], 0xA6);
    EXPECT_EQ(packet.Response[3], 0x01);
    EXPECT_EQ(m_pPorts->WritesTo(kBase),
              (std::vector<uint8_t>{0x02, 0xA1, 0x5F, 0x03, 0xA1, 0xA6, 0xB9}));
    EXPECT_EQ(m_pModel->Stats().m_Acknowledgements, 1u);

    m_pPorts->Reset();
    ASSERT_EQ(Exchange(packet), kSuccess);
    EXPECT_EQ(m_pPorts->m_nReads, 1) << "the alert was consumed";
}

struct RealFaultCase {
    const char* name;
    FaultKind fault;
    uint32_t status;
};

class RealDriverFaultTest : public RealDriverTest,
                            public ::testing::WithParamInterface<RealFaultCase> {};

TEST_P(RealDriverFaultTest, StatusAsTheDriverReportsIt) {
    m_pModel->ArmFault(GetParam().fault, 1);
    SVCP_PACKET packet = MakeRequest(0xA6);
    EXPECT_EQ(Exchange(packet), GetParam().status);
    EXPECT_EQ(m_pModel->ReadPort(kBase + 4) & 0x80, 0);
    packet = MakeRequest(0xA6);
    EXPECT_EQ(Exchange(packet), kSuccess);
    EXPECT_TRUE(ChecksumOk(packet));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RealDriverFaultTest,
    ::testing::Values(RealFaultCase{"stuck_ibf", FaultKind::StuckIbf, kTimeout},
                      RealFaultCase{"no_response", FaultKind::NoResponse, kTimeout},
                      RealFaultCase{"error_mid_response", FaultKind::ErrorMidResponse,
                                    kProtocolError},
                      RealFaultCase{"host_busy", FaultKind::HostBusy, kInvalidDeviceState},
                      RealFaultCase{"count64", FaultKind::Count64, kProtocolError},
                      RealFaultCase{"bad_checksum", FaultKind::BadChecksum, kSuccess}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RealDriverTest, RegisterChannel) {
    SVCP_REGISTER_ACCESS access{};
    access.PortBase = kBase;
    access.Register = 0x30;
    access.Value = 0xC3;
    ASSERT_EQ(AsCode(WriteRegister(&access)), kSuccess);
    access.Value = 0;
    ASSERT_EQ(AsCode(ReadRegister(&access)), kSuccess);
    EXPECT_EQ(access.Value, 0xC3);
    access.Register = 0xFF;
    m_pPorts->Reset();
    ASSERT_EQ(AsCode(WriteRegister(&access)), kSuccess);
    EXPECT_EQ(m_pPorts->m_vWrites.size(), 1u);
    EXPECT_EQ(m_pModel->Stats().m_HandshakeViolations, 0u);
}

TEST_F(RealDriverTest, LatencyWithinTheWaitsIsHarmless) {
    m_pModel->SetLatency(100);
    SVCP_PACKET packet = MakeRequest(0xA2);
    ASSERT_EQ(Exchange(packet), kSuccess);
    EXPECT_TRUE(ChecksumOk(packet));
    EXPECT_EQ(m_pModel->Stats().m_HandshakeViolations, 0u);
}

} // namespace
} // namespace simtest
