// Encoding and decoding of the endpoint's messages.
#include "WbemWire.h"

#include <cstring>

namespace svcproc::wbemwire {
namespace {

class Writer {
public:
    explicit Writer(MessageType type) {
        m_vBytes.reserve(256);
        m_vBytes.insert(m_vBytes.end(), kFrameHeaderSize, 0);
        U8(kProtocolVersion);
        U8(static_cast<uint8_t>(type));
    }
    void U8(uint8_t v) { m_vBytes.push_back(v); }
    void U32(uint32_t v) { Little(v, 4); }
    void U64(uint64_t v) { Little(v, 8); }
    void Str(const std::string& s) {
        U32(static_cast<uint32_t>(s.size()));
        m_vBytes.insert(m_vBytes.end(), s.begin(), s.end());
    }
    void Val(const Value& v) {
        U8(static_cast<uint8_t>(v.kind));
        switch (v.kind) {
        case Value::Kind::Null:
            break;
        case Value::Kind::Boolean:
            U8(v.boolean ? 1 : 0);
            break;
        case Value::Kind::Integer:
            U64(static_cast<uint64_t>(v.integer));
            break;
        case Value::Kind::Unsigned:
            U64(v.unsignedValue);
            break;
        case Value::Kind::Real: {
            uint64_t bits = 0;
            std::memcpy(&bits, &v.real, sizeof(bits));
            U64(bits);
            break;
        }
        case Value::Kind::String:
            Str(v.text);
            break;
        case Value::Kind::Array:
            U32(static_cast<uint32_t>(v.items.size()));
            for (const Value& item : v.items) {
                Val(item);
            }
            break;
        }
    }
    std::vector<uint8_t> Finish() {
        uint32_t length = static_cast<uint32_t>(m_vBytes.size() - kFrameHeaderSize);
        for (size_t i = 0; i < kFrameHeaderSize; ++i) {
            m_vBytes[i] = static_cast<uint8_t>(length >> (8 * i));
        }
        return std::move(m_vBytes);
    }

private:
    void Little(uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            m_vBytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    }
    std::vector<uint8_t> m_vBytes;
};

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_pData(data), m_nSize(size) {}

    bool U8(uint8_t* v) {
        uint64_t x = 0;
        return Little(&x, 1) && (*v = static_cast<uint8_t>(x), true);
    }
    bool U32(uint32_t* v) {
        uint64_t x = 0;
        return Little(&x, 4) && (*v = static_cast<uint32_t>(x), true);
    }
    bool U64(uint64_t* v) { return Little(v, 8); }
    bool Str(std::string* s, const char* what) {
        uint32_t length = 0;
        if (!U32(&length)) {
            return false;
        }
        if (length > m_nSize - m_nPos) {
            return Fail(std::string(what) + " runs past the end of the message");
        }
        s->assign(reinterpret_cast<const char*>(m_pData + m_nPos), length);
        m_nPos += length;
        std::wstring check;
        if (!FromUtf8(*s, &check)) {
            return Fail(std::string(what) + " is not UTF-8");
        }
        return true;
    }
    bool Val(Value* v, bool inArray) {
        uint8_t kind = 0;
        if (!U8(&kind)) {
            return false;
        }
        v->kind = static_cast<Value::Kind>(kind);
        switch (v->kind) {
        case Value::Kind::Null:
            return true;
        case Value::Kind::Boolean: {
            uint8_t b = 0;
            if (!U8(&b)) {
                return false;
            }
            if (b > 1) {
                return Fail("a boolean is neither 0 nor 1");
            }
            v->boolean = b == 1;
            return true;
        }
        case Value::Kind::Integer: {
            uint64_t x = 0;
            return U64(&x) && (v->integer = static_cast<int64_t>(x), true);
        }
        case Value::Kind::Unsigned:
            return U64(&v->unsignedValue);
        case Value::Kind::Real: {
            uint64_t bits = 0;
            return U64(&bits) && (std::memcpy(&v->real, &bits, sizeof(bits)), true);
        }
        case Value::Kind::String:
            return Str(&v->text, "a string value");
        case Value::Kind::Array:
            return !inArray ? Items(v) : Fail("an array inside an array");
        }
        return Fail("unknown value kind " + std::to_string(kind));
    }
    bool AtEnd() { return m_nPos == m_nSize || Fail("trailing bytes after the message"); }
    bool Fail(const std::string& reason) {
        if (m_Error.empty()) {
            m_Error = reason;
        }
        return false;
    }
    const std::string& Error() const { return m_Error; }

private:
    bool Items(Value* v) {
        uint32_t count = 0;
        if (!U32(&count)) {
            return false;
        }
        // Every item takes one byte at least, so a count beyond what is left
        // is refused before anything is reserved.
        if (count > kMaxArrayItems || count > m_nSize - m_nPos) {
            return Fail("too many array items");
        }
        v->items.resize(count);
        for (Value& item : v->items) {
            if (!Val(&item, true)) {
                return false;
            }
        }
        return true;
    }
    bool Little(uint64_t* v, int bytes) {
        if (m_nSize - m_nPos < static_cast<size_t>(bytes)) {
            return Fail("the message is cut short");
        }
        *v = 0;
        for (int i = 0; i < bytes; ++i) {
            *v |= uint64_t{m_pData[m_nPos + i]} << (8 * i);
        }
        m_nPos += bytes;
        return true;
    }

    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nPos = 0;
    std::string m_Error;
};

bool ReadHead(Reader& reader, uint8_t* type) {
    uint8_t version = 0;
    if (!reader.U8(&version) || !reader.U8(type)) {
        return false;
    }
    if (version != kProtocolVersion) {
        return reader.Fail("unknown protocol version " + std::to_string(version));
    }
    return true;
}

bool Finish(bool ok, Reader& reader, std::string* error) {
    if (!ok && error != nullptr) {
        *error = reader.Error().empty() ? "malformed message" : reader.Error();
    }
    return ok;
}

} // namespace

