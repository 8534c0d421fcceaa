// Turns the server's log into games, one line at a time.
#include <cstring>

#include "tools/log2pdn/log2pdn.h"
#include "tools/pdn/pdn.h"

LogSummary log_summary;

namespace {

FILE* output = nullptr;
FILE* notes = nullptr;
GameRecord game;
LegalMoves legal;
bool in_game = false;
bool broken = false; // a move did not fit: the rest of the game is left out
bool kavro_white = false;
int game_number = 0;
int line_number = 0;

void note(const char* what, const char* text) {
    ++log_summary.problems;
    fprintf(notes, "dxp-log2pdn: line %d, game %d: %s: \"%s\"\n", line_number, game_number, what,
            text);
}

// Writes the game in progress with the result given (from white's side) and closes it.
bool end_game(const char* result) {
    if (!in_game) return false;
    in_game = false;
    // A game cut short by a line that did not fit has no result worth trusting.
    set_game_text(game.result, broken ? "*" : result);
    if (write_pdn_game(output, game)) return true;
    ++log_summary.games;
    return false;
}

const char* result_for(bool white_won, bool draw) {
    return draw ? "1-1" : white_won ? "2-0" : "0-2";
}

bool is_digits(const char* text, int count) {
    for (int i = 0; i < count; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

int two_digits(const char* text) {
    return (text[0] - '0') * 10 + (text[1] - '0');
}

bool start_game_from_request(const char* text) {
    const size_t length = strlen(text);
    ++game_number;
    if (length != 43 && length != 94) {
        note("a game request of the wrong length", text);
        broken = true;
        return false;
    }
    char name[33];
    memcpy(name, text + 3, 32);
    name[32] = '\0';
    for (int i = 31; i >= 0 && name[i] == ' '; --i) name[i] = '\0';
    kavro_white = text[35] == 'W';
    Position start = standard_start_position;
    int white_to_move = 1;
    bool custom = false;
    if (text[42] != 'A') {
        if (length != 94 || position_from_dxp_text(text + 44, start)) {
            note("a game request with a bad position", text);
            broken = true;
            return false;
        }
        white_to_move = text[43] == 'W';
        custom = true;
    }
    start_game(game, start, white_to_move, custom);
    set_game_text(game.event, "DXP game");
    snprintf(game.round, sizeof game.round, "%d", game_number);
    set_game_text(game.white, kavro_white ? "Kavro" : name);
    set_game_text(game.black, kavro_white ? name : "Kavro");
    in_game = true;
    broken = false;
    return false;
}

// A MOVE text of one side; by_kavro tells which side the log says sent it.
void play_move_text(const char* text, bool by_kavro) {
    if (!in_game || broken) return;
    const size_t length = strlen(text);
    if (length < 11 || !is_digits(text + 1, int(length) - 1) ||
        length != 11 + 2 * size_t(two_digits(text + 9)) ||
        two_digits(text + 9) > max_capture_pieces) {
        note("a malformed move", text);
        broken = true;
        return;
    }
    const int white_to_move = game_white_to_move(game);
    if ((white_to_move != 0) != (by_kavro == kavro_white)) {
        note("a move out of turn", text);
        broken = true;
        return;
    }
    int captured[max_capture_pieces];
    const int count = two_digits(text + 9);
    for (int k = 0; k < count; ++k) captured[k] = two_digits(text + 11 + 2 * k);
    list_legal_moves(game_position(game), white_to_move, legal);
    int index = find_move(legal, two_digits(text + 5), two_digits(text + 7), captured, count);
    if (index < 0) {
        note("a move that is not legal here; the rest of the game is left out", text);
        broken = true;
        return;
    }
    GameMove move;
    describe_move(legal, index, move);
    if (add_move(game, move)) broken = true;
}

// A GAMEEND: reason 1 the sender lost, 2 draw, 3 the sender won, anything else no result.
bool game_end_text(const char* text, bool by_kavro) {
    if (!in_game) return false; // the answer to a game already over
    if (strlen(text) != 3) {
        note("a malformed game end", text);
        return end_game("*");
    }
    const int reason = text[1] - '0';
    if (reason != 1 && reason != 2 && reason != 3) return end_game("*");
    const bool sender_white = by_kavro == kavro_white;
    return end_game(result_for(reason == 3 ? sender_white : !sender_white, reason == 2));
}

// The text between the quotes of Received: "..." or Sent: "...", or null.
const char* quoted(const char* line, const char* prefix, char* text, size_t size) {
    const size_t n = strlen(prefix);
    if (strncmp(line, prefix, n) != 0) return nullptr;
    const char* begin = line + n;
    const size_t length = strlen(begin);
    if (length == 0 || begin[length - 1] != '"' || length > size) return nullptr;
    memcpy(text, begin, length - 1);
    text[length - 1] = '\0';
    return text;
}

} // namespace

void start_log(FILE* out, FILE* note_file) {
    output = out;
    notes = note_file;
    in_game = false;
    broken = false;
    game_number = 0;
    line_number = 0;
    log_summary = LogSummary{};
}

bool read_log_line(const char* line) {
    ++line_number;
    char text[160];
    if (quoted(line, "Received: \"", text, sizeof text)) {
        switch (text[0]) {
        case 'R':
            if (end_game("*")) return true;
            return start_game_from_request(text);
        case 'M':
            play_move_text(text, false);
            return false;
        case 'E':
            return game_end_text(text, false);
        default:
            return false; // CHAT, BACKREQ, ...: not part of the game
        }
    }
    if (quoted(line, "Sent: \"", text, sizeof text)) {
        if (text[0] == 'M')
            play_move_text(text, true);
        else if (text[0] == 'E')
            return game_end_text(text, true);
        return false;
    }
    if (strcmp(line, "Received: DXP_CONNECTIONLOST") == 0) return end_game("*");
    return false;
}

bool finish_log() {
    return end_game("*");
}
