// Fixtures of the I/O unit's tests: a log capture, a filled data cache,
// response packets, and a scripted service processor behind an in-process
// device interface server on a temporary runtime directory.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Log.h"
#include "SvcpIoctl.h"
#include "core/DataCache.h"
#include "io/IOUnit.h"
#include "platform/devchannel/DeviceChannelServer.h"

namespace iotest {

struct LogLine {
    _LOG_LEVEL level;
    std::string text;
};

// Captures every line at trace level while it lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::vector<LogLine> Lines() const;
    void Clear();
    size_t Count(const std::string& text) const;
    // The lines at or below `level` (errors first in importance).
    std::vector<std::string> AtMost(_LOG_LEVEL level) const;

private:
    static void Sink(void* context, _LOG_LEVEL level, const char* text);
    mutable std::mutex m_Mutex;
    std::vector<LogLine> m_vLines;
};

// A cache with `voltages`, `fans` and `temperatures` sensors at positions
// 0, 1, ... and LEDs with the given bit masks; locked like the library's.
void FillCache(CDataCache& cache, int voltages, int fans, int temperatures,
               const std::vector<uint16_t>& leds);

// A response packet: count, type, data and checksum, as the driver returns it.
SVCP_PACKET ResponsePacket(uint8_t type, const std::vector<uint8_t>& data,
                           bool alertPending = false);
// The same from whole response bytes (count first), taken as they are.
SVCP_PACKET RawResponsePacket(const std::vector<uint8_t>& bytes, bool alertPending = false);
std::vector<uint8_t> Words(const std::vector<uint16_t>& values);

struct Reading {
    int32_t value;
    uint32_t state;
};
Reading Sensor(CDataCache& cache, uint32_t handle);

// A temporary SVCPROC_RUNTIME_DIR for the life of the object.
class RuntimeDir {
public:
    RuntimeDir();
    ~RuntimeDir();
    const std::string& Path() const { return m_Path; }

private:
    std::string m_Path;
    std::string m_Previous;
    bool m_bHadPrevious = false;
};

// What a scripted service processor does with one request.
enum class Fault { None, Timeout, BadChecksum, WrongType, ShortResponse };

// A service processor answering from its current values, with alerts queued
// by the test and faults injected per command.
class ScriptedProcessor {
public:
    struct Exchange {
        uint32_t code;
        uint32_t inLength;
        uint32_t outLength;
        SVCP_PACKET in;
    };

    explicit ScriptedProcessor(std::string name = "portwyn0");
    ~ScriptedProcessor();
    bool Enable();
    void Disable();

    void SetVoltages(const std::vector<uint16_t>& raw);
    void SetFans(const std::vector<uint16_t>& raw);
    void SetTemperatures(const std::vector<uint8_t>& raw);
    void SetLeds(uint16_t word);
    // Queues an alert response (type, mask, readings as the wire carries them).
    void QueueAlert(uint8_t type, uint16_t mask, const std::vector<uint8_t>& readings);
    // The next request with this command gets the fault.
    void InjectFault(uint8_t command, Fault fault);

    std::vector<Exchange> Exchanges() const;
    size_t CountOf(uint8_t command) const;
    void ClearExchanges();

private:
    NTSTATUS Handle(uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out, uint32_t outLen,
                    uint32_t* information);
    std::vector<uint8_t> DataFor(uint8_t command) const;

    mutable std::mutex m_Mutex;
    std::vector<uint16_t> m_vVoltages;
    std::vector<uint16_t> m_vFans;
    std::vector<uint8_t> m_vTemperatures;
    uint16_t m_wLeds = 0;
    std::deque<std::vector<uint8_t>> m_qAlerts; // type, then data
    std::vector<std::pair<uint8_t, Fault>> m_vFaults;
    std::vector<Exchange> m_vExchanges;
    std::unique_ptr<svcproc::devchannel::DeviceInterfaceServer> m_pServer;
};

// A listener that records its calls.
class RecordingListener : public ISensorStateListener {
public:
    struct Call {
        uint32_t handle;
        uint32_t state;
        int32_t reading;
        bool operator==(const Call&) const = default;
    };
    void SensorStateChanged(uint32_t handle, uint32_t state, int32_t reading) override;
    std::vector<Call> Calls() const;

private:
    mutable std::mutex m_Mutex;
    std::vector<Call> m_vCalls;
};

} // namespace iotest
