// BSTR, VARIANT and SAFEARRAY: contents, copies, ownership and refusals.
// Run under ASan these also show that copies are deep and clears free.
#include <gtest/gtest.h>

#include <cwchar>

#include "Com.h"
#include "TestValues.h"

using svcproc::test::SetBstr;
using svcproc::test::SetI4;
using svcproc::test::SetStrings;
using svcproc::test::Strings;
using svcproc::test::Value;

namespace {

class AllocationFailureGuard {
public:
    explicit AllocationFailureGuard(int64_t successes) {
        svcproc::com::SetAllocationFailureForTest(successes);
    }
    ~AllocationFailureGuard() { svcproc::com::SetAllocationFailureForTest(-1); }
};

// Counts its references; deleted never, so the test can read the count.
class CountedUnknown : public IUnknown {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++m_nCount; }
    ULONG Release() override { return --m_nCount; }
    ULONG m_nCount = 1;
};

TEST(Bstr, HoldsLengthAndTerminator) {
    BSTR text = SysAllocString(L"Voltage");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(SysStringLen(text), 7u);
    EXPECT_EQ(SysStringByteLen(text), 7u * sizeof(wchar_t));
    EXPECT_EQ(std::wcscmp(text, L"Voltage"), 0);
    SysFreeString(text);
}

TEST(Bstr, LengthCountsEmbeddedNulAndZeroFillsWithoutSource) {
    BSTR withNul = SysAllocStringLen(L"a\0b", 3);
    ASSERT_NE(withNul, nullptr);
    EXPECT_EQ(SysStringLen(withNul), 3u);
    EXPECT_EQ(withNul[2], L'b');
    EXPECT_EQ(withNul[3], L'\0');
    SysFreeString(withNul);

    BSTR room = SysAllocStringLen(nullptr, 16);
    ASSERT_NE(room, nullptr);
    EXPECT_EQ(SysStringLen(room), 16u);
    for (int i = 0; i <= 16; ++i) {
        EXPECT_EQ(room[i], L'\0');
    }
    SysFreeString(room);
}

TEST(Bstr, NullIsAnEmptyString) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST(Bstr, RefusesLengthsBeyondItsPrefix) {
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x40000000u), nullptr);
}

TEST(Bstr, AllocationFailureHookFailsAfterTheGivenCount) {
    AllocationFailureGuard guard(1);
    BSTR first = SysAllocString(L"x");
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(SysAllocString(L"y"), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_BSTR, 0, 1), nullptr);
    SysFreeString(first);
    svcproc::com::SetAllocationFailureForTest(-1);
    BSTR again = SysAllocString(L"z");
    EXPECT_NE(again, nullptr);
    SysFreeString(again);
}

TEST(Variant, InitMakesEmpty) {
    VARIANT v;
    std::memset(&v, 0xAB, sizeof v);
    VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST(Variant, ClearFreesAndLeavesEmpty) {
    Value text;
    SetBstr(&text.v, L"Critical");
    EXPECT_EQ(VariantClear(&text.v), S_OK);
    EXPECT_EQ(text.v.vt, VT_EMPTY);

    Value array;
    SetStrings(&array.v, {L"Ok", L"Critical"});
    EXPECT_EQ(VariantClear(&array.v), S_OK);
    EXPECT_EQ(array.v.vt, VT_EMPTY);
}

TEST(Variant, ClearReleasesAnInterface) {
    CountedUnknown unknown;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UNKNOWN;
    v.punkVal = &unknown;
    unknown.AddRef();
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(unknown.m_nCount, 1u);
}

TEST(Variant, ClearRefusesUnknownTypeAndLockedArray) {
    VARIANT bad;
    VariantInit(&bad);
    bad.vt = 0x0FFE;
    EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(bad.vt, 0x0FFE);

    Value array;
    SetStrings(&array.v, {L"Ok"});
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array.v.parray, &data), S_OK);
    EXPECT_EQ(VariantClear(&array.v), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(array.v.vt, VT_ARRAY | VT_BSTR);
    ASSERT_EQ(SafeArrayUnaccessData(array.v.parray), S_OK);
    EXPECT_EQ(VariantClear(&array.v), S_OK);
}

