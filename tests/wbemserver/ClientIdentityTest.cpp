// Real clients in other processes, under real identities, through wbemq.
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "ChildProcess.h"
#include "EndpointFixture.h"

namespace wbemtest {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

ChildResult Wbemq(std::vector<std::string> args, bool asNobody = false) {
    args.insert(args.begin(), WBEMQ_PATH);
    return RunChild(args, asNobody);
}

using ClientIdentity = EndpointTest;

TEST_F(ClientIdentity, RootIsGrantedByTheProvidersDescriptor) {
    Register();
    ChildResult result = Wbemq({"enum", "TST_Widget", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 3u) << result.out;
    auto beta = nlohmann::json::parse(lines[1]);
    EXPECT_EQ(beta["Name"], "beta");
    EXPECT_EQ(beta["Reading"], -3);
    EXPECT_TRUE(beta["Note"].is_null()) << "a property without a value is null";
    EXPECT_EQ(beta["States"], nlohmann::json({"Ok", "Critical"}));
    EXPECT_EQ(beta["Healthy"], false);
    EXPECT_EQ(nlohmann::json::parse(lines[2])["Note"], "Grüße");
}

TEST_F(ClientIdentity, NobodyIsDenied) {
    Register();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"enum", "TST_Widget"},
          std::vector<std::string>{"get", "TST_Widget.Name=\"alpha\""},
          std::vector<std::string>{"watch", "TST_WidgetAlert", "--count", "1"}}) {
        ChildResult result = Wbemq(args, true);
        EXPECT_EQ(result.exitCode, 1) << args[0] << ": " << result.out << result.err;
        EXPECT_NE(result.err.find("access denied (0x80041003)"), std::string::npos)
            << args[0] << ": " << result.err;
        EXPECT_TRUE(result.out.empty()) << args[0];
    }
    EXPECT_EQ(m_pProvider->m_nEnumerations, 0) << "refused before any data was read";
    EXPECT_EQ(m_pProvider->m_nProvideEventsCalls, 0);
}

TEST_F(ClientIdentity, AnAnonymousClientIsRefusedWhereTheProviderChecksTheLevel) {
    Register();
    ChildResult anonymous = Wbemq({"enum", "TST_Widget", "--impersonation", "anonymous"});
    EXPECT_EQ(anonymous.exitCode, 1);
    EXPECT_NE(anonymous.err.find("access denied (0x80041003)"), std::string::npos) << anonymous.err;
    EXPECT_EQ(m_pProvider->m_nInitializeCalls, 1);
    EXPECT_EQ(m_pProvider->m_nInitializeSuccesses, 0);

    // The refusal is not kept: an identifying client initialises the provider.
    ChildResult identify = Wbemq({"enum", "TST_Widget", "--impersonation", "identify"});
    EXPECT_EQ(identify.exitCode, 0) << identify.err;
    EXPECT_EQ(m_pProvider->m_nInitializeSuccesses, 1);
    EXPECT_EQ(m_pProvider->m_nInitLevel, 2);

    // Once initialised, the access check still refuses an anonymous client.
    anonymous = Wbemq({"get", "TST_Widget.Name=\"alpha\"", "--impersonation", "anonymous"});
    EXPECT_EQ(anonymous.exitCode, 1);
    EXPECT_NE(anonymous.err.find("access denied (0x80041003)"), std::string::npos) << anonymous.err;
}

TEST_F(ClientIdentity, PrintsAnAlignedTableAndObjectLists) {
    Register();
    ChildResult table = Wbemq({"enum", "TST_Widget"});
    ASSERT_EQ(table.exitCode, 0) << table.err;
    std::vector<std::string> lines = Lines(table.out);
    ASSERT_EQ(lines.size(), 4u) << table.out;
    EXPECT_EQ(lines[0], "Name   Reading  Note   States          Healthy");
    EXPECT_EQ(lines[1], "alpha  12       first  {Ok, Critical}  TRUE");
    EXPECT_EQ(lines[2], "beta   -3              {Ok, Critical}  FALSE");
    EXPECT_EQ(lines[3], "gamma  7        Grüße  {Ok, Critical}  TRUE");

    ChildResult get = Wbemq({"get", "TST_Widget.Name=\"alpha\""});
    ASSERT_EQ(get.exitCode, 0) << get.err;
    EXPECT_EQ(get.out, "Name     alpha\nReading  12\nNote     first\nStates   {Ok, Critical}\n"
                       "Healthy  TRUE\n");
}

TEST_F(ClientIdentity, ErrorsNameTheCodeInWordsAndHex) {
    Register();
    ChildResult missing = Wbemq({"get", "TST_Widget.Name=\"delta\""});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("(0x80041002)"), std::string::npos) << missing.err;
    ChildResult orphan = Wbemq({"enum", "TST_Orphan"});
    EXPECT_EQ(orphan.exitCode, 1);
    EXPECT_NE(orphan.err.find("(0x80041011): provider TST_NobodyProvider is not registered"),
              std::string::npos)
        << orphan.err;
    EXPECT_EQ(missing.err.rfind("wbemq: ", 0), 0u) << missing.err;

    svcproc::wbemserver::StopEndpoint();
    ChildResult down = Wbemq({"enum", "TST_Widget"});
    EXPECT_EQ(down.exitCode, 1);
    EXPECT_NE(down.err.find("cannot connect to " + wire::DefaultEndpointPath()), std::string::npos)
        << down.err;
}

TEST_F(ClientIdentity, WatchPrintsEventsUntilCountOrTimeout) {
    Register();
    Child watcher(
        {WBEMQ_PATH, "watch", "TST_WidgetAlert", "--count", "2", "--json", "--timeout", "60"},
        false);
    // Events before the watch began are not for it: fire until it has two.
    for (int i = 0; i < 1000 && watcher.Running(); ++i) {
        m_pProvider->Fire(L"gamma", L"Critical");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ChildResult result = watcher.Wait(30000);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 2u) << result.out;
    EXPECT_EQ(nlohmann::json::parse(lines[0]),
              nlohmann::json::parse(R"({"Name":"gamma","CurrentState":"Critical"})"));

    ChildResult quiet = Wbemq({"watch", "TST_WidgetAlert", "--timeout", "0.3"});
    EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_TRUE(quiet.out.empty());
    ChildResult unmet = Wbemq({"watch", "TST_WidgetAlert", "--count", "1", "--timeout", "0.3"});
    EXPECT_EQ(unmet.exitCode, 1);
    EXPECT_NE(unmet.err.find("timed out after 0 of 1 events"), std::string::npos) << unmet.err;
}

} // namespace
} // namespace wbemtest
