// Security for the layer's clients: tokens built from a socket peer's
// credentials, security descriptors written in SDDL, access checks, and the
// host facts (computer name, OS version) the providers read. Platform names,
// so the providers' steps read as written.
//
// Identities: uid 0 holds Local System (S-1-5-18) and Administrators
// (S-1-5-32-544); a member of group sudo, wheel or adm holds Administrators;
// every token holds Everyone (S-1-1-0), the user's own SID S-1-22-1-<uid> and a
// SID S-1-22-2-<gid> per group. The S-1-22 authority keeps user SIDs apart
// from machine-domain accounts, so no uid can ever equal the local
// Administrator account (LA, RID 500).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "../base/WinTypes.h"
#include "../sync/Sync.h"

using ACCESS_MASK = DWORD;
using PSID = void*;
using PSECURITY_DESCRIPTOR = void*;
using HLOCAL = void*;

constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
constexpr DWORD ERROR_NO_TOKEN = 1008;
constexpr DWORD ERROR_NONE_MAPPED = 1332;
constexpr DWORD ERROR_INVALID_ACL = 1336;
constexpr DWORD ERROR_INVALID_SID = 1337;
constexpr DWORD ERROR_INVALID_SECURITY_DESCR = 1338;
constexpr DWORD ERROR_NO_IMPERSONATION_TOKEN = 1309;
constexpr DWORD ERROR_BAD_IMPERSONATION_LEVEL = 1346;

constexpr ACCESS_MASK GENERIC_READ = 0x80000000u;
constexpr ACCESS_MASK GENERIC_WRITE = 0x40000000u;
constexpr ACCESS_MASK GENERIC_EXECUTE = 0x20000000u;
constexpr ACCESS_MASK GENERIC_ALL = 0x10000000u;
constexpr ACCESS_MASK MAXIMUM_ALLOWED = 0x02000000u;
constexpr ACCESS_MASK READ_CONTROL = 0x00020000u;

constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD SDDL_REVISION_1 = 1;

struct GENERIC_MAPPING {
    ACCESS_MASK GenericRead;
    ACCESS_MASK GenericWrite;
    ACCESS_MASK GenericExecute;
    ACCESS_MASK GenericAll;
};

struct LUID {
    DWORD LowPart;
    LONG HighPart;
};

struct LUID_AND_ATTRIBUTES {
    LUID Luid;
    DWORD Attributes;
};

struct PRIVILEGE_SET {
    DWORD PrivilegeCount;
    DWORD Control;
    LUID_AND_ATTRIBUTES Privilege[1];
};

enum SECURITY_IMPERSONATION_LEVEL : int32_t {
    SecurityAnonymous = 0,
    SecurityIdentification = 1,
    SecurityImpersonation = 2,
    SecurityDelegation = 3,
};

enum TOKEN_INFORMATION_CLASS : int32_t {
    TokenUser = 1,
    TokenGroups = 2,
    TokenImpersonationLevel = 9,
};

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};

struct TOKEN_USER {
    SID_AND_ATTRIBUTES User;
};

struct TOKEN_GROUPS {
    DWORD GroupCount;
    SID_AND_ATTRIBUTES Groups[1];
};

constexpr DWORD SE_GROUP_ENABLED = 0x00000004;

struct OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
};

constexpr DWORD VER_PLATFORM_WIN32_NT = 2;
// The record's size where WCHAR has 16 bits; accepted as well as
// sizeof(OSVERSIONINFOW), and then nothing past it is written.
constexpr DWORD OSVERSIONINFOW_NARROW_SIZE = 276;

// The pseudo handle of the calling thread, for OpenThreadToken.
SVCP_PLATFORM_EXPORT HANDLE GetCurrentThread();

// The thread's impersonation token: the client's after CoImpersonateClient.
// Fails with ERROR_NO_TOKEN when the thread is not impersonating. The token
// is closed with CloseHandle.
SVCP_PLATFORM_EXPORT BOOL OpenThreadToken(HANDLE thread, DWORD desiredAccess, BOOL openAsSelf,
                                          HANDLE* token);
