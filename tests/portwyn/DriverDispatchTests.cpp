#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

#include "FakePorts.h"
#include "Portwyn.h"
#include "WdfHost.h"

namespace {

class DriverDispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/portwyn-dispatch-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_sRuntime = pattern;
        ::setenv("SVCPROC_RUNTIME_DIR", m_sRuntime.c_str(), 1);
        svcproc::kernel::SetDebugPrintSinkForTest([this](const std::string& line) {
            std::lock_guard<std::mutex> hold(m_Lock);
            m_vPrinted.push_back(line);
        });
        SetPortIoBackend(&m_Ports);
        ASSERT_EQ(svcproc::kernel::LoadDriver(DriverEntry, &m_Driver), STATUS_SUCCESS);
        ASSERT_EQ(svcproc::kernel::AddDevice(m_Driver, &m_Device), STATUS_SUCCESS);
    }
    void TearDown() override {
        svcproc::kernel::UnloadDriver(m_Driver);
        svcproc::kernel::SetDebugPrintSinkForTest(nullptr);
        svcproc::kernel::SetVerifierEnabled(false);
        svcproc::kernel::SetCurrentIrqlForTest(PASSIVE_LEVEL);
        SetPortIoBackend(nullptr);
        std::filesystem::remove_all(m_sRuntime);
    }

    void Start() {
        std::string error;
        ASSERT_EQ(svcproc::kernel::StartDevice(m_Device, {{SVCP_DEFAULT_PORT_BASE, 16}}, &error),
                  STATUS_SUCCESS)
            << error;
        std::lock_guard<std::mutex> hold(m_Lock);
        m_vPrinted.clear();
    }

    NTSTATUS Send(ULONG code, const void* in, uint32_t inLength, void* out, uint32_t outLength,
                  uint32_t* information) {
        return svcproc::kernel::SendDeviceControl(m_Device, code, in, inLength, out, outLength,
                                                  information);
    }

    static SVCP_PACKET ReadVoltages(uint32_t portBase = SVCP_DEFAULT_PORT_BASE) {
        SVCP_PACKET packet{};
        packet.Request[0] = 0x02;
        packet.Request[1] = 0xA6;
        packet.Request[2] = 0x5A;
        packet.RequestLength = 3;
        packet.PortBase = portBase;
        return packet;
    }

    std::vector<std::string> Printed() {
        std::lock_guard<std::mutex> hold(m_Lock);
        return m_vPrinted;
    }

    std::string m_sRuntime;
    FakePorts m_Ports;
    WDFDRIVER m_Driver = nullptr;
    WDFDEVICE m_Device = nullptr;
    std::mutex m_Lock;
    std::vector<std::string> m_vPrinted;
};

TEST_F(DriverDispatchTest, InterfaceIsDisabledUntilPrepareHardware) {
    EXPECT_TRUE(svcproc::kernel::EnabledInterfacePaths(m_Device).empty());
    std::string error;
    ASSERT_EQ(svcproc::kernel::StartDevice(m_Device, {{SVCP_DEFAULT_PORT_BASE, 16}}, &error),
              STATUS_SUCCESS);
    auto paths = svcproc::kernel::EnabledInterfacePaths(m_Device);
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], m_sRuntime + "/devices/" SVCP_INTERFACE_CLASS_GUID_STRING "/PORTWYN");
    EXPECT_TRUE(std::filesystem::exists(paths[0]));
    EXPECT_EQ(Printed(), std::vector<std::string>({"WdfDeviceSetDeviceInterfaceState(true)\n"}));
    EXPECT_EQ(m_Ports.Operations(), 0); // starting touches no port

    svcproc::kernel::RemoveDevice(m_Device);
    m_Device = nullptr;
    EXPECT_FALSE(std::filesystem::exists(paths[0]));
}

TEST_F(DriverDispatchTest, DeviceWithoutPortRangeDoesNotStart) {
    std::string error;
    EXPECT_EQ(svcproc::kernel::StartDevice(m_Device, {}, &error),
              STATUS_DEVICE_CONFIGURATION_ERROR);
    EXPECT_TRUE(svcproc::kernel::EnabledInterfacePaths(m_Device).empty());
}

