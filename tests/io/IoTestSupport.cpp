#include "IoTestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "io/SvcpProtocol.h"

namespace iotest {

LogCapture::LogCapture() {
    setenv("SVCPROC_LOG_LEVEL", "4", 1);
    setenv("SVCPROC_LOG_FILE", "/dev/null", 1);
    svcproc::log::ReloadConfiguration();
    svcproc::log::SetCaptureSink(&LogCapture::Sink, this);
}

LogCapture::~LogCapture() {
    svcproc::log::SetCaptureSink(nullptr, nullptr);
}

void LogCapture::Sink(void* context, _LOG_LEVEL level, const char* text) {
    auto* self = static_cast<LogCapture*>(context);
    std::lock_guard<std::mutex> lock(self->m_Mutex);
    self->m_vLines.push_back({level, text});
}

std::vector<LogLine> LogCapture::Lines() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_vLines;
}

void LogCapture::Clear() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_vLines.clear();
}

size_t LogCapture::Count(const std::string& text) const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return std::count_if(m_vLines.begin(), m_vLines.end(),
                         [&](const LogLine& line) { return line.text == text; });
}

std::vector<std::string> LogCapture::AtMost(_LOG_LEVEL level) const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    std::vector<std::string> texts;
    for (const LogLine& line : m_vLines) {
        if (line.level <= level) {
            texts.push_back(line.text);
        }
    }
    return texts;
}

void FillCache(CDataCache& cache, int voltages, int fans, int temperatures,
               const std::vector<uint16_t>& leds) {
    auto info = [](const wchar_t* prefix, int position) {
        CSensorInformation information;
        information.m_Description = prefix + std::to_wstring(position);
        return information;
    };
    for (int i = 0; i < voltages; ++i) {
        cache.AddVoltage(info(L"Voltage ", i), static_cast<uint16_t>(i));
    }
    for (int i = 0; i < fans; ++i) {
        cache.AddFan(info(L"Fan ", i), static_cast<uint16_t>(i));
    }
    for (int i = 0; i < temperatures; ++i) {
        cache.AddTemperature(info(L"Temperature ", i), static_cast<uint16_t>(i));
    }
    for (uint16_t bitMap : leds) {
        CLedInformation led;
        led.m_Urgency = 5;
        led.m_Description = L"LED " + std::to_wstring(bitMap);
        led.m_BitMap = bitMap;
        cache.AddLed(led, bitMap);
    }
    cache.Lock();
}

SVCP_PACKET RawResponsePacket(const std::vector<uint8_t>& bytes, bool alertPending) {
    SVCP_PACKET packet =
        svcproc::io::MakeRequestPacket(alertPending ? SVCP_CMD_POLL_ALERT : SVCP_CMD_READ_VOLTAGES,
                                       SVCP_DEFAULT_PORT_BASE, alertPending);
    std::memcpy(packet.Response, bytes.data(), std::min<size_t>(bytes.size(), SVCP_RESPONSE_MAX));
    packet.ResponseLength = static_cast<uint8_t>(bytes.size());
    packet.AlertPending = alertPending ? 1 : 0;
    return packet;
}

namespace {

std::vector<uint8_t> Framed(uint8_t type, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes;
    bytes.push_back(static_cast<uint8_t>(data.size() + 2));
    bytes.push_back(type);
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.push_back(svcproc::io::Checksum(std::span<const uint8_t>(&bytes[1], bytes.size() - 1)));
    return bytes;
}

} // namespace

SVCP_PACKET ResponsePacket(uint8_t type, const std::vector<uint8_t>& data, bool alertPending) {
    return RawResponsePacket(Framed(type, data), alertPending);
}

std::vector<uint8_t> Words(const std::vector<uint16_t>& values) {
    std::vector<uint8_t> bytes;
    for (uint16_t value : values) {
        bytes.push_back(static_cast<uint8_t>(value >> 8));
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return bytes;
}

Reading Sensor(CDataCache& cache, uint32_t handle) {
    InternalSensor entry;
    cache.GetSensor(handle, entry);
    return {entry.m_Reading, entry.m_State};
}

RuntimeDir::RuntimeDir() {
    char pattern[] = "/tmp/svcproc-io-XXXXXX";
    m_Path = mkdtemp(pattern);
    if (const char* previous = std::getenv("SVCPROC_RUNTIME_DIR")) {
        m_bHadPrevious = true;
        m_Previous = previous;
    }
    setenv("SVCPROC_RUNTIME_DIR", m_Path.c_str(), 1);
}

RuntimeDir::~RuntimeDir() {
    if (m_bHadPrevious) {
        setenv("SVCPROC_RUNTIME_DIR", m_Previous.c_str(), 1);
    } else {
        unsetenv("SVCPROC_RUNTIME_DIR");
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_Path, ignored);
}

ScriptedProcessor::ScriptedProcessor(std::string name) {
    m_pServer = std::make_unique<svcproc::devchannel::DeviceInterfaceServer>(
        SVCP_INTERFACE_CLASS_GUID_STRING, std::move(name),
        [this](uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out, uint32_t outLen,
               uint32_t* information) {
            return Handle(code, in, inLen, out, outLen, information);
        });
}

ScriptedProcessor::~ScriptedProcessor() {
    m_pServer->Disable();
}

bool ScriptedProcessor::Enable() {
    std::string error;
    return m_pServer->Enable(&error);
}

void ScriptedProcessor::Disable() {
    m_pServer->Disable();
}

void ScriptedProcessor::SetVoltages(const std::vector<uint16_t>& raw) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_vVoltages = raw;
}

