// The security layer: SDDL, tokens from identities, access checks as the
// providers run them, and the host facts.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "ComApi.h"
#include "Log.h"
#include "Security.h"
#include "TestProvider.h"

namespace {

using svcproc::security::PeerIdentity;

constexpr uint32_t kAdmGid = 4; // Debian's adm group
constexpr uint32_t kNogroupGid = 65534;

PeerIdentity Identity(uint32_t uid, uint32_t gid, std::vector<uint32_t> groups = {}) {
    PeerIdentity identity;
    identity.uid = uid;
    identity.gid = gid;
    identity.groups = std::move(groups);
    identity.pid = 1;
    return identity;
}

struct LogCapture {
    LogCapture() { svcproc::log::SetCaptureSink(&LogCapture::Sink, this); }
    ~LogCapture() { svcproc::log::SetCaptureSink(nullptr, nullptr); }
    static void Sink(void* self, _LOG_LEVEL level, const char* text) {
        if (level == LOG_ERROR) {
            static_cast<LogCapture*>(self)->errors.emplace_back(text);
        }
    }
    bool Has(const std::string& part) const {
        for (const std::string& line : errors) {
            if (line.find(part) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    std::vector<std::string> errors;
};

// Runs the providers' check for `identity` at `level` through the COM call
// context, the way a provider sees its client.
DWORD ProviderCheckFor(const PeerIdentity& identity, DWORD level) {
    svcproc::com::CallContext context;
    context.uid = identity.uid;
    context.gid = identity.gid;
    context.supplementaryGids = identity.groups;
    context.pid = identity.pid;
    context.impersonationLevel = level;
    svcproc::com::SetCallContext(&context);
    DWORD error = ERROR_GEN_FAILURE;
    if (SUCCEEDED(CoImpersonateClient())) {
        error = wbemtest::CheckAccessLikeProviders();
        CoRevertToSelf();
    }
    svcproc::com::SetCallContext(nullptr);
    return error;
}

std::vector<std::wstring> GroupSids(HANDLE token) {
    DWORD length = 0;
    EXPECT_FALSE(GetTokenInformation(token, TokenGroups, nullptr, 0, &length));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::vector<uint8_t> buffer(length);
    EXPECT_TRUE(GetTokenInformation(token, TokenGroups, buffer.data(), length, &length));
    auto* groups = reinterpret_cast<TOKEN_GROUPS*>(buffer.data());
    std::vector<std::wstring> sids;
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        sids.push_back(svcproc::security::SidToString(groups->Groups[i].Sid));
    }
    return sids;
}

bool Contains(const std::vector<std::wstring>& list, const std::wstring& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

TEST(Sddl, AcceptsTheSubsetTheProvidersWrite) {
    const wchar_t* good[] = {
        wbemtest::kProviderSddl,
        L"O:BAG:BAD:(A;;0x1;;;BA)(A;;0x1;;;SY)",
        L"D:P(A;;GA;;;WD)",
        L"D:PAI(D;;0x1;;;AN)(A;;GRGX;;;AU)",
        L"G:SYO:BAD:(A;;1;;;S-1-5-21-1-2-3-500)",
        L"D:",
        L"O:LS",
    };
    for (const wchar_t* sddl : good) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ULONG size = 0;
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                         &descriptor, &size))
            << std::wstring(sddl).size();
        EXPECT_NE(descriptor, nullptr);
        EXPECT_GT(size, 0u);
        LocalFree(descriptor);
    }
}

TEST(Sddl, RefusesWhatItDoesNotKnowWithAClearCode) {
    struct Case {
        const wchar_t* sddl;
        DWORD revision;
        DWORD error;
    };
    const Case bad[] = {
        {L"O:XXG:SY", SDDL_REVISION_1, ERROR_NONE_MAPPED},
        {L"O:BAO:SY", SDDL_REVISION_1, ERROR_INVALID_PARAMETER},           // owner twice
        {L"S:(AU;SA;0x1;;;WD)", SDDL_REVISION_1, ERROR_INVALID_PARAMETER}, // no SACLs
        {L"D:(A;;0x1;;;BA", SDDL_REVISION_1, ERROR_INVALID_PARAMETER},     // unclosed ACE
        {L"D:(X;;0x1;;;BA)", SDDL_REVISION_1, ERROR_INVALID_PARAMETER},    // ACE type
        {L"D:(A;;0xZZ;;;BA)", SDDL_REVISION_1, ERROR_INVALID_PARAMETER},
        {L"D:(A;;0x100000000;;;BA)", SDDL_REVISION_1, ERROR_INVALID_PARAMETER},
        {L"D:(A;;0x1;;;S-1-)", SDDL_REVISION_1, ERROR_INVALID_PARAMETER},
        {L"D:(A;CI;0x1;;;BA)", SDDL_REVISION_1, ERROR_INVALID_PARAMETER}, // ACE flags
        {L"O:BA ", SDDL_REVISION_1, ERROR_INVALID_PARAMETER},
        {L"O:BA", 2, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : bad) {
        LogCapture log;
        PSECURITY_DESCRIPTOR descriptor = reinterpret_cast<PSECURITY_DESCRIPTOR>(1);
        SetLastError(0);
        EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorW(c.sddl, c.revision,
                                                                          &descriptor, nullptr));
        EXPECT_EQ(GetLastError(), c.error) << std::wstring(c.sddl).size();
        EXPECT_EQ(descriptor, nullptr);
        EXPECT_TRUE(log.Has("ConvertStringSecurityDescriptorToSecurityDescriptorW"));
    }
}

TEST(Tokens, HoldTheSidsOfTheIdentity) {
    struct Case {
        PeerIdentity identity;
        bool system;
        bool administrators;
    };
    const Case cases[] = {
        {Identity(0, 0), true, true},
        {Identity(1000, 1000, {kAdmGid}), false, true},
        {Identity(1000, kAdmGid), false, true},
        {Identity(65534, kNogroupGid, {kNogroupGid}), false, false},
    };
    for (const Case& c : cases) {
        HANDLE token = svcproc::security::CreateTokenForIdentity(c.identity, 3);
        ASSERT_NE(token, nullptr);
        std::vector<std::wstring> groups = GroupSids(token);
        EXPECT_EQ(Contains(groups, L"S-1-5-18"), c.system) << c.identity.uid;
        EXPECT_EQ(Contains(groups, L"S-1-5-32-544"), c.administrators) << c.identity.uid;
        EXPECT_TRUE(Contains(groups, L"S-1-1-0"));
        EXPECT_TRUE(Contains(groups, L"S-1-22-2-" + std::to_wstring(c.identity.gid)));

        DWORD length = 0;
        EXPECT_FALSE(GetTokenInformation(token, TokenUser, nullptr, 0, &length));
        std::vector<uint8_t> buffer(length);
        ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer.data(), length, &length));
        EXPECT_EQ(
            svcproc::security::SidToString(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid),
            L"S-1-22-1-" + std::to_wstring(c.identity.uid));
        CloseHandle(token);
    }
}

