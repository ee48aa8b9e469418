// SIDs: textual and binary forms, the well-known ones and the SDDL aliases.
#include <cstdio>
#include <cwchar>
#include <fstream>
#include <functional>
#include <unistd.h>

#include "SecurityInternal.h"

namespace svcproc::security {
namespace {

constexpr uint64_t kMaxAuthority = 0xFFFFFFFFFFFFull;

// Three stable sub-authorities for this machine: from /etc/machine-id, or
// from the host name where there is none.
std::vector<uint32_t> MachineDomain() {
    std::string seed;
    std::ifstream file("/etc/machine-id");
    if (!(file >> seed) || seed.size() < 24) {
        char host[256] = {};
        gethostname(host, sizeof(host) - 1);
        seed = host;
        seed.resize(24, '0');
    }
    std::vector<uint32_t> parts;
    for (int i = 0; i < 3; ++i) {
        uint32_t value = 0;
        for (int j = 0; j < 8; ++j) {
            value = value * 31u + static_cast<unsigned char>(seed[i * 8 + j]);
        }
        parts.push_back(value);
    }
    return parts;
}

} // namespace

std::wstring Sid::ToString() const {
    std::wstring text = L"S-1-" + std::to_wstring(authority);
    for (uint32_t sub : subAuthorities) {
        text += L"-" + std::to_wstring(sub);
    }
    return text;
}

std::vector<uint8_t> Sid::ToBytes() const {
    std::vector<uint8_t> bytes;
    bytes.push_back(1);
    bytes.push_back(static_cast<uint8_t>(subAuthorities.size()));
    for (int shift = 40; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<uint8_t>(authority >> shift));
    }
    for (uint32_t sub : subAuthorities) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes.push_back(static_cast<uint8_t>(sub >> shift));
        }
    }
    return bytes;
}

size_t BinarySidLength(const Sid& sid) {
    return 8 + 4 * sid.subAuthorities.size();
}

std::optional<Sid> ParseSidString(const std::wstring& text) {
    if (text.rfind(L"S-1-", 0) != 0) {
        return std::nullopt;
    }
    std::vector<uint64_t> numbers;
    size_t pos = 4;
    while (true) {
        size_t end = pos;
        uint64_t value = 0;
        while (end < text.size() && text[end] >= L'0' && text[end] <= L'9' && end - pos < 16) {
            value = value * 10 + static_cast<uint64_t>(text[end] - L'0');
            ++end;
        }
        if (end == pos || (end < text.size() && text[end] != L'-')) {
            return std::nullopt;
        }
        numbers.push_back(value);
        if (end == text.size()) {
            break;
        }
        pos = end + 1;
    }
    if (numbers.size() < 2 || numbers.size() > kMaxSubAuthorities + 1 ||
        numbers[0] > kMaxAuthority) {
        return std::nullopt;
    }
    Sid sid;
    sid.authority = numbers[0];
    for (size_t i = 1; i < numbers.size(); ++i) {
        if (numbers[i] > 0xFFFFFFFFull) {
            return std::nullopt;
        }
        sid.subAuthorities.push_back(static_cast<uint32_t>(numbers[i]));
    }
    return sid;
}

std::optional<Sid> ReadSid(const uint8_t* bytes, size_t available) {
    if (bytes == nullptr || available < 8 || bytes[0] != 1 || bytes[1] > kMaxSubAuthorities ||
        available < 8u + 4u * bytes[1]) {
        return std::nullopt;
    }
    Sid sid;
    for (int i = 2; i < 8; ++i) {
        sid.authority = (sid.authority << 8) | bytes[i];
    }
    for (uint8_t i = 0; i < bytes[1]; ++i) {
        const uint8_t* p = bytes + 8 + 4 * i;
        sid.subAuthorities.push_back(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                                     uint32_t{p[3]} << 24);
    }
    return sid;
}

Sid LocalSystemSid() {
    return Sid{5, {18}};
}
Sid AdministratorsSid() {
    return Sid{5, {32, 544}};
}
Sid EveryoneSid() {
    return Sid{1, {0}};
}
Sid AnonymousSid() {
    return Sid{5, {7}};
}
Sid UnixUserSid(uint32_t uid) {
    return Sid{22, {1, uid}};
}
Sid UnixGroupSid(uint32_t gid) {
    return Sid{22, {2, gid}};
}

Sid MachineAccountSid(uint32_t rid) {
    static const std::vector<uint32_t> domain = MachineDomain();
    Sid sid{5, {21}};
    sid.subAuthorities.insert(sid.subAuthorities.end(), domain.begin(), domain.end());
    sid.subAuthorities.push_back(rid);
    return sid;
}

std::optional<Sid> SidForAlias(const std::wstring& alias) {
    struct Entry {
        const wchar_t* alias;
        std::function<Sid()> make;
    };
    static const Entry entries[] = {
        {L"BA", AdministratorsSid},
        {L"BU",
         [] {
             return Sid{5, {32, 545}};
         }},
        {L"SY", LocalSystemSid},
        {L"LS",
         [] {
             return Sid{5, {19}};
         }},
        {L"NS",
         [] {
             return Sid{5, {20}};
         }},
        {L"LA", [] { return MachineAccountSid(500); }},
        {L"WD", EveryoneSid},
        {L"AU",
         [] {
             return Sid{5, {11}};
         }},
        {L"AN", AnonymousSid},
    };
    for (const Entry& entry : entries) {
        if (alias == entry.alias) {
            return entry.make();
        }
    }
    return std::nullopt;
}

std::wstring SidToString(PSID sid) {
    // A binary SID says its own length; 8 + 4 * 15 bytes is the most it can be.
    auto parsed = ReadSid(static_cast<const uint8_t*>(sid), 8 + 4 * kMaxSubAuthorities);
    return parsed ? parsed->ToString() : std::wstring();
}

} // namespace svcproc::security