void ScriptedProcessor::SetFans(const std::vector<uint16_t>& raw) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_vFans = raw;
}

void ScriptedProcessor::SetTemperatures(const std::vector<uint8_t>& raw) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_vTemperatures = raw;
}

void ScriptedProcessor::SetLeds(uint16_t word) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_wLeds = word;
}

void ScriptedProcessor::QueueAlert(uint8_t type, uint16_t mask,
                                   const std::vector<uint8_t>& readings) {
    std::vector<uint8_t> alert = {type, static_cast<uint8_t>(mask >> 8),
                                  static_cast<uint8_t>(mask)};
    alert.insert(alert.end(), readings.begin(), readings.end());
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_qAlerts.push_back(std::move(alert));
}

void ScriptedProcessor::InjectFault(uint8_t command, Fault fault) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_vFaults.emplace_back(command, fault);
}

std::vector<ScriptedProcessor::Exchange> ScriptedProcessor::Exchanges() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_vExchanges;
}

size_t ScriptedProcessor::CountOf(uint8_t command) const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return std::count_if(m_vExchanges.begin(), m_vExchanges.end(),
                         [&](const Exchange& e) { return e.in.Request[1] == command; });
}

void ScriptedProcessor::ClearExchanges() {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_vExchanges.clear();
}

std::vector<uint8_t> ScriptedProcessor::DataFor(uint8_t command) const {
    switch (command) {
    case SVCP_CMD_READ_VOLTAGES:
        return Words(m_vVoltages);
    case SVCP_CMD_READ_FANS:
        return Words(m_vFans);
    case SVCP_CMD_READ_TEMPERATURES:
        return m_vTemperatures;
    case SVCP_CMD_READ_LEDS:
        return Words({m_wLeds});
    }
    return {};
}

NTSTATUS ScriptedProcessor::Handle(uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out,
                                   uint32_t outLen, uint32_t* information) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    Exchange exchange{code, inLen, outLen, {}};
    std::memcpy(&exchange.in, in, std::min<size_t>(inLen, sizeof(SVCP_PACKET)));
    m_vExchanges.push_back(exchange);
    if (code != IOCTL_SVCP_REQUEST_RESPONSE || inLen < sizeof(SVCP_PACKET) ||
        outLen < sizeof(SVCP_PACKET)) {
        return STATUS_INVALID_PARAMETER;
    }
    SVCP_PACKET packet = exchange.in;
    const uint8_t command = packet.Request[1];

    Fault fault = Fault::None;
    auto found = std::find_if(m_vFaults.begin(), m_vFaults.end(),
                              [&](const auto& f) { return f.first == command; });
    if (found != m_vFaults.end()) {
        fault = found->second;
        m_vFaults.erase(found);
    }
    if (fault == Fault::Timeout) {
        return STATUS_IO_TIMEOUT;
    }

    std::vector<uint8_t> bytes;
    if (packet.AlertPoll != 0) {
        if (m_qAlerts.empty()) {
            packet.AlertPending = 0;
            std::memcpy(out, &packet, sizeof(packet));
            *information = sizeof(packet);
            return STATUS_SUCCESS;
        }
        packet.AlertPending = 1;
        std::vector<uint8_t> alert = m_qAlerts.front();
        m_qAlerts.pop_front();
        bytes = Framed(alert[0], std::vector<uint8_t>(alert.begin() + 1, alert.end()));
    } else {
        bytes = Framed(command, DataFor(command));
    }
    if (fault == Fault::BadChecksum) {
        bytes.back() ^= 0x01;
    } else if (fault == Fault::WrongType) {
        bytes[1] = command == SVCP_CMD_READ_FANS ? SVCP_CMD_READ_VOLTAGES : SVCP_CMD_READ_FANS;
        bytes.back() = svcproc::io::Checksum(std::span<const uint8_t>(&bytes[1], bytes.size() - 2));
    } else if (fault == Fault::ShortResponse) {
        bytes.resize(2);
    }
    std::memcpy(packet.Response, bytes.data(), bytes.size());
    packet.ResponseLength = fault == Fault::ShortResponse ? 0 : static_cast<uint8_t>(bytes.size());
    std::memcpy(out, &packet, sizeof(packet));
    *information = sizeof(packet);
    return STATUS_SUCCESS;
}

void RecordingListener::SensorStateChanged(uint32_t handle, uint32_t state, int32_t reading) {
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_vCalls.push_back({handle, state, reading});
}

std::vector<RecordingListener::Call> RecordingListener::Calls() const {
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_vCalls;
}

} // namespace iotest
