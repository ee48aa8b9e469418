// CIOUnit's life and its request channel to the port driver.
#include <cstdlib>

#include "IOUnit.h"
#include "Log.h"
#include "platform/devchannel/DeviceChannel.h"

namespace {

unsigned AsHex(const void* pointer) {
    return static_cast<unsigned>(uintptr_t(pointer));
}

// The detail record's fixed part, as the enumeration expects in its size field.
constexpr DWORD kDetailHeaderSize =
    offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + sizeof(WCHAR);

// Counts the interfaces of the set, logging the running count.
DWORD CountInterfaces(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* first) {
    DWORD count = 0;
    for (;;) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof(data);
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_SVCP, count, &data)) {
            return count;
        }
        if (count == 0) {
            *first = data;
        }
        ++count;
        Log(LOG_INFO, "CIOUnit::InitialiseIODevice  - PortwynInterfaceCount=%d", int(count));
    }
}

} // namespace

CIOUnit::CIOUnit(CDataCache* pCache)
    : m_bInit(false), m_PortBase(0), m_pCache(pCache), m_hIODevice(INVALID_HANDLE_VALUE) {
    Log(LOG_INFO, "CIOUnit Constructed, m_pCache=0x%08x", AsHex(pCache));
}

CIOUnit::~CIOUnit() {
    if (m_PollingThread.IsInitialised()) {
        m_PollingThread.Terminate();
    }
    if (m_hIODevice != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hIODevice);
        m_hIODevice = INVALID_HANDLE_VALUE;
    }
    LogQuick(LOG_INFO, "CIOUnit Destroyed");
}

bool CIOUnit::Initialise(uint32_t PortBase) {
    if (m_bInit) {
        LogQuick(LOG_INFO, "CIOUnit::Initialise - Already initialised");
        return true;
    }
    m_PortBase = PortBase;
    // A device left open by an earlier attempt whose thread failed is kept.
    if (m_hIODevice == INVALID_HANDLE_VALUE && !InitialiseIODevice()) {
        return false;
    }
    if (!m_PollingThread.Initialise(this, m_hIODevice, m_PortBase)) {
        return false;
    }
    ReadVoltages();
    ReadFans();
    ReadTemperatures();
    ReadLeds();
    m_bInit = true;
    LogQuick(LOG_INFO, "CIOUnit::Initialise - Initialised Ok");
    return true;
}

bool CIOUnit::InitialiseIODevice() {
    LogQuick(LOG_TRACE, "CIOUnit::InitialiseIODevice entry");
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_SVCP, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE_DEVINFO || set == nullptr) {
        Log(LOG_ERROR, "CIOUnit::InitialiseIODevice - SetupDiGetClassDevs failed: 0x%08x",
            GetLastError());
        return false;
    }
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    const DWORD count = CountInterfaces(set, &interfaceData);
    if (count != 1) {
        LogQuick(LOG_ERROR,
                 count == 0 ? "CIOUnit::InitialiseIODevice - No Portwyn device interface instances"
                            : "CIOUnit::InitialiseIODevice - Too many device interface instances");
        SetupDiDestroyDeviceInfoList(set);
        return false;
    }

    DWORD required = 0;
    if (SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &required, nullptr) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        Log(LOG_ERROR,
            "CIOUnit::InitialiseIODevice - SetupDiGetDeviceInterfaceDetail - Unexpected result "
            "when probing for required buffer size 0x%08x",
            GetLastError());
        SetupDiDestroyDeviceInfoList(set);
        return false;
    }
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(
        std::malloc(required < kDetailHeaderSize ? kDetailHeaderSize : required));
    if (detail == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        Log(LOG_ERROR, "CIOUnit::InitialiseIODevice - failed to malloc DeviceDetail buffer 0x%08x",
            GetLastError());
        SetupDiDestroyDeviceInfoList(set);
        return false;
    }
    detail->cbSize = kDetailHeaderSize;
    if (!SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, required, nullptr,
                                          nullptr)) {
        Log(LOG_ERROR,
            "CIOUnit::InitialiseIODevice - SetupDiGetDeviceInterfaceDetail failed 0x%08x",
            GetLastError());
        std::free(detail);
        SetupDiDestroyDeviceInfoList(set);
        return false;
    }
    WLog(LOG_INFO, L"CIOUnit::InitialiseIODevice - PORTWYN Device Path: %s", detail->DevicePath);

    m_hIODevice = CreateFileW(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    const DWORD openError = GetLastError();
    std::free(detail);
    SetupDiDestroyDeviceInfoList(set);
    if (m_hIODevice == INVALID_HANDLE_VALUE || m_hIODevice == nullptr) {
        m_hIODevice = INVALID_HANDLE_VALUE;
        Log(LOG_ERROR, "CIOUnit::InitialiseBusIODevice - Error in CreateFile: %x", openError);
        return false;
    }
    LogQuick(LOG_INFO, "CIOUnit::InitialiseBusIODevice - Initialised Ok");
    return true;
}

bool CIOUnit::SvcpRequestResponse(SVCP_PACKET& packet) {
    DWORD returned = 0;
    if (DeviceIoControl(m_hIODevice, IOCTL_SVCP_REQUEST_RESPONSE, &packet, sizeof(packet), &packet,
                        sizeof(packet), &returned, nullptr)) {
        return true;
    }
    const DWORD error = GetLastError();
    Log(LOG_INFO, "SvcpRequestResponse - Ioctl failed: Last Error=0x%08x", error);
    // A failure that leaves no error behind counts as completed.
    return error == 0;
}
