// Class objects and instances over a schema: Put conversions and refusals,
// Get, enumeration of properties, paths, copies, the core services, contexts
// and the ready sinks.
#include <gtest/gtest.h>

#include <cwchar>
#include <functional>
#include <thread>

#include "TestValues.h"
#include "Wbem.h"

using namespace svcproc::wbem;
using svcproc::test::SetBool;
using svcproc::test::SetBstr;
using svcproc::test::SetI2;
using svcproc::test::SetI4;
using svcproc::test::SetStrings;
using svcproc::test::Strings;
using svcproc::test::Value;

namespace {

const char kTestMof[] = R"mof(
#pragma namespace("root\\test")
class T_All
{
    [key] string Name;
    sint8 S8; uint8 U8; sint16 S16; uint16 U16; sint32 S32; uint32 U32;
    sint64 S64; uint64 U64; real32 R32; real64 R64; boolean B; string S;
    datetime D; char16 C;
    string SA[]; uint8 BA[]; sint32 IA[];
};

[abstract] class T_Base
{
    [key] string Id;
    string Label = "unnamed";
};

class T_Item : T_Base
{
    [key] uint16 Slot;
    uint32 Count = 3;
    string Tags[] = {"x", "y"};
};

class T_Empty
{
};
)mof";

std::shared_ptr<const Schema> TestSchema() {
    static std::shared_ptr<const Schema> schema = [] {
        auto parsed = std::make_shared<Schema>();
        std::string error;
        EXPECT_TRUE(ParseMof(kTestMof, "test.mof", parsed.get(), &error)) << error;
        return parsed;
    }();
    return schema;
}

// A held interface pointer, released at scope end.
template <typename T> struct Held {
    T* p = nullptr;
    ~Held() {
        if (p != nullptr) {
            p->Release();
        }
    }
    T** operator&() { return &p; }
    T* operator->() { return p; }
};

void ClassObject(const wchar_t* name, IWbemClassObject** out) {
    auto decl = TestSchema()->FindClass(L"root\\test", name);
    ASSERT_TRUE(decl);
    ASSERT_EQ(CreateClassObject(decl, out), WBEM_S_NO_ERROR);
}

void Instance(const wchar_t* name, IWbemClassObject** out) {
    Held<IWbemClassObject> cls;
    ClassObject(name, &cls);
    ASSERT_EQ(cls->SpawnInstance(0, out), WBEM_S_NO_ERROR);
}

using Maker = std::function<void(VARIANT*)>;

struct PutCase {
    const char* label;
    const wchar_t* property;
    Maker make;
    HRESULT expected;
    VARTYPE storedVt;
    uint64_t storedBits; // integer and boolean results, compared by their bits
};

Maker I2(int16_t x) {
    return [x](VARIANT* v) { SetI2(v, x); };
}
Maker I4(int32_t x) {
    return [x](VARIANT* v) { SetI4(v, x); };
}
Maker UI1(uint8_t x) {
    return [x](VARIANT* v) {
        v->vt = VT_UI1;
        v->bVal = x;
    };
}
Maker UI2(uint16_t x) {
    return [x](VARIANT* v) {
        v->vt = VT_UI2;
        v->uiVal = x;
    };
}
Maker UI4(uint32_t x) {
    return [x](VARIANT* v) {
        v->vt = VT_UI4;
        v->ulVal = x;
    };
}
Maker R8(double x) {
    return [x](VARIANT* v) {
        v->vt = VT_R8;
        v->dblVal = x;
    };
}
Maker Bool(bool x) {
    return [x](VARIANT* v) { SetBool(v, x); };
}
Maker Text(const wchar_t* x) {
    return [x](VARIANT* v) { SetBstr(v, x); };
}
Maker Texts(std::vector<std::wstring> x) {
    return [x](VARIANT* v) { SetStrings(v, x); };
}
Maker Type(VARTYPE vt) {
    return [vt](VARIANT* v) { v->vt = vt; };
}
Maker Error(HRESULT code) {
    return [code](VARIANT* v) {
        v->vt = VT_ERROR;
        v->scode = code;
    };
}
template <typename E> Maker Array(VARTYPE vt, std::vector<E> items) {
    return [vt, items](VARIANT* v) {
        SAFEARRAY* array = SafeArrayCreateVector(vt, 0, static_cast<ULONG>(items.size()));
        for (size_t i = 0; i < items.size(); ++i) {
            LONG index = static_cast<LONG>(i);
            E item = items[i];
            SafeArrayPutElement(array, &index, &item);
        }
        v->vt = VT_ARRAY | vt;
        v->parray = array;
    };
}

