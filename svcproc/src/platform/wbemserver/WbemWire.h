// The messages between management clients and the WBEM endpoint.
//
// The endpoint is a stream Unix socket, $SVCPROC_RUNTIME_DIR/wbem/endpoint.sock.
// Every message is a frame: a 32-bit little-endian body length, then the body.
// A body starts with the protocol version (1) and the message type, both one
// byte. Within a body:
//   u8, u32, i32, i64, u64  little-endian integers
//   f64                     IEEE double, as its 64 bits (u64)
//   str                     u32 byte count, then that many bytes of UTF-8
//   value                   u8 kind, then: Null nothing, Boolean u8 (0 or 1),
//                           Integer i64, Unsigned u64, Real f64, String str,
//                           Array u32 count and that many values (no arrays)
//
// Client to endpoint (a body of at most kMaxRequestBody bytes):
//   Enumerate 0x01, GetObject 0x02, Watch 0x03:
//     u8 impersonation level (1 anonymous, 2 identify, 3 impersonate,
//     4 delegate), str namespace, str locale (empty: none), str target (the
//     class; for GetObject the object path)
// Endpoint to client (a body of at most kMaxReplyBody bytes):
//   Object 0x81: str class, u32 count, count times (str name, value)
//   Status 0x82: i32 HRESULT, str text
//
// A connection carries one request at a time. Enumerate answers Objects then
// one Status; GetObject one Object and a Status, or a failing Status; Watch
// answers a Status (success: watching), then one Object per event until the
// client closes the connection or the watch ends with a failing Status. A
// watching client sends nothing more. A frame that is too large, cut short
// or does not decode gets a failing Status (WBEM_E_INVALID_PARAMETER) and
// the connection is closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace svcproc::wbemwire {

constexpr uint8_t kProtocolVersion = 1;
constexpr size_t kFrameHeaderSize = 4;
constexpr uint32_t kMaxRequestBody = 16 * 1024;
constexpr uint32_t kMaxReplyBody = 4 * 1024 * 1024;
constexpr uint32_t kMaxArrayItems = 65536;
constexpr uint32_t kMaxProperties = 4096;

enum class MessageType : uint8_t {
    Enumerate = 0x01,
    GetObject = 0x02,
    Watch = 0x03,
    Object = 0x81,
    Status = 0x82,
};

struct Value {
    enum class Kind : uint8_t { Null = 0, Boolean, Integer, Unsigned, Real, String, Array };
    Kind kind = Kind::Null;
    bool boolean = false;
    int64_t integer = 0;
    uint64_t unsignedValue = 0;
    double real = 0.0;
    std::string text;
    std::vector<Value> items;

    bool operator==(const Value&) const = default;
};

struct Property {
    std::string name;
    Value value;
    bool operator==(const Property&) const = default;
};

struct Object {
    std::string className;
    std::vector<Property> properties;
    bool operator==(const Object&) const = default;
};

struct Request {
    MessageType type = MessageType::Enumerate;
    uint8_t impersonationLevel = 3;
    std::string nameSpace;
    std::string locale;
    std::string target;
    bool operator==(const Request&) const = default;
};

struct Status {
    int32_t hresult = 0;
    std::string text;
};

struct Reply {
    MessageType type = MessageType::Status;
    Object object; // for Object
    Status status; // for Status
};

// Whole frames, length prefix included.
std::vector<uint8_t> EncodeRequest(const Request& request);
std::vector<uint8_t> EncodeObject(const Object& object);
std::vector<uint8_t> EncodeStatus(const Status& status);

// The body length of a frame header, which must hold kFrameHeaderSize bytes.
uint32_t FrameBodyLength(const uint8_t* header);

// Decode one body (without its length prefix). False and a reason in *error
// for anything malformed: wrong version or type, short or trailing bytes,
// strings that are not UTF-8, bounds exceeded.
bool DecodeRequest(const uint8_t* body, size_t size, Request* request, std::string* error);
bool DecodeReply(const uint8_t* body, size_t size, Reply* reply, std::string* error);

// UTF-8 for the wide strings of the layer; FromUtf8 refuses invalid text.
std::string ToUtf8(const std::wstring& text);
bool FromUtf8(const std::string& text, std::wstring* out);

} // namespace svcproc::wbemwire
