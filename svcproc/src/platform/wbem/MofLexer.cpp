#include "MofLexer.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace svcproc::wbem {
namespace {
bool IsIdentifierStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool IsIdentifierChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}
bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string Printable(char c) {
    if (std::isprint(static_cast<unsigned char>(c))) {
        return std::string(1, c);
    }
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\x%02x", static_cast<unsigned char>(c));
    return buffer;
}
} // namespace

std::string DescribeToken(const MofToken& token) {
    switch (token.type) {
    case MofToken::Type::End:
        return "end of file";
    case MofToken::Type::Identifier:
        return "identifier '" + token.text + "'";
    case MofToken::Type::Integer:
    case MofToken::Type::Real:
        return "number";
    case MofToken::Type::String:
        return "string";
    case MofToken::Type::Punct:
        return "'" + token.text + "'";
    }
    return "token";
}

char MofLexer::Peek(size_t ahead) const {
    return m_nPos + ahead < m_Text.size() ? m_Text[m_nPos + ahead] : '\0';
}

void MofLexer::Advance() {
    if (m_nPos >= m_Text.size()) {
        return;
    }
    if (m_Text[m_nPos] == '\n') {
        ++m_nLine;
        m_nColumn = 1;
    } else {
        ++m_nColumn;
    }
    ++m_nPos;
}

bool MofLexer::SkipSpaceAndComments(std::string* error) {
    while (m_nPos < m_Text.size()) {
        char c = Peek();
        if (std::isspace(static_cast<unsigned char>(c))) {
            Advance();
        } else if (c == '/' && Peek(1) == '/') {
            while (m_nPos < m_Text.size() && Peek() != '\n') {
                Advance();
            }
        } else if (c == '/' && Peek(1) == '*') {
            m_nMarkLine = m_nLine;
            m_nMarkColumn = m_nColumn;
            Advance();
            Advance();
            while (!(Peek() == '*' && Peek(1) == '/')) {
                if (m_nPos >= m_Text.size()) {
                    *error = "unterminated comment";
                    return false;
                }
                Advance();
            }
            Advance();
            Advance();
        } else {
            return true;
        }
    }
    return true;
}

bool MofLexer::Next(MofToken* token, std::string* error) {
    *token = MofToken{};
    if (!SkipSpaceAndComments(error)) {
        token->line = m_nMarkLine;
        token->column = m_nMarkColumn;
        return false;
    }
    token->line = m_nLine;
    token->column = m_nColumn;
    if (m_nPos >= m_Text.size()) {
        token->type = MofToken::Type::End;
        return true;
    }
    char c = Peek();
    if (IsIdentifierStart(c)) {
        token->type = MofToken::Type::Identifier;
        while (IsIdentifierChar(Peek())) {
            token->text += Peek();
            Advance();
        }
        return true;
    }
    if (IsDigit(c)) {
        return ReadNumber(token, error);
    }
    if (c == '"') {
        return ReadString(token, error);
    }
    static const std::string kPunct = "[](){};,:=#+-";
    if (kPunct.find(c) != std::string::npos) {
        token->type = MofToken::Type::Punct;
        token->text = std::string(1, c);
        Advance();
        return true;
    }
    *error = "unexpected character '" + Printable(c) + "'";
    return false;
}

