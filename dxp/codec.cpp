// The DXP wire text: one type letter, fixed-width fields, a zero byte.
#include <cstring>

#include "dxp/dxp.h"

namespace {

// Writes value as exactly width decimal digits. A value that does not fit is clamped, so a
// field never spills into the next one.
void put_number(char* text, int& at, int value, int width) {
    int limit = 1;
    for (int i = 0; i < width; ++i) limit *= 10;
    if (value < 0) value = 0;
    if (value >= limit) value = limit - 1;
    for (int i = width - 1; i >= 0; --i) {
        text[at + i] = char('0' + value % 10);
        value /= 10;
    }
    at += width;
}

// One-digit fields carry '0' plus the low byte of the value.
void put_digit(char* text, int& at, int value) {
    text[at++] = char(('0' + value) & 0xFF);
}

// The name left-aligned in a field of 32 characters filled up with spaces.
void put_name(char* text, int& at, const char* name) {
    std::memset(text + at, ' ', 32);
    for (int i = 0; i < 32 && name[i] != '\0'; ++i) text[at + i] = name[i];
    at += 32;
}

// Reading a received text never goes past its length: a field that lies beyond the end is
// absent, and an absent character reads as 0.
struct Reader {
    const char* text;
    int length;

    char at(int offset) const { return offset < length ? text[offset] : '\0'; }

    // A number field takes only the leading digits present within its width; no digit
    // gives 0. So "1x" in a two-digit field is 1, "xy" is 0, and a cut field is read as far
    // as it goes.
    int16_t number(int offset, int width) const {
        int value = 0;
        for (int i = 0; i < width; ++i) {
            char c = at(offset + i);
            if (c < '0' || c > '9') break;
            value = value * 10 + (c - '0');
        }
        return int16_t(value);
    }

    // A name field of 32 characters, cut at the end of the text, trailing spaces removed.
    void name(int offset, char* out) const {
        int n = 0;
        while (n < 32 && offset + n < length) {
            out[n] = text[offset + n];
            ++n;
        }
        out[n] = '\0';
        trim_trailing_spaces(out);
    }
};

// The text's length, counting at most limit characters.
int bounded_length(const char* text, int limit) {
    int n = 0;
    while (n < limit && text[n] != '\0') ++n;
    return n;
}

} // namespace

void trim_trailing_spaces(char* text) {
    size_t n = std::strlen(text);
    while (n > 0 && text[n - 1] == ' ') text[--n] = '\0';
}

void encode_dxp_message(const DxpMessage& message, char* text) {
    int at = 0;
    switch (message.type) {
    case DXP_GAMEREQ: {
        const auto& m = message.gamereq;
        text[at++] = 'R';
        put_number(text, at, m.version, 2);
        put_name(text, at, m.initiator_name);
        text[at++] = m.follower_colour;
        put_number(text, at, m.thinking_time, 3);
        put_number(text, at, m.move_count, 3);
        if (m.start_position == 'A') {
            text[at++] = 'A';
        } else {
            text[at++] = 'B';
            text[at++] = m.start_position;
            std::memcpy(text + at, m.position, 50);
            at += 50;
        }
        break;
    }
    case DXP_GAMEACC:
        text[at++] = 'A';
        put_name(text, at, message.gameacc.follower_name);
        put_digit(text, at, message.gameacc.acceptance);
        break;
    case DXP_MOVE: {
        const auto& m = message.move;
        // A legal move takes at most 20 pieces; only a broken record could carry more than
        // the send buffer holds, and it is cut rather than written past the buffer.
        int count =
            m.capture_count < dxp_max_sent_captures ? m.capture_count : dxp_max_sent_captures;
        text[at++] = 'M';
        put_number(text, at, m.time, 4);
        put_number(text, at, m.from_square, 2);
        put_number(text, at, m.to_square, 2);
        put_number(text, at, count, 2);
        for (int i = 0; i < count; ++i) put_number(text, at, m.captured[i], 2);
        break;
    }
    case DXP_GAMEEND:
        text[at++] = 'E';
        put_digit(text, at, message.gameend.reason);
        put_digit(text, at, message.gameend.stop_code);
        break;
    case DXP_CHAT:
        text[at++] = 'C';
        for (int i = 0; i < 126 && message.chat.text[i] != '\0'; ++i)
            text[at++] = message.chat.text[i];
        break;
    case DXP_BACKREQ:
        text[at++] = 'B';
        put_number(text, at, message.backreq.move_number, 3);
        text[at++] = message.backreq.colour;
        break;
    case DXP_BACKACC:
        text[at++] = 'K';
        put_digit(text, at, message.backacc.acceptance);
        break;
    default:
        break; // not a message: an empty text
    }
    text[at] = '\0';
}

