// The nine exported functions and the library's load and unload.
#include "ServiceApi.h"

#include <atomic>
#include <cstdint>

#include "Log.h"
#include "core/LibraryState.h"
#include "core/ServiceManager.h"
#include "platform/sync/Sync.h"

namespace {
// Set by the first InitialiseServiceDriver that returns 0 and never reset;
// read without a lock by the other eight functions.
std::atomic<bool> bInit{false};
CRITICAL_SECTION g_ApiSection;

// Built after g_BiosVersion (priority 1000) and destroyed before it.
CServiceManager g_ServiceManager __attribute__((init_priority(1001)));

// Process attach and detach: built after the service manager, so the API
// section exists once everything else does, and is deleted first at unload.
// (There are no per-thread attach notifications to turn off on this host.)
struct CLibraryAttachment {
    CLibraryAttachment() { InitializeCriticalSection(&g_ApiSection); }
    ~CLibraryAttachment() { DeleteCriticalSection(&g_ApiSection); }
    CLibraryAttachment(const CLibraryAttachment&) = delete;
    CLibraryAttachment& operator=(const CLibraryAttachment&) = delete;
};
CLibraryAttachment g_Attachment __attribute__((init_priority(1002)));

unsigned Address(const void* p) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}
unsigned Initialised() {
    return bInit.load() ? 1u : 0u;
}
} // namespace

namespace ServiceApi {

SERVICE_CODE InitialiseServiceDriver() {
    EnterCriticalSection(&g_ApiSection);
    Log(LOG_TRACE, "API: InitialiseServiceDriver, bInit=%x", Initialised());
    SERVICE_CODE result = SERVICE_SUCCESS;
    if (!bInit.load()) {
        result = g_ServiceManager.InitialiseServiceDriver();
        if (result == SERVICE_SUCCESS) {
            bInit = true;
        }
    }
    LeaveCriticalSection(&g_ApiSection);
    Log(LOG_TRACE, "API: InitialiseServiceDriver exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE EnumerateSensorHandles(CSensorHandleList& list) {
    Log(LOG_TRACE, "API: EnumerateSensorHandles(0x%08x), bInit=%x", Address(&list), Initialised());
    SERVICE_CODE result =
        bInit.load() ? g_ServiceManager.EnumerateSensorHandles(list) : SERVICE_NOT_INITIALISED;
    Log(LOG_TRACE, "API: EnumerateSensorHandles exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE EnumerateLedHandles(CLedHandleList& list) {
    Log(LOG_TRACE, "API: EnumerateLedHandles(0x%08x), bInit=%x", Address(&list), Initialised());
    SERVICE_CODE result =
        bInit.load() ? g_ServiceManager.EnumerateLedHandles(list) : SERVICE_NOT_INITIALISED;
    Log(LOG_TRACE, "API: EnumerateLedHandles exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE GetSensorInformation(uint32_t handle, CSensorInformation& info) {
    Log(LOG_TRACE, "API: GetSensorInformation(0x%08x,0x%08x), bInit=%x", handle, Address(&info),
        Initialised());
    SERVICE_CODE result = bInit.load() ? g_ServiceManager.GetSensorInformation(handle, info)
                                       : SERVICE_NOT_INITIALISED;
    Log(LOG_TRACE, "API: GetSensorInformation exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE GetLedInformation(uint32_t handle, CLedInformation& info) {
    Log(LOG_TRACE, "API: GetLedInformation(0x%08x,0x%08x), bInit=%x", handle, Address(&info),
        Initialised());
    SERVICE_CODE result =
        bInit.load() ? g_ServiceManager.GetLedInformation(handle, info) : SERVICE_NOT_INITIALISED;
    Log(LOG_TRACE, "API: GetLedInformation exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE ReadSensor(uint32_t handle, CSensorReading& reading) {
    Log(LOG_TRACE, "API: ReadSensor(0x%08x,0x%08x), bInit=%x", handle, Address(&reading),
        Initialised());
    SERVICE_CODE result =
        bInit.load() ? g_ServiceManager.ReadSensor(handle, reading) : SERVICE_NOT_INITIALISED;
    Log(LOG_TRACE, "API: ReadSensor exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE ReadLed(uint32_t handle, CLedReading& reading) {
    Log(LOG_TRACE, "API: ReadLed(0x%08x,0x%08x), bInit=%x", handle, Address(&reading),
        Initialised());
    SERVICE_CODE result =
        bInit.load() ? g_ServiceManager.ReadLed(handle, reading) : SERVICE_NOT_INITIALISED;
    Log(LOG_TRACE, "API: ReadLed exit, sscode=0x%x", result);
    return result;
}

void RegisterSensorStateListener(ISensorStateListener* listener) {
    Log(LOG_TRACE, "API: RegisterSensorStateListener(0x%08x), bInit=%x", Address(listener),
        Initialised());
    if (listener == nullptr) {
        return;
    }
    if (bInit.load()) {
        g_ServiceManager.RegisterSensorStateListener(listener);
    }
    LogQuick(LOG_TRACE, "API: RegisterSensorStateListener exit");
}

void UnregisterSensorStateListener(ISensorStateListener* listener) {
    Log(LOG_TRACE, "API: UnregisterSensorStateListener(0x%08x), bInit=%x", Address(listener),
        Initialised());
    if (listener == nullptr) {
        return;
    }
    if (bInit.load()) {
        g_ServiceManager.UnregisterSensorStateListener(listener);
    }
    LogQuick(LOG_TRACE, "API: UnregisterSensorStateListener exit");
}

} // namespace ServiceApi