TEST(Tokens, ReportTheImpersonationLevelTheClientAskedFor) {
    const SECURITY_IMPERSONATION_LEVEL expected[] = {SecurityAnonymous, SecurityIdentification,
                                                     SecurityImpersonation, SecurityDelegation};
    for (DWORD level = 1; level <= 4; ++level) {
        HANDLE token = svcproc::security::CreateTokenForIdentity(Identity(0, 0), level);
        ASSERT_NE(token, nullptr);
        SECURITY_IMPERSONATION_LEVEL got = SecurityDelegation;
        DWORD length = 0;
        EXPECT_FALSE(GetTokenInformation(token, TokenImpersonationLevel, &got, 1, &length));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        EXPECT_EQ(length, sizeof(got));
        ASSERT_TRUE(
            GetTokenInformation(token, TokenImpersonationLevel, &got, sizeof(got), &length));
        EXPECT_EQ(got, expected[level - 1]);
        CloseHandle(token);
    }
    EXPECT_EQ(svcproc::security::CreateTokenForIdentity(Identity(0, 0), 0), nullptr);
    EXPECT_EQ(svcproc::security::CreateTokenForIdentity(Identity(0, 0), 5), nullptr);
    DWORD length = 0;
    SECURITY_IMPERSONATION_LEVEL got;
    EXPECT_FALSE(GetTokenInformation(nullptr, TokenImpersonationLevel, &got, sizeof(got), &length));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(ThreadToken, IsTheImpersonatedClientsAndOnlyThen) {
    HANDLE token = reinterpret_cast<HANDLE>(1);
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
    EXPECT_EQ(GetLastError(), ERROR_NO_TOKEN);
    EXPECT_EQ(wbemtest::ImpersonationLevelLikeProviders(), 4);

    svcproc::com::CallContext context;
    context.uid = 0;
    context.impersonationLevel = 2;
    svcproc::com::SetCallContext(&context);
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token))
        << "a call context alone is no impersonation";
    ASSERT_EQ(CoImpersonateClient(), S_OK);
    EXPECT_EQ(wbemtest::ImpersonationLevelLikeProviders(), 2);
    CoRevertToSelf();
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
    svcproc::com::SetCallContext(nullptr);
}

