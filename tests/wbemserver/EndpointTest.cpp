// The registrar and the endpoint with the widget provider, through the socket.
#include <atomic>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <thread>

#include "EndpointFixture.h"
#include "Log.h"

namespace wbemtest {
namespace {

using wire::MessageType;

TEST_F(EndpointTest, RegistrarRefusesRegistrationsItCannotServe) {
    IUnknown* provider = static_cast<IWbemProviderInit*>(m_pProvider);
    EXPECT_EQ(m_pRegistrar->Register(0, nullptr, nullptr, nullptr, L"root\\cimv2",
                                     L"TST_WidgetProvider", nullptr),
              WBEM_E_INVALID_PARAMETER);
    EXPECT_EQ(m_pRegistrar->Register(0, nullptr, nullptr, nullptr, nullptr, L"TST_WidgetProvider",
                                     provider),
              WBEM_E_INVALID_PARAMETER);
    EXPECT_EQ(m_pRegistrar->Register(0, nullptr, nullptr, nullptr, L"root\\cimv2",
                                     L"TST_UnknownProvider", provider),
              WBEM_E_NOT_FOUND);
    EXPECT_EQ(m_pRegistrar->Register(0, nullptr, nullptr, nullptr, L"root\\other",
                                     L"TST_WidgetProvider", provider),
              WBEM_E_NOT_FOUND);
    EXPECT_EQ(m_pRegistrar->UnRegister(), WBEM_E_NOT_FOUND) << "nothing registered yet";
    EXPECT_EQ(svcproc::wbemserver::EndpointPath(), "") << "nothing to serve yet";

    Register();
    EXPECT_EQ(svcproc::wbemserver::EndpointPath(), wire::DefaultEndpointPath());
    IWbemDecoupledRegistrar* second = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_WbemDecoupledRegistrar, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IWbemDecoupledRegistrar, reinterpret_cast<void**>(&second)),
              S_OK);
    EXPECT_EQ(second->Register(0, nullptr, nullptr, nullptr, L"\\\\.\\ROOT\\CIMV2",
                               L"tst_widgetprovider", provider),
              WBEM_E_ALREADY_EXISTS);
    second->Release();
    EXPECT_EQ(m_pProvider->m_nInitializeCalls, 0) << "Initialize waits for the first request";
}

TEST_F(EndpointTest, InitialisesTheProviderOnFirstUseOnly) {
    Register();
    EXPECT_EQ(m_pProvider->m_nInitializeCalls, 0);
    for (int i = 0; i < 2; ++i) {
        Answer answer = Query(MessageType::Enumerate, "TST_Widget");
        ASSERT_TRUE(answer.hasStatus);
        EXPECT_EQ(answer.status.hresult, WBEM_S_NO_ERROR);
    }
    EXPECT_EQ(m_pProvider->m_nInitializeCalls, 1);
    EXPECT_EQ(m_pProvider->m_User, L"root");
    EXPECT_EQ(m_pProvider->m_NameSpace, L"root\\cimv2");
    EXPECT_EQ(m_pProvider->m_nInitLevel, 3) << "Initialize runs with the client's call context";
}

