// Fixtures shared by the simulator tests: a model built from a profile and a
// port wrapper that counts and records what the host does.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "HandshakeDriver.h"
#include "model/ServiceProcessorModel.h"
#include "profiles/BoardProfile.h"

namespace simtest {

using svcproc::sim::CServiceProcessorModel;
using svcproc::sim::FaultKind;
using svcproc::sim::SensorKind;

inline constexpr uint32_t kBase = 0x2B0;

// Passes every operation on and keeps counts and the bytes written.
class CRecordingPorts : public IPortIo {
public:
    explicit CRecordingPorts(IPortIo& target) : m_Target(target) {}
    UCHAR ReadPort(uint32_t port) override {
        ++m_nReads;
        return m_Target.ReadPort(port);
    }
    void WritePort(uint32_t port, UCHAR value) override {
        m_vWrites.emplace_back(port, value);
        m_Target.WritePort(port, value);
    }
    // The bytes written to one port, in order.
    std::vector<uint8_t> WritesTo(uint32_t port) const {
        std::vector<uint8_t> bytes;
        for (const auto& [p, v] : m_vWrites) {
            if (p == port) {
                bytes.push_back(v);
            }
        }
        return bytes;
    }
    void Reset() {
        m_nReads = 0;
        m_vWrites.clear();
    }

    int m_nReads = 0;
    std::vector<std::pair<uint32_t, uint8_t>> m_vWrites;

private:
    IPortIo& m_Target;
};

inline std::unique_ptr<CServiceProcessorModel> MakeModel(const std::string& profileName,
                                                         bool abortOnInterleave = false) {
    const auto profile = svcproc::sim::FindProfile(profileName);
    EXPECT_TRUE(profile.has_value()) << profileName;
    return std::make_unique<CServiceProcessorModel>(kBase, svcproc::sim::BuildSensorBank(*profile),
                                                    svcproc::sim::BuildRegisterFile(*profile),
                                                    abortOnInterleave);
}

class ModelTest : public ::testing::Test {
protected:
    explicit ModelTest(const std::string& profile = "default")
        : m_pModel(MakeModel(profile)), m_Ports(*m_pModel), m_Driver(m_Ports, kBase) {}

    uint8_t Status() { return m_pModel->ReadPort(kBase + 4); }
    // A plain exchange of a bare command.
    uint32_t Read(uint8_t command, SVCP_PACKET* out = nullptr) {
        SVCP_PACKET packet = MakeRequest(command);
        const uint32_t status = m_Driver.Exchange(packet);
        if (out != nullptr) {
            *out = packet;
        }
        return status;
    }
    uint32_t PollAlert(SVCP_PACKET* out) {
        *out = MakeRequest(0xA1, true);
        return m_Driver.Exchange(*out);
    }

    std::unique_ptr<CServiceProcessorModel> m_pModel;
    CRecordingPorts m_Ports;
    CHandshakeDriver m_Driver;
};

// True when bytes 1..N of the response add up to 0 modulo 256.
inline bool ChecksumOk(const SVCP_PACKET& packet) {
    unsigned sum = 0;
    for (unsigned i = 1; i <= packet.Response[0] && i < 64; ++i) {
        sum += packet.Response[i];
    }
    return (sum & 0xFF) == 0;
}

} // namespace simtest