TEST(Variant, CopyDuplicatesStrings) {
    Value source;
    SetBstr(&source.v, L"VCC(00010003)");
    Value copy;
    ASSERT_EQ(VariantCopy(&copy.v, &source.v), S_OK);
    ASSERT_EQ(copy.v.vt, VT_BSTR);
    EXPECT_NE(copy.v.bstrVal, source.v.bstrVal);
    VariantClear(&source.v);
    EXPECT_EQ(std::wcscmp(copy.v.bstrVal, L"VCC(00010003)"), 0);
}

TEST(Variant, CopyDuplicatesArrays) {
    Value source;
    SetStrings(&source.v, {L"Ok", L"Critical"});
    Value copy;
    ASSERT_EQ(VariantCopy(&copy.v, &source.v), S_OK);
    ASSERT_EQ(copy.v.vt, VT_ARRAY | VT_BSTR);
    EXPECT_NE(copy.v.parray, source.v.parray);
    LONG index = 0;
    BSTR replacement = SysAllocString(L"Changed");
    SafeArrayPutElement(source.v.parray, &index, replacement);
    SysFreeString(replacement);
    VariantClear(&source.v);
    EXPECT_EQ(Strings(copy.v.parray), (std::vector<std::wstring>{L"Ok", L"Critical"}));
}

TEST(Variant, CopyReplacesWhatTheTargetHeld) {
    Value target;
    SetBstr(&target.v, L"old");
    Value source;
    SetI4(&source.v, 42);
    ASSERT_EQ(VariantCopy(&target.v, &source.v), S_OK);
    EXPECT_EQ(target.v.vt, VT_I4);
    EXPECT_EQ(target.v.lVal, 42);
}

TEST(Variant, CopyAddRefsAnInterface) {
    CountedUnknown unknown;
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_UNKNOWN;
    source.punkVal = &unknown;
    Value copy;
    ASSERT_EQ(VariantCopy(&copy.v, &source), S_OK);
    EXPECT_EQ(unknown.m_nCount, 2u);
    VariantClear(&copy.v);
    EXPECT_EQ(unknown.m_nCount, 1u);
}

TEST(Variant, FailedCopyLeavesTargetEmpty) {
    Value source;
    SetBstr(&source.v, L"text");
    Value target;
    SetI4(&target.v, 7);
    AllocationFailureGuard guard(0);
    EXPECT_EQ(VariantCopy(&target.v, &source.v), E_OUTOFMEMORY);
    EXPECT_EQ(target.v.vt, VT_EMPTY);
}