TEST_F(EndpointTest, EnumeratesInstancesWithTheirValues) {
    Register();
    Answer answer = Query(MessageType::Enumerate, "tst_WIDGET");
    ASSERT_TRUE(answer.hasStatus);
    EXPECT_EQ(answer.status.hresult, WBEM_S_NO_ERROR);
    ASSERT_EQ(answer.objects.size(), 3u);
    const wire::Object& beta = answer.objects[1];
    EXPECT_EQ(beta.className, "TST_Widget");
    std::vector<std::string> names;
    for (const auto& property : beta.properties) {
        names.push_back(property.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Name", "Reading", "Note", "States", "Healthy"}));
    EXPECT_EQ(FindProperty(beta, "Name")->value.text, "beta");
    EXPECT_EQ(FindProperty(beta, "Reading")->value.integer, -3);
    EXPECT_EQ(FindProperty(beta, "Note")->value.kind, wire::Value::Kind::Null);
    EXPECT_FALSE(FindProperty(beta, "Healthy")->value.boolean);
    const wire::Value& states = FindProperty(beta, "States")->value;
    ASSERT_EQ(states.kind, wire::Value::Kind::Array);
    ASSERT_EQ(states.items.size(), 2u);
    EXPECT_EQ(states.items[1].text, "Critical");
    EXPECT_EQ(FindProperty(answer.objects[2], "Note")->value.text, "Grüße");
}

TEST_F(EndpointTest, GetsAnObjectByItsPath) {
    Register();
    for (const char* path :
         {"TST_Widget.Name=\"beta\"", "\\\\.\\root\\cimv2:TST_Widget.Name=\"beta\""}) {
        Answer answer = Query(MessageType::GetObject, path);
        ASSERT_TRUE(answer.hasStatus) << path;
        EXPECT_EQ(answer.status.hresult, WBEM_S_NO_ERROR) << path;
        ASSERT_EQ(answer.objects.size(), 1u) << path;
        EXPECT_EQ(FindProperty(answer.objects[0], "Name")->value.text, "beta");
    }
    Answer missing = Query(MessageType::GetObject, "TST_Widget.Name=\"delta\"");
    EXPECT_EQ(missing.status.hresult, WBEM_E_NOT_FOUND);
    EXPECT_TRUE(missing.objects.empty());
}

TEST_F(EndpointTest, AnswersRequestsNoProviderCanServeWithClearCodes) {
    Register();
    struct Case {
        MessageType type;
        const char* target;
        const char* nameSpace;
        HRESULT expected;
    };
    const Case cases[] = {
        {MessageType::Enumerate, "TST_Nothing", "root\\cimv2", WBEM_E_INVALID_CLASS},
        {MessageType::Enumerate, "TST_Orphan", "root\\cimv2", WBEM_E_PROVIDER_NOT_FOUND},
        {MessageType::Enumerate, "TST_Widget", "root\\elsewhere", WBEM_E_INVALID_NAMESPACE},
        {MessageType::Enumerate, "TST_WidgetAlert", "root\\cimv2", WBEM_E_INVALID_OPERATION},
        {MessageType::Watch, "TST_Widget", "root\\cimv2", WBEM_E_INVALID_CLASS},
        {MessageType::GetObject, "=@", "root\\cimv2", WBEM_E_INVALID_OBJECT_PATH},
        {MessageType::GetObject, "TST_Orphan.Name=\"x\"", "root\\cimv2", WBEM_E_PROVIDER_NOT_FOUND},
    };
    for (const Case& c : cases) {
        Answer answer = Query(c.type, c.target, 3, c.nameSpace);
        ASSERT_TRUE(answer.hasStatus) << c.target;
        EXPECT_EQ(answer.status.hresult, c.expected) << c.target;
        EXPECT_FALSE(answer.status.text.empty()) << c.target;
        EXPECT_TRUE(answer.objects.empty()) << c.target;
    }
    EXPECT_EQ(m_pProvider->m_nEnumerations, 0);
}

TEST_F(EndpointTest, UnregisteringRefusesNewRequestsAndFinishesThoseInFlight) {
    Register();
    m_pProvider->HoldEnumerations();
    Answer inFlight;
    std::thread client([&] { inFlight = Query(MessageType::Enumerate, "TST_Widget"); });
    ASSERT_TRUE(m_pProvider->WaitUntilHeld(20000));
    Unregister();
    Answer refused = Query(MessageType::Enumerate, "TST_Widget");
    EXPECT_EQ(refused.status.hresult, WBEM_E_PROVIDER_NOT_FOUND);
    EXPECT_NE(refused.status.text.find("TST_WidgetProvider"), std::string::npos)
        << refused.status.text;
    m_pProvider->ReleaseHeld();
    client.join();
    EXPECT_EQ(inFlight.status.hresult, WBEM_S_NO_ERROR);
    EXPECT_EQ(inFlight.objects.size(), 3u);

    Register(); // the same provider may come back
    EXPECT_EQ(Query(MessageType::Enumerate, "TST_Widget").objects.size(), 3u);
}

TEST_F(EndpointTest, FansEventsOutToEveryWatcher) {
    Register();
    EXPECT_FALSE(m_pProvider->Fire(L"alpha", L"Critical")) << "nobody asked for events yet";
    wire::ClientConnection first;
    wire::ClientConnection second;
    wire::Status status;
    ASSERT_TRUE(StartWatch(first, "TST_WidgetAlert", &status)) << status.hresult;
    ASSERT_TRUE(StartWatch(second, "tst_widgetalert", &status)) << status.hresult;
    EXPECT_EQ(m_pProvider->m_nProvideEventsCalls, 1);

    ASSERT_TRUE(m_pProvider->Fire(L"alpha", L"Critical"));
    for (wire::ClientConnection* watcher : {&first, &second}) {
        wire::Reply reply;
        std::string error;
        ASSERT_EQ(watcher->Read(&reply, 20000, &error), wire::ClientConnection::ReadResult::Reply);
        ASSERT_EQ(reply.type, MessageType::Object);
        EXPECT_EQ(reply.object.className, "TST_WidgetAlert");
        EXPECT_EQ(FindProperty(reply.object, "Name")->value.text, "alpha");
        EXPECT_EQ(FindProperty(reply.object, "CurrentState")->value.text, "Critical");
    }

    first.Close(); // a watcher that leaves takes nothing with it
    for (int i = 0; i < 3; ++i) {
        m_pProvider->Fire(L"beta", L"Ok");
    }
    for (int i = 0; i < 3; ++i) {
        wire::Reply reply;
        std::string error;
        ASSERT_EQ(second.Read(&reply, 20000, &error), wire::ClientConnection::ReadResult::Reply);
        EXPECT_EQ(FindProperty(reply.object, "Name")->value.text, "beta");
    }
    EXPECT_EQ(Query(MessageType::Enumerate, "TST_Widget").objects.size(), 3u);

    Unregister();
    Answer end = ReadAnswer(second, true);
    EXPECT_EQ(end.status.hresult, WBEM_E_PROVIDER_NOT_FOUND);
    EXPECT_TRUE(end.closedAfter);
}

TEST_F(EndpointTest, AClientLeavingMidEnumerationLeavesTheServerServing) {
    Register();
    m_pProvider->m_nRepeat = 3000; // far more than a socket buffer holds
    {
        wire::ClientConnection connection;
        std::string error;
        ASSERT_TRUE(connection.Connect(wire::DefaultEndpointPath(), &error));
        wire::Request request;
        request.nameSpace = "root\\cimv2";
        request.target = "TST_Widget";
        ASSERT_TRUE(connection.Send(request, &error));
        wire::Reply reply;
        ASSERT_EQ(connection.Read(&reply, 20000, &error),
                  wire::ClientConnection::ReadResult::Reply);
    }
    m_pProvider->m_nRepeat = 1;
    Answer next = Query(MessageType::Enumerate, "TST_Widget");
    EXPECT_EQ(next.status.hresult, WBEM_S_NO_ERROR);
    EXPECT_EQ(next.objects.size(), 3u);
}

std::vector<uint8_t> Frame(const std::vector<uint8_t>& body) {
    auto length = static_cast<uint32_t>(body.size());
    std::vector<uint8_t> frame;
    frame.reserve(wire::kFrameHeaderSize + body.size());
    for (size_t i = 0; i < wire::kFrameHeaderSize; ++i) {
        frame.push_back(static_cast<uint8_t>(length >> (8 * i)));
    }
    for (uint8_t byte : body) {
        frame.push_back(byte);
    }
    return frame;
}

TEST_F(EndpointTest, MalformedMessagesGetAnErrorAndTheConnectionEnds) {
    Register();
    wire::Request valid{MessageType::Enumerate, 3, "root\\cimv2", "", "TST_Widget"};
    std::vector<uint8_t> good = wire::EncodeRequest(valid);
    std::vector<uint8_t> cutBody(good.begin(), good.end() - 3);
    std::vector<uint8_t> trailing = good;
    trailing.push_back(0);
    trailing[0] += 1;
    std::vector<uint8_t> badLevel = good;
    badLevel[6] = 9;
    std::vector<uint8_t> badUtf8 =
        wire::EncodeRequest({MessageType::Enumerate, 3, "root\\cimv2", "", "TST_\xC3\x28"});
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"cut header", {0x10, 0x00}, "header was cut short"},
        {"cut body", cutBody, "cut short after"},
        {"oversized", {0xFF, 0xFF, 0xFF, 0x7F, 1, 1}, "exceeds the limit"},
        {"just over the limit", {0x01, 0x40, 0x00, 0x00}, "exceeds the limit"},
        {"garbage", Frame({'G', 'E', 'T', ' ', '/', ' ', 'H', 'T'}), "protocol version"},
        {"empty body", Frame({}), "cut short"},
        {"unknown type", Frame({1, 0x7F, 3}), "unknown request type"},
        {"reply type as request", Frame({1, 0x82, 0, 0, 0, 0}), "unknown request type"},
        {"bad level", badLevel, "impersonation level"},
        {"string past end", Frame({1, 1, 3, 0xFF, 0xFF, 0, 0, 'r'}), "past the end"},
        {"not UTF-8", badUtf8, "not UTF-8"},
        {"trailing bytes", trailing, "trailing bytes"},
    };
    struct Refusals {
        static void Sink(void* self, _LOG_LEVEL level, const char* text) {
            if (level == LOG_ERROR &&
                std::strstr(text, "WBEM endpoint - refusing a request of client pid") != nullptr) {
                ++static_cast<Refusals*>(self)->count;
            }
        }
        std::atomic<int> count{0};
    } refusals;
    svcproc::log::SetCaptureSink(&Refusals::Sink, &refusals);
    for (const Case& c : cases) {
        wire::ClientConnection connection;
        std::string error;
        ASSERT_TRUE(connection.Connect(wire::DefaultEndpointPath(), &error));
        ASSERT_TRUE(connection.SendRaw(c.bytes.data(), c.bytes.size(), &error)) << c.what;
        shutdown(connection.Fd(), SHUT_WR); // nothing more is coming
        Answer answer = ReadAnswer(connection, true);
        ASSERT_TRUE(answer.hasStatus) << c.what;
        EXPECT_EQ(answer.status.hresult, WBEM_E_INVALID_PARAMETER) << c.what;
        EXPECT_NE(answer.status.text.find(c.reason), std::string::npos)
            << c.what << ": " << answer.status.text;
        EXPECT_TRUE(answer.closedAfter) << c.what;
        // ... and the endpoint serves the next client.
        EXPECT_EQ(Query(MessageType::Enumerate, "TST_Widget").objects.size(), 3u) << c.what;
    }
    svcproc::log::SetCaptureSink(nullptr, nullptr);
    EXPECT_EQ(refusals.count, static_cast<int>(std::size(cases))) << "every refusal is logged";
    EXPECT_EQ(m_pProvider->m_nEnumerations, static_cast<int>(std::size(cases)));
}

TEST_F(EndpointTest, AConnectionCarriesOneRequestAfterAnother) {
    Register();
    wire::ClientConnection connection;
    std::string error;
    ASSERT_TRUE(connection.Connect(wire::DefaultEndpointPath(), &error));
    for (const char* target : {"TST_Widget", "TST_Nothing", "TST_Widget"}) {
        ASSERT_TRUE(
            connection.Send({MessageType::Enumerate, 3, "root\\cimv2", "", target}, &error));
        wire::Reply reply;
        size_t objects = 0;
        while (connection.Read(&reply, 20000, &error) ==
                   wire::ClientConnection::ReadResult::Reply &&
               reply.type == MessageType::Object) {
            ++objects;
        }
        ASSERT_EQ(reply.type, MessageType::Status) << target;
        EXPECT_EQ(objects, std::strcmp(target, "TST_Widget") == 0 ? 3u : 0u);
    }
}

} // namespace
} // namespace wbemtest
