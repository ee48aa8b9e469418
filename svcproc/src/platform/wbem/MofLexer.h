// Tokens of the MOF subset the schema is written in.
#pragma once

#include <cstdint>
#include <string>

namespace svcproc::wbem {

struct MofToken {
    enum class Type { End, Identifier, Integer, Real, String, Punct };
    Type type = Type::End;
    std::string text;   // identifier or punctuation character
    std::wstring value; // string literal, escapes decoded
    uint64_t magnitude = 0;
    double real = 0.0;
    int line = 1;
    int column = 1;
};

class MofLexer {
public:
    explicit MofLexer(const std::string& text) : m_Text(text) {}

    // False with *error (no location) on a malformed token; the token's
    // position is still set so the caller can report it.
    bool Next(MofToken* token, std::string* error);

private:
    bool SkipSpaceAndComments(std::string* error);
    bool ReadString(MofToken* token, std::string* error);
    bool ReadNumber(MofToken* token, std::string* error);
    bool ReadEscape(std::wstring* out, std::string* error);
    bool ReadUtf8(std::wstring* out, std::string* error);
    char Peek(size_t ahead = 0) const;
    void Advance();

    const std::string& m_Text;
    size_t m_nPos = 0;
    int m_nLine = 1;
    int m_nColumn = 1;
    int m_nMarkLine = 1; // where the comment being skipped began
    int m_nMarkColumn = 1;
};

// A token as error messages name it: "'{'", "identifier 'abc'", "end of file".
std::string DescribeToken(const MofToken& token);

} // namespace svcproc::wbem