constexpr HRESULT OK = WBEM_S_NO_ERROR;
constexpr HRESULT MISMATCH = WBEM_E_TYPE_MISMATCH;

const PutCase kPutCases[] = {
    {"uint16 takes a small VT_I2", L"U16", I2(5), OK, VT_UI2, 5},
    {"uint16 takes the bits of a negative VT_I2", L"U16", I2(-1), OK, VT_UI2, 0xFFFF},
    {"uint16 takes a VT_I4 that fits", L"U16", I4(65535), OK, VT_UI2, 65535},
    {"uint16 refuses a VT_I4 too large", L"U16", I4(65536), MISMATCH, 0, 0},
    {"uint16 refuses a negative VT_I4", L"U16", I4(-1), MISMATCH, 0, 0},
    {"uint16 refuses text", L"U16", Text(L"5"), MISMATCH, 0, 0},
    {"uint16 refuses a real", L"U16", R8(5.0), MISMATCH, 0, 0},
    {"uint32 takes the bits of a negative VT_I4", L"U32", I4(-2), OK, VT_UI4, 0xFFFFFFFEu},
    {"uint32 refuses a negative VT_I2", L"U32", I2(-1), MISMATCH, 0, 0},
    {"sint32 widens a VT_I2", L"S32", I2(-7), OK, VT_I4, 0xFFFFFFF9u},
    {"sint32 takes a VT_UI4's bits", L"S32", UI4(0x80000000u), OK, VT_I4, 0x80000000u},
    {"sint8 takes 127", L"S8", I4(127), OK, VT_I1, 127},
    {"sint8 refuses 128", L"S8", I4(128), MISMATCH, 0, 0},
    {"uint8 takes a VT_UI1", L"U8", UI1(200), OK, VT_UI1, 200},
    {"sint64 widens a VT_I4", L"S64", I4(-1), OK, VT_I8, 0xFFFFFFFFFFFFFFFFull},
    {"uint64 refuses a negative VT_I4", L"U64", I4(-1), MISMATCH, 0, 0},
    {"real64 takes an integer", L"R64", I4(3), OK, VT_R8, 0},
    {"real32 refuses a real beyond its range", L"R32", R8(1e300), MISMATCH, 0, 0},
    {"boolean takes VT_BOOL", L"B", Bool(true), OK, VT_BOOL, 0xFFFF},
    {"boolean refuses an integer", L"B", I4(1), MISMATCH, 0, 0},
    {"string takes a BSTR", L"S", Text(L"Ok"), OK, VT_BSTR, 0},
    {"string refuses an integer", L"S", I4(1), MISMATCH, 0, 0},
    {"string refuses a boolean", L"S", Bool(false), MISMATCH, 0, 0},
    {"string refuses an error value", L"S", Error(E_OUTOFMEMORY), MISMATCH, 0, 0},
    {"string refuses an array", L"S", Texts({L"a"}), MISMATCH, 0, 0},
    {"string refuses an interface", L"S", Type(VT_UNKNOWN), MISMATCH, 0, 0},
    {"VT_NULL clears", L"S", Type(VT_NULL), OK, VT_NULL, 0},
    {"VT_EMPTY clears", L"S32", Type(VT_EMPTY), OK, VT_NULL, 0},
    {"datetime takes a BSTR", L"D", Text(L"20240101000000.000000+000"), OK, VT_BSTR, 0},
    {"char16 takes a VT_UI2", L"C", UI2(65), OK, VT_UI2, 65},
    {"string[] takes a BSTR array", L"SA", Texts({L"Ok", L"Critical"}), OK, VT_ARRAY | VT_BSTR, 0},
    {"string[] refuses a scalar", L"SA", Text(L"Ok"), MISMATCH, 0, 0},
    {"uint8[] takes a byte array", L"BA", Array<BYTE>(VT_UI1, {0, 24, 255}), OK, VT_ARRAY | VT_UI1,
     0},
    {"sint32[] widens a VT_I2 array", L"IA", Array<SHORT>(VT_I2, {1, -2}), OK, VT_ARRAY | VT_I4, 0},
    {"sint32[] refuses a string array", L"IA", Texts({L"1"}), MISMATCH, 0, 0},
    {"uint8[] refuses an element out of range", L"BA", Array<LONG>(VT_I4, {1, 256}), MISMATCH, 0,
     0},
};

