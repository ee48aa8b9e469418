#include "core/ServiceManager.h"

#include <cstdint>
#include <string>

#include "Log.h"
#include "core/LibraryState.h"
#include "smbios/RawSMBios.h"
#include "smbios/SMBiosChipData.h"

namespace {
// The management device description that names the service processor,
// compared whole and case-sensitively.
constexpr const char* kServiceProcessorDescription = "Tessaro VQX Service Processor";

unsigned Address(const void* p) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p));
}
} // namespace

CServiceManager::CServiceManager() : m_bInit(false), m_ServiceProcessor() {
    LogQuick(LOG_INFO, "CServiceManager Constructed");
}

CServiceManager::~CServiceManager() {
    LogQuick(LOG_INFO, "CServiceManager Destroyed");
}

SERVICE_CODE CServiceManager::InitialiseServiceDriver() {
    CRawSMBios raw;
    if (!raw.Initialise()) {
        return SERVICE_NO_SMBIOS;
    }
    CSMBiosChipData chip;
    if (!chip.Initialise(raw)) {
        return SERVICE_SMBIOS_INVALID;
    }
    g_BiosVersion = chip.m_Bios.m_Version;
    Log(LOG_INFO, "Type 00 Bios Version is %s", g_BiosVersion.c_str());
    return InitialiseFromDevices(raw, chip);
}

SERVICE_CODE CServiceManager::InitialiseFromDevices(CRawSMBios& raw, const CSMBiosChipData& chip) {
    int count = static_cast<int>(chip.m_vDevices.size());
    Log(LOG_INFO, "Found %i Type 34 Management Device(s)", count);
    for (int i = 0; i < count; ++i) {
        const ManagementDeviceRecord* device = chip.m_vDevices[static_cast<size_t>(i)].get();
        if (device == nullptr) {
            continue;
        }
        Log(LOG_INFO, "Management Device # %i", i);
        Log(LOG_INFO, "  Description:   %s", device->m_Description.c_str());
        Log(LOG_INFO, "  Address:       0x%08x", device->m_Address);
        Log(LOG_INFO, "  Addr Type:     %d", device->m_AddressType);
        Log(LOG_INFO, "  SMBIOS Handle: 0x%04x", device->m_Handle);
        if (device->m_Description != kServiceProcessorDescription) {
            continue;
        }
        SERVICE_CODE result = m_ServiceProcessor.Initialise(raw, device->m_Handle);
        if (result == SERVICE_SUCCESS) {
            m_bInit = true;
        }
        return result;
    }
    return SERVICE_NO_SERVICE_PROCESSOR;
}

SERVICE_CODE CServiceManager::EnumerateSensorHandles(CSensorHandleList& list) {
    Log(LOG_TRACE, "CServiceManager::EnumerateSensorHandles(0x%08x), m_bInit=%x", Address(&list),
        m_bInit);
    SERVICE_CODE result = m_ServiceProcessor.EnumerateSensorHandles(list);
    Log(LOG_TRACE, "CServiceManager::EnumerateSensorHandles exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE CServiceManager::EnumerateLedHandles(CLedHandleList& list) {
    Log(LOG_TRACE, "CServiceManager::EnumerateLedHandles(0x%08x), m_bInit=%x", Address(&list),
        m_bInit);
    SERVICE_CODE result = m_ServiceProcessor.EnumerateLedHandles(list);
    Log(LOG_TRACE, "CServiceManager::EnumerateLedHandles exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE CServiceManager::GetSensorInformation(uint32_t handle, CSensorInformation& info) {
    Log(LOG_TRACE, "CServiceManager::GetSensorInformation(0x%08x,0x%08x), m_bInit=%x", handle,
        Address(&info), m_bInit);
    SERVICE_CODE result = m_ServiceProcessor.GetSensorInformation(handle, info);
    Log(LOG_TRACE, "CServiceManager::GetSensorInformation exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE CServiceManager::GetLedInformation(uint32_t handle, CLedInformation& info) {
    Log(LOG_TRACE, "CServiceManager::GetLedInformation(0x%08x,0x%08x), m_bInit=%x", handle,
        Address(&info), m_bInit);
    SERVICE_CODE result = m_ServiceProcessor.GetLedInformation(handle, info);
    Log(LOG_TRACE, "CServiceManager::GetLedInformation exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE CServiceManager::ReadSensor(uint32_t handle, CSensorReading& reading) {
    Log(LOG_TRACE, "CServiceManager::ReadSensor(0x%08x,0x%08x), m_bInit=%x", handle,
        Address(&reading), m_bInit);
    SERVICE_CODE result = m_ServiceProcessor.ReadSensor(handle, reading);
    Log(LOG_TRACE, "CServiceManager::ReadSensor exit, sscode=0x%x", result);
    return result;
}

SERVICE_CODE CServiceManager::ReadLed(uint32_t handle, CLedReading& reading) {
    Log(LOG_TRACE, "CServiceManager::ReadLed(0x%08x,0x%08x), m_bInit=%x", handle, Address(&reading),
        m_bInit);
    SERVICE_CODE result = m_ServiceProcessor.ReadLed(handle, reading);
    Log(LOG_TRACE, "CServiceManager::ReadLed exit, sscode=0x%x", result);
    return result;
}

void CServiceManager::RegisterSensorStateListener(ISensorStateListener* listener) {
    Log(LOG_TRACE, "CServiceManager::RegisterSensorStateListener(0x%08x), m_bInit=%x",
        Address(listener), m_bInit);
    m_ServiceProcessor.RegisterSensorStateListener(listener);
    LogQuick(LOG_TRACE, "CServiceManager::RegisterSensorStateListener exit");
}

void CServiceManager::UnregisterSensorStateListener(ISensorStateListener* listener) {
    Log(LOG_TRACE, "CServiceManager::UnregisterSensorStateListener(0x%08x), m_bInit=%x",
        Address(listener), m_bInit);
    m_ServiceProcessor.UnregisterSensorStateListener(listener);
    LogQuick(LOG_TRACE, "CServiceManager::UnregisterSensorStateListener exit");
}
