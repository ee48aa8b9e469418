#include <gtest/gtest.h>

#include "ManagedObjects.h"
#include "ProviderData.h"
#include "com/ComApi.h"

using namespace telvane;

namespace {

std::wstring Text(const CWbemProperty& property) {
    const VARIANT& v = property.Value();
    EXPECT_EQ(v.vt, VT_BSTR) << "property "
                             << std::string(property.Name().begin(), property.Name().end());
    return v.vt == VT_BSTR && v.bstrVal ? std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) : L"";
}

CSensorInformation SensorInfo(const wchar_t* description, uint16_t type) {
    CSensorInformation info;
    info.m_Accuracy = static_cast<int32_t>(0x80000000u);
    info.m_BaseUnits = 5;
    info.m_Description = description;
    info.m_Hysteresis = 10;
    info.m_bIsLinear = true;
    info.m_LowerThresholdCritical = 0;
    info.m_LowerThresholdFatal = static_cast<int32_t>(0x80000000u);
    info.m_LowerThresholdNonCritical = 4500;
    info.m_MaxReadable = 6000;
    info.m_MinReadable = 0;
    info.m_NominalReading = 5000;
    info.m_vPossibleStates = {L"Ok", L"Critical"};
    info.m_RateUnits = 0;
    info.m_Resolution = 10;
    info.m_SensorType = type;
    info.m_UnitModifier = -3;
    info.m_UpperThresholdCritical = 5500;
    info.m_UpperThresholdFatal = static_cast<int32_t>(0x80000000u);
    info.m_UpperThresholdNonCritical = 5250;
    return info;
}

TEST(ManagedObjectsTest, SensorTextsFollowHandleAndDescription) {
    CProviderData data;
    CSpNumericSensor record;
    data.PopulateSensor(0x00010003, &record, SensorInfo(L"VCC", 3));
    EXPECT_EQ(record.m_Handle, 0x00010003u);
    EXPECT_EQ(Text(record.m_DeviceID), L"00010003");
    EXPECT_EQ(Text(record.m_Name), L"VCC(00010003)");
    EXPECT_EQ(Text(record.m_Caption), L"Voltage(00010003)");
    EXPECT_EQ(Text(record.m_Description), L"VCC(00010003): Voltage sensor");
    EXPECT_EQ(record.m_SensorType.Value().vt, VT_I2);
    EXPECT_EQ(record.m_SensorType.Value().iVal, 3);
}

TEST(ManagedObjectsTest, LedTextsFollowHandleAndDescription) {
    CProviderData data;
    CLedAlarmDevice record;
    CLedInformation info;
    info.m_Urgency = 5;
    info.m_Description = L"Fault";
    info.m_BitMap = 1;
    data.PopulateLed(0x00040001, &record, info);
    EXPECT_EQ(Text(record.m_DeviceID), L"00040001");
    EXPECT_EQ(Text(record.m_Name), L"Fault(00040001)");
    EXPECT_EQ(Text(record.m_Caption), L"Brightwick LED(00040001)");
    EXPECT_EQ(Text(record.m_Description), L"Fault(00040001): Brightwick LED");
    EXPECT_EQ(record.m_Urgency.Value().vt, VT_I2);
    EXPECT_EQ(record.m_Urgency.Value().iVal, 5);
    EXPECT_EQ(record.m_AlarmState.Value().vt, VT_I2);
    EXPECT_EQ(record.m_AlarmState.Value().iVal, 0);
}

