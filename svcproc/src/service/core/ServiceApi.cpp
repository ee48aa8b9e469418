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

// The rest of a query function's frame: the call once the library is
// initialised, then the exit line with its result.
template <typename Call> SERVICE_CODE Forward(const char* name, Call call) {
    SERVICE_CODE result = bInit.load() ? call(g_ServiceManager) : SERVICE_NOT_INITIALISED;
    Log(LOG_TRACE, "API: %s exit, sscode=0x%x", name, result);
    return result;
}

// The frame of the listener functions: a null listener changes nothing and
// writes no exit line.
void ForwardListener(const char* name, ISensorStateListener* listener,
                     void (CServiceManager::*call)(ISensorStateListener*)) {
    Log(LOG_TRACE, "API: %s(0x%08x), bInit=%x", name, Address(listener), Initialised());
    if (listener == nullptr) {
        return;
    }
    if (bInit.load()) {
        (g_ServiceManager.*call)(listener);
    }
    Log(LOG_TRACE, "API: %s exit", name);
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
    return Forward("EnumerateSensorHandles",
                   [&](CServiceManager& manager) { return manager.EnumerateSensorHandles(list); });
}

SERVICE_CODE EnumerateLedHandles(CLedHandleList& list) {
    Log(LOG_TRACE, "API: EnumerateLedHandles(0x%08x), bInit=%x", Address(&list), Initialised());
    return Forward("EnumerateLedHandles",
                   [&](CServiceManager& manager) { return manager.EnumerateLedHandles(list); });
}

SERVICE_CODE GetSensorInformation(uint32_t handle, CSensorInformation& info) {
    Log(LOG_TRACE, "API: GetSensorInformation(0x%08x,0x%08x), bInit=%x", handle, Address(&info),
        Initialised());
    return Forward("GetSensorInformation", [&](CServiceManager& manager) {
        return manager.GetSensorInformation(handle, info);
    });
}

SERVICE_CODE GetLedInformation(uint32_t handle, CLedInformation& info) {
    Log(LOG_TRACE, "API: GetLedInformation(0x%08x,0x%08x), bInit=%x", handle, Address(&info),
        Initialised());
    return Forward("GetLedInformation", [&](CServiceManager& manager) {
        return manager.GetLedInformation(handle, info);
    });
}

SERVICE_CODE ReadSensor(uint32_t handle, CSensorReading& reading) {
    Log(LOG_TRACE, "API: ReadSensor(0x%08x,0x%08x), bInit=%x", handle, Address(&reading),
        Initialised());
    return Forward("ReadSensor",
                   [&](CServiceManager& manager) { return manager.ReadSensor(handle, reading); });
}

SERVICE_CODE ReadLed(uint32_t handle, CLedReading& reading) {
    Log(LOG_TRACE, "API: ReadLed(0x%08x,0x%08x), bInit=%x", handle, Address(&reading),
        Initialised());
    return Forward("ReadLed",
                   [&](CServiceManager& manager) { return manager.ReadLed(handle, reading); });
}

void RegisterSensorStateListener(ISensorStateListener* listener) {
    ForwardListener("RegisterSensorStateListener", listener,
                    &CServiceManager::RegisterSensorStateListener);
}

void UnregisterSensorStateListener(ISensorStateListener* listener) {
    ForwardListener("UnregisterSensorStateListener", listener,
                    &CServiceManager::UnregisterSensorStateListener);
}

} // namespace ServiceApi
