// The command watcher and the stand-in's own play. One thread: the search looks at the second
// command flag every few thousand nodes, so a new command cuts its thinking short.
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "board/movegen.h"
#include "platform/platform.h"
#include "standin/book.h"
#include "standin/config.h"
#include "standin/endgame.h"
#include "standin/kings.h"
#include "standin/memory_map.h"
#include "standin/standin.h"

StandinGame standin_game;

namespace {

// Working storage for matching typed moves and naming the squares of the analysis line.
MoveList named_moves;
CapturePaths named_paths;

void show_board() {
    ByteBoard board;
    board_of_position(standin_game.position, board);
    map_write(map_game_board, board.data(), board.size());
}

void clear_analysis() {
    map_poke(map_analysis_from, int8_t(map_end_of_line));
    const int16_t zero = 0;
    map_write(map_score, &zero, sizeof zero);
}

void after_position_change() {
    MoveList& list = named_moves;
    standin_game.no_legal_move =
        legal_moves(standin_game.position, standin_game.white_to_move, list) == 0;
}

void set_position(const Position& position, int white_to_move) {
    standin_game.position = position;
    standin_game.white_to_move = white_to_move;
    standin_game.history_count = 0;
    after_position_change();
}

// The move is made for the side to move: it joins the game, and shows on the board.
void make_move(const Position& after) {
    StandinGame& g = standin_game;
    if (move_is_irreversible(g.position, after, g.white_to_move)) {
        g.history_count = 0;
    } else if (g.history_count == standin_max_history) {
        // Older positions than these no longer matter for a repetition.
        std::memmove(g.history, g.history + standin_max_history / 2,
                     sizeof(Position) * (standin_max_history / 2));
        g.history_count = standin_max_history / 2;
    }
    if (!move_is_irreversible(g.position, after, g.white_to_move))
        g.history[g.history_count++] = g.position;
    g.position = after;
    g.white_to_move = !g.white_to_move;
    after_position_change();
    show_board();
}

void new_game_from_setup_board() {
    int8_t setup[map_setup_board_size];
    map_read(map_setup_board, setup, sizeof setup);
    ByteBoard board{};
    for (int square = 1; square <= 50; ++square) {
        int8_t value = setup[setup_index_of_square(square)];
        // A byte that names no piece leaves its square empty.
        board[size_t(square - 1)] = value >= -2 && value <= 2 ? value : 0;
    }
    set_position(position_of_board(board), 1);
    clear_analysis();
    show_board();
}

bool read_number(const char*& text, int& number) {
    if (!std::isdigit(static_cast<unsigned char>(text[0]))) return true;
    number = 0;
    for (int digits = 0; std::isdigit(static_cast<unsigned char>(*text)); ++digits, ++text) {
        if (digits == 2) return true; // squares have at most two digits
        number = number * 10 + (*text - '0');
    }
    return number < 1 || number > 50;
}

// Plays a typed move for the side to move: the first legal move, in generation order, that
// goes from one square to the other (and jumps the named square). True when none fits.
bool play_typed_move(int from, int via, int to) {
    Position after;
    if (find_typed_move(standin_game.position, standin_game.white_to_move, from, via, to, after))
        return true;
    make_move(after);
    return false;
}

constexpr int min_reply_ms = 50;

struct ThinkClock {
    int64_t start;
    int movetime;
    int white_to_move;
};

bool human_plays(int white_to_move) {
    return map_peek(white_to_move ? map_player_plays_white : map_player_plays_black) != 0;
}

bool should_stop(void* context, bool between_iterations) {
    auto* clock = static_cast<ThinkClock*>(context);
    if (map_peek(map_command_flag2) != 0) return true;
    if (human_plays(clock->white_to_move)) return true;
    int64_t elapsed = clock_ms() - clock->start;
    // An iteration takes longer than all before it: past half the time, do not start one.
    if (between_iterations) return elapsed * 2 >= clock->movetime;
    return elapsed >= clock->movetime || !parent_alive();
}

void report_iteration(const SearchReport& report, void* context) {
    auto* clock = static_cast<ThinkClock*>(context);
    write_analysis(standin_game.position, clock->white_to_move, report.line, report.score);
}

// False once the launcher has gone; with the fault outlive_server, 30 s later.
bool launcher_here() {
    static int64_t gone_at = -1;
    if (parent_alive()) return true;
    if (!standin_config.outlive_server) return false;
    if (gone_at < 0) gone_at = clock_ms();
    return clock_ms() - gone_at < 30000;
}

} // namespace

void start_standin() {
    ByteBoard board{};
    for (int i = 0; i < 20; ++i) board[size_t(i)] = -1;
    for (int i = 30; i < 50; ++i) board[size_t(i)] = 1;
    if (standin_config.fault == fault_wrong_start_board) board[49] = 0; // square 50 empty
    set_position(position_of_board(board), 1);
    // The setup board holds the standard start too: the server's start-up test types "n"
    // before it has written any setup board.
    int8_t setup[map_setup_board_size];
    std::memset(setup, 3, sizeof setup);
    for (int square = 1; square <= 50; ++square)
        setup[setup_index_of_square(square)] = board[size_t(square - 1)];
    map_write(map_setup_board, setup, sizeof setup);
    map_poke(map_player_plays_black, 1);
    map_poke(map_player_plays_white, 1);
    map_poke(map_command_flag, 0);
    map_poke(map_command_flag2, 0);
    clear_analysis();
    show_board();
}