class PutConversions : public testing::TestWithParam<PutCase> {};

uint64_t Bits(const VARIANT& v) {
    switch (v.vt) {
    case VT_I1:
    case VT_UI1:
        return v.bVal;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        return v.uiVal;
    case VT_I4:
    case VT_UI4:
        return v.ulVal;
    case VT_I8:
    case VT_UI8:
        return v.ullVal;
    default:
        return 0;
    }
}

TEST_P(PutConversions, ConvertToTheDeclaredTypeOrRefuse) {
    const PutCase& c = GetParam();
    Held<IWbemClassObject> instance;
    Instance(L"T_All", &instance);
    Value before;
    SetI4(&before.v, 1);
    Value value;
    c.make(&value.v);
    // A refused Put leaves the earlier value in place.
    Value earlier;
    SetBstr(&earlier.v, L"earlier");
    instance->Put(L"S", 0, &earlier.v, 0);

    EXPECT_EQ(instance->Put(c.property, 0, &value.v, 0), c.expected) << c.label;
    Value read;
    CIMTYPE type = 0;
    ASSERT_EQ(instance->Get(c.property, 0, &read.v, &type, nullptr), OK);
    if (c.expected == OK) {
        EXPECT_EQ(read.v.vt, c.storedVt) << c.label;
        if (!(c.storedVt & VT_ARRAY) && c.storedVt != VT_BSTR && c.storedVt != VT_R8) {
            EXPECT_EQ(Bits(read.v), c.storedBits) << c.label;
        }
    } else if (std::wcscmp(c.property, L"S") == 0) {
        ASSERT_EQ(read.v.vt, VT_BSTR) << c.label;
        EXPECT_STREQ(read.v.bstrVal, L"earlier");
    } else {
        EXPECT_EQ(read.v.vt, VT_NULL) << c.label;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PutConversions, testing::ValuesIn(kPutCases),
                         [](const testing::TestParamInfo<PutCase>& info) {
                             return "Case" + std::to_string(info.index);
                         });

TEST(Put, ArrayValuesAreCopiedWithTheirContents) {
    Held<IWbemClassObject> instance;
    Instance(L"T_All", &instance);
    Value value;
    SetStrings(&value.v, {L"Ok", L"Critical"});
    ASSERT_EQ(instance->Put(L"sa", 0, &value.v, 0), OK) << "names ignore case";
    VariantClear(&value.v);
    Value read;
    ASSERT_EQ(instance->Get(L"SA", 0, &read.v, nullptr, nullptr), OK);
    EXPECT_EQ(Strings(read.v.parray), (std::vector<std::wstring>{L"Ok", L"Critical"}));

    Value ints;
    Array<SHORT>(VT_I2, {1, -2})(&ints.v);
    ASSERT_EQ(instance->Put(L"IA", 0, &ints.v, 0), OK);
    Value readInts;
    ASSERT_EQ(instance->Get(L"IA", 0, &readInts.v, nullptr, nullptr), OK);
    LONG index = 1;
    LONG element = 0;
    ASSERT_EQ(SafeArrayGetElement(readInts.v.parray, &index, &element), S_OK);
    EXPECT_EQ(element, -2);
}

TEST(Put, Refusals) {
    Held<IWbemClassObject> instance;
    Instance(L"T_All", &instance);
    Value value;
    SetBstr(&value.v, L"x");
    EXPECT_EQ(instance->Put(L"Bogus", 0, &value.v, 0), WBEM_E_NOT_FOUND);
    EXPECT_EQ(instance->Put(L"__CLASS", 0, &value.v, 0), WBEM_E_READ_ONLY);
    EXPECT_EQ(instance->Put(nullptr, 0, &value.v, 0), WBEM_E_INVALID_PARAMETER);
    EXPECT_EQ(instance->Put(L"S", 1, &value.v, 0), WBEM_E_INVALID_PARAMETER);
    EXPECT_EQ(instance->Put(L"S", 0, &value.v, CIM_UINT16), WBEM_E_TYPE_MISMATCH);
    EXPECT_EQ(instance->Put(L"S", 0, &value.v, CIM_STRING), OK) << "the declared type";
    EXPECT_EQ(instance->Put(L"S", 0, nullptr, 0), OK) << "null clears";
    Value read;
    ASSERT_EQ(instance->Get(L"S", 0, &read.v, nullptr, nullptr), OK);
    EXPECT_EQ(read.v.vt, VT_NULL);
}

TEST(Get, ReportsTypeFlavourAndRefusesUnknownNames) {
    Held<IWbemClassObject> instance;
    Instance(L"T_Item", &instance);
    CIMTYPE type = 0;
    LONG flavor = -1;
    EXPECT_EQ(instance->Get(L"Count", 0, nullptr, &type, &flavor), OK);
    EXPECT_EQ(type, CIM_UINT32);
    EXPECT_EQ(flavor, WBEM_FLAVOR_ORIGIN_PROPAGATED) << "the class's default";
    Value three;
    SetI4(&three.v, 4);
    ASSERT_EQ(instance->Put(L"Count", 0, &three.v, 0), OK);
    EXPECT_EQ(instance->Get(L"Count", 0, nullptr, nullptr, &flavor), OK);
    EXPECT_EQ(flavor, WBEM_FLAVOR_ORIGIN_LOCAL);
    EXPECT_EQ(instance->Get(L"Tags", 0, nullptr, &type, nullptr), OK);
    EXPECT_EQ(type, CIM_STRING | CIM_FLAG_ARRAY);
    EXPECT_EQ(instance->Get(L"Missing", 0, nullptr, nullptr, nullptr), WBEM_E_NOT_FOUND);
    EXPECT_EQ(instance->Get(nullptr, 0, nullptr, nullptr, nullptr), WBEM_E_INVALID_PARAMETER);
}

TEST(SpawnInstance, StartsWithTheClassDefaults) {
    Held<IWbemClassObject> cls;
    ClassObject(L"T_Item", &cls);
    Value five;
    SetI4(&five.v, 5);
    ASSERT_EQ(cls->Put(L"Count", 0, &five.v, 0), OK) << "a class's Put sets its default";
    Held<IWbemClassObject> instance;
    ASSERT_EQ(cls->SpawnInstance(0, &instance), OK);
    Value count;
    ASSERT_EQ(instance->Get(L"Count", 0, &count.v, nullptr, nullptr), OK);
    EXPECT_EQ(count.v.vt, VT_UI4);
    EXPECT_EQ(count.v.ulVal, 5u);
    Value label;
    ASSERT_EQ(instance->Get(L"Label", 0, &label.v, nullptr, nullptr), OK);
    EXPECT_STREQ(label.v.bstrVal, L"unnamed") << "inherited default";
    Value tags;
    ASSERT_EQ(instance->Get(L"Tags", 0, &tags.v, nullptr, nullptr), OK);
    EXPECT_EQ(Strings(tags.v.parray), (std::vector<std::wstring>{L"x", L"y"}));
    Value id;
    ASSERT_EQ(instance->Get(L"Id", 0, &id.v, nullptr, nullptr), OK);
    EXPECT_EQ(id.v.vt, VT_NULL);
    Value genus;
    ASSERT_EQ(instance->Get(L"__GENUS", 0, &genus.v, nullptr, nullptr), OK);
    EXPECT_EQ(genus.v.lVal, WBEM_GENUS_INSTANCE);
}

TEST(SpawnInstance, Refusals) {
    Held<IWbemClassObject> abstractClass;
    ClassObject(L"T_Base", &abstractClass);
    IWbemClassObject* none = reinterpret_cast<IWbemClassObject*>(1);
    EXPECT_EQ(abstractClass->SpawnInstance(0, &none), WBEM_E_INVALID_OPERATION);
    EXPECT_EQ(none, nullptr);
    Held<IWbemClassObject> instance;
    Instance(L"T_Item", &instance);
    EXPECT_EQ(instance->SpawnInstance(0, &none), WBEM_E_INVALID_OPERATION);
    Held<IWbemClassObject> cls;
    ClassObject(L"T_Item", &cls);
    EXPECT_EQ(cls->SpawnInstance(0, nullptr), WBEM_E_INVALID_PARAMETER);
    svcproc::com::SetAllocationFailureForTest(0);
    EXPECT_EQ(cls->SpawnInstance(0, &none), WBEM_E_OUT_OF_MEMORY);
    svcproc::com::SetAllocationFailureForTest(-1);
    EXPECT_EQ(none, nullptr);
}

TEST(Instance, RelativePathNamesItsKeys) {
    Held<IWbemClassObject> item;
    Instance(L"T_Item", &item);
    Value path;
    ASSERT_EQ(item->Get(L"__RELPATH", 0, &path.v, nullptr, nullptr), OK);
    EXPECT_EQ(path.v.vt, VT_NULL) << "no key yet";
    Value id;
    SetBstr(&id.v, L"a\"b\\c");
    Value slot;
    SetI4(&slot.v, 2);
    ASSERT_EQ(item->Put(L"Id", 0, &id.v, 0), OK);
    ASSERT_EQ(item->Put(L"Slot", 0, &slot.v, 0), OK);
    VariantClear(&path.v);
    ASSERT_EQ(item->Get(L"__RELPATH", 0, &path.v, nullptr, nullptr), OK);
    EXPECT_STREQ(path.v.bstrVal, L"T_Item.Id=\"a\\\"b\\\\c\",Slot=2");

    Held<IWbemClassObject> empty;
    Instance(L"T_Empty", &empty);
    Value singleton;
    ASSERT_EQ(empty->Get(L"__RELPATH", 0, &singleton.v, nullptr, nullptr), OK);
    EXPECT_STREQ(singleton.v.bstrVal, L"T_Empty=@");
}

TEST(Instance, SystemPropertiesDescribeTheClass) {
    Held<IWbemClassObject> item;
    Instance(L"T_Item", &item);
    struct Expected {
        const wchar_t* name;
        const wchar_t* text;
    };
    for (Expected e :
         {Expected{L"__CLASS", L"T_Item"}, Expected{L"__SUPERCLASS", L"T_Base"},
          Expected{L"__DYNASTY", L"T_Base"}, Expected{L"__NAMESPACE", L"root\\test"}}) {
        Value v;
        LONG flavor = 0;
        ASSERT_EQ(item->Get(e.name, 0, &v.v, nullptr, &flavor), OK);
        ASSERT_EQ(v.v.vt, VT_BSTR);
        EXPECT_STREQ(v.v.bstrVal, e.text);
        EXPECT_EQ(flavor, WBEM_FLAVOR_ORIGIN_SYSTEM);
    }
    Value count;
    ASSERT_EQ(item->Get(L"__PROPERTY_COUNT", 0, &count.v, nullptr, nullptr), OK);
    EXPECT_EQ(count.v.lVal, 5);
    EXPECT_EQ(item->InheritsFrom(L"t_base"), WBEM_S_NO_ERROR);
    EXPECT_EQ(item->InheritsFrom(L"T_Item"), WBEM_S_FALSE);
    BSTR origin = nullptr;
    ASSERT_EQ(item->GetPropertyOrigin(L"Label", &origin), OK);
    EXPECT_STREQ(origin, L"T_Base");
    SysFreeString(origin);
}

TEST(GetNames, SelectsByFlags) {
    Held<IWbemClassObject> item;
    Instance(L"T_Item", &item);
    struct NamesCase {
        LONG flags;
        const wchar_t* qualifier;
        std::vector<std::wstring> names;
    };
    const NamesCase cases[] = {
        {WBEM_FLAG_NONSYSTEM_ONLY, nullptr, {L"Id", L"Label", L"Slot", L"Count", L"Tags"}},
        {WBEM_FLAG_KEYS_ONLY, nullptr, {L"Id", L"Slot"}},
        {WBEM_FLAG_LOCAL_ONLY, nullptr, {L"Slot", L"Count", L"Tags"}},
        {WBEM_FLAG_PROPAGATED_ONLY, nullptr, {L"Id", L"Label"}},
        {WBEM_FLAG_ONLY_IF_TRUE, L"key", {L"Id", L"Slot"}},
        {WBEM_FLAG_ONLY_IF_FALSE | WBEM_FLAG_NONSYSTEM_ONLY, L"key", {L"Label", L"Count", L"Tags"}},
        {WBEM_FLAG_SYSTEM_ONLY,
         nullptr,
         {L"__GENUS", L"__CLASS", L"__SUPERCLASS", L"__DYNASTY", L"__RELPATH", L"__PROPERTY_COUNT",
          L"__DERIVATION", L"__NAMESPACE"}},
    };
    for (const NamesCase& c : cases) {
        SAFEARRAY* names = nullptr;
        ASSERT_EQ(item->GetNames(c.qualifier, c.flags, nullptr, &names), OK) << c.flags;
        EXPECT_EQ(Strings(names), c.names) << c.flags;
        SafeArrayDestroy(names);
    }
    SAFEARRAY* all = nullptr;
    ASSERT_EQ(item->GetNames(nullptr, WBEM_FLAG_ALWAYS, nullptr, &all), OK);
    EXPECT_EQ(all->rgsabound[0].cElements, 13u);
    SafeArrayDestroy(all);
    SAFEARRAY* refused = nullptr;
    EXPECT_EQ(item->GetNames(nullptr, WBEM_FLAG_ONLY_IF_TRUE, nullptr, &refused),
              WBEM_E_INVALID_PARAMETER);
}

TEST(Enumeration, WalksNamesValuesAndTypes) {
    Held<IWbemClassObject> item;
    Instance(L"T_Item", &item);
    Value id;
    SetBstr(&id.v, L"first");
    ASSERT_EQ(item->Put(L"Id", 0, &id.v, 0), OK);
    EXPECT_EQ(item->Next(0, nullptr, nullptr, nullptr, nullptr), WBEM_E_UNEXPECTED);
    ASSERT_EQ(item->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY), OK);
    std::vector<std::wstring> seen;
    BSTR name = nullptr;
    Value value;
    CIMTYPE type = 0;
    while (item->Next(0, &name, &value.v, &type, nullptr) == OK) {
        seen.emplace_back(name);
        if (seen.back() == L"Id") {
            EXPECT_STREQ(value.v.bstrVal, L"first");
            EXPECT_EQ(type, CIM_STRING);
        }
        SysFreeString(name);
        VariantClear(&value.v);
    }
    EXPECT_EQ(item->Next(0, &name, &value.v, &type, nullptr), WBEM_S_NO_MORE_DATA);
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"Id", L"Label", L"Slot", L"Count", L"Tags"}));
    EXPECT_EQ(item->EndEnumeration(), OK);
    EXPECT_EQ(item->Next(0, nullptr, nullptr, nullptr, nullptr), WBEM_E_UNEXPECTED);
}