TEST_F(DriverDispatchTest, UnknownCodesAreNotImplemented) {
    Start();
    for (ULONG code : {0x80772008u, 0x80772001u, 0x00000000u, 0x807761C4u}) {
        SVCP_PACKET packet = ReadVoltages();
        uint8_t out[96];
        std::memset(out, 0xCC, sizeof out);
        uint32_t information = 7;
        EXPECT_EQ(Send(code, &packet, 96, out, 96, &information), STATUS_NOT_IMPLEMENTED)
            << std::hex << code;
        EXPECT_EQ(information, 0u);
        EXPECT_EQ(out[0], 0xCC);
    }
    EXPECT_EQ(m_Ports.Operations(), 0);
}

TEST_F(DriverDispatchTest, ShortBuffersAreRefusedBeforeAnyPortAccess) {
    struct Case {
        ULONG code;
        uint32_t in;
        uint32_t out;
    };
    const Case cases[] = {
        {IOCTL_SVCP_REQUEST_RESPONSE, 96, 95},
        {IOCTL_SVCP_REQUEST_RESPONSE, 95, 96},
        {IOCTL_SVCP_SEND, 95, 0},
        {IOCTL_SVCP_READ_REGISTER, 16, 15},
        {IOCTL_SVCP_READ_REGISTER, 15, 16},
        {IOCTL_SVCP_WRITE_REGISTER, 15, 0},
        {IOCTL_SVCP_REQUEST_RESPONSE, 0, 0},
    };
    Start();
    for (const Case& c : cases) {
        SVCP_PACKET packet = ReadVoltages();
        uint8_t out[96] = {};
        uint32_t information = 7;
        EXPECT_EQ(Send(c.code, &packet, c.in, out, c.out, &information), STATUS_INVALID_PARAMETER)
            << std::hex << c.code << " " << std::dec << c.in << "/" << c.out;
        EXPECT_EQ(information, 0u);
    }
    EXPECT_EQ(m_Ports.Operations(), 0);
}

TEST_F(DriverDispatchTest, SuccessfulRequestsReturnTheirInformation) {
    Start();
    m_Ports.m_Offered = {0x04, 0xA6, 0x01, 0x2C, 0x2D};
    SVCP_PACKET packet = ReadVoltages();
    packet.Reserved[0] = 0x11; // everything the caller set comes back
    SVCP_PACKET out;
    std::memset(&out, 0xCC, sizeof out);
    uint32_t information = 0;
    ASSERT_EQ(Send(IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, &out, 96, &information),
              STATUS_SUCCESS);
    EXPECT_EQ(information, 96u);
    EXPECT_EQ(out.ResponseLength, 5);
    EXPECT_EQ(std::memcmp(out.Request, packet.Request, 16), 0);
    EXPECT_EQ(out.RequestLength, 3);
    EXPECT_EQ(out.PortBase, SVCP_DEFAULT_PORT_BASE);
    EXPECT_EQ(out.Reserved[0], 0x11);

    SVCP_REGISTER_ACCESS access{};
    access.PortBase = SVCP_DEFAULT_PORT_BASE;
    access.Register = 3;
    m_Ports.m_RegValue = 0x5E;
    SVCP_REGISTER_ACCESS accessOut{};
    ASSERT_EQ(Send(IOCTL_SVCP_READ_REGISTER, &access, 16, &accessOut, 16, &information),
              STATUS_SUCCESS);
    EXPECT_EQ(information, 16u);
    EXPECT_EQ(accessOut.Value, 0x5E);

    ASSERT_EQ(Send(IOCTL_SVCP_WRITE_REGISTER, &access, 16, nullptr, 0, &information),
              STATUS_SUCCESS);
    EXPECT_EQ(information, 0u);
    ASSERT_EQ(Send(IOCTL_SVCP_SEND, &packet, 96, nullptr, 0, &information), STATUS_SUCCESS);
    EXPECT_EQ(information, 0u);
    // A larger output buffer than needed is fine; only 96 bytes come back.
    uint8_t big[128];
    m_Ports.m_Offered = {0x00};
    ASSERT_EQ(Send(IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, big, sizeof big, &information),
              STATUS_SUCCESS);
    EXPECT_EQ(information, 96u);
}