bool take_command(char* text, size_t size) {
    if (map_peek(map_command_flag2) == 0) return false;
    char raw[map_command_size];
    map_read(map_command_text, raw, sizeof raw);
    map_poke(map_command_flag, 0);
    map_poke(map_command_flag2, 0);
    // A text without its zero byte in reach is no command.
    const void* end = std::memchr(raw, 0, sizeof raw);
    if (!end || size == 0) {
        if (size) text[0] = '\0';
        return true;
    }
    std::snprintf(text, size, "%s", raw);
    return true;
}

bool parse_move_text(const char* text, int& from, int& via, int& to) {
    int numbers[3];
    int count = 0;
    for (;;) {
        if (read_number(text, numbers[count++])) return true;
        if (*text == '\0') break;
        if (*text != '-' || count == 3) return true;
        ++text;
    }
    if (count < 2) return true;
    from = numbers[0];
    via = count == 3 ? numbers[1] : 0;
    to = numbers[count - 1];
    return false;
}

void carry_out_command(const char* text) {
    if (std::strcmp(text, "n") == 0) {
        if (standin_config.fault == fault_ignore_new) return;
        new_game_from_setup_board();
    } else if (std::strcmp(text, "kca") == 0) {
        map_poke(map_player_plays_white, 0);
        map_poke(map_player_plays_black, 1);
    } else if (std::strcmp(text, "kac") == 0) {
        map_poke(map_player_plays_black, 0);
        map_poke(map_player_plays_white, 1);
    } else {
        int from = 0, via = 0, to = 0;
        if (standin_config.fault == fault_ignore_moves) return;
        if (parse_move_text(text, from, via, to)) return; // unknown: ignored
        play_typed_move(from, via, to);                   // no such legal move: ignored
    }
}

bool standin_to_move() {
    return !standin_game.no_legal_move && !human_plays(standin_game.white_to_move);
}

void write_analysis(const Position& root, int white_to_move, const SearchLine& line, int score) {
    int8_t from_codes[map_analysis_length], to_codes[map_analysis_length];
    Position before = root;
    int side = white_to_move;
    int length = 0;
    for (; length < line.length && length < map_analysis_length; ++length) {
        int n = 0;
        int count = generate_legal_moves(before, side, named_moves, named_paths, n);
        int i = 0;
        while (i < count && !(named_moves.entries[i] == line.after[length])) ++i;
        if (i == count) break; // not a move of this position: the line ends before it
        MoveSquares squares = move_squares(n, i, side, before, named_moves, named_paths);
        from_codes[length] = int8_t(square_code(square_of_mask(squares.from)));
        to_codes[length] =
            int8_t(square_code(square_of_mask(squares.to)) | (n > 0 ? map_capture_bit : 0));
        before = line.after[length];
        side = !side;
    }
    if (length < map_analysis_length) from_codes[length] = int8_t(map_end_of_line);
    const int16_t shown = int16_t(score > 32767 ? 32767 : score < -32767 ? -32767 : score);
    size_t used = size_t(length < map_analysis_length ? length + 1 : length);
    map_write(map_analysis_to, to_codes, size_t(length));
    map_write(map_analysis_from, from_codes, used);
    map_write(map_score, &shown, sizeof shown);
}

void think_and_play() {
    StandinGame& g = standin_game;
    static int own_moves = 0;
    if (standin_config.fault == fault_die_after_moves &&
        own_moves >= standin_config.die_after_moves) {
        printf("Fault: the stand-in ends after %d moves.\n", own_moves);
        fatal_stop();
    }
    ThinkClock clock{clock_ms(), standin_config.movetime_ms, g.white_to_move};
    SearchLimits limits;
    limits.max_depth = standin_config.max_depth;
    limits.should_stop = should_stop;
    limits.on_iteration = report_iteration;
    limits.context = &clock;
    // A book move costs no time; it is shown as a line of one move with the book's score.
    SearchReport report{};
    if (book_move(g.position, g.white_to_move, report.best, report.score)) {
        report.has_move = true;
        report.line.length = 1;
        report.line.after[0] = report.best;
        report_iteration(report, &clock);
    } else {
        report = search_position(g.position, g.white_to_move, limits, g.history, g.history_count);
    }
    // Even a forced reply waits a moment, so that the move it answers is seen on the board
    // on its own first. A command, or a server that took the side back, comes before the move.
    while (clock_ms() - clock.start < min_reply_ms) {
        if (map_peek(map_command_flag2) != 0 || human_plays(g.white_to_move)) return;
        pause_ms(1);
    }
    if (map_peek(map_command_flag2) != 0 || human_plays(g.white_to_move)) return;
    if (!report.has_move) return;
    ++own_moves;
    if (standin_config.fault == fault_illegal_reply) {
        // No legal move removes a piece of the side that moves.
        Position wrong = report.best;
        uint64_t& own = g.white_to_move ? wrong.white : wrong.black;
        const uint64_t lowest = own & (~own + 1);
        own &= ~lowest;
        wrong.kings &= ~lowest;
        make_move(wrong);
        return;
    }
    make_move(report.best);
}

int run_standin() {
    setup_line_output();
    parent_alive(); // remember who started us
    if (acquire_memory_map()) fatal_stop();
    if (read_config("winkavro.ini")) printf("winkavro.ini cannot be read; defaults used.\n");
    if (search_init(standin_config.hash_megabytes)) fatal_stop();
    pause_ms(standin_config.slow_start_ms); // the board shows nothing (zeros) meanwhile
    // Without them the stand-in plays on: the search alone, the evaluation alone.
    load_book("book.txt");
    load_endgame("endgame.bin");
    load_kings("kings.bin");
    start_standin();
    char command[map_command_size];
    while (launcher_here()) {
        if (take_command(command, sizeof command)) {
            carry_out_command(command);
        } else if (standin_to_move()) {
            think_and_play();
        } else {
            pause_ms(2);
        }
    }
    return 0;
}