TEST(Clone, IsAnIndependentEqualCopy) {
    Held<IWbemClassObject> item;
    Instance(L"T_Item", &item);
    Value id;
    SetBstr(&id.v, L"one");
    ASSERT_EQ(item->Put(L"Id", 0, &id.v, 0), OK);
    Held<IWbemClassObject> copy;
    ASSERT_EQ(item->Clone(&copy), OK);
    EXPECT_EQ(copy->CompareTo(0, item.p), WBEM_S_NO_ERROR);
    Value other;
    SetBstr(&other.v, L"two");
    ASSERT_EQ(copy->Put(L"Id", 0, &other.v, 0), OK);
    EXPECT_NE(copy->CompareTo(0, item.p), WBEM_S_NO_ERROR);
    Value read;
    ASSERT_EQ(item->Get(L"Id", 0, &read.v, nullptr, nullptr), OK);
    EXPECT_STREQ(read.v.bstrVal, L"one");
}

TEST(Delete, RestoresTheDefault) {
    Held<IWbemClassObject> item;
    Instance(L"T_Item", &item);
    Value label;
    SetBstr(&label.v, L"set");
    ASSERT_EQ(item->Put(L"Label", 0, &label.v, 0), OK);
    ASSERT_EQ(item->Delete(L"Label"), OK);
    Value read;
    ASSERT_EQ(item->Get(L"Label", 0, &read.v, nullptr, nullptr), OK);
    EXPECT_STREQ(read.v.bstrVal, L"unnamed");
    EXPECT_EQ(item->Delete(L"Nope"), WBEM_E_NOT_FOUND);
}

