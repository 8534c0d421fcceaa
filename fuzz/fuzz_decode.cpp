// The message decoder on arbitrary bytes, and the encoder after it: every decoded record
// must encode to a text that decodes to the same fields, and a well-formed text must come
// back byte for byte.
#include <cstring>
#include <memory>

#include "dxp/dxp.h"
#include "fuzz/fuzz_support.h"

namespace {

bool digits(const char* text, int offset, int width) {
    for (int i = 0; i < width; ++i)
        if (text[offset + i] < '0' || text[offset + i] > '9') return false;
    return true;
}

// A text that the encoder itself could have written, so that encoding its record must give
// it back unchanged.
bool well_formed(const char* text, size_t length) {
    switch (text[0]) {
    case 'R':
        if (!digits(text, 1, 2) || length < 43 || !digits(text, 36, 6)) return false;
        if (text[42] == 'A') return length == 43;
        return text[42] == 'B' && text[43] != 'A' && length == 94;
    case 'A':
        return length == 34 && digits(text, 33, 1);
    case 'M': {
        if (length < 11 || !digits(text, 1, 10)) return false;
        int count = (text[9] - '0') * 10 + (text[10] - '0');
        // The send buffer holds 127 characters: 58 captured squares at most.
        return count <= 58 && length == size_t(11 + 2 * count) && digits(text, 11, 2 * count);
    }
    case 'E':
        return length == 3;
    case 'C':
        return length <= 127;
    case 'B':
        return length == 5 && digits(text, 1, 3);
    case 'K':
        return length == 2 && digits(text, 1, 1);
    default:
        return false;
    }
}

// Only the fields a type defines count: the rest of the union is left as it was.
bool same_fields(const DxpMessage& a, const DxpMessage& b) {
    if (a.type != b.type) return false;
    switch (a.type) {
    case DXP_GAMEREQ: {
        const auto &x = a.gamereq, &y = b.gamereq;
        if (x.version != y.version || std::strcmp(x.initiator_name, y.initiator_name) != 0 ||
            x.follower_colour != y.follower_colour || x.thinking_time != y.thinking_time ||
            x.move_count != y.move_count || x.start_position != y.start_position)
            return false;
        return x.start_position == 'A' || std::memcmp(x.position, y.position, 50) == 0;
    }
    case DXP_GAMEACC:
        return std::strcmp(a.gameacc.follower_name, b.gameacc.follower_name) == 0 &&
               a.gameacc.acceptance == b.gameacc.acceptance;
    case DXP_MOVE: {
        const auto &x = a.move, &y = b.move;
        if (x.time != y.time || x.from_square != y.from_square || x.to_square != y.to_square ||
            x.capture_count != y.capture_count)
            return false;
        for (int i = 0; i < x.capture_count; ++i)
            if (x.captured[i] != y.captured[i]) return false;
        return true;
    }
    case DXP_GAMEEND:
        return a.gameend.reason == b.gameend.reason && a.gameend.stop_code == b.gameend.stop_code;
    case DXP_CHAT:
        return std::strcmp(a.chat.text, b.chat.text) == 0;
    case DXP_BACKREQ:
        return a.backreq.move_number == b.backreq.move_number &&
               a.backreq.colour == b.backreq.colour;
    case DXP_BACKACC:
        return a.backacc.acceptance == b.backacc.acceptance;
    default:
        return false;
    }
}

// A record the encoder can write: every number fits its field and the text fits the buffer.
bool encodable(const DxpMessage& m) {
    auto fits = [](int value, int limit) { return value >= 0 && value <= limit; };
    switch (m.type) {
    case DXP_GAMEREQ:
        return fits(m.gamereq.version, 99) && fits(m.gamereq.thinking_time, 999) &&
               fits(m.gamereq.move_count, 999) && m.gamereq.start_position != 0 &&
               std::memchr(m.gamereq.position, 0, 50) == nullptr;
    case DXP_GAMEACC:
        return m.gameacc.acceptance <= 9;
    case DXP_MOVE:
        if (!fits(m.move.time, 9999) || !fits(m.move.from_square, 99) ||
            !fits(m.move.to_square, 99) || !fits(m.move.capture_count, 58))
            return false;
        for (int i = 0; i < m.move.capture_count; ++i)
            if (!fits(m.move.captured[i], 99)) return false;
        return true;
    case DXP_GAMEEND:
    case DXP_CHAT:
        return true;
    case DXP_BACKREQ:
        return fits(m.backreq.move_number, 999) && m.backreq.colour != 0;
    case DXP_BACKACC:
        return fits(m.backacc.acceptance, 9);
    default:
        return false;
    }
}

// Encodes into a heap buffer of exactly the promised size, so that writing past it is seen.
size_t encode_checked(const DxpMessage& m, std::unique_ptr<char[]>& out) {
    out.reset(new char[dxp_send_size]);
    encode_dxp_message(m, out.get());
    const void* end = std::memchr(out.get(), 0, dxp_send_size);
    FUZZ_CHECK(end != nullptr);
    return size_t(static_cast<const char*>(end) - out.get());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The text as the connection hands it over: at most 132 characters and the zero byte, in
    // a buffer of exactly its own length so that a read past it is seen.
    size_t length = size < size_t(dxp_max_text) ? size : size_t(dxp_max_text);
    const void* zero = std::memchr(data, 0, length);
    if (zero) length = size_t(static_cast<const uint8_t*>(zero) - data);
    std::unique_ptr<char[]> text(new char[length + 1]);
    std::memcpy(text.get(), data, length);
    text[length] = '\0';

    DxpMessage before;
    std::memset(&before, 0xA5, sizeof before);
    DxpMessage first = before;
    decode_dxp_message(text.get(), first);

    if (length == 0 || !std::strchr("RAMECBK", text[0])) {
        // Not a message: nothing may be written.
        FUZZ_CHECK(std::memcmp(&first, &before, sizeof first) == 0);
        return 0;
    }
    FUZZ_CHECK(first.type == std::strchr(" RAMECBK", text[0]) - " RAMECBK");
    switch (first.type) {
    case DXP_GAMEREQ:
        FUZZ_CHECK(std::memchr(first.gamereq.initiator_name, 0, 33) != nullptr);
        break;
    case DXP_GAMEACC:
        FUZZ_CHECK(std::memchr(first.gameacc.follower_name, 0, 33) != nullptr);
        break;
    case DXP_MOVE:
        FUZZ_CHECK(first.move.capture_count >= 0 && first.move.capture_count <= 99);
        break;
    case DXP_CHAT:
        FUZZ_CHECK(std::memchr(first.chat.text, 0, 127) != nullptr);
        break;
    default:
        break;
    }
    if (!encodable(first)) return 0;

    std::unique_ptr<char[]> wire;
    size_t wire_length = encode_checked(first, wire);
    FUZZ_CHECK(wire[0] == text[0]);
    DxpMessage second = before;
    decode_dxp_message(wire.get(), second);
    FUZZ_CHECK(same_fields(first, second));
    if (well_formed(text.get(), length))
        FUZZ_CHECK(wire_length == length && std::memcmp(wire.get(), text.get(), length) == 0);
    return 0;
}
