// The endpoint's message encoding.
#include <gtest/gtest.h>

#include "WbemWire.h"

namespace {

namespace wire = svcproc::wbemwire;

std::vector<uint8_t> Body(const std::vector<uint8_t>& frame) {
    EXPECT_EQ(wire::FrameBodyLength(frame.data()), frame.size() - wire::kFrameHeaderSize);
    return {frame.begin() + wire::kFrameHeaderSize, frame.end()};
}

wire::Value Scalar(wire::Value::Kind kind) {
    wire::Value v;
    v.kind = kind;
    return v;
}

TEST(Wire, RequestsSurviveTheRoundTrip) {
    for (auto type :
         {wire::MessageType::Enumerate, wire::MessageType::GetObject, wire::MessageType::Watch}) {
        wire::Request request{type, 2, "root\\cimv2", "MS_409",
                              "VQX_SpNumericSensor.Name=\"VCC(00010003)\""};
        std::vector<uint8_t> body = Body(wire::EncodeRequest(request));
        wire::Request decoded;
        std::string error;
        ASSERT_TRUE(wire::DecodeRequest(body.data(), body.size(), &decoded, &error)) << error;
        EXPECT_EQ(decoded, request);
    }
}

TEST(Wire, ObjectsKeepEveryKindOfValue) {
    wire::Object object;
    object.className = "TST_Widget";
    wire::Value boolean = Scalar(wire::Value::Kind::Boolean);
    boolean.boolean = true;
    wire::Value integer = Scalar(wire::Value::Kind::Integer);
    integer.integer = INT64_MIN;
    wire::Value unsignedValue = Scalar(wire::Value::Kind::Unsigned);
    unsignedValue.unsignedValue = UINT64_MAX;
    wire::Value real = Scalar(wire::Value::Kind::Real);
    real.real = -0.125;
    wire::Value text = Scalar(wire::Value::Kind::String);
    text.text = "Grüße \xF0\x9F\x98\x80";
    wire::Value array = Scalar(wire::Value::Kind::Array);
    array.items = {text, Scalar(wire::Value::Kind::Null), integer};
    object.properties = {{"a", Scalar(wire::Value::Kind::Null)},
                         {"b", boolean},
                         {"c", integer},
                         {"d", unsignedValue},
                         {"e", real},
                         {"f", text},
                         {"g", array},
                         {"h", Scalar(wire::Value::Kind::Array)}};
    std::vector<uint8_t> body = Body(wire::EncodeObject(object));
    wire::Reply reply;
    std::string error;
    ASSERT_TRUE(wire::DecodeReply(body.data(), body.size(), &reply, &error)) << error;
    EXPECT_EQ(reply.type, wire::MessageType::Object);
    EXPECT_EQ(reply.object, object);

    body = Body(wire::EncodeStatus({static_cast<int32_t>(0x80041003), "access denied"}));
    ASSERT_TRUE(wire::DecodeReply(body.data(), body.size(), &reply, &error)) << error;
    EXPECT_EQ(reply.type, wire::MessageType::Status);
    EXPECT_EQ(reply.status.hresult, static_cast<int32_t>(0x80041003));
    EXPECT_EQ(reply.status.text, "access denied");
}

TEST(Wire, RefusesRepliesThatBreakTheRules) {
    struct Case {
        const char* what;
        std::vector<uint8_t> body;
    };
    const Case cases[] = {
        {"empty", {}},
        {"wrong version", {2, 0x82, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"request type", {1, 0x01, 3}},
        {"array in array",
         {1, 0x81, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'x', 6, 1, 0, 0, 0, 6, 0, 0, 0, 0}},
        {"array count beyond the message",
         {1, 0x81, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'x', 6, 0xFF, 0xFF, 0, 0}},
        {"property count beyond the message", {1, 0x81, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"unknown value kind", {1, 0x81, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'x', 9}},
        {"boolean 2", {1, 0x81, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'x', 1, 2}},
        {"status cut short", {1, 0x82, 0, 0}},
    };
    for (const Case& c : cases) {
        wire::Reply reply;
        std::string error;
        EXPECT_FALSE(wire::DecodeReply(c.body.data(), c.body.size(), &reply, &error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
    }
}

TEST(Wire, Utf8IsCheckedBothWays) {
    const char* invalid[] = {"\xC3\x28", "\xE2\x82",     "\xF8\x88\x80\x80\x80",
                             "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"};
    for (const char* text : invalid) {
        std::wstring out;
        EXPECT_FALSE(wire::FromUtf8(text, &out)) << text;
    }
    std::wstring wide = L"VCC(00010003) \u00e9\u20ac\U0001F600";
    std::wstring back;
    ASSERT_TRUE(wire::FromUtf8(wire::ToUtf8(wide), &back));
    EXPECT_EQ(back, wide);
    EXPECT_EQ(wire::ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

} // namespace
