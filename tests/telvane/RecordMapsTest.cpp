#include <gtest/gtest.h>

#include "LogCapture.h"
#include "ProviderData.h"
#include "RecordMaps.h"

using namespace telvane;

namespace {

CSpNumericSensor* Sensor(uint32_t handle, const wchar_t* description) {
    CProviderData data;
    CSensorInformation info;
    info.m_Description = description;
    info.m_SensorType = 3;
    info.m_vPossibleStates = {L"Ok", L"Critical"};
    auto* record = new CSpNumericSensor;
    data.PopulateSensor(handle, record, info);
    return record;
}

std::wstring KeyOf(CSpNumericSensor* record) {
    std::wstring key;
    GetRecordKey(record->m_Name, &key);
    return key;
}

TEST(RecordMapsTest, IndexFollowsKeyOrderNotHandleOrder) {
    CSensorMap map;
    ASSERT_TRUE(map.Put(Sensor(0x10001, L"fan")));
    ASSERT_TRUE(map.Put(Sensor(0x10002, L"Fan")));
    ASSERT_TRUE(map.Put(Sensor(0x30003, L"CPU")));
    EXPECT_EQ(map.Count(), 0) << "no index before locking";
    map.Lock();
    ASSERT_EQ(map.Count(), 3);
    EXPECT_EQ(KeyOf(map.At(0)), L"CPU(00030003)");
    EXPECT_EQ(KeyOf(map.At(1)), L"Fan(00010002)") << "upper case before every lower case";
    EXPECT_EQ(KeyOf(map.At(2)), L"fan(00010001)");
}

TEST(RecordMapsTest, KeysCompareAsUtf16CodeUnits) {
    Utf16Less less;
    // U+FF21 is one code unit; U+1F600 is a surrogate pair starting 0xD83D.
    EXPECT_TRUE(less(L"\U0001F600", L"\uFF21"));
    EXPECT_FALSE(less(L"\uFF21", L"\U0001F600"));
    EXPECT_TRUE(less(L"AB", L"ABC")) << "a proper prefix sorts first";
    EXPECT_TRUE(less(L"Z", L"a"));
    EXPECT_FALSE(less(L"a", L"a"));
}

TEST(RecordMapsTest, PutRefusesDuplicatesUnnamedAndLateRecords) {
    LogCapture log;
    CSensorMap map;
    CSpNumericSensor* first = Sensor(0x10001, L"VCC");
    CSpNumericSensor* duplicate = Sensor(0x10001, L"VCC");
    ASSERT_TRUE(map.Put(first));
    EXPECT_FALSE(map.Put(duplicate));
    char line[80];
    snprintf(line, sizeof line, "CSensorMap::Put(0x%08x) returns 0",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(duplicate)));
    EXPECT_TRUE(log.Contains(line));
    delete duplicate;
    EXPECT_EQ(map.Get(L"VCC(00010001)"), first) << "the first record stays";

    EXPECT_FALSE(map.Put(nullptr));
    CSpNumericSensor unnamed;
    EXPECT_FALSE(map.Put(&unnamed));

    map.Lock();
    CSpNumericSensor* late = Sensor(0x10002, L"VBAT");
    EXPECT_FALSE(map.Put(late));
    delete late;
    EXPECT_TRUE(log.Contains("CSensorMap::Put - Map already locked"));
    EXPECT_EQ(map.Count(), 1);
}

TEST(RecordMapsTest, GetFindsExactKeysOnly) {
    LogCapture log;
    CLedMap map;
    CProviderData data;
    auto* led = new CLedAlarmDevice;
    CLedInformation info;
    info.m_Description = L"Fault";
    data.PopulateLed(0x40001, led, info);
    ASSERT_TRUE(map.Put(led));
    map.Lock();
    EXPECT_EQ(map.Get(L"Fault(00040001)"), led);
    EXPECT_EQ(map.Get(L"fault(00040001)"), nullptr);
    EXPECT_TRUE(log.Contains("CLedMap::Get(fault(00040001)) - led not in map"));
}

} // namespace