TEST(AccessCheck, GrantsAndDeniesAsTheProvidersExpect) {
    struct Case {
        const char* who;
        PeerIdentity identity;
        DWORD level;
        DWORD error;
    };
    const Case cases[] = {
        {"root", Identity(0, 0), 3, ERROR_SUCCESS},
        {"root identifying", Identity(0, 0), 2, ERROR_SUCCESS},
        {"adm member", Identity(1000, 1000, {kAdmGid}), 3, ERROR_SUCCESS},
        {"plain user", Identity(1000, 1000, {1000}), 3, ERROR_ACCESS_DENIED},
        {"nobody", Identity(65534, kNogroupGid), 3, ERROR_ACCESS_DENIED},
        {"uid 500 is no local Administrator", Identity(500, 500), 3, ERROR_ACCESS_DENIED},
        {"root anonymous", Identity(0, 0), 1, ERROR_BAD_IMPERSONATION_LEVEL},
    };
    for (const Case& c : cases) {
        LogCapture log;
        EXPECT_EQ(ProviderCheckFor(c.identity, c.level), c.error) << c.who;
        if (c.error != ERROR_SUCCESS) {
            EXPECT_TRUE(log.Has("AccessCheck - ")) << c.who;
        }
    }
}

class AccessCheckCall : public ::testing::Test {
protected:
    void SetUp() override {
        m_Token = svcproc::security::CreateTokenForIdentity(Identity(0, 0), 3);
        ASSERT_NE(m_Token, nullptr);
    }
    void TearDown() override { CloseHandle(m_Token); }

    // AccessCheck of the root token on `sddl`.
    BOOL Check(const wchar_t* sddl, DWORD desired, DWORD* granted, BOOL* status) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1,
                                                                         &descriptor, nullptr));
        PRIVILEGE_SET privileges{};
        DWORD length = sizeof(privileges);
        BOOL ok = AccessCheck(descriptor, m_Token, desired, &m_Mapping, &privileges, &length,
                              granted, status);
        LocalFree(descriptor);
        return ok;
    }

    HANDLE m_Token = nullptr;
    GENERIC_MAPPING m_Mapping{0, 0, 0x000F0001, 0x000F0001};
};

TEST_F(AccessCheckCall, AsksForAPrivilegeSetBufferFirst) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        wbemtest::kProviderSddl, SDDL_REVISION_1, &descriptor, nullptr));
    DWORD length = 0;
    DWORD granted = 0;
    BOOL status = TRUE;
    SetLastError(0);
    EXPECT_FALSE(
        AccessCheck(descriptor, m_Token, 1, &m_Mapping, nullptr, &length, &granted, &status));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, sizeof(PRIVILEGE_SET));
    std::vector<uint8_t> buffer(length);
    SetLastError(0);
    EXPECT_TRUE(AccessCheck(descriptor, m_Token, MAXIMUM_ALLOWED, &m_Mapping,
                            reinterpret_cast<PRIVILEGE_SET*>(buffer.data()), &length, &granted,
                            &status));
    EXPECT_TRUE(status);
    EXPECT_EQ(granted, 0x000F0001u) << "GENERIC_ALL in the ACEs maps to the mapping's all";
    EXPECT_EQ(GetLastError(), 0u) << "a grant leaves the cleared last error alone";
    LocalFree(descriptor);
}

TEST_F(AccessCheckCall, HonoursTheAcesInOrder) {
    struct Case {
        const wchar_t* sddl;
        DWORD desired;
        BOOL status;
        DWORD granted;
    };
    const Case cases[] = {
        {L"D:(A;;0x3;;;SY)", 0x1, TRUE, 0x1},
        {L"D:(A;;0x1;;;SY)", 0x3, FALSE, 0},
        {L"D:(A;;0x1;;;SY)(A;;0x2;;;BA)", 0x3, TRUE, 0x3},
        {L"D:(D;;0x1;;;BA)(A;;0x3;;;SY)", 0x1, FALSE, 0},
        {L"D:(A;;0x3;;;SY)(D;;0x1;;;BA)", 0x1, TRUE, 0x1},
        {L"D:(D;;0x1;;;WD)(A;;0x3;;;SY)", MAXIMUM_ALLOWED, TRUE, 0x2},
        {L"D:(A;;0x1;;;S-1-22-1-1000)", 0x1, FALSE, 0},
        {L"D:(A;;0x1;;;S-1-22-1-0)", 0x1, TRUE, 0x1},
        {L"D:", 0x1, FALSE, 0},
        {L"O:BA", 0x1, TRUE, 0x1}, // no DACL: nothing is guarded
    };
    for (const Case& c : cases) {
        DWORD granted = 0xFFFF;
        BOOL status = -1;
        ASSERT_TRUE(Check(c.sddl, c.desired, &granted, &status));
        EXPECT_EQ(status, c.status) << std::wstring(c.sddl).size();
        EXPECT_EQ(granted, c.granted) << std::wstring(c.sddl).size();
        if (!status) {
            EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        }
    }
}

