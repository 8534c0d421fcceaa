// The decoder on arbitrary texts as the connection hands them over, then the encoder: an
// unknown first character leaves the record alone, a decoded record encodes within the send
// buffer, and decoding that text and encoding again gives the same text.
#include <cstring>
#include <string>

#include "dxp/dxp.h"
#include "fuzz/fuzz_support.h"

namespace {
std::string encoded(const DxpMessage& m) {
    std::string text(dxp_send_size, '\0'); // exactly the promised buffer
    encode_dxp_message(m, text.data());
    FUZZ_CHECK(std::memchr(text.data(), 0, text.size()));
    return text.c_str();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data),
                     size < dxp_max_text ? size : dxp_max_text);
    text = text.c_str(); // up to the first zero byte, in a buffer of its own length
    DxpMessage before, first, second;
    std::memset(&before, 0xA5, sizeof before);
    first = second = before;
    decode_dxp_message(text.c_str(), first);
    if (text.empty() || !std::strchr("RAMECBK", text[0]))
        return FUZZ_CHECK(!std::memcmp(&first, &before, sizeof first)), 0;
    FUZZ_CHECK(first.type == std::strchr(" RAMECBK", text[0]) - " RAMECBK");
    const std::string wire = encoded(first);
    FUZZ_CHECK(wire[0] == text[0]);
    decode_dxp_message(wire.c_str(), second);
    FUZZ_CHECK(encoded(second) == wire);
    return 0;
}
