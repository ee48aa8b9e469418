// A scripted service processor at register level that counts every port
// operation: the response bytes it offers, the status bits it shows and the
// faults it plays are set by each test.
#pragma once

#include <deque>
#include <vector>

#include "PortIo.h"
#include "PortProtocol.h"

class FakePorts : public IPortIo {
public:
    explicit FakePorts(uint32_t base = SVCP_DEFAULT_PORT_BASE) : m_dwBase(base) {}

    // Device-side state.
    bool m_bAlert = false;
    bool m_bError = false;
    bool m_bHostBusy = false;
    bool m_bStuckIbf = false;
    std::deque<UCHAR> m_Offered; // response bytes, offered one at a time
    int m_nErrorAfterBytes = -1; // ST_ERROR rises once this many bytes were read
    bool m_bRegReady = true;
    UCHAR m_RegValue = 0;

    // What the host did.
    std::vector<UCHAR> m_vDataWrites;
    std::vector<UCHAR> m_vStatusWrites;
    std::vector<UCHAR> m_vRegCommandWrites;
    std::vector<UCHAR> m_vRegDataWrites;
    int m_nReads[16] = {};
    int m_nForeign = 0; // accesses outside the register block
    int m_nBytesRead = 0;

    int Reads(ULONG offset) const { return m_nReads[offset]; }
    int Operations() const {
        int total = m_nForeign;
        for (int n : m_nReads) {
            total += n;
        }
        return total + static_cast<int>(m_vDataWrites.size() + m_vStatusWrites.size() +
                                        m_vRegCommandWrites.size() + m_vRegDataWrites.size());
    }

    UCHAR Status() const {
        UCHAR status = 0;
        if (m_bStuckIbf) {
            status |= ST_IBF;
        }
        if (!m_Offered.empty()) {
            status |= ST_OBF | ST_OUT_VALID;
        }
        if (m_bAlert) {
            status |= ST_ALERT;
        }
        if (m_bError) {
            status |= ST_ERROR;
        }
        if (m_bHostBusy) {
            status |= ST_HOST_BUSY;
        }
        return status;
    }

    UCHAR ReadPort(uint32_t port) override {
        uint32_t offset = port - m_dwBase;
        if (port < m_dwBase || offset >= SVCP_REGISTER_SPAN) {
            ++m_nForeign;
            return 0xFF;
        }
        ++m_nReads[offset];
        switch (offset) {
        case SVCP_STATUS:
            return Status();
        case SVCP_DATA:
            return ReadData();
        case SVCP_REG_COMMAND:
            return m_bRegReady ? (ST_OBF | ST_OUT_VALID) : 0;
        case SVCP_REG_DATA:
            return m_RegValue;
        default:
            return 0xFF;
        }
    }

    void WritePort(uint32_t port, UCHAR value) override {
        uint32_t offset = port - m_dwBase;
        if (port < m_dwBase || offset >= SVCP_REGISTER_SPAN) {
            ++m_nForeign;
            return;
        }
        switch (offset) {
        case SVCP_STATUS:
            m_vStatusWrites.push_back(value);
            m_bHostBusy = (value & ST_HOST_BUSY) != 0;
            m_bError = m_bError && (value & ST_ERROR) != 0;
            break;
        case SVCP_DATA:
            m_vDataWrites.push_back(value);
            break;
        case SVCP_REG_COMMAND:
            m_vRegCommandWrites.push_back(value);
            break;
        case SVCP_REG_DATA:
            m_vRegDataWrites.push_back(value);
            break;
        }
    }

private:
    UCHAR ReadData() {
        if (m_Offered.empty()) {
            return 0xFF;
        }
        UCHAR value = m_Offered.front();
        m_Offered.pop_front();
        if (++m_nBytesRead == m_nErrorAfterBytes) {
            m_bError = true;
        }
        return value;
    }

    uint32_t m_dwBase;
};