// TokenImpersonationLevel (a SECURITY_IMPERSONATION_LEVEL), TokenUser or
// TokenGroups. A buffer that is too small: ERROR_INSUFFICIENT_BUFFER and
// *returnLength the size needed.
SVCP_PLATFORM_EXPORT BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass,
                                              void* information, DWORD length, DWORD* returnLength);

// SDDL: "O:" owner, "G:" group, "D:" DACL with optional flags P, AI, AR and
// ACEs "(A;;rights;;;sid)" (allow) or "(D;;rights;;;sid)" (deny). Rights are a
// number (hex with 0x, or decimal) or the letters GA, GR, GW, GX, RC; SIDs are
// aliases (BA, BU, SY, LS, NS, LA, WD, AU, AN) or literal "S-1-...". Anything
// else fails with ERROR_INVALID_PARAMETER (ERROR_NONE_MAPPED for an unknown
// alias). The descriptor is freed with LocalFree.
SVCP_PLATFORM_EXPORT BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(
    const wchar_t* sddl, DWORD revision, PSECURITY_DESCRIPTOR* descriptor, ULONG* size);
SVCP_PLATFORM_EXPORT HLOCAL LocalFree(HLOCAL memory);

SVCP_PLATFORM_EXPORT void MapGenericMask(DWORD* accessMask, const GENERIC_MAPPING* mapping);

// Checks the token against the descriptor's DACL, ACEs in order. The caller
// must supply a privilege-set buffer: a length below sizeof(PRIVILEGE_SET)
// fails with ERROR_INSUFFICIENT_BUFFER and sets *privilegeSetLength to the
// size needed. Denial: TRUE with *accessStatus FALSE and last error
// ERROR_ACCESS_DENIED. An anonymous-level token fails with
// ERROR_BAD_IMPERSONATION_LEVEL. No DACL grants everything; an empty one
// grants nothing. Owners get no implicit rights.
SVCP_PLATFORM_EXPORT BOOL AccessCheck(PSECURITY_DESCRIPTOR descriptor, HANDLE clientToken,
                                      DWORD desiredAccess, const GENERIC_MAPPING* mapping,
                                      PRIVILEGE_SET* privilegeSet, DWORD* privilegeSetLength,
                                      DWORD* grantedAccess, BOOL* accessStatus);

// The host name's first label, upper case, cut to 15 characters, so it fits
// the 16-character buffers written for the platform's computer names. A
// buffer too small: ERROR_BUFFER_OVERFLOW and *size the size needed
// (terminator included); success: *size the length without terminator.
SVCP_PLATFORM_EXPORT BOOL GetComputerNameW(wchar_t* buffer, DWORD* size);
// Kernel version from uname: "6.1.0-18" gives 6, 1 and build 0.
SVCP_PLATFORM_EXPORT BOOL GetVersionExW(OSVERSIONINFOW* info);

namespace svcproc::security {

// Who is on the other end of a connected Unix socket.
struct PeerIdentity {
    uint32_t uid = 0;
    uint32_t gid = 0;
    std::vector<uint32_t> groups; // supplementary groups
    int32_t pid = 0;
};

// SO_PEERCRED, then the peer's supplementary groups from /proc/<pid>/status
// (getgrouplist of the peer's user when that cannot be read).
SVCP_PLATFORM_EXPORT bool ReadPeerIdentity(int socketFd, PeerIdentity* identity);

// A token for `identity` at `level` (RPC level 1 anonymous ... 4 delegate),
// closed with CloseHandle. Null for a level outside 1..4.
SVCP_PLATFORM_EXPORT HANDLE CreateTokenForIdentity(const PeerIdentity& identity,
                                                   uint32_t rpcImpersonationLevel);

// The textual form of a SID ("S-1-5-18"), empty for an invalid one.
SVCP_PLATFORM_EXPORT std::wstring SidToString(PSID sid);

// Test hooks: answer these instead of the host's; an empty name or a major
// version of 0 goes back to the host's.
SVCP_PLATFORM_EXPORT void SetComputerNameForTest(const std::wstring& name);
SVCP_PLATFORM_EXPORT void SetOsVersionForTest(DWORD major, DWORD minor, DWORD build);

} // namespace svcproc::security
