// The MOF subset: what it accepts and how it reports what it does not.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

#include "Wbem.h"

using svcproc::wbem::ClassDecl;
using svcproc::wbem::MofConstant;
using svcproc::wbem::ParseMof;
using svcproc::wbem::Schema;

namespace {

struct ErrorCase {
    const char* text;
    const char* error;
};

const ErrorCase kErrorCases[] = {
    {"class A { uint16 X }", "t.mof:1:20: expected ';' after property 'X', found '}'"},
    {"class A : B {};", "t.mof:1:11: unknown superclass 'B'"},
    {"class A {\n  uint17 X;\n};", "t.mof:2:3: unknown type 'uint17'"},
    {"class A {};\nclass a {};",
     "t.mof:2:7: class 'a' is already declared in namespace 'root\\default'"},
    {"class A {\n string X;\n string x;\n};",
     "t.mof:3:9: property 'x' is declared twice in class 'A'"},
    {"class A { uint8 X = 256; };",
     "t.mof:1:21: default value of property 'X' does not match its type uint8"},
    {"class A { uint32 X = -1; };",
     "t.mof:1:22: default value of property 'X' does not match its type uint32"},
    {"class A { string S = 5; };",
     "t.mof:1:22: default value of property 'S' does not match its type string"},
    {"class A { string S[] = \"x\"; };",
     "t.mof:1:24: default value of property 'S' does not match its type string[]"},
    {"class A { string S = \"abc; };", "t.mof:1:22: unterminated string"},
    {"class A { string S = \"\\q\"; };", "t.mof:1:22: invalid escape sequence '\\q'"},
    {"/* open comment\nclass A {};", "t.mof:1:1: unterminated comment"},
    {"#pragma locale(\"en\")", "t.mof:1:9: unknown pragma 'locale'"},
    {"#pragma namespace(\"\\\\\\\\.\")", "t.mof:1:19: empty namespace"},
    {"class A { [key] string K[]; };", "t.mof:1:24: key property 'K' cannot be an array"},
    {"[provider(5)] class A {};", "t.mof:1:2: qualifier 'provider' takes a string value"},
    {"[key(\"yes\")] class A {};", "t.mof:1:2: qualifier 'key' takes a boolean value"},
    {"[abstract, abstract] class A {};", "t.mof:1:12: qualifier 'abstract' appears twice"},
    {"[Description(\"x\") : Sticky] class A {};", "t.mof:1:21: unknown qualifier flavor 'Sticky'"},
    {"class A { string S; } ", "t.mof:1:23: expected ';' after class 'A', found end of file"},
    {"class A { sint32 X = -; };", "t.mof:1:23: expected a number after the sign"},
    {"class A { uint16 X; };\nclass B : A { string X; };",
     "t.mof:2:15: property 'X' overrides an inherited uint16 with string"},
    {"class A { uint16 X(); };", "t.mof:1:19: methods are not supported"},
    {"class A { B ref R; };", "t.mof:1:11: references are not supported"},
    {"class A { string S[4]; };", "t.mof:1:20: expected ']' (fixed-size arrays are not "
                                  "supported), found number"},
    {"instance of A {};", "t.mof:1:1: instance declarations are not supported"},
    {"klass A {};", "t.mof:1:1: expected 'class', found identifier 'klass'"},
    {"class A { $ };", "t.mof:1:11: unexpected character '$'"},
    {"class A { uint64 X = 99999999999999999999; };", "t.mof:1:22: integer out of range"},
    {"class A { sint64 X = 12abc; };", "t.mof:1:22: malformed number"},
    {"class A { string S = \"\xff\"; };", "t.mof:1:22: invalid UTF-8 in string"},
    {"class A {\n\tstring S;\n", "t.mof:3:1: expected a property type, found end of file"},
    {"class", "t.mof:1:6: expected class name, found end of file"},
};

class MofErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(MofErrors, NamesFileLineColumnAndProblem) {
    Schema schema;
    std::string error;
    EXPECT_FALSE(ParseMof(GetParam().text, "t.mof", &schema, &error));
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(Cases, MofErrors, testing::ValuesIn(kErrorCases));

const char kFeatures[] = R"mof(
// comments of both kinds
#pragma namespace("\\\\.\\ROOT\\Test")
/* a base class */
[abstract, Description("base " "text") : ToSubclass]
class T_Base
{
    [key] string Name;
    uint16 Kind = 0x10;
};

[dynamic, provider("T_Provider"), Values{"a", "b"}]
class T_Derived : T_Base
{
    sint32 Offset = -40;
    real64 Scale = 2.5e1;
    boolean On = TRUE;
    string States[] = {"Ok", "Critical"};
    uint8 Bytes[];
    string Nothing = NULL;
    uint16 Kind = 7;
};

[dynamic, provider("T_Provider")]
class T_Alert : __ExtrinsicEvent
{
    string Name;
};
)mof";

TEST(MofParser, ReadsClassesQualifiersAndProperties) {
    Schema schema;
    std::string error;
    ASSERT_TRUE(ParseMof(kFeatures, "features.mof", &schema, &error)) << error;

    auto base = schema.FindClass(L"root\\test", L"t_base");
    ASSERT_TRUE(base);
    EXPECT_EQ(base->nameSpace, L"ROOT\\Test");
    EXPECT_TRUE(base->IsAbstract());
    const auto* description = base->FindQualifier(L"description");
    ASSERT_NE(description, nullptr);
    EXPECT_EQ(description->value.items[0].text, L"base text");

    auto derived = schema.FindClass(L"\\\\.\\root\\test", L"T_Derived");
    ASSERT_TRUE(derived);
    EXPECT_EQ(derived->superclass, L"T_Base");
    EXPECT_EQ(derived->ancestors, std::vector<std::wstring>{L"T_Base"});
    EXPECT_EQ(derived->Provider(), L"T_Provider");
    EXPECT_FALSE(derived->IsEventClass());
    const auto* values = derived->FindQualifier(L"Values");
    ASSERT_NE(values, nullptr);
    EXPECT_TRUE(values->value.isArray);
    EXPECT_EQ(values->value.items.size(), 2u);

    std::vector<std::wstring> names;
    for (const auto& property : derived->properties) {
        names.push_back(property.name);
    }
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Name", L"Kind", L"Offset", L"Scale", L"On",
                                                L"States", L"Bytes", L"Nothing"}));
    const auto& name = derived->properties[0];
    EXPECT_TRUE(name.IsKey());
    EXPECT_EQ(name.origin, L"T_Base");
    const auto& kind = derived->properties[1];
    EXPECT_EQ(kind.type, CIM_UINT16);
    EXPECT_EQ(kind.defaultValue.items[0].magnitude, 7u) << "the override's default wins";
    EXPECT_EQ(kind.origin, L"T_Base");
    const auto& offset = derived->properties[2];
    EXPECT_EQ(offset.type, CIM_SINT32);
    EXPECT_TRUE(offset.defaultValue.items[0].negative);
    EXPECT_EQ(offset.defaultValue.items[0].magnitude, 40u);
    EXPECT_EQ(derived->properties[5].type, CIM_STRING | CIM_FLAG_ARRAY);
    EXPECT_EQ(derived->properties[6].type, CIM_UINT8 | CIM_FLAG_ARRAY);
    EXPECT_FALSE(derived->properties[6].hasDefault);
    EXPECT_EQ(derived->properties[7].defaultValue.items[0].kind, MofConstant::Kind::Null);

    auto alert = schema.FindClass(L"root\\test", L"T_Alert");
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->IsEventClass());
    EXPECT_EQ(schema.ClassesOfProvider(L"t_provider").size(), 2u);
    EXPECT_EQ(schema.ClassesOfProvider(L"T_Provider", L"root\\other").size(), 0u);
    EXPECT_TRUE(schema.FindClass(L"root\\test", L"__Event"));
    EXPECT_FALSE(schema.FindClass(L"root\\test", L"T_Missing"));
}

