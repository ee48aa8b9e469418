// Feeds arbitrary driver answers to the response decoding: the pure decoders
// and the I/O unit's Update and alert operations on a small cache with a
// listener. Input: one mode byte, one flags byte, the ResponseLength byte,
// then up to 64 response bytes (count first).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "Log.h"
#include "core/DataCache.h"
#include "io/IOUnit.h"
#include "io/SvcpProtocol.h"

namespace {

using svcproc::io::SensorKind;

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

class BoundsListener : public ISensorStateListener {
public:
    void SensorStateChanged(uint32_t handle, uint32_t state, int32_t reading) override {
        const uint32_t kind = handle >> 16;
        Check(kind >= 1 && kind <= 3);
        Check((handle & 0xFFFF) < 16);
        Check(state <= 1);
        Check(reading >= 0 && reading <= 0xFFFF);
    }
};

struct Rig {
    Rig() : unit(&cache) {
        for (uint16_t i = 0; i < 4; ++i) {
            CSensorInformation info;
            info.m_Description = L"Sensor";
            cache.AddVoltage(info, i);
            cache.AddFan(info, i);
            cache.AddTemperature(info, static_cast<uint16_t>(i * 2));
        }
        for (uint16_t bit : {0x0001, 0x0004, 0x8000}) {
            CLedInformation led;
            led.m_BitMap = bit;
            cache.AddLed(led, bit);
        }
        cache.Lock();
        unit.RegisterSensorStateListener(&listener);
    }
    CDataCache cache;
    CIOUnit unit;
    BoundsListener listener;
};

void CheckDecoders(const SVCP_PACKET& packet) {
    const auto response = svcproc::io::ResponseOf(packet);
    for (SensorKind kind : {SensorKind::Voltage, SensorKind::Fan, SensorKind::Temperature}) {
        const auto bulk = svcproc::io::DecodeBulkReadings(kind, response);
        Check(bulk.values.size() <= 61);
        for (int32_t value : bulk.values) {
            Check(value >= 0 && value <= (kind == SensorKind::Temperature ? 2550 : 0xFFFF));
        }
        const auto alert = svcproc::io::DecodeAlertReadings(kind, response);
        Check(alert.values.size() <= 59);
        Check(alert.hasMask || alert.values.empty());
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("SVCPROC_LOG_LEVEL", "4", 1);
    setenv("SVCPROC_LOG_FILE", "/dev/null", 1);
    svcproc::log::ReloadConfiguration();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Rig* rig = new Rig;
    if (size < 3) {
        return 0;
    }
    const uint8_t mode = data[0];
    const bool alertPending = (data[1] & 1) != 0;
    SVCP_PACKET packet =
        svcproc::io::MakeRequestPacket(alertPending ? SVCP_CMD_POLL_ALERT : SVCP_CMD_READ_VOLTAGES,
                                       SVCP_DEFAULT_PORT_BASE, alertPending);
    packet.ResponseLength = data[2];
    packet.AlertPending = alertPending ? 1 : 0;
    const size_t bytes = size - 3 < SVCP_RESPONSE_MAX ? size - 3 : SVCP_RESPONSE_MAX;
    std::memcpy(packet.Response, data + 3, bytes);

    CheckDecoders(packet);
    // The library hands only checked responses on; unchecked ones too when
    // the flags say so, to reach the decoding behind the checks.
    if (!svcproc::io::IsValidResponse(packet) && (data[1] & 2) == 0) {
        return 0;
    }
    switch (mode % 5) {
    case 0:
        rig->unit.UpdateVoltages(packet);
        break;
    case 1:
        rig->unit.UpdateFans(packet);
        break;
    case 2:
        rig->unit.UpdateTemperatures(packet);
        break;
    case 3:
        rig->unit.UpdateLeds(packet);
        break;
    default:
        rig->unit.ProcessAlerts(packet);
        break;
    }
    for (uint32_t handle : {0x10000u, 0x20003u, 0x30006u}) {
        InternalSensor entry;
        if (rig->cache.GetSensor(handle, entry) == SERVICE_SUCCESS) {
            Check(entry.m_Reading >= 0 && entry.m_Reading <= 0xFFFF);
        }
    }
    return 0;
}