TEST(SafeArray, VectorHasBoundsAndType) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 3);
    ASSERT_NE(array, nullptr);
    LONG low = -1;
    LONG high = -1;
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetLBound(array, 1, &low), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(array, 1, &high), S_OK);
    EXPECT_EQ(SafeArrayGetVartype(array, &vt), S_OK);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 2);
    EXPECT_EQ(vt, VT_BSTR);
    EXPECT_EQ(SafeArrayGetDim(array), 1u);
    EXPECT_EQ(array->rgsabound[0].cElements, 3u);
    EXPECT_EQ(SafeArrayGetLBound(array, 2, &low), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArray, EmptyArrayHasUpperBoundBelowLower) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 0);
    ASSERT_NE(array, nullptr);
    LONG high = 0;
    EXPECT_EQ(SafeArrayGetUBound(array, 1, &high), S_OK);
    EXPECT_EQ(high, -1);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArray, StringElementsAreCopiedInAndOut) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 1, 2);
    ASSERT_NE(array, nullptr);
    BSTR text = SysAllocString(L"Ok");
    LONG first = 1;
    ASSERT_EQ(SafeArrayPutElement(array, &first, text), S_OK);
    SysFreeString(text); // the array holds its own copy
    BSTR replacement = SysAllocString(L"Critical");
    ASSERT_EQ(SafeArrayPutElement(array, &first, replacement), S_OK)
        << "replacing frees the old element";
    SysFreeString(replacement);
    BSTR out = nullptr;
    ASSERT_EQ(SafeArrayGetElement(array, &first, &out), S_OK);
    EXPECT_EQ(std::wcscmp(out, L"Critical"), 0);
    BSTR stored = static_cast<BSTR*>(array->pvData)[0];
    EXPECT_NE(out, stored);
    SysFreeString(out);
    LONG second = 2;
    BSTR empty = reinterpret_cast<BSTR>(1);
    ASSERT_EQ(SafeArrayGetElement(array, &second, &empty), S_OK);
    EXPECT_EQ(empty, nullptr);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArray, IndexOutsideBoundsIsRefused) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 5, 2);
    ASSERT_NE(array, nullptr);
    LONG value = 9;
    for (LONG index : {4, 7, -1}) {
        EXPECT_EQ(SafeArrayPutElement(array, &index, &value), DISP_E_BADINDEX) << index;
        EXPECT_EQ(SafeArrayGetElement(array, &index, &value), DISP_E_BADINDEX) << index;
    }
    LONG last = 6;
    EXPECT_EQ(SafeArrayPutElement(array, &last, &value), S_OK);
    LONG read = 0;
    EXPECT_EQ(SafeArrayGetElement(array, &last, &read), S_OK);
    EXPECT_EQ(read, 9);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArray, BytesThroughAccessData) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, 4);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(SafeArrayGetElemsize(array), 1u);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
    std::memcpy(data, "\x00\x18\x00\x01", 4);
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    ASSERT_EQ(SafeArrayUnaccessData(array), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(array), E_UNEXPECTED);
    LONG index = 1;
    BYTE byte = 0;
    EXPECT_EQ(SafeArrayGetElement(array, &index, &byte), S_OK);
    EXPECT_EQ(byte, 0x18);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArray, VariantElementsAreDeepCopies) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    ASSERT_NE(array, nullptr);
    Value element;
    SetBstr(&element.v, L"inside");
    LONG index = 0;
    ASSERT_EQ(SafeArrayPutElement(array, &index, &element.v), S_OK);
    VariantClear(&element.v);
    Value out;
    ASSERT_EQ(SafeArrayGetElement(array, &index, &out.v), S_OK);
    ASSERT_EQ(out.v.vt, VT_BSTR);
    EXPECT_EQ(std::wcscmp(out.v.bstrVal, L"inside"), 0);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArray, RefusesUnsupportedShapes) {
    EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(0x0FFE, 0, 1), nullptr);
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_I4, 2, bounds), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_I4, INT32_MAX, 2), nullptr) << "upper bound overflows";
    SAFEARRAY* one = SafeArrayCreate(VT_I4, 1, bounds);
    EXPECT_NE(one, nullptr);
    SafeArrayDestroy(one);
}

TEST(SafeArray, CopyIsIndependent) {
    Value source;
    SetStrings(&source.v, {L"a", L"b"});
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(source.v.parray, &copy), S_OK);
    VariantClear(&source.v);
    EXPECT_EQ(Strings(copy), (std::vector<std::wstring>{L"a", L"b"}));
    SafeArrayDestroy(copy);
}

TEST(SafeArray, FailedCopyFreesThePartialArray) {
    Value source;
    SetStrings(&source.v, {L"a", L"b", L"c"});
    SAFEARRAY* copy = reinterpret_cast<SAFEARRAY*>(1);
    AllocationFailureGuard guard(2); // the array and one string
    EXPECT_EQ(SafeArrayCopy(source.v.parray, &copy), E_OUTOFMEMORY);
    EXPECT_EQ(copy, nullptr);
}

} // namespace
