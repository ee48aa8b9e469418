#include "RawSMBios.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "Log.h"
#include "SmbiosTableSource.h"
#include "platform/sync/Sync.h"

CRawSMBios::CRawSMBios() : m_pBytes(nullptr), m_nBytes(0), m_bReadOk(false) {
    LogQuick(LOG_INFO, "CRawSMBios Constructed");
}

CRawSMBios::~CRawSMBios() {
    m_pBytes.reset();
    LogQuick(LOG_INFO, "CRawSMBios Destroyed");
}

bool CRawSMBios::Initialise() {
    HANDLE thread = CreateThread(nullptr, 0, &CRawSMBios::ReadSMBiosThread, this, 0, nullptr);
    if (!thread) {
        Log(LOG_ERROR, "CRawSMBios::Initialise - _beginthreadex error=0x%x", GetLastError());
        return false;
    }
    LogQuick(LOG_INFO, "CRawSMBios::Initialise - Read Thread Started");
    WaitForSingleObject(thread, INFINITE);
    Log(LOG_INFO, "CRawSMBios::Initialise - Read Thread Ended, ReadOk=%x, #Bytes=%d",
        m_bReadOk ? 1u : 0u, static_cast<int>(m_nBytes));
    CloseHandle(thread);
    return m_bReadOk;
}

// The table comes from the host's table source in place of the management
// instrumentation query; the copy holds exactly the structure table.
DWORD CRawSMBios::ReadSMBiosThread(void* holder) {
    CRawSMBios* self = static_cast<CRawSMBios*>(holder);
    LogQuick(LOG_INFO, "ReadSMBiosThread entry");
    self->m_bReadOk = false;
    try {
        std::vector<uint8_t> table;
        std::string path;
        std::string reason;
        if (!svcproc::tablesource::ReadRawTable(&table, &path, &reason)) {
            Log(LOG_ERROR, "CRawSMBios - ReadSMBiosThread - Cannot read SMBIOS table %s: %s",
                path.c_str(), reason.c_str());
            return static_cast<DWORD>(-1);
        }
        std::unique_ptr<uint8_t[]> bytes(new uint8_t[table.size()]);
        std::memcpy(bytes.get(), table.data(), table.size());
        self->m_pBytes = std::move(bytes);
        self->m_nBytes = static_cast<uint32_t>(table.size());
        self->m_bReadOk = true;
    } catch (const std::bad_alloc&) {
        LogQuick(LOG_ERROR, "CRawSMBios - ReadSMBiosThread - Out of memory for the SMBIOS table");
        return static_cast<DWORD>(-1);
    }
    return 0;
}
