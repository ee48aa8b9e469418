// Parser of the MOF subset: #pragma namespace, qualified class declarations
// with an optional superclass, and scalar or array properties with
// qualifiers and default values. The first error ends the parse.
#include <memory>
#include <string>

#include "MofLexer.h"
#include "Schema.h"
#include "WbemInternal.h"

namespace svcproc::wbem {
namespace {

std::string Narrow(const std::wstring& text) {
    std::string result;
    for (wchar_t c : text) {
        result += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return result;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

struct TypeName {
    const char* name;
    CIMTYPE type;
};

constexpr TypeName kTypes[] = {
    {"sint8", CIM_SINT8},       {"uint8", CIM_UINT8},     {"sint16", CIM_SINT16},
    {"uint16", CIM_UINT16},     {"sint32", CIM_SINT32},   {"uint32", CIM_UINT32},
    {"sint64", CIM_SINT64},     {"uint64", CIM_UINT64},   {"real32", CIM_REAL32},
    {"real64", CIM_REAL64},     {"boolean", CIM_BOOLEAN}, {"string", CIM_STRING},
    {"datetime", CIM_DATETIME}, {"char16", CIM_CHAR16},
};

constexpr const char* kFlavors[] = {"ToSubclass",     "ToInstance",      "Restricted",
                                    "EnableOverride", "DisableOverride", "Translatable",
                                    "Amended"};

constexpr const wchar_t* kBooleanQualifiers[] = {L"key", L"abstract", L"dynamic"};

class MofParser {
public:
    MofParser(const std::string& text, const std::string& fileName, Schema* schema)
        : m_Lexer(text), m_FileName(fileName), m_pSchema(schema) {}

    bool Parse(std::string* error) {
        bool ok = Advance() && ParseFile();
        if (!ok) {
            *error = m_Error;
        }
        return ok;
    }

private:
    bool Fail(const MofToken& at, const std::string& message) {
        m_Error = m_FileName + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) +
                  ": " + message;
        return false;
    }

    bool Advance() {
        std::string message;
        if (!m_Lexer.Next(&m_Token, &message)) {
            return Fail(m_Token, message);
        }
        return true;
    }

    bool IsPunct(const char* punct) const {
        return m_Token.type == MofToken::Type::Punct && m_Token.text == punct;
    }

    bool IsKeyword(const char* keyword) const {
        return m_Token.type == MofToken::Type::Identifier &&
               NamesEqual(Widen(m_Token.text), Widen(keyword));
    }

    bool Expect(const char* punct, const std::string& where) {
        if (!IsPunct(punct)) {
            return Fail(m_Token, std::string("expected '") + punct + "'" + where + ", found " +
                                     DescribeToken(m_Token));
        }
        return Advance();
    }

    bool ExpectIdentifier(const std::string& what, MofToken* out) {
        if (m_Token.type != MofToken::Type::Identifier) {
            return Fail(m_Token, "expected " + what + ", found " + DescribeToken(m_Token));
        }
        *out = m_Token;
        return Advance();
    }

    bool ParseFile() {
        while (m_Token.type != MofToken::Type::End) {
            bool ok = IsPunct("#") ? ParsePragma() : ParseClass();
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    bool ParsePragma() {
        if (!Advance()) {
            return false;
        }
        if (!IsKeyword("pragma")) {
            return Fail(m_Token, "expected 'pragma' after '#'");
        }
        MofToken name;
        if (!Advance() || !ExpectIdentifier("pragma name", &name)) {
            return false;
        }
        if (!NamesEqual(Widen(name.text), L"namespace")) {
            return Fail(name, "unknown pragma '" + name.text + "'");
        }
        if (!Expect("(", " after '#pragma namespace'")) {
            return false;
        }
        MofToken at = m_Token;
        std::wstring text;
        if (!ParseStringLiteral("namespace string", &text)) {
            return false;
        }
        std::wstring nameSpace = NormaliseNamespace(text);
        if (nameSpace.empty()) {
            return Fail(at, "empty namespace");
        }
        m_NameSpace = nameSpace;
        return Expect(")", " after the namespace");
    }

    // One or more adjacent string literals, joined.
    bool ParseStringLiteral(const std::string& what, std::wstring* out) {
        if (m_Token.type != MofToken::Type::String) {
            return Fail(m_Token, "expected " + what + ", found " + DescribeToken(m_Token));
        }
        while (m_Token.type == MofToken::Type::String) {
            *out += m_Token.value;
            if (!Advance()) {
                return false;
            }
        }
        return true;
    }

    bool ParseConstant(MofConstant* out) {
        bool negative = false;
        MofToken at = m_Token;
        if (IsPunct("-") || IsPunct("+")) {
            negative = IsPunct("-");
            if (!Advance()) {
                return false;
            }
            if (m_Token.type != MofToken::Type::Integer && m_Token.type != MofToken::Type::Real) {
                return Fail(m_Token, "expected a number after the sign");
            }
        }
        switch (m_Token.type) {
        case MofToken::Type::Integer:
            if (negative && m_Token.magnitude > (uint64_t{1} << 63)) {
                return Fail(at, "integer out of range");
            }
            out->kind = MofConstant::Kind::Integer;
            out->negative = negative && m_Token.magnitude != 0;
            out->magnitude = m_Token.magnitude;
            return Advance();
        case MofToken::Type::Real:
            out->kind = MofConstant::Kind::Real;
            out->real = negative ? -m_Token.real : m_Token.real;
            return Advance();
        case MofToken::Type::String:
            out->kind = MofConstant::Kind::String;
            return ParseStringLiteral("string", &out->text);
        default:
            break;
        }
        if (IsKeyword("true") || IsKeyword("false")) {
            out->kind = MofConstant::Kind::Boolean;
            out->boolean = IsKeyword("true");
            return Advance();
        }
        if (IsKeyword("null")) {
            out->kind = MofConstant::Kind::Null;
            return Advance();
        }
        return Fail(m_Token, "expected a value, found " + DescribeToken(m_Token));
    }

    // A constant, or a braced list of constants.
    bool ParseValue(MofValue* out) {
        if (!IsPunct("{")) {
            out->isArray = false;
            out->items.resize(1);
            return ParseConstant(&out->items[0]);
        }
        out->isArray = true;
        if (!Advance()) {
            return false;
        }
        while (!IsPunct("}")) {
            if (!out->items.empty() && !Expect(",", " between array values")) {
                return false;
            }
            MofConstant item;
            if (!ParseConstant(&item)) {
                return false;
            }
            out->items.push_back(std::move(item));
        }
        return Advance();
    }

    bool CheckQualifier(const MofToken& at, const Qualifier& qualifier) {
        const MofValue& value = qualifier.value;
        bool scalar = !value.isArray && value.items.size() == 1;
        for (const wchar_t* name : kBooleanQualifiers) {
            if (NamesEqual(qualifier.name, name) &&
                !(scalar && value.items[0].kind == MofConstant::Kind::Boolean)) {
                return Fail(at, "qualifier '" + Narrow(qualifier.name) + "' takes a boolean value");
            }
        }
        if (NamesEqual(qualifier.name, L"provider") &&
            !(scalar && value.items[0].kind == MofConstant::Kind::String)) {
            return Fail(at, "qualifier 'provider' takes a string value");
        }
        return true;
    }

    bool ParseFlavors() {
        while (m_Token.type == MofToken::Type::Identifier) {
            bool known = false;
            for (const char* flavor : kFlavors) {
                known = known || IsKeyword(flavor);
            }
            if (!known) {
                return Fail(m_Token, "unknown qualifier flavor '" + m_Token.text + "'");
            }
            if (!Advance()) {
                return false;
            }
        }
        return true;
    }

    bool ParseQualifier(std::vector<Qualifier>* qualifiers) {
        MofToken name;
        if (!ExpectIdentifier("qualifier name", &name)) {
            return false;
        }
        Qualifier qualifier;
        qualifier.name = Widen(name.text);
        for (const Qualifier& existing : *qualifiers) {
            if (NamesEqual(existing.name, qualifier.name)) {
                return Fail(name, "qualifier '" + name.text + "' appears twice");
            }
        }
        if (IsPunct("(")) {
            if (!Advance() || !ParseValue(&qualifier.value) ||
                !Expect(")", " after the value of qualifier '" + name.text + "'")) {
                return false;
            }
        } else if (IsPunct("{")) {
            if (!ParseValue(&qualifier.value)) {
                return false;
            }
        } else {
            MofConstant yes;
            yes.kind = MofConstant::Kind::Boolean;
            yes.boolean = true;
            qualifier.value.items.push_back(yes);
        }
        if (IsPunct(":")) {
            if (!Advance() || !ParseFlavors()) {
                return false;
            }
        }
        if (!CheckQualifier(name, qualifier)) {
            return false;
        }
        qualifiers->push_back(std::move(qualifier));
        return true;
    }

    bool ParseQualifierList(std::vector<Qualifier>* qualifiers) {
        if (!IsPunct("[")) {
            return true;
        }
        if (!Advance()) {
            return false;
        }
        while (true) {
            if (!ParseQualifier(qualifiers)) {
                return false;
            }
            if (IsPunct("]")) {
                return Advance();
            }
            if (!Expect(",", " or ']' in the qualifier list")) {
                return false;
            }
        }
    }

    void EnsureSystemClasses() {
        if (m_pSchema->FindClass(m_NameSpace, L"__Event")) {
            return;
        }
        Qualifier abstract;
        abstract.name = L"abstract";
        abstract.value.items.push_back({MofConstant::Kind::Boolean, true, false, 0, 0.0, {}});
        auto event = std::make_shared<ClassDecl>();
        event->name = L"__Event";
        event->nameSpace = m_NameSpace;
        event->qualifiers.push_back(abstract);
        auto extrinsic = std::make_shared<ClassDecl>(*event);
        extrinsic->name = L"__ExtrinsicEvent";
        extrinsic->superclass = L"__Event";
        extrinsic->ancestors = {L"__Event"};
        m_pSchema->AddClass(event);
        m_pSchema->AddClass(extrinsic);
    }

    bool ParseClass() {
        std::vector<Qualifier> qualifiers;
        if (!ParseQualifierList(&qualifiers)) {
            return false;
        }
        if (IsKeyword("instance") || IsKeyword("qualifier")) {
            return Fail(m_Token, m_Token.text + " declarations are not supported");
        }
        if (!IsKeyword("class")) {
            return Fail(m_Token, "expected 'class', found " + DescribeToken(m_Token));
        }
        EnsureSystemClasses();
        MofToken name;
        if (!Advance() || !ExpectIdentifier("class name", &name)) {
            return false;
        }
        auto decl = std::make_shared<ClassDecl>();
        decl->name = Widen(name.text);
        decl->nameSpace = m_NameSpace;
        decl->qualifiers = std::move(qualifiers);
        if (m_pSchema->FindClass(m_NameSpace, decl->name)) {
            return Fail(name, "class '" + name.text + "' is already declared in namespace '" +
                                  Narrow(m_NameSpace) + "'");
        }
        if (IsPunct(":") && !ParseSuperclass(decl.get())) {
            return false;
        }
        if (!Expect("{", " to open class '" + name.text + "'")) {
            return false;
        }
        while (!IsPunct("}")) {
            if (!ParseProperty(decl.get())) {
                return false;
            }
        }
        if (!Advance() || !Expect(";", " after class '" + name.text + "'")) {
            return false;
        }
        m_pSchema->AddClass(decl);
        return true;
    }

    bool ParseSuperclass(ClassDecl* decl) {
        MofToken superName;
        if (!Advance() || !ExpectIdentifier("superclass name", &superName)) {
            return false;
        }
        auto super = m_pSchema->FindClass(m_NameSpace, Widen(superName.text));
        if (!super) {
            return Fail(superName, "unknown superclass '" + superName.text + "'");
        }
        decl->superclass = super->name;
        decl->ancestors.push_back(super->name);
        decl->ancestors.insert(decl->ancestors.end(), super->ancestors.begin(),
                               super->ancestors.end());
        decl->properties = super->properties;
        return true;
    }

    bool ParseType(CIMTYPE* type) {
        if (m_Token.type != MofToken::Type::Identifier) {
            return Fail(m_Token, "expected a property type, found " + DescribeToken(m_Token));
        }
        for (const TypeName& entry : kTypes) {
            if (IsKeyword(entry.name)) {
                *type = entry.type;
                return Advance();
            }
        }
        if (IsKeyword("object")) {
            return Fail(m_Token, "embedded objects are not supported");
        }
        MofToken at = m_Token;
        if (!Advance()) {
            return false;
        }
        if (IsKeyword("ref")) {
            return Fail(at, "references are not supported");
        }
        return Fail(at, "unknown type '" + at.text + "'");
    }

    bool ParseProperty(ClassDecl* decl) {
        PropertyDecl property;
        if (!ParseQualifierList(&property.qualifiers)) {
            return false;
        }
        MofToken typeAt = m_Token;
        MofToken name;
        if (!ParseType(&property.type) || !ExpectIdentifier("property name", &name)) {
            return false;
        }
        property.name = Widen(name.text);
        if (IsPunct("(")) {
            return Fail(m_Token, "methods are not supported");
        }
        if (IsPunct("[")) {
            if (!Advance() || !Expect("]", " (fixed-size arrays are not supported)")) {
                return false;
            }
            property.type |= CIM_FLAG_ARRAY;
        }
        if (property.IsKey() && (property.type & CIM_FLAG_ARRAY)) {
            return Fail(name, "key property '" + name.text + "' cannot be an array");
        }
        if (IsPunct("=")) {
            if (!Advance()) {
                return false;
            }
            MofToken valueAt = m_Token;
            if (!ParseValue(&property.defaultValue) || !CheckDefault(valueAt, property)) {
                return false;
            }
            property.hasDefault = true;
        }
        if (!Expect(";", " after property '" + name.text + "'")) {
            return false;
        }
        return AddProperty(typeAt, name, decl, std::move(property));
    }

    bool CheckDefault(const MofToken& at, const PropertyDecl& property) {
        VARIANT value;
        HRESULT hr = MofValueToVariant(property.defaultValue, property.type, &value);
        VariantClear(&value);
        if (hr == WBEM_E_OUT_OF_MEMORY) {
            return Fail(at, "out of memory");
        }
        if (FAILED(hr)) {
            return Fail(at, "default value of property '" + Narrow(property.name) +
                                "' does not match its type " + Narrow(CimTypeName(property.type)));
        }
        return true;
    }

    bool AddProperty(const MofToken& typeAt, const MofToken& name, ClassDecl* decl,
                     PropertyDecl property) {
        int index = decl->FindProperty(property.name);
        if (index < 0) {
            property.origin = decl->name;
            decl->properties.push_back(std::move(property));
            return true;
        }
        PropertyDecl& inherited = decl->properties[static_cast<size_t>(index)];
        if (NamesEqual(inherited.origin, decl->name)) {
            return Fail(name, "property '" + name.text + "' is declared twice in class '" +
                                  Narrow(decl->name) + "'");
        }
        if (inherited.type != property.type) {
            return Fail(typeAt, "property '" + name.text + "' overrides an inherited " +
                                    Narrow(CimTypeName(inherited.type)) + " with " +
                                    Narrow(CimTypeName(property.type)));
        }
        // An override keeps the inherited qualifiers it does not restate.
        for (const Qualifier& qualifier : inherited.qualifiers) {
            if (!property.FindQualifier(qualifier.name)) {
                property.qualifiers.push_back(qualifier);
            }
        }
        if (!property.hasDefault) {
            property.hasDefault = inherited.hasDefault;
            property.defaultValue = inherited.defaultValue;
        }
        property.origin = inherited.origin;
        inherited = std::move(property);
        return true;
    }

    MofLexer m_Lexer;
    std::string m_FileName;
    Schema* m_pSchema;
    MofToken m_Token;
    std::wstring m_NameSpace = L"root\\default";
    std::string m_Error;
};

} // namespace

bool ParseMof(const std::string& text, const std::string& fileName, Schema* schema,
              std::string* error) {
    std::string message;
    bool ok = false;
    if (schema == nullptr) {
        message = fileName + ": no schema to fill";
    } else {
        try {
            ok = MofParser(text, fileName, schema).Parse(&message);
        } catch (const std::bad_alloc&) {
            message = fileName + ": out of memory";
        }
    }
    if (!ok && error != nullptr) {
        *error = message;
    }
    return ok;
}

} // namespace svcproc::wbem
