#include "Readable.h"

#include <sstream>

#include "Output.h"

#include <climits>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

using svcproc::wbemwire::Object;
using svcproc::wbemwire::Value;

Value Int(int64_t v) {
    Value value;
    value.kind = Value::Kind::Integer;
    value.integer = v;
    return value;
}
Value Text(const std::string& v) {
    Value value;
    value.kind = Value::Kind::String;
    value.text = v;
    return value;
}
Value Null() {
    return Value{};
}

Object Sensor(int64_t reading, int64_t modifier, int64_t units) {
    Object object;
    object.className = "VQX_SpNumericSensor";
    object.properties = {{"Name", Text("VCC 3.3V(00010000)")},
                         {"BaseUnits", Int(units)},
                         {"CurrentReading", Int(reading)},
                         {"CurrentState", Text("Ok")},
                         {"Hysteresis", Int(10)},
                         {"LowerThresholdCritical", Int(2970)},
                         {"LowerThresholdFatal", Int(2640)},
                         {"LowerThresholdNonCritical", Int(3135)},
                         {"UnitModifier", Int(modifier)},
                         {"UpperThresholdCritical", Null()},
                         {"UpperThresholdFatal", Int(3960)},
                         {"UpperThresholdNonCritical", Int(3465)}};
    return object;
}

struct ScaledCase {
    int64_t raw;
    int64_t modifier;
    int64_t units;
    const char* text;
};

TEST(ReadableTest, ReadingsAreScaledIntoTheirUnit) {
    const ScaledCase cases[] = {
        {3300, -3, 5, "3.300 V"},
        {12000, -3, 5, "12.000 V"},
        {5, -3, 5, "0.005 V"},
        {0, -3, 5, "0.000 V"},
        {-1250, -3, 5, "-1.250 V"},
        {-5, -1, 2, "-0.5 °C"},
        {400, -1, 2, "40.0 °C"},
        {2400, 0, 19, "2400 rpm"},
        {0, 0, 19, "0 rpm"},
        {12, 2, 7, "1200 W"},
        {0, 2, 7, "0 W"},
        {7, -2, 99, "0.07"},
        {INT64_MIN, -3, 6, "-9223372036854775.808 A"},
        {INT64_MAX, 0, 0, "9223372036854775807"},
        {3, 40, 5, "3e40 V"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wbemq::ScaledText(c.raw, c.modifier, c.units), c.text)
            << c.raw << " " << c.modifier << " " << c.units;
    }
}

TEST(ReadableTest, LedStatesAreWords) {
    const std::pair<int64_t, const char*> cases[] = {
        {0, "unknown"}, {1, "off"}, {2, "on"}, {3, "alternating"}, {9, "unknown"}, {-1, "unknown"}};
    for (const auto& [state, text] : cases) {
        EXPECT_EQ(wbemq::AlarmStateText(state), text) << state;
    }
}

TEST(ReadableTest, OnlyReadingsAndLimitsOfScaledObjectsGetAReadableText) {
    Object sensor = Sensor(3300, -3, 5);
    EXPECT_EQ(wbemq::ReadableText(sensor, "CurrentReading"), "3.300 V");
    EXPECT_EQ(wbemq::ReadableText(sensor, "LowerThresholdFatal"), "2.640 V");
    // Hysteresis is a count of resolution steps, not a reading.
    EXPECT_EQ(wbemq::ReadableText(sensor, "Hysteresis"), std::nullopt);
    EXPECT_EQ(wbemq::ReadableText(sensor, "UpperThresholdCritical"), std::nullopt);
    EXPECT_EQ(wbemq::ReadableText(sensor, "CurrentState"), std::nullopt);
    EXPECT_EQ(wbemq::ReadableText(sensor, "NoSuchProperty"), std::nullopt);

    Object unscaled = sensor;
    std::erase_if(unscaled.properties, [](const auto& p) { return p.name == "UnitModifier"; });
    EXPECT_EQ(wbemq::ReadableText(unscaled, "CurrentReading"), std::nullopt);

    Object led;
    led.properties = {{"AlarmState", Int(2)}};
    EXPECT_EQ(wbemq::ReadableText(led, "AlarmState"), "on");
}

