// Inside the security layer: SIDs as values, their binary form, the
// descriptor layout and token objects.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Security.h"

namespace svcproc::security {

constexpr uint32_t kMaxSubAuthorities = 15;

// A SID as a value: identifier authority and sub-authorities.
struct Sid {
    uint64_t authority = 0;
    std::vector<uint32_t> subAuthorities;

    bool operator==(const Sid&) const = default;
    std::wstring ToString() const;
    // Binary form: revision 1, count, 6-byte big-endian authority, then the
    // sub-authorities as 32-bit little-endian values.
    std::vector<uint8_t> ToBytes() const;
};

// "S-1-5-32-544" and the like; nullopt for anything else.
std::optional<Sid> ParseSidString(const std::wstring& text);
// Reads a binary SID of at most `available` bytes; nullopt when malformed.
std::optional<Sid> ReadSid(const uint8_t* bytes, size_t available);
size_t BinarySidLength(const Sid& sid);

Sid LocalSystemSid();
Sid AdministratorsSid();
Sid EveryoneSid();
Sid AnonymousSid();
Sid UnixUserSid(uint32_t uid);
Sid UnixGroupSid(uint32_t gid);
// The host's machine domain S-1-5-21-a-b-c plus `rid`, stable per machine.
Sid MachineAccountSid(uint32_t rid);
// The SID of a two-letter SDDL alias, nullopt when unknown.
std::optional<Sid> SidForAlias(const std::wstring& alias);

// Flat, self-contained security descriptor, freed with LocalFree.
struct DescriptorHeader {
    uint32_t magic;
    uint32_t size;
    uint32_t ownerOffset; // 0: none
    uint32_t groupOffset; // 0: none
    uint32_t daclOffset;  // 0: no DACL (everything granted)
};
struct AclHeader {
    uint32_t aceCount;
    uint32_t size; // header and every ACE
};
struct AceHeader {
    uint8_t type; // kAceAllow or kAceDeny
    uint8_t flags;
    uint16_t size; // header and SID
    ACCESS_MASK mask;
};
constexpr uint32_t kDescriptorMagic = 0x44535653; // "SVSD"
constexpr uint8_t kAceAllow = 0;
constexpr uint8_t kAceDeny = 1;

struct Ace {
    uint8_t type = kAceAllow;
    ACCESS_MASK mask = 0;
    Sid sid;
};
struct Descriptor {
    std::optional<Sid> owner;
    std::optional<Sid> group;
    bool daclPresent = false;
    std::vector<Ace> dacl;
};

// Allocates the flat form (freed with LocalFree); null when out of memory.
void* BuildDescriptor(const Descriptor& descriptor, uint32_t* size);
// Reads a flat descriptor back; nullopt when it is not one of ours or is
// damaged.
std::optional<Descriptor> ReadDescriptor(const void* memory);

// A token: who the client is and how far it let us act for it.
struct Token {
    Sid user;
    std::vector<Sid> groups;
    SECURITY_IMPERSONATION_LEVEL level = SecurityImpersonation;

    bool Holds(const Sid& sid) const;
};

// The token behind a handle from OpenThreadToken or CreateTokenForIdentity,
// or null.
const Token* TokenFromHandle(HANDLE handle);

} // namespace svcproc::security
