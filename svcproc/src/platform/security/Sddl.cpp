// The SDDL subset the providers write their descriptors in.
#include <cwctype>

#include "Log.h"
#include "SecurityInternal.h"

namespace svcproc::security {
namespace {

class SddlParser {
public:
    explicit SddlParser(std::wstring text) : m_Text(std::move(text)) {}

    // On failure *error holds the Win32 code and *where the offending offset.
    bool Parse(Descriptor* out, DWORD* error, size_t* where) {
        bool seen[3] = {false, false, false};
        while (m_Pos < m_Text.size()) {
            wchar_t part = m_Text[m_Pos];
            int index = part == L'O' ? 0 : part == L'G' ? 1 : part == L'D' ? 2 : -1;
            if (index < 0 || seen[index] || Peek(1) != L':') {
                return Fail(error, where);
            }
            seen[index] = true;
            m_Pos += 2;
            bool ok =
                index == 2 ? ParseDacl(out) : ParseSidInto(index == 0 ? &out->owner : &out->group);
            if (!ok) {
                return Fail(error, where);
            }
        }
        return true;
    }

private:
    wchar_t Peek(size_t ahead) const {
        return m_Pos + ahead < m_Text.size() ? m_Text[m_Pos + ahead] : L'\0';
    }

    bool Fail(DWORD* error, size_t* where) {
        *error = m_Error;
        *where = m_Pos;
        return false;
    }

    // A SID runs to the next section letter, ';' or ')'.
    bool ParseSidInto(std::optional<Sid>* target) {
        std::optional<Sid> sid = ParseSid();
        if (!sid) {
            return false;
        }
        *target = std::move(sid);
        return true;
    }

    std::optional<Sid> ParseSid() {
        if (m_Text.compare(m_Pos, 2, L"S-") == 0) {
            size_t end = m_Pos + 2;
            while (end < m_Text.size() && (std::iswdigit(m_Text[end]) || m_Text[end] == L'-')) {
                ++end;
            }
            auto sid = ParseSidString(m_Text.substr(m_Pos, end - m_Pos));
            if (sid) {
                m_Pos = end;
            }
            return sid;
        }
        auto sid = SidForAlias(m_Text.substr(m_Pos, 2));
        if (!sid) {
            if (std::iswupper(m_Text[m_Pos]) && std::iswupper(Peek(1))) {
                m_Error = ERROR_NONE_MAPPED;
            }
            return std::nullopt;
        }
        m_Pos += 2;
        return sid;
    }

    bool ParseDacl(Descriptor* out) {
        out->daclPresent = true;
        // Inheritance flags change nothing for a single object; accepted.
        for (const wchar_t* flag : {L"P", L"AI", L"AR"}) {
            std::wstring_view f(flag);
            if (m_Text.compare(m_Pos, f.size(), f) == 0) {
                m_Pos += f.size();
            }
        }
        while (Peek(0) == L'(') {
            ++m_Pos;
            Ace ace;
            if (!ParseAce(&ace)) {
                return false;
            }
            out->dacl.push_back(std::move(ace));
        }
        return true;
    }

    // type;flags;rights;object;inherit-object;sid
    bool ParseAce(Ace* ace) {
        wchar_t type = Peek(0);
        if ((type != L'A' && type != L'D') || Peek(1) != L';' || Peek(2) != L';') {
            return false;
        }
        ace->type = type == L'A' ? kAceAllow : kAceDeny;
        m_Pos += 3;
        if (!ParseRights(&ace->mask) || !Expect(L";;;")) {
            return false;
        }
        std::optional<Sid> sid = ParseSid();
        if (!sid || !Expect(L")")) {
            return false;
        }
        ace->sid = std::move(*sid);
        return true;
    }

    bool ParseRights(ACCESS_MASK* mask) {
        struct Letters {
            const wchar_t* code;
            ACCESS_MASK bits;
        };
        static const Letters letters[] = {{L"GA", GENERIC_ALL},
                                          {L"GR", GENERIC_READ},
                                          {L"GW", GENERIC_WRITE},
                                          {L"GX", GENERIC_EXECUTE},
                                          {L"RC", READ_CONTROL}};
        *mask = 0;
        if (std::iswdigit(Peek(0))) {
            return ParseNumber(mask);
        }
        size_t start = m_Pos;
        while (Peek(0) != L';' && Peek(0) != L'\0') {
            bool known = false;
            for (const Letters& l : letters) {
                if (m_Text.compare(m_Pos, 2, l.code) == 0) {
                    *mask |= l.bits;
                    m_Pos += 2;
                    known = true;
                    break;
                }
            }
            if (!known) {
                return false;
            }
        }
        return m_Pos > start;
    }

    bool ParseNumber(ACCESS_MASK* mask) {
        bool hex = Peek(0) == L'0' && (Peek(1) == L'x' || Peek(1) == L'X');
        if (hex) {
            m_Pos += 2;
        }
        uint64_t value = 0;
        size_t digits = 0;
        while (true) {
            wchar_t c = Peek(0);
            int digit = -1;
            if (c >= L'0' && c <= L'9') {
                digit = c - L'0';
            } else if (hex && std::iswxdigit(c)) {
                digit = 10 + (std::towlower(c) - L'a');
            }
            if (digit < 0) {
                break;
            }
            value = value * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
            if (value > 0xFFFFFFFFull) {
                return false;
            }
            ++m_Pos;
            ++digits;
        }
        *mask = static_cast<ACCESS_MASK>(value);
        return digits > 0;
    }

    bool Expect(std::wstring_view text) {
        if (m_Text.compare(m_Pos, text.size(), text) != 0) {
            return false;
        }
        m_Pos += text.size();
        return true;
    }

    std::wstring m_Text;
    size_t m_Pos = 0;
    DWORD m_Error = ERROR_INVALID_PARAMETER;
};

} // namespace
} // namespace svcproc::security

BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(const wchar_t* sddl, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          ULONG* size) {
    using namespace svcproc::security;
    if (descriptor != nullptr) {
        *descriptor = nullptr;
    }
    if (sddl == nullptr || descriptor == nullptr || revision != SDDL_REVISION_1) {
        LogQuick(LOG_ERROR, "ConvertStringSecurityDescriptorToSecurityDescriptorW - invalid "
                            "parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Descriptor parsed;
    DWORD error = 0;
    size_t where = 0;
    if (!SddlParser(sddl).Parse(&parsed, &error, &where)) {
        WLog(LOG_ERROR,
             L"ConvertStringSecurityDescriptorToSecurityDescriptorW - bad SDDL at offset %u: "
             L"%s, error=0x%08x",
             static_cast<unsigned>(where), sddl, static_cast<unsigned>(error));
        SetLastError(error);
        return FALSE;
    }
    uint32_t built = 0;
    *descriptor = BuildDescriptor(parsed, &built);
    if (*descriptor == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    if (size != nullptr) {
        *size = built;
    }
    return TRUE;
}
