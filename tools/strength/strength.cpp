// strength: the stand-in's search against the search of a baseline commit (STRENGTH_BASELINE) at
// a fixed time a move, both in this one process (one game at a time; --jobs starts worker copies of
// this program for the games of each slice), from a ballot of openings each played with both
// colours; the ballot itself; and the tuner's self-play and fit (tune.cpp).
//
//   strength match [--games N] [--movetime SECONDS] [--openings FILE] [--jobs J]
//   strength openings [--count N] [--seed S]
//   strength selfplay [--games N] [--seed S] [--nodes N] [--openings FILE] [--out FILE]
//   strength fit [--passes N] [--rate R] [--blend B] [--pattern-pull X] [--term-pull X]
//                [--seed S] [--jobs J] FILE...
#include "tools/strength/strength.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/fen.h"
#include "platform/platform.h"
#include "standin/book.h"
#include "standin/endgame.h"
#include "standin/kings.h"
#include "standin/search.h"
#include "tools/dxp_match/match.h"

namespace {

constexpr int move_limit = 150; // moves a side before a game is called a draw

Position history[max_game_plies + 1];

int index_of(const LegalMoves& legal, const SearchReport& report) {
    const int i = move_index(legal, report.best);
    return i < 0 ? 0 : i;
}

GameRecord game;
LegalMoves legal;

// Plays games slice, slice + jobs, ... of the match; one line per game. Returns the score.
MatchScore play_slice(int games, int movetime_ms, int slice, int jobs) {
    MatchScore score{};
    for (int g = slice; g < games; g += jobs) {
        const Opening& opening = ballot.openings[(g / 2) % ballot.count];
        const bool current_white = g % 2 == 0;
        start_game(game, opening.position, opening.white_to_move, true);
        const int white_points =
            current_white ? play_game(game, current_player, baseline_player, movetime_ms)
                          : play_game(game, baseline_player, current_player, movetime_ms);
        const int points = current_white ? white_points : 2 - white_points;
        (points == 2 ? score.wins : points == 1 ? score.draws : score.losses)++;
        char fen[fen_buffer_size];
        format_fen(game.ply_count ? game.moves[game.ply_count - 1].after : game.start,
                   game.ply_count % 2 == 0 ? opening.white_to_move : !opening.white_to_move, fen,
                   sizeof fen);
        printf("game %d points %d (opening %d, current plays %s, %d plies, %s, %s)\n", g, points,
               (g / 2) % ballot.count + 1, current_white ? "white" : "black", game.ply_count,
               game_end, fen);
    }
    return score;
}

// Starts a copy of this program for each slice and adds up the lines they write.
bool play_in_workers(char** argv, const char* games, const char* movetime, const char* openings,
                     int jobs, MatchScore& score) {
    int64_t pids[8];
    char logs[8][64], slice_text[8][8], jobs_text[8];
    snprintf(jobs_text, sizeof jobs_text, "%d", jobs);
    for (int k = 0; k < jobs; ++k) {
        snprintf(logs[k], sizeof logs[k], "strength-slice-%d.log", k);
        snprintf(slice_text[k], sizeof slice_text[k], "%d", k);
        remove(logs[k]);
        const char* child[] = {argv[0],   "match",       "--games", games,    "--movetime",
                               movetime,  "--openings",  openings,  "--jobs", jobs_text,
                               "--slice", slice_text[k], nullptr};
        pids[k] = start_program(child, logs[k]);
        if (!pids[k]) {
            char why[256];
            last_error_text(why, sizeof why);
            printf("strength: cannot start %s: %s\n", argv[0], why);
            return true;
        }
    }
    bool failed = false;
    for (int k = 0; k < jobs; ++k) {
        int status = 0;
        if (wait_program(pids[k], status)) status = -1;
        FILE* file = fopen(logs[k], "r");
        if (status != 0 || !file) {
            printf("strength: slice %d failed (status %d)\n", k, status);
            failed = true;
            if (file) fclose(file);
            continue;
        }
        char line[256];
        while (fgets(line, sizeof line, file)) {
            int g = 0, points = 0;
            if (sscanf(line, "game %d points %d", &g, &points) != 2) continue;
            fputs(line, stdout);
            (points == 2 ? score.wins : points == 1 ? score.draws : score.losses)++;
        }
        fclose(file);
    }
    return failed;
}

int run_strength_match(int argc, char** argv) {
    const char* games_text = option(argc, argv, "--games", "400");
    const char* movetime_text = option(argc, argv, "--movetime", "0.1");
    const char* openings = option(argc, argv, "--openings", "tools/strength/openings.txt");
    const int games = atoi(games_text), jobs = atoi(option(argc, argv, "--jobs", "1"));
    const int slice = atoi(option(argc, argv, "--slice", "-1"));
    const int movetime_ms = int(atof(movetime_text) * 1000 + 0.5);
    if (games < 1 || movetime_ms < 1 || jobs < 1 || jobs > 8) {
        printf("strength: bad --games, --movetime or --jobs\n");
        return 2;
    }
    // The ballot's check for a finished game generates moves: kings need the ray table.
    fill_bit_count_table();
    build_ray_table();
    if (load_ballot(openings, ballot) || ballot.count == 0) return 1;
    MatchScore score{};
    if (jobs > 1 && slice < 0) {
        printf("strength: %d games at %d ms a move, %d openings, %d at a time\n", games,
               movetime_ms, ballot.count, jobs);
        if (play_in_workers(argv, games_text, movetime_text, openings, jobs, score)) return 1;
    } else {
        if (search_init(32) || baseline_init(argv[0])) return 1;
        load_data_beside(argv[0]);
        score = play_slice(games, movetime_ms, slice < 0 ? 0 : slice, slice < 0 ? 1 : jobs);
        if (slice >= 0) return 0;
    }
    printf("The current engine against the engine of %s, %d ms a move:", STRENGTH_BASELINE,
           movetime_ms);
    print_match_table(score);
    return 0;
}

// Openings: two to four random moves a side from the start, kept when no capture is pending,
// the material is level and a search of the position finds it within a tenth of a man.
int run_openings(int argc, char** argv) {
    const int wanted = atoi(option(argc, argv, "--count", "120"));
    seed_random(argc, argv);
    if (search_init(32)) return 1;
    static Position kept[max_openings];
    int count = 0;
    printf("# Openings for make strength: %d positions after two to four random moves a side,\n"
           "# level material, no capture pending, judged level by a search of 300000 nodes.\n"
           "# Made by: strength openings --count %d --seed %s\n",
           wanted, wanted, option(argc, argv, "--seed", "1"));
    for (int tries = 0; count < wanted && count < max_openings && tries < 100000; ++tries) {
        Position p = standard_start_position;
        const int plies = 2 * (2 + int(next_random() % 3));
        bool quiet = true;
        for (int k = 0; k < plies && quiet; ++k) {
            list_legal_moves(p, k % 2 == 0, legal);
            quiet = legal.taken == 0 && legal.count > 0;
            if (quiet) p = legal.list.entries[next_random() % uint64_t(legal.count)];
        }
        list_legal_moves(p, 1, legal);
        if (!quiet || legal.taken || std::popcount(p.white) != std::popcount(p.black)) continue;
        bool seen = false;
        for (int i = 0; i < count && !seen; ++i) seen = kept[i] == p;
        if (seen) continue;
        search_clear();
        SearchLimits limits;
        limits.max_nodes = 300000;
        const SearchReport report = search_position(p, 1, limits);
        if (report.score > 10 || report.score < -10) continue;
        kept[count++] = p;
        char fen[fen_buffer_size];
        format_fen(p, 1, fen, sizeof fen);
        printf("%s\n", fen);
    }
    return 0;
}

} // namespace

