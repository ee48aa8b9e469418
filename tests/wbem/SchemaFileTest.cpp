// The shipped schema: its three classes, their keys and providers, and that
// each property takes the value its provider writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sys/stat.h>

#include "TestValues.h"
#include "Wbem.h"

using namespace svcproc::wbem;
using svcproc::test::SetBool;
using svcproc::test::SetBstr;
using svcproc::test::SetI2;
using svcproc::test::SetI4;
using svcproc::test::SetStrings;
using svcproc::test::Value;

namespace {

std::shared_ptr<const Schema> ShippedSchema() {
    std::string error;
    auto schema = LoadSchemaFile(SVCP_TEST_SCHEMA, &error);
    EXPECT_TRUE(schema) << error;
    return schema;
}

std::set<std::wstring> PropertyNames(const ClassDecl& decl) {
    std::set<std::wstring> names;
    for (const auto& property : decl.properties) {
        names.insert(property.name);
    }
    return names;
}

std::vector<std::wstring> KeyNames(const ClassDecl& decl) {
    std::vector<std::wstring> keys;
    for (const auto& property : decl.properties) {
        if (property.IsKey()) {
            keys.push_back(property.name);
        }
    }
    return keys;
}

TEST(ShippedSchema, DeclaresTheSensorClass) {
    auto schema = ShippedSchema();
    ASSERT_TRUE(schema);
    auto sensor = schema->FindClass(L"root\\cimv2", L"VQX_SpNumericSensor");
    ASSERT_TRUE(sensor);
    EXPECT_EQ(PropertyNames(*sensor), (std::set<std::wstring>{L"Accuracy",
                                                              L"BaseUnits",
                                                              L"Caption",
                                                              L"CreationClassName",
                                                              L"CurrentReading",
                                                              L"CurrentState",
                                                              L"Description",
                                                              L"DeviceID",
                                                              L"Hysteresis",
                                                              L"IsLinear",
                                                              L"LowerThresholdCritical",
                                                              L"LowerThresholdFatal",
                                                              L"LowerThresholdNonCritical",
                                                              L"MaxReadable",
                                                              L"MinReadable",
                                                              L"Name",
                                                              L"NominalReading",
                                                              L"OtherSensorTypeDescription",
                                                              L"PossibleStates",
                                                              L"RateUnits",
                                                              L"Resolution",
                                                              L"SensorType",
                                                              L"SystemName",
                                                              L"SystemCreationClassName",
                                                              L"UnitModifier",
                                                              L"UpperThresholdCritical",
                                                              L"UpperThresholdFatal",
                                                              L"UpperThresholdNonCritical"}));
    EXPECT_EQ(sensor->properties.size(), 28u);
    EXPECT_EQ(KeyNames(*sensor), std::vector<std::wstring>{L"Name"});
    EXPECT_EQ(sensor->Provider(), L"VQX_SpNumericSensorProvider");
    EXPECT_FALSE(sensor->IsAbstract());
}

TEST(ShippedSchema, DeclaresTheLedClass) {
    auto schema = ShippedSchema();
    ASSERT_TRUE(schema);
    auto led = schema->FindClass(L"root\\cimv2", L"VQX_LedAlarmDevice");
    ASSERT_TRUE(led);
    EXPECT_EQ(
        PropertyNames(*led),
        (std::set<std::wstring>{L"AudibleAlarm", L"AlarmState", L"Caption", L"CreationClassName",
                                L"Description", L"DeviceID", L"MotionAlarm", L"Name", L"SystemName",
                                L"SystemCreationClassName", L"Urgency", L"VisibleAlarm"}));
    EXPECT_EQ(led->properties.size(), 12u);
    EXPECT_EQ(KeyNames(*led), std::vector<std::wstring>{L"Name"});
    EXPECT_EQ(led->Provider(), L"VQX_LedAlarmDeviceProvider");
}

TEST(ShippedSchema, DeclaresTheAlertEventClass) {
    auto schema = ShippedSchema();
    ASSERT_TRUE(schema);
    auto alert = schema->FindClass(L"root\\cimv2", L"VQX_SpNumericSensorAlert");
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->IsEventClass());
    EXPECT_EQ(PropertyNames(*alert), (std::set<std::wstring>{L"CurrentState", L"Name"}));
    EXPECT_EQ(alert->Provider(), L"VQX_SpNumericSensorProvider");
    auto sensorClasses = schema->ClassesOfProvider(L"VQX_SpNumericSensorProvider", L"root\\cimv2");
    ASSERT_EQ(sensorClasses.size(), 2u);
    auto ledClasses = schema->ClassesOfProvider(L"VQX_LedAlarmDeviceProvider");
    ASSERT_EQ(ledClasses.size(), 1u);
    EXPECT_EQ(ledClasses[0]->name, L"VQX_LedAlarmDevice");
}