TEST(GetObjectText, ShowsTheValuesSet) {
    Held<IWbemClassObject> item;
    Instance(L"T_Item", &item);
    Value id;
    SetBstr(&id.v, L"one");
    ASSERT_EQ(item->Put(L"Id", 0, &id.v, 0), OK);
    BSTR text = nullptr;
    ASSERT_EQ(item->GetObjectText(0, &text), OK);
    EXPECT_STREQ(text, L"instance of T_Item\n{\n\tId = \"one\";\n\tLabel = \"unnamed\";\n"
                       L"\tCount = 3;\n\tTags = {\"x\", \"y\"};\n};\n");
    SysFreeString(text);
}

TEST(ClassObject, ConcurrentSpawnAndPutKeepObjectsSound) {
    Held<IWbemClassObject> cls;
    ClassObject(L"T_Item", &cls);
    auto worker = [&cls] {
        for (int i = 0; i < 200; ++i) {
            IWbemClassObject* instance = nullptr;
            ASSERT_EQ(cls->SpawnInstance(0, &instance), OK);
            Value id;
            SetBstr(&id.v, L"thread");
            EXPECT_EQ(instance->Put(L"Id", 0, &id.v, 0), OK);
            instance->Release();
        }
    };
    std::thread a(worker);
    std::thread b(worker);
    a.join();
    b.join();
}

