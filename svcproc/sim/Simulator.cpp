#include "Simulator.h"

#include <cstdlib>
#include <cstring>

#include "control/ControlServer.h"
#include "profiles/BoardProfile.h"

namespace svcproc::sim {
namespace {

// The port backend handed to the driver host: the model, plus the control
// socket that changes it while the driver runs.
class CSimulatorBackend : public IPortIo {
public:
    explicit CSimulatorBackend(std::unique_ptr<CServiceProcessorModel> model)
        : m_pModel(std::move(model)) {}
    ~CSimulatorBackend() override { m_pControl.reset(); } // before the model it serves

    UCHAR ReadPort(uint32_t port) override { return m_pModel->ReadPort(port); }
    void WritePort(uint32_t port, UCHAR value) override { m_pModel->WritePort(port, value); }

    bool ServeControl(const std::string& path, std::string* error) {
        m_pControl = CControlServer::Start(path, *m_pModel, error);
        return m_pControl != nullptr;
    }

private:
    std::unique_ptr<CServiceProcessorModel> m_pModel;
    std::unique_ptr<CControlServer> m_pControl;
};

bool AbortOnInterleaveFromEnvironment() {
    const char* value = std::getenv("SVCPROC_SIM_ABORT_ON_INTERLEAVE");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

std::string UnknownProfile(const std::string& name) {
    std::string text = "unknown simulator profile '" + name + "' (known:";
    for (const std::string& known : KnownProfileNames()) {
        text += " " + known;
    }
    return text + ")";
}

void SetError(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
}

} // namespace

std::unique_ptr<IPortIo> StartSimulator(const SimOptions& options, std::string* error) {
    const auto profile = FindProfile(options.profile);
    if (!profile) {
        SetError(error, UnknownProfile(options.profile));
        return nullptr;
    }
    auto model = std::make_unique<CServiceProcessorModel>(
        options.portBase, BuildSensorBank(*profile), BuildRegisterFile(*profile),
        options.abortOnInterleave || AbortOnInterleaveFromEnvironment());
    auto backend = std::make_unique<CSimulatorBackend>(std::move(model));
    if (!options.controlPath.empty()) {
        std::string reason;
        if (!backend->ServeControl(options.controlPath, &reason)) {
            SetError(error, reason);
            return nullptr;
        }
    }
    return backend;
}

std::vector<uint8_t> BuildProfileTable(const std::string& profile, std::string* error) {
    const auto found = FindProfile(profile);
    if (!found) {
        SetError(error, UnknownProfile(profile));
        return {};
    }
    return BuildTable(*found);
}

std::vector<std::string> ProfileNames() {
    return KnownProfileNames();
}

} // namespace svcproc::sim
