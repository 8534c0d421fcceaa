// PDN FEN reading and writing.
#include "board/fen.h"

#include <cstdio>

namespace {

struct Reader {
    const char* text;
    size_t at;
    char* error;
    size_t error_size;
};

// Writes the reason with the place where reading stopped; always returns true (failure).
bool fail(Reader& r, const char* what) {
    if (r.error != nullptr && r.error_size != 0)
        snprintf(r.error, r.error_size, "%s (at character %zu)", what, r.at + 1);
    return true;
}

// The same with the square number that is wrong.
bool fail_square(Reader& r, const char* what, int square) {
    if (r.error != nullptr && r.error_size != 0)
        snprintf(r.error, r.error_size, "%s %d (at character %zu)", what, square, r.at + 1);
    return true;
}

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
void skip_spaces(Reader& r) {
    while (is_space(r.text[r.at])) r.at++;
}

// Reads a square number 1 to 50.
bool read_square(Reader& r, int& square) {
    skip_spaces(r);
    if (!is_digit(r.text[r.at])) return fail(r, "expected a square number");
    const size_t start = r.at; // errors point at the number's first digit
    int value = 0, digits = 0;
    while (is_digit(r.text[r.at])) {
        if (++digits > 2) {
            r.at = start;
            return fail(r, "square number too long");
        }
        value = value * 10 + (r.text[r.at] - '0');
        r.at++;
    }
    if (value < 1 || value > 50) {
        r.at = start;
        return fail_square(r, "square out of range 1-50:", value);
    }
    square = value;
    return false;
}

// Reads one piece list after its colour letter: items separated by commas, each a square or
// a range, with K before a king. Stops before ':' or '.' or the end.
bool read_list(Reader& r, uint64_t& pieces, uint64_t& kings, uint64_t other_side) {
    skip_spaces(r);
    char c = r.text[r.at];
    if (c == ':' || c == '.' || c == '\0') return false; // an empty list
    for (;;) {
        skip_spaces(r);
        const size_t item = r.at; // errors about the whole item point at its start
        bool king = false;
        if (r.text[r.at] == 'K') {
            king = true;
            r.at++;
        }
        int first, last;
        if (read_square(r, first)) return true;
        last = first;
        skip_spaces(r);
        if (r.text[r.at] == '-') {
            r.at++;
            skip_spaces(r);
            if (r.text[r.at] == 'K') r.at++; // "K31-K35" says the same as "K31-35"
            if (read_square(r, last)) return true;
            if (last < first) {
                r.at = item;
                return fail_square(r, "range runs backwards to", last);
            }
        }
        for (int s = first; s <= last; s++) {
            const uint64_t m = square_mask[s - 1];
            if (pieces & m) {
                r.at = item;
                return fail_square(r, "square listed twice:", s);
            }
            if (other_side & m) {
                r.at = item;
                return fail_square(r, "square in both lists:", s);
            }
            pieces |= m;
            if (king) kings |= m;
        }
        skip_spaces(r);
        c = r.text[r.at];
        if (c == ',') {
            r.at++;
            continue;
        }
        if (c == ':' || c == '.' || c == '\0') return false;
        return fail(r, "expected ',' or ':' after a square");
    }
}

} // namespace

bool parse_fen(const char* text, Position& position, int& white_to_move, char* error,
               size_t error_size) {
    if (error != nullptr && error_size > 0) error[0] = '\0';
    Reader r{text, 0, error, error_size};
    if (text == nullptr) {
        r.text = "";
        return fail(r, "no FEN given");
    }
    skip_spaces(r);
    const char side = text[r.at];
    if (side != 'W' && side != 'B') return fail(r, "side to move must be W or B");
    r.at++;
    uint64_t white = 0, black = 0, kings = 0;
    bool seen_white = false, seen_black = false;
    skip_spaces(r);
    while (text[r.at] == ':') {
        r.at++;
        skip_spaces(r);
        const char colour = text[r.at];
        if (colour == 'W') {
            if (seen_white) return fail(r, "second white list");
            seen_white = true;
            r.at++;
            if (read_list(r, white, kings, black)) return true;
        } else if (colour == 'B') {
            if (seen_black) return fail(r, "second black list");
            seen_black = true;
            r.at++;
            if (read_list(r, black, kings, white)) return true;
        } else {
            return fail(r, "piece list must start with W or B");
        }
        skip_spaces(r);
    }
    if (!seen_white || !seen_black) {
        if (text[r.at] != '\0' && text[r.at] != '.') return fail(r, "expected ':'");
        return fail(r, seen_white   ? "missing black list"
                       : seen_black ? "missing white list"
                                    : "missing piece lists");
    }
    if (text[r.at] == '.') r.at++;
    skip_spaces(r);
    if (text[r.at] != '\0') return fail(r, "unexpected text after the position");
    position = Position{black, white, kings};
    white_to_move = side == 'W' ? 1 : 0;
    return false;
}

namespace {

struct Writer {
    char* out;
    size_t size;
    size_t at;
};

void put(Writer& w, char c) {
    if (w.at + 1 < w.size) w.out[w.at++] = c;
}

void put_list(Writer& w, char colour, uint64_t pieces, uint64_t kings) {
    put(w, ':');
    put(w, colour);
    bool first = true;
    for (int s = 1; s <= 50; s++) {
        const uint64_t m = square_mask[s - 1];
        if (!(pieces & m)) continue;
        if (!first) put(w, ',');
        first = false;
        if (kings & m) put(w, 'K');
        if (s >= 10) put(w, static_cast<char>('0' + s / 10));
        put(w, static_cast<char>('0' + s % 10));
    }
}

} // namespace

void format_fen(const Position& position, int white_to_move, char* out, size_t out_size) {
    if (out == nullptr || out_size == 0) return;
    Writer w{out, out_size, 0};
    put(w, white_to_move ? 'W' : 'B');
    put_list(w, 'W', position.white, position.kings);
    put_list(w, 'B', position.black & ~position.white, position.kings);
    put(w, '.');
    out[w.at] = '\0';
}
