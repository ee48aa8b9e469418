// The endpoint's message decoding, fed arbitrary byte streams: frames are
// taken one after another as the endpoint reads them; each body is decoded
// as a request and as a reply. Whatever decodes must encode back to the very
// same bytes.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "WbemWire.h"

namespace wire = svcproc::wbemwire;

namespace {

void ExpectSame(const std::vector<uint8_t>& encoded, const uint8_t* frame, size_t size) {
    if (encoded.size() != size || !std::equal(encoded.begin(), encoded.end(), frame)) {
        std::abort();
    }
}

void DecodeBody(const uint8_t* frame, size_t bodySize) {
    const uint8_t* body = frame + wire::kFrameHeaderSize;
    const size_t frameSize = wire::kFrameHeaderSize + bodySize;
    wire::Request request;
    std::string error;
    if (bodySize <= wire::kMaxRequestBody &&
        wire::DecodeRequest(body, bodySize, &request, &error)) {
        ExpectSame(wire::EncodeRequest(request), frame, frameSize);
    }
    wire::Reply reply;
    if (wire::DecodeReply(body, bodySize, &reply, &error)) {
        ExpectSame(reply.type == wire::MessageType::Object ? wire::EncodeObject(reply.object)
                                                           : wire::EncodeStatus(reply.status),
                   frame, frameSize);
    } else if (error.empty()) {
        std::abort(); // a refusal always says why
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t pos = 0;
    while (size - pos >= wire::kFrameHeaderSize) {
        uint32_t length = wire::FrameBodyLength(data + pos);
        if (length > wire::kMaxReplyBody || length > size - pos - wire::kFrameHeaderSize) {
            break; // the endpoint refuses such a frame before reading it
        }
        DecodeBody(data + pos, length);
        pos += wire::kFrameHeaderSize + length;
    }
    return 0;
}