TEST(ManagedObjectsTest, TypeTextsAndUnknownCodes) {
    struct Case {
        uint16_t code;
        const wchar_t* text;
    } cases[] = {{0, L"Unknown"},  {1, L"Other"},      {2, L"Temperature"},     {3, L"Voltage"},
                 {4, L"Current"},  {5, L"Tachometer"}, {6, L"Counter"},         {7, L"Switch"},
                 {8, L"Lock"},     {9, L"Humidity"},   {10, L"SmokeDetection"}, {11, L"Presence"},
                 {12, L"Unknown"}, {65535, L"Unknown"}};
    for (const Case& c : cases) {
        EXPECT_STREQ(SensorTypeToString(c.code), c.text) << c.code;
    }
    CProviderData data;
    for (uint16_t code : {uint16_t{0}, uint16_t{12}}) {
        CSpNumericSensor record;
        data.PopulateSensor(0x00020001, &record, SensorInfo(L"FAN1", code));
        EXPECT_EQ(Text(record.m_Caption), L"Unknown(00020001)");
        EXPECT_EQ(Text(record.m_Description), L"FAN1(00020001): Unknown sensor");
        EXPECT_EQ(record.m_SensorType.Value().iVal, code) << "the code itself is kept";
    }
}

TEST(ManagedObjectsTest, ConstructionAndPopulationValues) {
    CSpNumericSensor sensor;
    EXPECT_EQ(sensor.m_Handle, 0xFFFFFFFFu);
    EXPECT_EQ(sensor.m_CurrentState.Value().vt, VT_I4);
    EXPECT_EQ(sensor.m_CurrentState.Value().lVal, 0);
    EXPECT_EQ(sensor.m_CurrentReading.Value().vt, VT_EMPTY);
    EXPECT_EQ(Text(sensor.m_CreationClassName), L"VQX_SpNumericSensor");
    EXPECT_EQ(Text(sensor.m_SystemName), L"Brindlemoor");
    EXPECT_EQ(Text(sensor.m_SystemCreationClassName), L"ComputerSystem");
    CProviderData data;
    data.PopulateSensor(0x00010001, &sensor, SensorInfo(L"VCC", 3));
    EXPECT_EQ(sensor.m_CurrentReading.Value().vt, VT_I4);
    EXPECT_EQ(sensor.m_CurrentReading.Value().lVal, 0);
    EXPECT_EQ(Text(sensor.m_CurrentState), L"Unknown");
    EXPECT_EQ(sensor.m_IsLinear.Value().boolVal, VARIANT_TRUE);
    EXPECT_EQ(sensor.m_PossibleStates.Value().vt, VT_ARRAY | VT_BSTR);
    EXPECT_TRUE(sensor.m_Accuracy.IsUnset());
    EXPECT_FALSE(sensor.m_LowerThresholdCritical.IsUnset()) << "0 is a value";

    CLedAlarmDevice led;
    EXPECT_EQ(led.m_AlarmState.Value().vt, VT_I4);
    EXPECT_EQ(led.m_Urgency.Value().vt, VT_I4);
    EXPECT_EQ(led.m_AudibleAlarm.Value().boolVal, VARIANT_FALSE);
    EXPECT_EQ(led.m_MotionAlarm.Value().boolVal, VARIANT_FALSE);
    EXPECT_EQ(led.m_VisibleAlarm.Value().boolVal, VARIANT_TRUE);
    EXPECT_EQ(Text(led.m_CreationClassName), L"VQX_LedAlarmDevice");
}

// A safe array of strings with a chosen lower bound; null entries stay null.
SAFEARRAY* Strings(LONG lowerBound, std::vector<const wchar_t*> texts) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, lowerBound, static_cast<ULONG>(texts.size()));
    for (size_t i = 0; i < texts.size(); ++i) {
        if (texts[i]) {
            LONG index = lowerBound + static_cast<LONG>(i);
            BSTR text = SysAllocString(texts[i]);
            SafeArrayPutElement(array, &index, text);
            SysFreeString(text);
        }
    }
    return array;
}

