#include "EndpointFixture.h"

#include <filesystem>
#include <sys/stat.h>

namespace wbemtest {

Answer ReadAnswer(wire::ClientConnection& connection, bool expectClose) {
    Answer answer;
    while (true) {
        wire::Reply reply;
        std::string error;
        if (connection.Read(&reply, 20000, &error) != wire::ClientConnection::ReadResult::Reply) {
            return answer;
        }
        if (reply.type == wire::MessageType::Object) {
            answer.objects.push_back(std::move(reply.object));
            continue;
        }
        answer.hasStatus = true;
        answer.status = reply.status;
        break;
    }
    if (expectClose) {
        wire::Reply more;
        std::string error;
        answer.closedAfter =
            connection.Read(&more, 5000, &error) == wire::ClientConnection::ReadResult::Closed;
    }
    return answer;
}

const wire::Property* FindProperty(const wire::Object& object, const std::string& name) {
    for (const wire::Property& property : object.properties) {
        if (property.name == name) {
            return &property;
        }
    }
    return nullptr;
}

void EndpointTest::SetUp() {
    char pattern[] = "/tmp/wbemserver-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    m_Dir = pattern;
    chmod(m_Dir.c_str(), 0755); // clients of other users must reach the socket
    setenv("SVCPROC_RUNTIME_DIR", m_Dir.c_str(), 1);
    setenv("SVCPROC_SCHEMA", WIDGETS_MOF, 1);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    m_pProvider = new CWidgetProvider;
    m_pProvider->m_vWidgets = {
        {L"alpha", 12, L"first"}, {L"beta", -3, L""}, {L"gamma", 7, L"Grüße"}};
    ASSERT_EQ(CoCreateInstance(CLSID_WbemDecoupledRegistrar, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IWbemDecoupledRegistrar,
                               reinterpret_cast<void**>(&m_pRegistrar)),
              S_OK);
}

void EndpointTest::TearDown() {
    if (m_pRegistrar != nullptr) {
        if (m_bRegistered) {
            m_pRegistrar->UnRegister();
        }
        m_pRegistrar->Release();
    }
    svcproc::wbemserver::StopEndpoint();
    if (m_pProvider != nullptr) {
        m_pProvider->Release();
    }
    CoUninitialize();
    std::error_code ignored;
    std::filesystem::remove_all(m_Dir, ignored);
}

void EndpointTest::Register() {
    ASSERT_EQ(m_pRegistrar->Register(0, nullptr, nullptr, nullptr, L"root\\cimv2",
                                     L"TST_WidgetProvider",
                                     static_cast<IWbemProviderInit*>(m_pProvider)),
              WBEM_S_NO_ERROR);
    m_bRegistered = true;
}

void EndpointTest::Unregister() {
    ASSERT_EQ(m_pRegistrar->UnRegister(), WBEM_S_NO_ERROR);
    m_bRegistered = false;
}

Answer EndpointTest::Query(wire::MessageType type, const std::string& target, uint8_t level,
                           const std::string& nameSpace) {
    wire::ClientConnection connection;
    std::string error;
    EXPECT_TRUE(connection.Connect(wire::DefaultEndpointPath(), &error)) << error;
    wire::Request request;
    request.type = type;
    request.impersonationLevel = level;
    request.nameSpace = nameSpace;
    request.target = target;
    EXPECT_TRUE(connection.Send(request, &error)) << error;
    return ReadAnswer(connection);
}

bool EndpointTest::StartWatch(wire::ClientConnection& connection, const std::string& eventClass,
                              wire::Status* status) {
    std::string error;
    wire::Request request;
    request.type = wire::MessageType::Watch;
    request.nameSpace = "root\\cimv2";
    request.target = eventClass;
    if (!connection.Connect(wire::DefaultEndpointPath(), &error) ||
        !connection.Send(request, &error)) {
        return false;
    }
    wire::Reply reply;
    if (connection.Read(&reply, 20000, &error) != wire::ClientConnection::ReadResult::Reply ||
        reply.type != wire::MessageType::Status) {
        return false;
    }
    *status = reply.status;
    return SUCCEEDED(reply.status.hresult);
}

} // namespace wbemtest