// What the providers write into each property.
enum class Written { I2, I4, Bool, Bstr, BstrArray };

struct WrittenCase {
    const wchar_t* className;
    const wchar_t* property;
    Written written;
};

const WrittenCase kWritten[] = {
    {L"VQX_SpNumericSensor", L"Accuracy", Written::I4},
    {L"VQX_SpNumericSensor", L"BaseUnits", Written::I2},
    {L"VQX_SpNumericSensor", L"Caption", Written::Bstr},
    {L"VQX_SpNumericSensor", L"CreationClassName", Written::Bstr},
    {L"VQX_SpNumericSensor", L"CurrentReading", Written::I4},
    {L"VQX_SpNumericSensor", L"CurrentState", Written::Bstr},
    {L"VQX_SpNumericSensor", L"Description", Written::Bstr},
    {L"VQX_SpNumericSensor", L"DeviceID", Written::Bstr},
    {L"VQX_SpNumericSensor", L"Hysteresis", Written::I4},
    {L"VQX_SpNumericSensor", L"IsLinear", Written::Bool},
    {L"VQX_SpNumericSensor", L"LowerThresholdCritical", Written::I4},
    {L"VQX_SpNumericSensor", L"LowerThresholdFatal", Written::I4},
    {L"VQX_SpNumericSensor", L"LowerThresholdNonCritical", Written::I4},
    {L"VQX_SpNumericSensor", L"MaxReadable", Written::I4},
    {L"VQX_SpNumericSensor", L"MinReadable", Written::I4},
    {L"VQX_SpNumericSensor", L"Name", Written::Bstr},
    {L"VQX_SpNumericSensor", L"NominalReading", Written::I4},
    {L"VQX_SpNumericSensor", L"OtherSensorTypeDescription", Written::Bstr},
    {L"VQX_SpNumericSensor", L"PossibleStates", Written::BstrArray},
    {L"VQX_SpNumericSensor", L"RateUnits", Written::I2},
    {L"VQX_SpNumericSensor", L"Resolution", Written::I4},
    {L"VQX_SpNumericSensor", L"SensorType", Written::I2},
    {L"VQX_SpNumericSensor", L"SystemName", Written::Bstr},
    {L"VQX_SpNumericSensor", L"SystemCreationClassName", Written::Bstr},
    {L"VQX_SpNumericSensor", L"UnitModifier", Written::I4},
    {L"VQX_SpNumericSensor", L"UpperThresholdCritical", Written::I4},
    {L"VQX_SpNumericSensor", L"UpperThresholdFatal", Written::I4},
    {L"VQX_SpNumericSensor", L"UpperThresholdNonCritical", Written::I4},
    {L"VQX_LedAlarmDevice", L"AudibleAlarm", Written::Bool},
    {L"VQX_LedAlarmDevice", L"AlarmState", Written::I2},
    {L"VQX_LedAlarmDevice", L"Caption", Written::Bstr},
    {L"VQX_LedAlarmDevice", L"CreationClassName", Written::Bstr},
    {L"VQX_LedAlarmDevice", L"Description", Written::Bstr},
    {L"VQX_LedAlarmDevice", L"DeviceID", Written::Bstr},
    {L"VQX_LedAlarmDevice", L"MotionAlarm", Written::Bool},
    {L"VQX_LedAlarmDevice", L"Name", Written::Bstr},
    {L"VQX_LedAlarmDevice", L"SystemName", Written::Bstr},
    {L"VQX_LedAlarmDevice", L"SystemCreationClassName", Written::Bstr},
    {L"VQX_LedAlarmDevice", L"Urgency", Written::I2},
    {L"VQX_LedAlarmDevice", L"VisibleAlarm", Written::Bool},
    {L"VQX_SpNumericSensorAlert", L"CurrentState", Written::Bstr},
    {L"VQX_SpNumericSensorAlert", L"Name", Written::Bstr},
};