TEST_F(DriverDispatchTest, FailedExchangeReturnsNothing) {
    Start();
    m_Ports.m_bHostBusy = true;
    SVCP_PACKET packet = ReadVoltages();
    uint8_t out[96];
    std::memset(out, 0xCC, sizeof out);
    uint32_t information = 7;
    EXPECT_EQ(Send(IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, out, 96, &information),
              STATUS_INVALID_DEVICE_STATE);
    EXPECT_EQ(information, 0u);
    for (uint8_t b : out) {
        ASSERT_EQ(b, 0xCC);
    }
}

TEST_F(DriverDispatchTest, ForeignPortBaseIsRefusedWithOneLine) {
    Start();
    SVCP_PACKET packet = ReadVoltages(0x300);
    SVCP_REGISTER_ACCESS access{};
    access.PortBase = 0x80;
    uint8_t out[96];
    uint32_t information = 7;
    EXPECT_EQ(Send(IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, out, 96, &information),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(information, 0u);
    EXPECT_EQ(Printed(), std::vector<std::string>(
                             {"portwyn: request for port base 0x300 refused, the device is at "
                              "0x2b0\n"}));
    EXPECT_EQ(Send(IOCTL_SVCP_SEND, &packet, 96, nullptr, 0, &information),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Send(IOCTL_SVCP_READ_REGISTER, &access, 16, out, 16, &information),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Send(IOCTL_SVCP_WRITE_REGISTER, &access, 16, nullptr, 0, &information),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Printed().size(), 4u);
    EXPECT_EQ(m_Ports.Operations(), 0);
    EXPECT_EQ(m_Ports.m_nForeign, 0);
}

TEST_F(DriverDispatchTest, PortBaseComesFromTheDeviceResources) {
    FakePorts other(0x2C0);
    SetPortIoBackend(&other);
    std::string error;
    ASSERT_EQ(svcproc::kernel::StartDevice(m_Device, {{0x2C0, 16}}, &error), STATUS_SUCCESS);
    other.m_Offered = {0x00};
    SVCP_PACKET packet = ReadVoltages(0x2C0);
    uint8_t out[96];
    uint32_t information = 0;
    EXPECT_EQ(Send(IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, out, 96, &information),
              STATUS_SUCCESS);
    packet.PortBase = SVCP_DEFAULT_PORT_BASE;
    EXPECT_EQ(Send(IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, out, 96, &information),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(other.m_nForeign, 0);
    SetPortIoBackend(&m_Ports);
}

TEST_F(DriverDispatchTest, VerifierAssertsPassiveLevel) {
    Start();
    SVCP_PACKET packet = ReadVoltages();
    uint8_t out[96];
    uint32_t information = 0;
    m_Ports.m_Offered = {0x00};
    // Without the verifier nothing is checked.
    svcproc::kernel::SetCurrentIrqlForTest(DISPATCH_LEVEL);
    EXPECT_EQ(Send(IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, out, 96, &information),
              STATUS_SUCCESS);
    svcproc::kernel::SetCurrentIrqlForTest(PASSIVE_LEVEL);
    svcproc::kernel::SetVerifierEnabled(true);
    m_Ports.m_Offered = {0x00};
    EXPECT_EQ(Send(IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, out, 96, &information),
              STATUS_SUCCESS);

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            svcproc::kernel::SetCurrentIrqlForTest(DISPATCH_LEVEL);
            Send(IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, out, 96, &information);
        },
        "Assertion failed: KeGetCurrentIrql\\(\\) == PASSIVE_LEVEL\n.*Source File: "
        "svcproc.src.portwyn.portwyn");
}

} // namespace