const char* option(int argc, char** argv, const char* name, const char* otherwise) {
    for (int i = 2; i + 1 < argc; ++i)
        if (strcmp(argv[i], name) == 0) return argv[i + 1];
    return otherwise;
}

void seed_random(int argc, char** argv) {
    const uint64_t seed = strtoull(option(argc, argv, "--seed", "1"), nullptr, 10);
    random_state = seed & 1 ? seed : seed | 1ull << 63;
}

int move_index(const LegalMoves& legal, const Position& after) {
    for (int i = 0; i < legal.count; ++i)
        if (legal.list.entries[i] == after) return i;
    return -1;
}

void path_beside(const char* program, const char* name, char* out, int size) {
    const char* slash = strrchr(program, '/');
    snprintf(out, size_t(size), "%.*s%s", slash ? int(slash - program) + 1 : 0, program, name);
}

void load_data_beside(const char* program) {
    char path[512];
    path_beside(program, "book.txt", path, sizeof path);
    load_book(path);
    path_beside(program, "endgame.bin", path, sizeof path);
    load_endgame(path);
    path_beside(program, "kings.bin", path, sizeof path);
    load_kings(path);
}

int game_history(const GameRecord& record, Position* out) {
    if (record.ply_count == 0) return 0;
    int count = 0;
    out[count++] = record.start;
    for (int i = 0; i + 1 < record.ply_count; ++i) out[count++] = record.moves[i].after;
    return count;
}