TEST_F(AccessCheckCall, RefusesBadArguments) {
    DWORD granted = 0;
    BOOL status = FALSE;
    PRIVILEGE_SET privileges{};
    DWORD length = sizeof(privileges);
    const uint8_t garbage[64] = {1, 2, 3};
    EXPECT_FALSE(AccessCheck(const_cast<uint8_t*>(garbage), m_Token, 1, &m_Mapping, &privileges,
                             &length, &granted, &status));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_SECURITY_DESCR);
    EXPECT_FALSE(Check(L"D:(A;;GA;;;SY)", GENERIC_ALL, &granted, &status))
        << "generic bits must be mapped first";
    EXPECT_FALSE(
        AccessCheck(nullptr, nullptr, 1, &m_Mapping, &privileges, &length, &granted, &status));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(MapGenericMask, ReplacesGenericBitsByTheMapping) {
    const GENERIC_MAPPING mapping{0x1, 0x2, 0x4, 0x000F0001};
    struct Case {
        DWORD in;
        DWORD out;
    };
    const Case cases[] = {{1, 1},
                          {GENERIC_READ, 0x1},
                          {GENERIC_WRITE | 0x100, 0x102},
                          {GENERIC_EXECUTE | GENERIC_READ, 0x5},
                          {GENERIC_ALL | 1, 0x000F0001}};
    for (const Case& c : cases) {
        DWORD mask = c.in;
        MapGenericMask(&mask, &mapping);
        EXPECT_EQ(mask, c.out) << std::hex << c.in;
    }
}

TEST(PeerIdentity, ComesFromTheSocketPeer) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    PeerIdentity identity;
    ASSERT_TRUE(svcproc::security::ReadPeerIdentity(pair[0], &identity));
    EXPECT_EQ(identity.uid, getuid());
    EXPECT_EQ(identity.gid, getgid());
    EXPECT_EQ(identity.pid, getpid());
    std::vector<gid_t> groups(getgroups(0, nullptr));
    getgroups(static_cast<int>(groups.size()), groups.data());
    EXPECT_EQ(identity.groups, std::vector<uint32_t>(groups.begin(), groups.end()));
    close(pair[0]);
    close(pair[1]);
    PeerIdentity none;
    EXPECT_FALSE(svcproc::security::ReadPeerIdentity(-1, &none));
}

TEST(HostFacts, ComputerNameFitsTheProvidersBuffer) {
    wchar_t name[16];
    DWORD size = 16;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    EXPECT_EQ(size, std::wcslen(name));
    EXPECT_LE(size, 15u);
    char host[256] = {};
    gethostname(host, sizeof(host) - 1);
    EXPECT_EQ(static_cast<wchar_t>(std::toupper(host[0])), name[0]);

    svcproc::security::SetComputerNameForTest(L"TERMINAL-0042");
    size = 5;
    EXPECT_FALSE(GetComputerNameW(name, &size));
    EXPECT_EQ(GetLastError(), ERROR_BUFFER_OVERFLOW);
    EXPECT_EQ(size, 14u);
    size = 16;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    EXPECT_STREQ(name, L"TERMINAL-0042");
    svcproc::security::SetComputerNameForTest(L"");
}

TEST(HostFacts, VersionComesFromTheKernelRelease) {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    ASSERT_TRUE(GetVersionExW(&info));
    std::string release =
        std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion);
    char buffer[65];
    FILE* file = std::fopen("/proc/sys/kernel/osrelease", "r");
    ASSERT_NE(file, nullptr);
    ASSERT_NE(std::fgets(buffer, sizeof(buffer), file), nullptr);
    std::fclose(file);
    EXPECT_EQ(std::string(buffer).rfind(release, 0), 0u) << buffer;
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);

    svcproc::security::SetOsVersionForTest(4, 10, 1998);
    OSVERSIONINFOW narrow{};
    narrow.dwOSVersionInfoSize = OSVERSIONINFOW_NARROW_SIZE;
    ASSERT_TRUE(GetVersionExW(&narrow));
    EXPECT_EQ(narrow.dwMajorVersion, 4u);
    EXPECT_EQ(narrow.dwBuildNumber, 1998u);
    svcproc::security::SetOsVersionForTest(0, 0, 0);

    OSVERSIONINFOW wrong{};
    wrong.dwOSVersionInfoSize = 100;
    EXPECT_FALSE(GetVersionExW(&wrong));
}

} // namespace
