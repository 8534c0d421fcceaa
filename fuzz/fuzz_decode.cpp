// The decoder on arbitrary texts as the connection hands them over, then the encoder: an
// unknown first character leaves the record alone, a decoded record encodes within the send
// buffer, and decoding that text and encoding again gives the same text.
#include <cstring>

#include "dxp/dxp.h"
#include "fuzz/fuzz_support.h"

namespace {
// Encodes into exactly the promised buffer; the text must end inside it.
FUZZ_HARNESS void encoded(const DxpMessage& m, char (&text)[dxp_send_size]) {
    encode_dxp_message(m, text);
    FUZZ_CHECK(std::memchr(text, 0, sizeof text));
}
} // namespace

extern "C" FUZZ_HARNESS int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Up to the first zero byte, at most the longest text taken, placed at the end of a block
    // of exactly the ring's text size, so that a read past its zero byte is seen.
    static char* const block = new char[dxp_text_size];
    const size_t length =
        strnlen(reinterpret_cast<const char*>(data), size < dxp_max_text ? size : dxp_max_text);
    char* const text = block + dxp_text_size - 1 - length;
    std::memcpy(text, data, length);
    text[length] = '\0';
    DxpMessage before, first, second;
    std::memset(&before, 0xA5, sizeof before);
    first = second = before;
    decode_dxp_message(text, first);
    if (!text[0] || !std::strchr("RAMECBK", text[0]))
        return FUZZ_CHECK(!std::memcmp(&first, &before, sizeof first)), 0;
    FUZZ_CHECK(first.type == std::strchr(" RAMECBK", text[0]) - " RAMECBK");
    char wire[dxp_send_size], again[dxp_send_size];
    encoded(first, wire);
    FUZZ_CHECK(wire[0] == text[0]);
    decode_dxp_message(wire, second);
    encoded(second, again);
    FUZZ_CHECK(!std::strcmp(again, wire));
    return 0;
}
