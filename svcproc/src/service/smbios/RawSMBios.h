// Holder of one copy of the machine's SMBIOS structure table, read once at
// library initialisation on a short-lived thread of its own.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/base/WinTypes.h"

class CRawSMBios {
public:
    CRawSMBios();
    ~CRawSMBios();
    CRawSMBios(const CRawSMBios&) = delete;
    CRawSMBios& operator=(const CRawSMBios&) = delete;

    // Runs the read thread, waits for it and returns whether a copy is held.
    bool Initialise();

    // What the parsers take: the first byte of the copy (null when there is
    // none) and its byte count.
    const uint8_t* GetBytes() const { return m_pBytes.get(); }
    uint32_t GetByteCount() const { return m_nBytes; }
    bool IsReadOk() const { return m_bReadOk; }

    // Thread procedure; the argument is the holder. Exit code -1 when no table
    // was obtained, 0 otherwise.
    static DWORD ReadSMBiosThread(void* holder);

private:
    std::unique_ptr<uint8_t[]> m_pBytes;
    uint32_t m_nBytes;
    bool m_bReadOk;
};