// Decoding reads only the characters before the zero byte (at most dxp_max_text) and writes
// only inside the record; a short or malformed message is clipped, never refused:
// - a number field takes the leading digits present within its width, 0 when there are none;
// - a field beyond the end of the text is absent: 0 for numbers and characters, empty names;
// - a GAMEREQ position takes the position characters present; the squares beyond the end
//   stay '\0', which is no position character, so they convert to empty squares;
// - a MOVE reads only the captured squares whose two characters are present, at most
//   dxp_max_captured; the rest stay 0. capture_count keeps the count the text claims, so a
//   claim the text does not carry still meets the capture-count check of the translation.
// A known type clears the record first, so nothing of an earlier message remains in it.
void decode_dxp_message(const char* text, DxpMessage& message) {
    const Reader in{text, bounded_length(text, dxp_max_text)};
    int32_t type = 0;
    switch (in.at(0)) {
    case 'R':
        type = DXP_GAMEREQ;
        break;
    case 'A':
        type = DXP_GAMEACC;
        break;
    case 'M':
        type = DXP_MOVE;
        break;
    case 'E':
        type = DXP_GAMEEND;
        break;
    case 'C':
        type = DXP_CHAT;
        break;
    case 'B':
        type = DXP_BACKREQ;
        break;
    case 'K':
        type = DXP_BACKACC;
        break;
    default:
        return; // not a message: the connection refuses it, the record stays
    }
    std::memset(&message, 0, sizeof message);
    message.type = type;

    switch (type) {
    case DXP_GAMEREQ: {
        auto& m = message.gamereq;
        m.version = in.number(1, 2);
        in.name(3, m.initiator_name);
        m.follower_colour = in.at(35);
        m.thinking_time = in.number(36, 3);
        m.move_count = in.number(39, 3);
        if (in.at(42) == 'A') {
            m.start_position = 'A';
        } else {
            m.start_position = in.at(43);
            for (int i = 0; i < 50 && 44 + i < in.length; ++i) m.position[i] = text[44 + i];
        }
        break;
    }
    case DXP_GAMEACC:
        in.name(1, message.gameacc.follower_name);
        message.gameacc.acceptance = uint8_t(in.number(33, 1));
        break;
    case DXP_MOVE: {
        auto& m = message.move;
        m.time = in.number(1, 4);
        m.from_square = in.number(5, 2);
        m.to_square = in.number(7, 2);
        int claimed = in.number(9, 2);
        int read = 0;
        while (read < claimed && read < dxp_max_captured && 11 + 2 * read + 1 < in.length) {
            m.captured[read] = in.number(11 + 2 * read, 2);
            ++read;
        }
        m.capture_count = int16_t(claimed);
        break;
    }
    case DXP_GAMEEND:
        // The characters need not be digits: each is taken as it stands, minus '0'.
        message.gameend.reason = in.length > 1 ? int16_t(text[1] - '0') : int16_t(0);
        message.gameend.stop_code = in.length > 2 ? int16_t(text[2] - '0') : int16_t(0);
        break;
    case DXP_CHAT: {
        int n = 0;
        for (; n < 126 && 1 + n < in.length; ++n) message.chat.text[n] = text[1 + n];
        message.chat.text[n] = '\0';
        break;
    }
    case DXP_BACKREQ:
        message.backreq.move_number = in.number(1, 3);
        message.backreq.colour = in.at(4);
        break;
    case DXP_BACKACC:
        message.backacc.acceptance = in.number(1, 1);
        break;
    default:
        break;
    }
}