TEST(MofParser, NamespacesKeepTheirClassesApart) {
    Schema schema;
    std::string error;
    ASSERT_TRUE(ParseMof("#pragma namespace(\"root\\\\a\")\nclass X {};\n"
                         "#pragma namespace(\"root\\\\b\")\nclass X {};\n",
                         "ns.mof", &schema, &error))
        << error;
    EXPECT_TRUE(schema.FindClass(L"root\\a", L"X"));
    EXPECT_TRUE(schema.FindClass(L"root\\b", L"X"));
    EXPECT_FALSE(schema.HasNamespace(L"root\\c"));
}

TEST(NormaliseNamespace, DropsServerAndUnifiesSeparators) {
    EXPECT_EQ(svcproc::wbem::NormaliseNamespace(L"\\\\.\\root\\cimv2"), L"root\\cimv2");
    EXPECT_EQ(svcproc::wbem::NormaliseNamespace(L"//host/root/cimv2/"), L"root\\cimv2");
    EXPECT_EQ(svcproc::wbem::NormaliseNamespace(L"ROOT\\CIMV2"), L"ROOT\\CIMV2");
    EXPECT_EQ(svcproc::wbem::NormaliseNamespace(L"\\\\host"), L"");
}

TEST(LoadSchemaFile, ReportsTheFileOfAnError) {
    char path[] = "/tmp/wbem_mofXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const char text[] = "class Good {};\nclass Bad : Missing {};\n";
    ASSERT_EQ(write(fd, text, sizeof text - 1), static_cast<ssize_t>(sizeof text - 1));
    close(fd);
    std::string error;
    EXPECT_FALSE(svcproc::wbem::LoadSchemaFile(path, &error));
    EXPECT_EQ(error, std::string(path) + ":2:13: unknown superclass 'Missing'");
    unlink(path);
}

TEST(LoadSchemaFile, ReportsAMissingFile) {
    std::string error;
    EXPECT_FALSE(svcproc::wbem::LoadSchemaFile("/nonexistent/vqx.mof", &error));
    EXPECT_EQ(error, "/nonexistent/vqx.mof: cannot open: No such file or directory");
}

} // namespace