TEST(ManagedObjectsTest, StateTextsComeFromThePossibleStates) {
    CSpNumericSensor record;
    std::wstring text;
    EXPECT_FALSE(GetStateStringForValueMapping(&record, 0, &text)) << "empty value";
    record.m_PossibleStates.SetTextArray({L"Ok", L"Critical"});
    ASSERT_TRUE(GetStateStringForValueMapping(&record, 0, &text));
    EXPECT_EQ(text, L"Ok");
    ASSERT_TRUE(GetStateStringForValueMapping(&record, 1, &text));
    EXPECT_EQ(text, L"Critical");
    EXPECT_FALSE(GetStateStringForValueMapping(&record, 2, &text));
    EXPECT_FALSE(GetStateStringForValueMapping(&record, 0xFFFFFFFFu, &text));
    record.m_PossibleStates.SetTextArray({});
    EXPECT_FALSE(GetStateStringForValueMapping(&record, 0, &text));

    VARIANT* value = record.m_PossibleStates.MutableValue();
    VariantClear(value);
    value->vt = VT_ARRAY | VT_BSTR;
    value->parray = Strings(0, {L"Ok", nullptr, L"Critical"});
    ASSERT_TRUE(GetStateStringForValueMapping(&record, 1, &text)) << "null entries are skipped";
    EXPECT_EQ(text, L"Critical");
    VariantClear(value);
    value->vt = VT_ARRAY | VT_BSTR;
    value->parray = Strings(1, {L"Ok", L"Critical"});
    EXPECT_FALSE(GetStateStringForValueMapping(&record, 0, &text)) << "lower bound 1";

    VariantClear(value);
    value->vt = VT_ARRAY | VT_ERROR;
    value->parray = SafeArrayCreateVector(VT_ERROR, 0, 2);
    EXPECT_FALSE(GetStateStringForValueMapping(&record, 0, &text)) << "not strings";
    record.m_PossibleStates.SetLong(7);
    EXPECT_FALSE(GetStateStringForValueMapping(&record, 0, &text));
}

TEST(ManagedObjectsTest, AllocationFailuresBecomeErrorValues) {
    CWbemProperty text(L"Name", CIM_STRING);
    CWbemProperty list(L"PossibleStates", CIM_STRING);
    svcproc::com::SetAllocationFailureForTest(0);
    text.SetText(L"VCC");
    svcproc::com::SetAllocationFailureForTest(-1);
    EXPECT_EQ(text.Value().vt, VT_ERROR);
    EXPECT_EQ(text.Value().scode, E_OUTOFMEMORY);

    // Every allocation of the array on the way may fail: each such failure
    // leaves one error value, never a partial array.
    bool sawFailure = false;
    for (int successes = 0; successes < 32; ++successes) {
        svcproc::com::SetAllocationFailureForTest(successes);
        list.SetTextArray({L"Ok", L"Critical"});
        svcproc::com::SetAllocationFailureForTest(-1);
        if (list.Value().vt == VT_ERROR) {
            EXPECT_EQ(list.Value().scode, E_OUTOFMEMORY) << successes;
            sawFailure = true;
            continue;
        }
        ASSERT_EQ(list.Value().vt, VT_ARRAY | VT_BSTR) << successes;
        EXPECT_EQ(list.Value().parray->rgsabound[0].cElements, 2u);
        break;
    }
    EXPECT_TRUE(sawFailure);
    EXPECT_EQ(list.Value().vt, VT_ARRAY | VT_BSTR) << "enough memory gives the array";

    text.SetText(L"VCC");
    EXPECT_EQ(text.Value().vt, VT_BSTR) << "a later store works again";
}

TEST(ManagedObjectsTest, KeyIsTheNameTextOnly) {
    CWbemProperty name(L"Name", CIM_STRING);
    std::wstring key = L"untouched";
    EXPECT_FALSE(GetRecordKey(name, &key));
    name.SetLong(3);
    EXPECT_FALSE(GetRecordKey(name, &key));
    VARIANT* value = name.MutableValue();
    VariantClear(value);
    value->vt = VT_BSTR;
    value->bstrVal = nullptr;
    EXPECT_FALSE(GetRecordKey(name, &key));
    name.SetText(L"VCC(00010003)");
    ASSERT_TRUE(GetRecordKey(name, &key));
    EXPECT_EQ(key, L"VCC(00010003)");
}

} // namespace
