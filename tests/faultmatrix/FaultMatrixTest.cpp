// Every simulator fault against every operation, through a real portwyn
// process with the simulator: first as a client of the driver sees it (the
// status that reaches it through the device channel), then as the library's
// I/O unit takes it (what it stores, logs and reports).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>

#include "E2eHarness.h"
#include "FaultCases.h"
#include "IoTestSupport.h"
#include "io/SvcpProtocol.h"
#include "platform/devchannel/DeviceChannel.h"

namespace faultmatrix {
namespace {

using Clock = std::chrono::steady_clock;
using iotest::RecordingListener;

constexpr uint32_t kBase = SVCP_DEFAULT_PORT_BASE;
constexpr DWORD kT0 = 5000000;
constexpr uint8_t kRegister = 0x30;

// Worst-case number of waits of one request: a plain exchange makes 10
// input-empty waits, 2 more to clear the error flag and one per response
// byte (64 at most); an alert poll adds the acknowledgement's 4 bytes (8
// waits), its reply count and up to 15 reply bytes; a register access 3.
int WorstCaseWaits(Op op) {
    switch (op) {
    case Op::RegisterRead:
    case Op::RegisterWrite:
        return 3;
    case Op::AlertPoll:
        return 12 + 64 + 8 + 1 + 15;
    default:
        return 12 + 64;
    }
}

// A wait that runs out has tested 10000 times with a 1 us stall after each:
// at least 10 ms. Allow 25 ms for it (the polls cost time too, more so on an
// instrumented build or a busy machine) and 500 ms for the channel.
std::chrono::milliseconds RequestBound(Op op) {
    return std::chrono::milliseconds(WorstCaseWaits(op) * 25 + 500);
}

DWORD Win32ErrorOf(uint32_t status) {
    switch (status) {
    case 0xC00000B5:
        return ERROR_SEM_TIMEOUT;
    case 0xC0000184:
        return ERROR_BAD_COMMAND;
    case 0xC0000186:
        return ERROR_IO_DEVICE;
    }
    return ERROR_SUCCESS;
}

uint8_t CommandOf(Op op) {
    switch (op) {
    case Op::ReadVoltages:
        return SVCP_CMD_READ_VOLTAGES;
    case Op::ReadFans:
        return SVCP_CMD_READ_FANS;
    case Op::ReadTemperatures:
        return SVCP_CMD_READ_TEMPERATURES;
    case Op::ReadLeds:
        return SVCP_CMD_READ_LEDS;
    default:
        return SVCP_CMD_POLL_ALERT;
    }
}

// The default board: 4 voltages, 3 fans, 2 temperatures, one LED word; the
// alert is a voltage alert (mask and 4 readings).
struct Shape {
    uint8_t type;
    int count;
    int width;
};
Shape GoodShape(Op op) {
    switch (op) {
    case Op::ReadVoltages:
        return {0xA6, 10, 2};
    case Op::ReadFans:
        return {0xA2, 8, 2};
    case Op::ReadTemperatures:
        return {0xA4, 4, 1};
    case Op::ReadLeds:
        return {0xED, 4, 2};
    default:
        return {0xA6, 12, 2};
    }
}

bool IsRegisterOp(Op op) {
    return op == Op::RegisterRead || op == Op::RegisterWrite;
}

// The position-0 sensor of a read, or the LED the test switches.
uint32_t HandleOf(Op op) {
    switch (op) {
    case Op::ReadVoltages:
        return 0x10000;
    case Op::ReadFans:
        return 0x20000;
    case Op::ReadTemperatures:
        return 0x30000;
    default:
        return 0x40002;
    }
}

HANDLE OpenDevice() {
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_SVCP, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE_DEVINFO) {
        return INVALID_HANDLE_VALUE;
    }
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    HANDLE device = INVALID_HANDLE_VALUE;
    DWORD size = 0;
    if (SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_SVCP, 0, &data)) {
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
        std::vector<uint8_t> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr)) {
            device = CreateFileW(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return device;
}

// The opened device, closed with the object.
class Device {
public:
    Device() : m_hDevice(OpenDevice()) { EXPECT_NE(m_hDevice, INVALID_HANDLE_VALUE); }
    ~Device() {
        if (m_hDevice != INVALID_HANDLE_VALUE) {
            CloseHandle(m_hDevice);
        }
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    HANDLE Get() const { return m_hDevice; }

private:
    HANDLE m_hDevice;
};

bool ChecksumOk(const SVCP_PACKET& packet) {
    unsigned sum = 0;
    for (int i = 1; i <= packet.Response[0] && i < SVCP_RESPONSE_MAX; ++i) {
        sum += packet.Response[i];
    }
    return (sum & 0xFF) == 0;
}

// What the library holds for the case's kind.
struct Held {
    int32_t value = 0; // reading of the position-0 sensor, or the LED's on flag
    DWORD lastUpdate = 0;
    uint16_t voltageMask = 0;
    uint16_t fanMask = 0;
    uint32_t alertedState = 0; // state of voltage position 2
};

class FaultMatrix : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() {
        s_pEnv = new e2e::Environment();
        s_pEnv->StartHost("default");
    }
    static void TearDownTestSuite() {
        delete s_pEnv;
        s_pEnv = nullptr;
    }
    void TearDown() override {
        m_pUnit.reset();
        Control("fault clear");
        if (GetParam().status != 0 && IsRegisterOp(GetParam().op)) {
            SettleRegisterChannel();
        }
        RestoreValues();
        ResetAlert();
        svcproc::platform::UseRealTickCount();
    }

    static void Control(const std::string& line) {
        svcproc::sim::ControlReply reply;
        std::string error;
        ASSERT_TRUE(svcproc::sim::SendControlRequest(s_pEnv->ControlSocket(), line, &reply, &error))
            << line << ": " << error;
        ASSERT_TRUE(reply.m_bOk) << line << ": " << reply.m_sReason;
    }

    // Values a good read after the fault must bring in.
    static void ChangeValues(Op op) {
        switch (op) {
        case Op::ReadVoltages:
            return Control("set voltage 0 331");
        case Op::ReadFans:
            return Control("set fan 0 2410");
        case Op::ReadTemperatures:
            return Control("set temperature 0 41");
        case Op::ReadLeds:
            return Control("led 0x2 on");
        default:
            return;
        }
    }
    static int32_t ChangedValue(Op op) {
        switch (op) {
        case Op::ReadVoltages:
            return 3310;
        case Op::ReadFans:
            return 2410;
        case Op::ReadTemperatures:
            return 410;
        default:
            return 1;
        }
    }
    static void RestoreValues() {
        Control("set voltage 0 330");
        Control("set fan 0 2400");
        Control("set temperature 0 40");
        Control("led 0x2 off");
    }

    // Takes every pending alert off the simulator.
    static void DrainAlerts() {
        Device holder;
        HANDLE device = holder.Get();
        for (int i = 0; i < 10; ++i) {
            SVCP_PACKET packet = svcproc::io::MakeRequestPacket(SVCP_CMD_POLL_ALERT, kBase, true);
            DWORD returned = 0;
            if (DeviceIoControl(device, IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, &packet, 96,
                                &returned, nullptr) &&
                packet.AlertPending == 0) {
                break;
            }
        }
    }
    static void ResetAlert() {
        Control("alert voltage 2 off");
        DrainAlerts();
    }

    static SVCP_REGISTER_ACCESS RegisterRequest(UCHAR value) {
        SVCP_REGISTER_ACCESS access{};
        access.PortBase = kBase;
        access.Register = kRegister;
        access.Value = value;
        return access;
    }
    static BOOL RegisterAccess(HANDLE device, DWORD code, SVCP_REGISTER_ACCESS& access,
                               DWORD* returned) {
        const bool read = code == IOCTL_SVCP_READ_REGISTER;
        return DeviceIoControl(device, code, &access, sizeof access, read ? &access : nullptr,
                               read ? sizeof access : 0, returned, nullptr);
    }
    // A byte written under a latency beyond the waits is still being taken
    // after the latency is dropped; accesses that time out poll it away.
    static void SettleRegisterChannel() {
        Device device;
        for (int i = 0; i < 4; ++i) {
            SVCP_REGISTER_ACCESS access = RegisterRequest(0);
            DWORD returned = 0;
            if (RegisterAccess(device.Get(), IOCTL_SVCP_READ_REGISTER, access, &returned)) {
                return;
            }
        }
        ADD_FAILURE() << "the register channel did not recover";
    }

    void DriverPart(const Case& c);
    void CheckDriverOutput(const Case& c, const SVCP_PACKET& packet, HANDLE device);
    void LibraryPart(const Case& c);
    void RunLibraryOp(Op op);
    Held HeldFor(Op op);
    void CheckLibraryOutcome(const Case& c, const Held& before, RecordingListener& listener);

    static e2e::Environment* s_pEnv;
    CDataCache m_Cache;
    std::unique_ptr<CIOUnit> m_pUnit;
};

e2e::Environment* FaultMatrix::s_pEnv = nullptr;

void FaultMatrix::DriverPart(const Case& c) {
    SCOPED_TRACE("driver");
    Device holder;
    HANDLE device = holder.Get();
    ASSERT_NE(device, INVALID_HANDLE_VALUE) << GetLastError();
    SVCP_REGISTER_ACCESS access = RegisterRequest(0x5A);
    DWORD returned = 0;
    if (IsRegisterOp(c.op)) {
        ASSERT_TRUE(RegisterAccess(device, IOCTL_SVCP_WRITE_REGISTER, access, &returned));
    }
    if (c.op == Op::AlertPoll) {
        Control("alert voltage 2 on");
    }
    Control(c.fault->arm);

    SVCP_PACKET packet =
        svcproc::io::MakeRequestPacket(CommandOf(c.op), kBase, c.op == Op::AlertPoll);
    const SVCP_PACKET sent = packet;
    access = RegisterRequest(0xA5);
    const SVCP_REGISTER_ACCESS accessSent = access;
    returned = 0xDEAD;
    const auto start = Clock::now();
    BOOL ok = FALSE;
    if (c.op == Op::RegisterRead) {
        ok = RegisterAccess(device, IOCTL_SVCP_READ_REGISTER, access, &returned);
    } else if (c.op == Op::RegisterWrite) {
        ok = RegisterAccess(device, IOCTL_SVCP_WRITE_REGISTER, access, &returned);
    } else {
        ok = DeviceIoControl(device, IOCTL_SVCP_REQUEST_RESPONSE, &packet, 96, &packet, 96,
                             &returned, nullptr);
    }
    const auto elapsed = Clock::now() - start;
    const DWORD error = GetLastError();
    Control("fault clear");

    EXPECT_LT(elapsed, RequestBound(c.op));
    if (c.status == 0xC00000B5) {
        EXPECT_GE(elapsed, std::chrono::milliseconds(10)) << "a wait ran out sooner than 10 ms";
    }
    EXPECT_EQ(ok != FALSE, c.status == 0);
    EXPECT_EQ(error, Win32ErrorOf(c.status));
    if (!ok) {
        // Information 0: nothing was copied back over what the caller sent.
        EXPECT_EQ(returned, 0u);
        if (IsRegisterOp(c.op)) {
            EXPECT_EQ(std::memcmp(&access, &accessSent, sizeof access), 0);
        } else {
            EXPECT_EQ(std::memcmp(&packet, &sent, sizeof packet), 0);
        }
    } else {
        CheckDriverOutput(c, packet, device);
    }
    if (IsRegisterOp(c.op) && c.status == 0) {
        EXPECT_EQ(access.Value, c.op == Op::RegisterRead ? 0x5A : 0xA5);
    }
}

void FaultMatrix::CheckDriverOutput(const Case& c, const SVCP_PACKET& packet, HANDLE device) {
    if (c.op == Op::RegisterRead) {
        return;
    }
    if (c.op == Op::RegisterWrite) {
        SVCP_REGISTER_ACCESS readBack = RegisterRequest(0);
        DWORD returned = 0;
        ASSERT_TRUE(RegisterAccess(device, IOCTL_SVCP_READ_REGISTER, readBack, &returned));
        EXPECT_EQ(readBack.Value, 0xA5);
        return;
    }
    const std::string fault = c.fault->name;
    const Shape shape = GoodShape(c.op);
    int count = shape.count;
    if (fault == "few_readings") {
        count -= shape.width;
    } else if (fault == "many_readings") {
        count += shape.width;
    }
    EXPECT_EQ(packet.Response[0], count);
    EXPECT_EQ(packet.ResponseLength, count + 1);
    EXPECT_EQ(packet.Response[1] == shape.type, fault != "wrong_type");
    EXPECT_EQ(ChecksumOk(packet), fault != "bad_checksum");
    EXPECT_EQ(packet.PortBase, kBase);
    if (c.op == Op::AlertPoll) {
        EXPECT_EQ(packet.AlertPending, 1u);
    }
}

void FaultMatrix::RunLibraryOp(Op op) {
    if (op == Op::AlertPoll) {
        m_pUnit->PollAlerts();
        return;
    }
    if (op == Op::ReadLeds) {
        CLedReading reading{};
        EXPECT_EQ(m_pUnit->ReadLed(HandleOf(op), reading), SERVICE_SUCCESS);
        return;
    }
    CSensorReading reading{};
    EXPECT_EQ(m_pUnit->ReadSensor(HandleOf(op), reading), SERVICE_SUCCESS);
}

Held FaultMatrix::HeldFor(Op op) {
    Held held;
    CDataCache::CAccess access = m_Cache.Access();
    held.voltageMask = access.Voltages().m_wAlertBits;
    held.fanMask = access.Fans().m_wAlertBits;
    if (const InternalSensor* alerted = access.Voltages().Find(2)) {
        held.alertedState = alerted->m_State;
    }
    const CSensorMap* map = nullptr;
    switch (op) {
    case Op::ReadVoltages:
    case Op::AlertPoll:
        map = &access.Voltages();
        break;
    case Op::ReadFans:
        map = &access.Fans();
        break;
    case Op::ReadTemperatures:
        map = &access.Temperatures();
        break;
    default: {
        InternalLed led;
        EXPECT_TRUE(m_Cache.GetLed(0x40002, led));
        held.value = led.m_bOn ? 1 : 0;
        held.lastUpdate = access.Leds().m_dwLastUpdate;
        return held;
    }
    }
    if (const InternalSensor* sensor = map->Find(0)) {
        held.value = sensor->m_Reading;
    }
    held.lastUpdate = map->m_dwLastUpdate;
    return held;
}

void FaultMatrix::LibraryPart(const Case& c) {
    SCOPED_TRACE("library");
    iotest::LogCapture capture;
    svcproc::platform::SetTickCountForTest(kT0);
    iotest::FillCache(m_Cache, 4, 3, 2, {0x0001, 0x0002, 0x0004});
    m_pUnit = std::make_unique<CIOUnit>(&m_Cache);
    ASSERT_TRUE(m_pUnit->Initialise(kBase)); // reads every kind once; polling not started
    RecordingListener listener;
    m_pUnit->RegisterSensorStateListener(&listener);
    const Held before = HeldFor(c.op);
    ASSERT_EQ(before.lastUpdate, kT0);

    ChangeValues(c.op);
    if (c.op == Op::AlertPoll) {
        Control("alert voltage 2 on");
    }
    Control(c.fault->arm);
    svcproc::platform::SetTickCountForTest(kT0 + 500); // every kind is stale now
    capture.Clear();
    const auto start = Clock::now();
    RunLibraryOp(c.op);
    const auto elapsed = Clock::now() - start;
    const std::vector<std::string> lines = capture.AtMost(LOG_INFO);
    Control("fault clear");

    EXPECT_LT(elapsed, RequestBound(c.op));
    EXPECT_EQ(lines, c.lines);
    CheckLibraryOutcome(c, before, listener);
    m_pUnit->UnregisterSensorStateListener(&listener);
}

void FaultMatrix::CheckLibraryOutcome(const Case& c, const Held& before,
                                      RecordingListener& listener) {
    using Call = RecordingListener::Call;
    const Held after = HeldFor(c.op);
    const Call voltageAlert{0x10002, 1, 1200}; // the reading as the service processor sent it
    switch (c.outcome) {
    case Outcome::Kept:
        EXPECT_EQ(after.value, before.value);
        EXPECT_EQ(after.lastUpdate, kT0);
        EXPECT_TRUE(listener.Calls().empty());
        // Still stale: the next read tries again at once, and succeeds.
        RunLibraryOp(c.op);
        EXPECT_EQ(HeldFor(c.op).value, ChangedValue(c.op));
        EXPECT_EQ(HeldFor(c.op).lastUpdate, kT0 + 500);
        break;
    case Outcome::Stored:
        EXPECT_EQ(after.value, ChangedValue(c.op));
        EXPECT_EQ(after.lastUpdate, kT0 + 500);
        EXPECT_TRUE(listener.Calls().empty());
        break;
    case Outcome::AlertKept:
        EXPECT_TRUE(listener.Calls().empty());
        EXPECT_EQ(after.voltageMask, 0);
        EXPECT_EQ(after.alertedState, 0u);
        EXPECT_EQ(after.lastUpdate, kT0);
        m_pUnit->PollAlerts(); // the alert was not consumed: it comes now
        EXPECT_EQ(listener.Calls(), std::vector<Call>{voltageAlert});
        EXPECT_EQ(HeldFor(c.op).alertedState, 1u);
        break;
    case Outcome::AlertReported:
        EXPECT_EQ(listener.Calls(), std::vector<Call>{voltageAlert});
        EXPECT_EQ(after.voltageMask, 0x0004);
        EXPECT_EQ(after.alertedState, 1u);
        EXPECT_EQ(after.lastUpdate, kT0) << "alerts do not move the last-update time";
        m_pUnit->PollAlerts();
        EXPECT_EQ(listener.Calls().size(), 1u) << "the alert was consumed";
        break;
    case Outcome::AlertAsFans:
        EXPECT_EQ(listener.Calls(), (std::vector<Call>{{0x20002, 1, 1200}}));
        EXPECT_EQ(after.fanMask, 0x0004);
        EXPECT_EQ(after.voltageMask, 0);
        m_pUnit->PollAlerts();
        EXPECT_EQ(listener.Calls(), (std::vector<Call>{{0x20002, 1, 1200}, voltageAlert}));
        break;
    case Outcome::NotIssued:
        break;
    }
}

TEST_P(FaultMatrix, DriverStatusLibraryOutcomeAndTime) {
    const Case& c = GetParam();
    SCOPED_TRACE(c.note);
    DriverPart(c);
    if (HasFatalFailure()) {
        return;
    }
    // Between the two parts: nothing armed, no alert pending.
    Control("fault clear");
    ResetAlert();
    if (c.outcome != Outcome::NotIssued) {
        LibraryPart(c);
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultMatrix, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return CaseName(info.param); });

} // namespace
} // namespace faultmatrix