TEST(GetClassDecl, FindsTheDeclarationOfTheLayersObjects) {
    Held<IWbemClassObject> item;
    Instance(L"T_Item", &item);
    auto decl = GetClassDecl(item.p);
    ASSERT_TRUE(decl);
    EXPECT_EQ(decl->name, L"T_Item");
    EXPECT_FALSE(GetClassDecl(nullptr));
}

TEST(CoreServices, HandsOutClassObjectsOfItsNamespace) {
    Held<IWbemServices> services;
    ASSERT_EQ(CreateCoreServices(TestSchema(), L"\\\\.\\root\\test", &services), OK);
    BSTR name = SysAllocString(L"T_Item");
    Held<IWbemClassObject> cls;
    ASSERT_EQ(services->GetObject(name, 0, nullptr, &cls, nullptr), OK);
    Value genus;
    ASSERT_EQ(cls->Get(L"__GENUS", 0, &genus.v, nullptr, nullptr), OK);
    EXPECT_EQ(genus.v.lVal, WBEM_GENUS_CLASS);
    SysFreeString(name);

    struct PathCase {
        const wchar_t* path;
        HRESULT expected;
    };
    for (PathCase c :
         {PathCase{L"root\\test:T_Empty", OK}, PathCase{L"T_Missing", WBEM_E_NOT_FOUND},
          PathCase{L"root\\other:T_Item", WBEM_E_INVALID_NAMESPACE},
          PathCase{L"T_Item.Id=\"x\",Slot=1", WBEM_E_NOT_SUPPORTED},
          PathCase{L"", WBEM_E_INVALID_OBJECT_PATH}}) {
        BSTR path = SysAllocString(c.path);
        IWbemClassObject* object = nullptr;
        EXPECT_EQ(services->GetObject(path, 0, nullptr, &object, nullptr), c.expected)
            << static_cast<const void*>(c.path);
        if (object != nullptr) {
            object->Release();
        }
        SysFreeString(path);
    }
    IWbemClassObject* unset = nullptr;
    EXPECT_EQ(services->GetObject(nullptr, 0, nullptr, &unset, nullptr), WBEM_E_INVALID_PARAMETER);
    EXPECT_EQ(unset, nullptr);
    EXPECT_EQ(services->ExecQuery(nullptr, nullptr, 0, nullptr, nullptr), WBEM_E_NOT_SUPPORTED);
    Held<IWbemServices> none;
    EXPECT_EQ(CreateCoreServices(TestSchema(), L"root\\nowhere", &none), WBEM_E_INVALID_NAMESPACE);
}