std::vector<uint8_t> EncodeRequest(const Request& request) {
    Writer w(request.type);
    w.U8(request.impersonationLevel);
    w.Str(request.nameSpace);
    w.Str(request.locale);
    w.Str(request.target);
    return w.Finish();
}

std::vector<uint8_t> EncodeObject(const Object& object) {
    Writer w(MessageType::Object);
    w.Str(object.className);
    w.U32(static_cast<uint32_t>(object.properties.size()));
    for (const Property& p : object.properties) {
        w.Str(p.name);
        w.Val(p.value);
    }
    return w.Finish();
}

std::vector<uint8_t> EncodeStatus(const Status& status) {
    Writer w(MessageType::Status);
    w.U32(static_cast<uint32_t>(status.hresult));
    w.Str(status.text);
    return w.Finish();
}

uint32_t FrameBodyLength(const uint8_t* header) {
    return uint32_t{header[0]} | uint32_t{header[1]} << 8 | uint32_t{header[2]} << 16 |
           uint32_t{header[3]} << 24;
}

bool DecodeRequest(const uint8_t* body, size_t size, Request* request, std::string* error) {
    Reader r(body, size);
    uint8_t type = 0;
    bool ok = size <= kMaxRequestBody || r.Fail("the request is too large");
    ok = ok && ReadHead(r, &type);
    if (ok && type != 0x01 && type != 0x02 && type != 0x03) {
        ok = r.Fail("unknown request type " + std::to_string(type));
    }
    ok = ok && r.U8(&request->impersonationLevel);
    if (ok && (request->impersonationLevel < 1 || request->impersonationLevel > 4)) {
        ok = r.Fail("impersonation level " + std::to_string(request->impersonationLevel) +
                    " is not 1 to 4");
    }
    ok = ok && r.Str(&request->nameSpace, "the namespace") &&
         r.Str(&request->locale, "the locale") && r.Str(&request->target, "the target") &&
         r.AtEnd();
    if (ok && request->target.empty()) {
        ok = r.Fail("the target is empty");
    }
    request->type = static_cast<MessageType>(type);
    return Finish(ok, r, error);
}

bool DecodeReply(const uint8_t* body, size_t size, Reply* reply, std::string* error) {
    Reader r(body, size);
    uint8_t type = 0;
    bool ok = size <= kMaxReplyBody || r.Fail("the reply is too large");
    ok = ok && ReadHead(r, &type);
    if (ok && type == 0x82) {
        uint32_t code = 0;
        ok = r.U32(&code) && r.Str(&reply->status.text, "the status text") && r.AtEnd();
        reply->status.hresult = static_cast<int32_t>(code);
    } else if (ok && type == 0x81) {
        uint32_t count = 0;
        ok = r.Str(&reply->object.className, "the class name") && r.U32(&count);
        if (ok && (count > kMaxProperties || count > size)) {
            ok = r.Fail("too many properties");
        }
        for (uint32_t i = 0; ok && i < count; ++i) {
            Property p;
            ok = r.Str(&p.name, "a property name") && r.Val(&p.value, false);
            reply->object.properties.push_back(std::move(p));
        }
        ok = ok && r.AtEnd();
    } else if (ok) {
        ok = r.Fail("unknown reply type " + std::to_string(type));
    }
    reply->type = static_cast<MessageType>(type);
    return Finish(ok, r, error);
}

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    for (wchar_t wc : text) {
        auto c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

bool FromUtf8(const std::string& text, std::wstring* out) {
    out->clear();
    size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<uint8_t>(text[i]);
        int extra = b < 0x80             ? 0
                    : (b & 0xE0) == 0xC0 ? 1
                    : (b & 0xF0) == 0xE0 ? 2
                    : (b & 0xF8) == 0xF0 ? 3
                                         : -1;
        if (extra < 0 || text.size() - i <= static_cast<size_t>(extra)) {
            return false;
        }
        uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            auto cont = static_cast<uint8_t>(text[i + k]);
            if ((cont & 0xC0) != 0x80) {
                return false;
            }
            c = (c << 6) | (cont & 0x3F);
        }
        static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            return false;
        }
        out->push_back(static_cast<wchar_t>(c));
        i += 1 + extra;
    }
    return true;
}

} // namespace svcproc::wbemwire