TEST(ReadableTest, SummaryOfASensorHasNameReadingStateAndLimitsInOrder) {
    auto columns = wbemq::SummaryColumns(Sensor(3300, -3, 5));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Name", "VCC 3.3V(00010000)"}, {"Reading", "3.300 V"},      {"State", "Ok"},
        {"Low fatal", "2.640 V"},       {"Low critical", "2.970 V"}, {"Low warning", "3.135 V"},
        {"High warning", "3.465 V"},    {"High critical", "-"},      {"High fatal", "3.960 V"}};
    EXPECT_EQ(columns, expected);
}

TEST(ReadableTest, SummaryOfAnLedIsItsNameAndOnOrOff) {
    Object led;
    led.properties = {{"Name", Text("Power LED(00040001)")}, {"AlarmState", Int(1)}};
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"Name", "Power LED(00040001)"}, {"LED", "off"}};
    EXPECT_EQ(wbemq::SummaryColumns(led), expected);

    Object other;
    other.properties = {{"Name", Text("x")}, {"Size", Int(1)}};
    EXPECT_TRUE(wbemq::SummaryColumns(other).empty());
}

TEST(ReadableTest, AnEventIsOneLineWithTheLocalTimeAndTheKeyFirst) {
    setenv("TZ", "UTC", 1);
    tzset();
    Object event;
    event.className = "VQX_SpNumericSensorAlert";
    event.properties = {{"CurrentState", Text("Critical")}, {"Name", Text("VCC 3.3V(00010000)")}};
    EXPECT_EQ(wbemq::EventLine(event, 1234),
              "1970-01-01 00:00:01.234 VQX_SpNumericSensorAlert Name=\"VCC 3.3V(00010000)\" "
              "CurrentState=Critical");

    setenv("TZ", "CET-1", 1);
    tzset();
    event.properties = {{"Name", Text("say \"hi\"")}, {"Count", Int(3)}, {"Empty", Text("")}};
    EXPECT_EQ(wbemq::EventLine(event, 86400000 + 5),
              "1970-01-02 01:00:00.005 VQX_SpNumericSensorAlert Name=\"say \\\"hi\\\"\" Count=3 "
              "Empty=\"\"");
    unsetenv("TZ");
    tzset();
}

TEST(ReadableTest, TablesLeadWithTheReadableColumnsAndBriefKeepsOnlyThem) {
    Object led;
    led.properties = {{"Name", Text("Power LED(00040001)")}, {"AlarmState", Int(2)}};
    std::ostringstream full;
    wbemq::PrintTable(full, {led});
    EXPECT_EQ(full.str(), "Name                 LED  Name                 AlarmState\n"
                          "Power LED(00040001)  on   Power LED(00040001)  2\n");
    std::ostringstream brief;
    wbemq::PrintTable(brief, {led}, true);
    EXPECT_EQ(brief.str(), "Name                 LED\n"
                           "Power LED(00040001)  on\n");

    // Nothing to summarise: the raw table, brief or not.
    Object widget;
    widget.properties = {{"Name", Text("alpha")}, {"Size", Int(12)}};
    std::ostringstream raw;
    wbemq::PrintTable(raw, {widget}, true);
    EXPECT_EQ(raw.str(), "Name   Size\nalpha  12\n");
}

TEST(ReadableTest, AnObjectShowsTheReadableTextBesideTheRawValue) {
    Object sensor = Sensor(3300, -3, 5);
    sensor.properties.resize(5);
    sensor.properties.push_back({"UnitModifier", Int(-3)});
    std::ostringstream out;
    wbemq::PrintObject(out, sensor);
    EXPECT_EQ(out.str(), "Name            VCC 3.3V(00010000)\n"
                         "BaseUnits       5\n"
                         "CurrentReading  3300  (3.300 V)\n"
                         "CurrentState    Ok\n"
                         "Hysteresis      10\n"
                         "UnitModifier    -3\n");
}

} // namespace