TEST(CoreServices, GetObjectAsyncIndicatesAndReportsStatus) {
    Held<IWbemServices> services;
    ASSERT_EQ(CreateCoreServices(TestSchema(), L"root\\test", &services), OK);
    Held<CObjectCollector> sink;
    sink.p = CObjectCollector::Create();
    BSTR name = SysAllocString(L"T_All");
    EXPECT_EQ(services->GetObjectAsync(name, 0, nullptr, sink.p), OK);
    EXPECT_TRUE(sink->WaitForStatus(1000));
    EXPECT_EQ(sink->Status(), OK);
    auto objects = sink->TakeObjects();
    ASSERT_EQ(objects.size(), 1u);
    objects[0]->Release();
    SysFreeString(name);

    Held<CObjectCollector> missing;
    missing.p = CObjectCollector::Create();
    BSTR bad = SysAllocString(L"T_Missing");
    EXPECT_EQ(services->GetObjectAsync(bad, 0, nullptr, missing.p), WBEM_E_NOT_FOUND);
    EXPECT_EQ(missing->Status(), WBEM_E_NOT_FOUND);
    EXPECT_EQ(missing->ObjectCount(), 0u);
    SysFreeString(bad);
}

TEST(WbemContext, StoresCopiesAndEnumerates) {
    Held<IWbemContext> context;
    ASSERT_EQ(CreateWbemContext(&context), OK);
    Value value;
    SetBstr(&value.v, L"en-GB");
    ASSERT_EQ(context->SetValue(L"Locale", 0, &value.v), OK);
    VariantClear(&value.v);
    Value read;
    ASSERT_EQ(context->GetValue(L"locale", 0, &read.v), OK);
    EXPECT_STREQ(read.v.bstrVal, L"en-GB");
    Held<IWbemContext> copy;
    ASSERT_EQ(context->Clone(&copy), OK);
    ASSERT_EQ(context->DeleteAll(), OK);
    EXPECT_EQ(context->GetValue(L"Locale", 0, &read.v), WBEM_E_NOT_FOUND);
    ASSERT_EQ(copy->BeginEnumeration(0), OK);
    BSTR name = nullptr;
    Value enumerated;
    ASSERT_EQ(copy->Next(0, &name, &enumerated.v), OK);
    EXPECT_STREQ(name, L"Locale");
    SysFreeString(name);
    EXPECT_EQ(copy->Next(0, nullptr, nullptr), WBEM_S_NO_MORE_DATA);
    EXPECT_EQ(copy->DeleteValue(L"Locale", 0), OK);
    EXPECT_EQ(copy->DeleteValue(L"Locale", 0), WBEM_E_NOT_FOUND);
}

