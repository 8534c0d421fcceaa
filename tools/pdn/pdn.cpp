// PDN notation, writing and reading.
#include "tools/pdn/pdn.h"

#include <cstring>

#include "board/fen.h"

namespace {

// Scratch of the writer and the reader (neither is re-entered).
LegalMoves pdn_legal;

// A text built in a caller's buffer; stops writing (and remembers it) when the buffer is full.
struct TextBuffer {
    char* data;
    size_t size;
    size_t used;
    bool full;
};

void append(TextBuffer& buffer, const char* text) {
    size_t length = strlen(text);
    if (buffer.full || buffer.used + length + 1 > buffer.size) {
        buffer.full = true;
        return;
    }
    memcpy(buffer.data + buffer.used, text, length + 1);
    buffer.used += length;
}

void append_square(TextBuffer& buffer, char separator, int square) {
    char item[8];
    if (separator)
        snprintf(item, sizeof item, "%c%d", separator, square);
    else
        snprintf(item, sizeof item, "%d", square);
    append(buffer, item);
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

void set_error(char* error, size_t error_size, const char* text) {
    if (error_size > 0) snprintf(error, error_size, "%s", text);
}

// The square where the capturing piece stands after jump k of listed move index.
int landing_square(const LegalMoves& legal, int index, int k) {
    const CapturePath& path = legal.paths[index];
    uint64_t now = legal.white_to_move ? path.steps[k].white : path.steps[k].black;
    uint64_t before = legal.white_to_move ? path.steps[k - 1].white : path.steps[k - 1].black;
    uint64_t square = now & ~before;
    return square ? square_of_mask(square) : 0;
}

bool landings_match(const LegalMoves& legal, int index, const int* middle, int middle_count) {
    int j = 0;
    for (int k = 1; k < legal.taken && j < middle_count; ++k)
        if (landing_square(legal, index, k) == middle[j]) ++j;
    return j == middle_count;
}

} // namespace

// ---- notation ------------------------------------------------------------------------

void format_move(const LegalMoves& legal, int index, char* out, size_t out_size) {
    GameMove move;
    describe_move(legal, index, move);
    TextBuffer buffer{out, out_size, 0, false};
    if (out_size > 0) out[0] = '\0';
    append_square(buffer, 0, move.from);
    if (legal.taken > 0 && move_is_ambiguous(legal, index))
        for (int k = 0; k < move.capture_count; ++k) append_square(buffer, 'x', move.captured[k]);
    append_square(buffer, legal.taken > 0 ? 'x' : '-', move.to);
}

int parse_move(const char* text, const LegalMoves& legal, char* error, size_t error_size) {
    constexpr int max_squares = 2 * max_capture_pieces + 2;
    int squares[max_squares];
    int count = 0;
    const char* p = text;
    for (;;) {
        if (!is_digit(*p)) {
            snprintf(error, error_size, "\"%s\" is not a move", text);
            return -1;
        }
        int value = 0, digits = 0;
        while (is_digit(*p)) {
            value = value * 10 + (*p++ - '0');
            if (++digits > 2) break;
        }
        if (digits > 2 || value < 1 || value > 50 || count == max_squares) {
            snprintf(error, error_size, "\"%s\" is not a move", text);
            return -1;
        }
        squares[count++] = value;
        if (*p == '\0') break;
        if (*p != '-' && *p != 'x' && *p != 'X') {
            snprintf(error, error_size, "\"%s\" is not a move", text);
            return -1;
        }
        ++p;
    }
    if (count < 2) {
        snprintf(error, error_size, "\"%s\" is not a move", text);
        return -1;
    }
    const int from = squares[0], to = squares[count - 1];
    const int* middle = squares + 1;
    const int middle_count = count - 2;

    // The middle squares as a set of captured squares, when no square is named twice.
    uint64_t middle_mask = 0;
    bool middle_valid = true;
    for (int k = 0; k < middle_count; ++k) {
        uint64_t mask = square_mask[middle[k] - 1];
        if (middle_mask & mask) middle_valid = false;
        middle_mask |= mask;
    }
    int found = -1;
    bool ambiguous = false;
    for (int i = 0; i < legal.count; ++i) {
        GameMove move;
        describe_move(legal, i, move);
        if (move.from != from || move.to != to) continue;
        bool match = middle_count == 0;
        if (!match && legal.taken > 0)
            match = (middle_valid && middle_count == legal.taken &&
                     middle_mask == captured_mask(legal, i)) ||
                    landings_match(legal, i, middle, middle_count);
        if (!match) continue;
        if (found < 0)
            found = i;
        else if (!(legal.list.entries[i] == legal.list.entries[found]))
            ambiguous = true;
    }
    if (found < 0) {
        snprintf(error, error_size, "\"%s\" is not a legal move here", text);
        return -1;
    }
    if (ambiguous) {
        snprintf(error, error_size, "\"%s\" names more than one legal move", text);
        return -1;
    }
    return found;
}

// ---- writing -------------------------------------------------------------------------

namespace {

// Movetext of the longest game, every move in full, wrapped: well below this.
char movetext_buffer[max_game_plies * 80];

void write_tag(FILE* file, const char* name, const char* value) {
    fprintf(file, "[%s \"", name);
    for (const char* p = value; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') fputc('\\', file);
        fputc(c < 32 || c == 127 ? ' ' : c, file);
    }
    fputs("\"]\n", file);
}

// Adds a word to the movetext, starting a new line before column 80.
void add_word(TextBuffer& buffer, int& column, const char* word) {
    int length = int(strlen(word));
    if (column > 0 && column + 1 + length > 79) {
        append(buffer, "\n");
        column = 0;
    } else if (column > 0) {
        append(buffer, " ");
        ++column;
    }
    append(buffer, word);
    column += length;
}

} // namespace

bool write_pdn_game(FILE* file, const GameRecord& game) {
    TextBuffer buffer{movetext_buffer, sizeof movetext_buffer, 0, false};
    movetext_buffer[0] = '\0';
    int column = 0;
    Position position = game.start;
    int white_to_move = game.start_white_to_move;
    int number = 1;
    for (int i = 0; i < game.ply_count; ++i) {
        const GameMove& move = game.moves[i];
        list_legal_moves(position, white_to_move, pdn_legal);
        int captured[max_capture_pieces];
        int capture_count = move.capture_count;
        if (capture_count < 0 || capture_count > max_capture_pieces) capture_count = -1;
        for (int k = 0; k < capture_count; ++k) captured[k] = move.captured[k];
        int index = capture_count < 0
                        ? -1
                        : find_move(pdn_legal, move.from, move.to, captured, capture_count);
        if (index < 0 || !(pdn_legal.list.entries[index] == move.after)) {
            printf("Move %d of game \"%s\" (from %d to %d) is not legal in its position; the "
                   "game is not written.\n",
                   i + 1, game.round, move.from, move.to);
            return true;
        }
        // A move number stays on the line of its move.
        char notation[80], word[96];
        format_move(pdn_legal, index, notation, sizeof notation);
        if (white_to_move)
            snprintf(word, sizeof word, "%d. %s", number, notation);
        else if (i == 0)
            snprintf(word, sizeof word, "%d... %s", number, notation);
        else
            snprintf(word, sizeof word, "%s", notation);
        add_word(buffer, column, word);
        if (!white_to_move) ++number;
        position = move.after;
        white_to_move = !white_to_move;
    }
    add_word(buffer, column, game.result);
    if (buffer.full) {
        printf("Game \"%s\" is too long to write.\n", game.round);
        return true;
    }

    write_tag(file, "Event", game.event);
    write_tag(file, "Site", game.site);
    write_tag(file, "Date", game.date);
    write_tag(file, "Round", game.round);
    write_tag(file, "White", game.white);
    write_tag(file, "Black", game.black);
    write_tag(file, "Result", game.result);
    write_tag(file, "GameType", "20");
    if (game.custom_start) {
        char fen[200];
        format_fen(game.start, game.start_white_to_move, fen, sizeof fen);
        size_t length = strlen(fen);
        if (length > 0 && fen[length - 1] == '.') fen[length - 1] = '\0';
        write_tag(file, "SetUp", "1");
        write_tag(file, "FEN", fen);
    }
    fprintf(file, "\n%s\n\n", movetext_buffer);
    if (fflush(file) != 0 || ferror(file)) {
        printf("Cannot write the game file.\n");
        return true;
    }
    return false;
}

// ---- reading -------------------------------------------------------------------------

void start_pdn_reader(PdnReader& reader, const char* text, size_t size) {
    reader.text = text;
    reader.size = size;
    reader.offset = 0;
    reader.line = 1;
}

namespace {

bool at_end(const PdnReader& r) {
    return r.offset >= r.size || r.text[r.offset] == '\0';
}
char peek(const PdnReader& r) {
    return at_end(r) ? '\0' : r.text[r.offset];
}
char take(PdnReader& r) {
    char c = peek(r);
    if (!at_end(r)) ++r.offset;
    if (c == '\n') ++r.line;
    return c;
}

// Skips spaces, {comments}, ; comments, % escape lines and (variations).
bool skip_filler(PdnReader& r, char* error, size_t error_size) {
    for (;;) {
        char c = peek(r);
        if (is_space(c)) {
            take(r);
        } else if (c == '{') {
            int line = r.line;
            bool closed = false;
            while (!at_end(r) && !closed) closed = take(r) == '}';
            if (!closed) {
                snprintf(error, error_size, "line %d: comment without its closing brace", line);
                return true;
            }
        } else if (c == ';' || (c == '%' && (r.offset == 0 || r.text[r.offset - 1] == '\n'))) {
            while (!at_end(r) && peek(r) != '\n') take(r);
        } else if (c == '(') {
            int depth = 0, line = r.line;
            do {
                char d = take(r);
                if (d == '(')
                    ++depth;
                else if (d == ')')
                    --depth;
            } while (depth > 0 && !at_end(r));
            if (depth > 0) {
                snprintf(error, error_size, "line %d: variation without its closing bracket", line);
                return true;
            }
        } else {
            return false;
        }
    }
}

bool is_word_end(char c) {
    return c == '\0' || is_space(c) || c == '{' || c == '}' || c == '(' || c == ')' || c == '[' ||
           c == ']' || c == ';';
}

// [Name "value"]
bool read_tag(PdnReader& r, char* name, size_t name_size, char* value, size_t value_size,
              char* error, size_t error_size) {
    int line = r.line;
    take(r); // '['
    while (peek(r) == ' ' || peek(r) == '\t') take(r);
    size_t n = 0;
    while (!at_end(r) && !is_space(peek(r)) && peek(r) != '"' && peek(r) != ']') {
        if (n + 1 >= name_size) {
            snprintf(error, error_size, "line %d: tag name too long", line);
            return true;
        }
        name[n++] = take(r);
    }
    name[n] = '\0';
    while (peek(r) == ' ' || peek(r) == '\t') take(r);
    if (n == 0 || peek(r) != '"') {
        snprintf(error, error_size, "line %d: malformed tag", line);
        return true;
    }
    take(r);
    size_t v = 0;
    for (;;) {
        if (at_end(r) || peek(r) == '\n') {
            snprintf(error, error_size, "line %d: tag value without its closing quote", line);
            return true;
        }
        char c = take(r);
        if (c == '"') break;
        if (c == '\\' && !at_end(r) && peek(r) != '\n') c = take(r);
        if (v + 1 >= value_size) {
            snprintf(error, error_size, "line %d: tag value too long", line);
            return true;
        }
        value[v++] = c;
    }
    value[v] = '\0';
    while (peek(r) == ' ' || peek(r) == '\t') take(r);
    if (peek(r) != ']') {
        snprintf(error, error_size, "line %d: malformed tag", line);
        return true;
    }
    take(r);
    return false;
}

bool is_result(const char* word) {
    return strcmp(word, "2-0") == 0 || strcmp(word, "1-1") == 0 || strcmp(word, "0-2") == 0 ||
           strcmp(word, "*") == 0;
}

} // namespace

PdnReadResult read_pdn_game(PdnReader& r, GameRecord& game, char* error, size_t error_size) {
    set_error(error, error_size, "");
    start_game(game, standard_start_position, 1, false);
    char fen[256] = "";
    char result_tag[8] = "";
    char result_token[8] = "";
    bool any = false, moves_started = false;
    Position position = standard_start_position;
    int white_to_move = 1;
    char message[200];

    auto begin_moves = [&]() -> bool {
        moves_started = true;
        if (fen[0] == '\0') return false;
        if (parse_fen(fen, position, white_to_move, message, sizeof message)) {
            snprintf(error, error_size, "line %d: FEN \"%s\": %s", r.line, fen, message);
            return true;
        }
        start_game(game, position, white_to_move, true);
        return false;
    };
    // Tags read before the FEN are kept across the restart of the record above.
    char event[game_text_size] = "?", site[game_text_size] = "?", date[16] = "????.??.??",
         round[16] = "?", white[40] = "?", black[40] = "?";

    for (;;) {
        if (skip_filler(r, error, error_size)) return pdn_error;
        if (at_end(r)) break;
        char c = peek(r);
        if (c == '[') {
            if (moves_started) break; // the next game's tags
            char name[32], value[256];
            if (read_tag(r, name, sizeof name, value, sizeof value, error, error_size))
                return pdn_error;
            any = true;
            if (strcmp(name, "Event") == 0)
                set_game_text(event, value);
            else if (strcmp(name, "Site") == 0)
                set_game_text(site, value);
            else if (strcmp(name, "Date") == 0)
                set_game_text(date, value);
            else if (strcmp(name, "Round") == 0)
                set_game_text(round, value);
            else if (strcmp(name, "White") == 0)
                set_game_text(white, value);
            else if (strcmp(name, "Black") == 0)
                set_game_text(black, value);
            else if (strcmp(name, "Result") == 0)
                set_game_text(result_tag, value);
            else if (strcmp(name, "FEN") == 0)
                set_game_text(fen, value);
            else if (strcmp(name, "GameType") == 0 &&
                     !(strncmp(value, "20", 2) == 0 && (value[2] == '\0' || value[2] == ','))) {
                snprintf(error, error_size,
                         "line %d: GameType \"%s\" is not international draughts", r.line, value);
                return pdn_error;
            }
            continue;
        }
        if (c == ']' || c == ')' || c == '}') {
            snprintf(error, error_size, "line %d: unexpected '%c'", r.line, c);
            return pdn_error;
        }
        char word[96];
        size_t n = 0;
        int word_line = r.line;
        while (!is_word_end(peek(r))) {
            if (n + 1 >= sizeof word) {
                snprintf(error, error_size, "line %d: word too long", word_line);
                return pdn_error;
            }
            word[n++] = take(r);
        }
        word[n] = '\0';
        any = true;
        if (!moves_started && begin_moves()) return pdn_error;
        if (is_result(word)) {
            set_game_text(result_token, word);
            break;
        }
        if (word[0] == '$') continue; // annotation glyph
        const char* move_text = word;
        // A move number: "12." or "12..." possibly glued to the move.
        size_t d = 0;
        while (is_digit(word[d])) ++d;
        if (d > 0 && word[d] == '.') {
            while (word[d] == '.') ++d;
            move_text = word + d;
        } else if (word[0] == '.') {
            while (word[d] == '.') ++d;
            move_text = word + d;
        }
        if (*move_text == '\0') continue;
        // Trailing marks such as "!", "?", "+".
        char move_word[96];
        set_game_text(move_word, move_text);
        size_t length = strlen(move_word);
        while (length > 0 && !is_digit(move_word[length - 1])) move_word[--length] = '\0';
        list_legal_moves(position, white_to_move, pdn_legal);
        int index = parse_move(move_word, pdn_legal, message, sizeof message);
        if (index < 0) {
            snprintf(error, error_size, "line %d: move %d: %s", word_line, game.ply_count + 1,
                     message);
            return pdn_error;
        }
        GameMove move;
        describe_move(pdn_legal, index, move);
        if (add_move(game, move)) {
            snprintf(error, error_size, "line %d: game too long", word_line);
            return pdn_error;
        }
        position = move.after;
        white_to_move = !white_to_move;
    }
    if (!any) return pdn_end;
    if (!moves_started && begin_moves()) return pdn_error;
    set_game_text(game.event, event);
    set_game_text(game.site, site);
    set_game_text(game.date, date);
    set_game_text(game.round, round);
    set_game_text(game.white, white);
    set_game_text(game.black, black);
    if (result_tag[0] && result_token[0] && strcmp(result_tag, result_token) != 0) {
        snprintf(error, error_size, "line %d: the Result tag \"%s\" and the result \"%s\" differ",
                 r.line, result_tag, result_token);
        return pdn_error;
    }
    const char* result = result_token[0] ? result_token : result_tag;
    if (result[0] && !is_result(result)) {
        snprintf(error, error_size, "line %d: unknown result \"%s\"", r.line, result);
        return pdn_error;
    }
    set_game_text(game.result, result[0] ? result : "*");
    return pdn_game;
}