class ProviderValues : public testing::TestWithParam<WrittenCase> {};

TEST_P(ProviderValues, EveryPropertyTakesWhatItsProviderWrites) {
    auto schema = ShippedSchema();
    ASSERT_TRUE(schema);
    auto decl = schema->FindClass(L"root\\cimv2", GetParam().className);
    ASSERT_TRUE(decl);
    IWbemClassObject* classObject = nullptr;
    ASSERT_EQ(CreateClassObject(decl, &classObject), WBEM_S_NO_ERROR);
    IWbemClassObject* instance = nullptr;
    ASSERT_EQ(classObject->SpawnInstance(0, &instance), WBEM_S_NO_ERROR);

    Value value;
    switch (GetParam().written) {
    case Written::I2:
        SetI2(&value.v, 5);
        break;
    case Written::I4:
        SetI4(&value.v, -3);
        break;
    case Written::Bool:
        SetBool(&value.v, true);
        break;
    case Written::Bstr:
        SetBstr(&value.v, L"VCC(00010003)");
        break;
    case Written::BstrArray:
        SetStrings(&value.v, {L"Ok", L"Critical"});
        break;
    }
    EXPECT_EQ(instance->Put(GetParam().property, 0, &value.v, 0), WBEM_S_NO_ERROR);
    Value read;
    EXPECT_EQ(instance->Get(GetParam().property, 0, &read.v, nullptr, nullptr), WBEM_S_NO_ERROR);
    EXPECT_NE(read.v.vt, VT_NULL);
    instance->Release();
    classObject->Release();
}

INSTANTIATE_TEST_SUITE_P(Shipped, ProviderValues, testing::ValuesIn(kWritten));

class SchemaEnvironment : public testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("SVCPROC_SCHEMA");
        m_bHadOld = old != nullptr;
        m_Old = old ? old : "";
    }
    void TearDown() override {
        if (m_bHadOld) {
            setenv("SVCPROC_SCHEMA", m_Old.c_str(), 1);
        } else {
            unsetenv("SVCPROC_SCHEMA");
        }
    }
    bool m_bHadOld = false;
    std::string m_Old;
};

TEST_F(SchemaEnvironment, VariableNamesTheFile) {
    setenv("SVCPROC_SCHEMA", "/somewhere/else.mof", 1);
    EXPECT_EQ(DefaultSchemaPath(), "/somewhere/else.mof");
    std::string error;
    EXPECT_FALSE(GetSchema(&error));
    EXPECT_EQ(error, "/somewhere/else.mof: cannot open: No such file or directory");
}

TEST_F(SchemaEnvironment, WithoutTheVariableTheCopyBesideTheLibraryIsUsed) {
    unsetenv("SVCPROC_SCHEMA");
    std::string path = DefaultSchemaPath();
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0) << path;
    std::string error;
    auto schema = GetSchema(&error);
    ASSERT_TRUE(schema) << error;
    EXPECT_TRUE(schema->FindClass(L"root\\cimv2", L"VQX_SpNumericSensor"));
    EXPECT_EQ(GetSchema(&error), schema) << "loaded once";
}

} // namespace