TEST(Sinks, CollectorKeepsObjectsAndStatus) {
    Held<CObjectCollector> sink;
    sink.p = CObjectCollector::Create();
    Held<IWbemClassObject> item;
    Instance(L"T_Item", &item);
    EXPECT_FALSE(sink->WaitForStatus(10));
    ASSERT_EQ(sink->Indicate(1, &item.p), OK);
    EXPECT_EQ(sink->Indicate(1, nullptr), WBEM_E_INVALID_PARAMETER);
    EXPECT_EQ(sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_E_ACCESS_DENIED, nullptr, nullptr), OK);
    EXPECT_TRUE(sink->WaitForObjects(1, 10));
    EXPECT_EQ(sink->Status(), WBEM_E_ACCESS_DENIED);
    EXPECT_EQ(sink->StatusCalls(), 1);
    IWbemObjectSink* asSink = nullptr;
    ASSERT_EQ(sink->QueryInterface(IID_IWbemObjectSink, reinterpret_cast<void**>(&asSink)), OK);
    asSink->Release();
    void* none = nullptr;
    EXPECT_EQ(sink->QueryInterface(IID_IWbemServices, &none), E_NOINTERFACE);

    Held<CInitStatusSink> init;
    init.p = CInitStatusSink::Create();
    EXPECT_FALSE(init->HasStatus());
    ASSERT_EQ(init->SetStatus(WBEM_E_FAILED, 0), OK);
    EXPECT_TRUE(init->WaitForStatus(10));
    EXPECT_EQ(init->Status(), WBEM_E_FAILED);
}

} // namespace