const char* game_end = "";

int play_game(GameRecord& record, Player white, Player black, int limit) {
    static LegalMoves moves;
    int stage_start = 0, stage_pieces = 0;
    for (;;) {
        const GameJudgement judgement = judge_game(record, move_limit, moves);
        game_end = judgement_text(judgement);
        if (judgement == game_no_legal_move) return moves.white_to_move ? 0 : 2;
        if (judgement != game_goes_on) return 1;
        // The stage begins when the piece count it is judged by is reached.
        const int allowed = lone_king_plies(moves.before);
        const int pieces = std::popcount(moves.before.white | moves.before.black);
        if (!allowed || pieces != stage_pieces) stage_start = record.ply_count;
        stage_pieces = allowed ? pieces : 0;
        if (allowed && record.ply_count - stage_start >= allowed) {
            game_end = allowed == 32 ? "16 moves each against a lone king"
                                     : "5 moves each against a lone king";
            return 1;
        }
        const int i =
            moves.count == 1 ? 0 : (moves.white_to_move ? white : black)(record, moves, limit);
        GameMove move;
        describe_move(moves, i, move);
        if (add_move(record, move)) return 1;
    }
}

int current_player(const GameRecord& record, const LegalMoves& moves, int movetime_ms) {
    if (record.ply_count < 2) search_clear();
    Position after;
    int score = 0;
    if (book_move(moves.before, moves.white_to_move, after, score)) {
        const int i = move_index(moves, after);
        if (i >= 0) return i;
    }
    MoveClock clock{clock_ms(), movetime_ms};
    SearchLimits limits;
    limits.should_stop = out_of_time;
    limits.context = &clock;
    const int count = game_history(record, history);
    return index_of(moves,
                    search_position(moves.before, moves.white_to_move, limits, history, count));
}

int current_player_nodes(const GameRecord& record, const LegalMoves& moves, int nodes) {
    if (record.ply_count < 2) search_clear();
    SearchLimits limits;
    limits.max_nodes = uint64_t(nodes);
    const int count = game_history(record, history);
    return index_of(moves,
                    search_position(moves.before, moves.white_to_move, limits, history, count));
}

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    setup_line_output();
    if (strcmp(mode, "match") == 0) return run_strength_match(argc, argv);
    if (strcmp(mode, "openings") == 0) return run_openings(argc, argv);
    if (strcmp(mode, "selfplay") == 0) return run_selfplay(argc, argv);
    if (strcmp(mode, "fit") == 0) return run_fit(argc, argv);
    printf("usage: strength match [--games N] [--movetime SECONDS] [--openings FILE] [--jobs J]\n"
           "       strength openings [--count N] [--seed S]\n"
           "       strength selfplay [--games N] [--seed S] [--nodes N] [--openings FILE] "
           "[--out FILE]\n"
           "       strength fit [--passes N] [--rate R] [--blend B] [--pattern-pull X]\n"
           "                    [--term-pull X] [--seed S] [--jobs J]\n"
           "                    [--weights-out FILE] [--patterns-out FILE] FILE...\n");
    return 2;
}

bool out_of_time(void* context, bool between_iterations) {
    const MoveClock& clock = *static_cast<MoveClock*>(context);
    const int64_t used = clock_ms() - clock.start;
    return between_iterations ? used * 2 >= clock.budget : used >= clock.budget;
}
