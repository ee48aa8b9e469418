// The schema: classes, their properties and qualifiers, loaded from a MOF
// file. Names of namespaces, classes, properties and qualifiers compare
// without regard to case.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "WbemTypes.h"

namespace svcproc::wbem {

// One literal of a qualifier value or a default value.
struct MofConstant {
    enum class Kind { Null, Boolean, Integer, Real, String };
    Kind kind = Kind::Null;
    bool boolean = false;
    bool negative = false; // Integer: the value is -magnitude
    uint64_t magnitude = 0;
    double real = 0.0;
    std::wstring text;
};

struct MofValue {
    bool isArray = false;
    std::vector<MofConstant> items; // exactly one unless isArray
};

struct Qualifier {
    std::wstring name;
    MofValue value; // a qualifier written without a value is Boolean true
};

struct PropertyDecl {
    std::wstring name;
    CIMTYPE type = CIM_EMPTY; // CIM_FLAG_ARRAY set for an array property
    std::vector<Qualifier> qualifiers;
    bool hasDefault = false;
    MofValue defaultValue;
    std::wstring origin; // the class that declares it

    SVCP_WBEM_EXPORT const Qualifier* FindQualifier(const std::wstring& qualifier) const;
    // True when it carries the qualifier with the value true (or no value).
    SVCP_WBEM_EXPORT bool HasTrueQualifier(const std::wstring& qualifier) const;
    bool IsKey() const { return HasTrueQualifier(L"key"); }
};

struct ClassDecl {
    std::wstring name;
    std::wstring superclass;             // empty for a root class
    std::wstring nameSpace;              // "root\cimv2", without a server prefix
    std::vector<std::wstring> ancestors; // nearest first
    std::vector<Qualifier> qualifiers;   // the class's own
    // Inherited properties first, then its own in declaration order; an
    // override keeps the inherited place.
    std::vector<PropertyDecl> properties;

    SVCP_WBEM_EXPORT const Qualifier* FindQualifier(const std::wstring& qualifier) const;
    SVCP_WBEM_EXPORT bool HasTrueQualifier(const std::wstring& qualifier) const;
    // The index of the property, or -1.
    SVCP_WBEM_EXPORT int FindProperty(const std::wstring& property) const;
    // The class itself or one of its ancestors.
    SVCP_WBEM_EXPORT bool InheritsFrom(const std::wstring& ancestor) const;
    // The text of the class's own `provider` qualifier, or empty.
    SVCP_WBEM_EXPORT std::wstring Provider() const;
    bool IsAbstract() const { return HasTrueQualifier(L"abstract"); }
    bool IsEventClass() const { return InheritsFrom(L"__Event"); }
    bool IsSystemClass() const { return name.rfind(L"__", 0) == 0; }
};

class Schema {
public:
    // Adds a class; false when its namespace already holds that name.
    SVCP_WBEM_EXPORT bool AddClass(std::shared_ptr<const ClassDecl> decl);
    SVCP_WBEM_EXPORT std::shared_ptr<const ClassDecl> FindClass(const std::wstring& nameSpace,
                                                                const std::wstring& name) const;
    SVCP_WBEM_EXPORT bool HasNamespace(const std::wstring& nameSpace) const;
    // Every class, in the order added (system classes included).
    const std::vector<std::shared_ptr<const ClassDecl>>& Classes() const { return m_vClasses; }
    // The classes whose `provider` qualifier names the registration, in
    // `nameSpace` (empty: any namespace).
    SVCP_WBEM_EXPORT std::vector<std::shared_ptr<const ClassDecl>>
    ClassesOfProvider(const std::wstring& provider, const std::wstring& nameSpace = L"") const;

private:
    std::vector<std::shared_ptr<const ClassDecl>> m_vClasses;
};

// "\\.\root\cimv2", "//server/root/cimv2" and "ROOT\CIMV2" all name
// "root\cimv2": the server part is dropped and slashes become backslashes;
// letter case is kept.
SVCP_WBEM_EXPORT std::wstring NormaliseNamespace(const std::wstring& nameSpace);
SVCP_WBEM_EXPORT bool NamesEqual(const std::wstring& a, const std::wstring& b);

// Parses MOF text into `schema` (classes, superclasses, qualifiers, scalar
// and array properties with defaults, #pragma namespace). The system classes
// __Event and __ExtrinsicEvent are present in every namespace the text uses.
// On error: false and "file:line:column: message" in *error; `schema` may
// then hold the classes before the error.
SVCP_WBEM_EXPORT bool ParseMof(const std::string& text, const std::string& fileName, Schema* schema,
                               std::string* error);
SVCP_WBEM_EXPORT std::shared_ptr<const Schema> LoadSchemaFile(const std::string& path,
                                                              std::string* error);

// The schema file the layer uses: $SVCPROC_SCHEMA when set, else vqx.mof
// installed with the layer (share/svcproc/ beside the library's lib/).
SVCP_WBEM_EXPORT std::string DefaultSchemaPath();
// The schema of DefaultSchemaPath(), loaded on first use and kept while the
// path stays the same; null and *error when it cannot be loaded.
SVCP_WBEM_EXPORT std::shared_ptr<const Schema> GetSchema(std::string* error);

} // namespace svcproc::wbem