bool MofLexer::ReadNumber(MofToken* token, std::string* error) {
    size_t start = m_nPos;
    if (Peek() == '0' && (Peek(1) == 'x' || Peek(1) == 'X')) {
        Advance();
        Advance();
        if (HexValue(Peek()) < 0) {
            *error = "malformed hexadecimal number";
            return false;
        }
        uint64_t value = 0;
        while (HexValue(Peek()) >= 0) {
            if (value >> 60) {
                *error = "integer out of range";
                return false;
            }
            value = value * 16 + static_cast<uint64_t>(HexValue(Peek()));
            Advance();
        }
        token->type = MofToken::Type::Integer;
        token->magnitude = value;
    } else {
        while (IsDigit(Peek())) {
            Advance();
        }
        bool isReal = false;
        if (Peek() == '.' && IsDigit(Peek(1))) {
            isReal = true;
            Advance();
            while (IsDigit(Peek())) {
                Advance();
            }
        }
        if (Peek() == 'e' || Peek() == 'E') {
            isReal = true;
            Advance();
            if (Peek() == '+' || Peek() == '-') {
                Advance();
            }
            if (!IsDigit(Peek())) {
                *error = "malformed number";
                return false;
            }
            while (IsDigit(Peek())) {
                Advance();
            }
        }
        std::string digits = m_Text.substr(start, m_nPos - start);
        errno = 0;
        if (isReal) {
            token->type = MofToken::Type::Real;
            token->real = std::strtod(digits.c_str(), nullptr);
        } else {
            token->type = MofToken::Type::Integer;
            token->magnitude = std::strtoull(digits.c_str(), nullptr, 10);
        }
        if (errno == ERANGE) {
            *error = isReal ? "number out of range" : "integer out of range";
            return false;
        }
    }
    if (IsIdentifierChar(Peek())) {
        *error = "malformed number";
        return false;
    }
    return true;
}

bool MofLexer::ReadEscape(std::wstring* out, std::string* error) {
    Advance(); // the backslash
    char c = Peek();
    switch (c) {
    case 'b':
        *out += L'\b';
        break;
    case 't':
        *out += L'\t';
        break;
    case 'n':
        *out += L'\n';
        break;
    case 'f':
        *out += L'\f';
        break;
    case 'r':
        *out += L'\r';
        break;
    case '"':
        *out += L'"';
        break;
    case '\'':
        *out += L'\'';
        break;
    case '\\':
        *out += L'\\';
        break;
    case 'x':
    case 'X': {
        Advance();
        uint32_t value = 0;
        int digits = 0;
        while (digits < 4 && HexValue(Peek()) >= 0) {
            value = value * 16 + static_cast<uint32_t>(HexValue(Peek()));
            Advance();
            ++digits;
        }
        if (digits == 0) {
            *error = "invalid escape sequence";
            return false;
        }
        *out += static_cast<wchar_t>(value);
        return true;
    }
    default:
        *error = "invalid escape sequence '\\" + Printable(c) + "'";
        return false;
    }
    Advance();
    return true;
}

bool MofLexer::ReadUtf8(std::wstring* out, std::string* error) {
    unsigned char lead = static_cast<unsigned char>(Peek());
    int extra = lead >= 0xF0 && lead < 0xF8 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : -1;
    if (extra < 0 || lead >= 0xF8) {
        *error = "invalid UTF-8 in string";
        return false;
    }
    uint32_t value = lead & (0x3F >> extra);
    Advance();
    for (int i = 0; i < extra; ++i) {
        unsigned char next = static_cast<unsigned char>(Peek());
        if ((next & 0xC0) != 0x80) {
            *error = "invalid UTF-8 in string";
            return false;
        }
        value = (value << 6) | (next & 0x3F);
        Advance();
    }
    if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        *error = "invalid UTF-8 in string";
        return false;
    }
    *out += static_cast<wchar_t>(value);
    return true;
}

bool MofLexer::ReadString(MofToken* token, std::string* error) {
    token->type = MofToken::Type::String;
    Advance(); // the opening quote
    while (true) {
        char c = Peek();
        if (m_nPos >= m_Text.size() || c == '\n') {
            *error = "unterminated string";
            return false;
        }
        if (c == '"') {
            Advance();
            return true;
        }
        if (c == '\\') {
            if (!ReadEscape(&token->value, error)) {
                return false;
            }
        } else if (static_cast<unsigned char>(c) >= 0x80) {
            if (!ReadUtf8(&token->value, error)) {
                return false;
            }
        } else {
            token->value += static_cast<wchar_t>(c);
            Advance();
        }
    }
}

} // namespace svcproc::wbem
