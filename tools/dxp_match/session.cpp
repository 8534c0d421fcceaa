// The match: one GAMEREQ per game, the moves both ways, every received move checked against
// the legal moves, games ended by the rules or by the follower, each game appended to the
// PDN file as soon as it is over.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "dxp/dxp.h"
#include "platform/platform.h"
#include "tools/dxp_match/match.h"
#include "tools/pdn/pdn.h"

namespace {

LegalMoves legal;  // the moves of the side to move in record
GameRecord record; // the game being played
char received[dxp_text_size];
char sent[dxp_send_size];
char follower_name[33];
bool game_accepted = false; // the follower took the game request

enum GameOutcome { outcome_scored, outcome_unfinished, outcome_refused, outcome_stop };
enum OurResult { we_lost = -1, we_drew = 0, we_won = 1, no_result = 2 };

// A received text as a printable line: control characters become '?'.
const char* printable(const char* text) {
    static char line[dxp_text_size];
    size_t i = 0;
    for (; text[i] && i + 1 < sizeof line; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        line[i] = c < 32 || c == 127 ? '?' : char(c);
    }
    line[i] = '\0';
    return line;
}

bool send_message(const DxpMessage& message) {
    encode_dxp_message(message, sent);
    if (match_link.send(sent)) {
        printf("The connection to the server is lost.\n");
        return true;
    }
    return false;
}

bool send_game_end(int reason) {
    DxpMessage message{};
    message.type = DXP_GAMEEND;
    message.gameend.reason = int16_t(reason);
    message.gameend.stop_code = 0;
    return send_message(message);
}

// The next message that the game has to act on. CHAT is printed and BACKREQ refused on the
// way. True when the match cannot go on, after printing why.
bool next_message(DxpMessage& message) {
    for (;;) {
        ReceiveResult result =
            match_link.receive(received, int(sizeof received), match_options.wait_seconds);
        if (result == receive_timeout) {
            printf("No answer from the server within %d seconds.\n", match_options.wait_seconds);
            return true;
        }
        if (result == receive_closed) {
            printf("The server closed the connection.\n");
            return true;
        }
        if (result == receive_too_long) {
            printf("The server sent a message longer than %d characters.\n", dxp_max_text);
            return true;
        }
        char why[80];
        if (check_dxp_text(received, why, sizeof why)) {
            printf("Malformed message from the server (%s): \"%s\"\n", why, printable(received));
            return true;
        }
        message = DxpMessage{};
        decode_dxp_message(received, message);
        if (message.type == DXP_CHAT) {
            printf("Chat from %s: %s\n", follower_name[0] ? follower_name : "the server",
                   printable(message.chat.text));
            continue;
        }
        if (message.type == DXP_BACKREQ) {
            DxpMessage answer{};
            answer.type = DXP_BACKACC;
            answer.backacc.acceptance = 1; // not supported
            if (send_message(answer)) return true;
            printf("The server asked to take back moves; refused.\n");
            continue;
        }
        return false;
    }
}

// After our GAMEEND: the follower's GAMEEND (its answer or its own declaration). A reply move
// to our last move may come first; it is not part of the game any more.
bool wait_for_game_end() {
    DxpMessage message;
    for (;;) {
        if (next_message(message)) return true;
        if (message.type == DXP_GAMEEND) return false;
        if (message.type != DXP_MOVE) {
            printf("Unexpected message from the server while ending the game: \"%s\"\n",
                   printable(received));
            return true;
        }
    }
}

void set_result(OurResult result, bool we_play_white) {
    const char* text = "*";
    if (result == we_drew)
        text = "1-1";
    else if (result == we_won)
        text = we_play_white ? "2-0" : "0-2";
    else if (result == we_lost)
        text = we_play_white ? "0-2" : "2-0";
    set_game_text(record.result, text);
}

int thinking_minutes(const MatchOptions& options) {
    long long minutes =
        (static_cast<long long>(options.move_time_ms) * options.move_limit + 59999) / 60000;
    return int(minutes < 1 ? 1 : minutes > 999 ? 999 : minutes);
}

const char* our_name() {
    return match_options.name;
}
const char* their_name() {
    return follower_name[0] ? follower_name : "?";
}

// One game. why receives how it ended.
GameOutcome play_game(int number, char* why, size_t why_size) {
    const bool we_play_white = number % 2 == 0;
    Position start = standard_start_position;
    int white_to_move = 1;
    bool custom = false;
    if (ballot.count > 0) {
        const Opening& opening = ballot.openings[(number / 2) % ballot.count];
        start = opening.position;
        white_to_move = opening.white_to_move;
        custom = true;
    }
    start_game(record, start, white_to_move, custom);
    new_game_for_player();
    game_accepted = false;

    // The date of the game for its record.
    time_t now = time(nullptr);
    if (const tm* local = localtime(&now)) {
        char date[16];
        strftime(date, sizeof date, "%Y.%m.%d", local);
        set_game_text(record.date, date);
    }
    set_game_text(record.event, "dxp-match");
    char site[80];
    snprintf(site, sizeof site, "%s:%s", match_options.host, match_options.port);
    set_game_text(record.site, site);
    snprintf(record.round, sizeof record.round, "%d", number + 1);

    DxpMessage request{};
    request.type = DXP_GAMEREQ;
    request.gamereq.version = 1;
    snprintf(request.gamereq.initiator_name, sizeof request.gamereq.initiator_name, "%s",
             match_options.name);
    request.gamereq.follower_colour = we_play_white ? 'Z' : 'W';
    request.gamereq.thinking_time = int16_t(thinking_minutes(match_options));
    request.gamereq.move_count = int16_t(match_options.move_limit);
    request.gamereq.start_position = custom ? (white_to_move ? 'W' : 'Z') : 'A';
    position_to_dxp_text(start, request.gamereq.position);
    if (send_message(request)) return outcome_stop;

    DxpMessage message;
    if (next_message(message)) return outcome_stop;
    if (message.type != DXP_GAMEACC) {
        printf("The server answered the game request with \"%s\" instead of GAMEACC.\n",
               printable(received));
        return outcome_stop;
    }
    const char* name = printable(message.gameacc.follower_name);
    size_t name_length =
        strlen(name) < sizeof follower_name ? strlen(name) : sizeof follower_name - 1;
    memcpy(follower_name, name, name_length);
    follower_name[name_length] = '\0';
    set_game_text(record.white, we_play_white ? our_name() : their_name());
    set_game_text(record.black, we_play_white ? their_name() : our_name());
    game_accepted = message.gameacc.acceptance == 0;
    if (!game_accepted) {
        snprintf(why, why_size, "refused by %s, acceptance code %d", their_name(),
                 message.gameacc.acceptance);
        return outcome_refused;
    }

    for (;;) {
        GameJudgement judgement = judge_game(record, match_options.move_limit, legal);
        const bool our_turn = (game_white_to_move(record) != 0) == we_play_white;
        if (judgement != game_goes_on) {
            OurResult result = we_drew;
            if (judgement == game_no_legal_move) result = our_turn ? we_lost : we_won;
            set_result(result, we_play_white);
            if (judgement == game_no_legal_move)
                snprintf(why, why_size, "%s cannot move", our_turn ? our_name() : their_name());
            else
                snprintf(why, why_size, "%s", judgement_text(judgement));
            if (send_game_end(result == we_lost ? 1 : result == we_won ? 3 : 2))
                return outcome_stop;
            if (wait_for_game_end()) return outcome_stop;
            return outcome_scored;
        }

        if (our_turn) {
            const int64_t thinking_start = clock_ms();
            GameMove move;
            describe_move(legal, choose_move(record, legal), move);
            if (add_move(record, move)) return outcome_stop;
            DxpMessage reply{};
            reply.type = DXP_MOVE;
            int64_t seconds = (clock_ms() - thinking_start) / 1000;
            reply.move.time = int16_t(seconds > 9999 ? 9999 : seconds);
            reply.move.from_square = move.from;
            reply.move.to_square = move.to;
            reply.move.capture_count = move.capture_count;
            for (int k = 0; k < move.capture_count; ++k) reply.move.captured[k] = move.captured[k];
            if (send_message(reply)) return outcome_stop;
            continue;
        }

        if (next_message(message)) return outcome_stop;
        if (message.type == DXP_MOVE) {
            int captured[max_capture_pieces];
            // The count is the one the text claims; more than a move can take is illegal.
            const int count = message.move.capture_count;
            int index = -1;
            if (count <= max_capture_pieces) {
                for (int k = 0; k < count; ++k) captured[k] = message.move.captured[k];
                index = find_move(legal, message.move.from_square, message.move.to_square,
                                  captured, count);
            }
            if (index < 0) {
                printf("Illegal move from %s in game %d at move %d: \"%s\" is not a legal move "
                       "in this position.\n",
                       their_name(), number + 1, record.ply_count / 2 + 1, received);
                return outcome_stop;
            }
            GameMove move;
            describe_move(legal, index, move);
            if (add_move(record, move)) return outcome_stop;
            continue;
        }
        if (message.type == DXP_GAMEEND) {
            // The follower's reason is its own view: 1 it lost, 2 draw, 3 it won.
            const int reason = message.gameend.reason;
            OurResult result = reason == 1   ? we_won
                               : reason == 2 ? we_drew
                               : reason == 3 ? we_lost
                                             : no_result;
            set_result(result, we_play_white);
            snprintf(why, why_size, "%s ended the game%s", their_name(),
                     reason == 1   ? ", its loss"
                     : reason == 2 ? " as a draw"
                     : reason == 3 ? " as its win"
                                   : " without a result");
            if (send_game_end(0)) return outcome_stop;
            return result == no_result ? outcome_unfinished : outcome_scored;
        }
        printf("Unexpected message from the server during the game: \"%s\"\n", printable(received));
        return outcome_stop;
    }
}

FILE* open_pdn_file(const MatchOptions& options, char* path, size_t size) {
    if (options.pdn[0]) {
        snprintf(path, size, "%s", options.pdn);
    } else {
        time_t now = time(nullptr);
        char stamp[32] = "game";
        if (const tm* local = localtime(&now))
            strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", local);
        snprintf(path, size, "dxp-match-%s.pdn", stamp);
    }
    // Appending: an earlier match in the same file is never lost.
    FILE* file = fopen(path, "a");
    if (!file) printf("Cannot open the game file %s.\n", path);
    return file;
}

} // namespace

GameJudgement judge_game(const GameRecord& game, int move_limit, LegalMoves& moves) {
    list_legal_moves(game_position(game), game_white_to_move(game), moves);
    if (moves.count == 0) return game_no_legal_move;
    if (is_threefold_repetition(game)) return game_repetition;
    if (kings_only_plies(game) >= kings_only_draw_plies) return game_kings_only;
    if (game.ply_count >= 2 * move_limit) return game_move_limit;
    return game_goes_on;
}

const char* judgement_text(GameJudgement judgement) {
    switch (judgement) {
    case game_goes_on:
        return "going on";
    case game_no_legal_move:
        return "no legal move";
    case game_repetition:
        return "threefold repetition";
    case game_kings_only:
        return "25 king moves each without capture";
    case game_move_limit:
        return "move limit";
    }
    return "?";
}

int play_match(const MatchOptions& options, FILE* pdn) {
    match_options = options;
    match_score = MatchScore{};
    follower_name[0] = '\0';
    int status = 0;
    int refused_in_a_row = 0;
    for (int number = 0; number < options.games; ++number) {
        char why[120] = "";
        GameOutcome outcome = play_game(number, why, sizeof why);
        if (outcome == outcome_refused) {
            ++match_score.refused;
            printf("Game %d of %d: %s.\n", number + 1, options.games, why);
            if (++refused_in_a_row == 2) {
                printf("The server refuses the games; match stopped.\n");
                status = 1;
                break;
            }
            continue;
        }
        refused_in_a_row = 0;
        if (outcome == outcome_stop && !game_accepted) {
            printf("Match stopped before game %d began.\n", number + 1);
            status = 1;
            break;
        }
        if (outcome == outcome_stop) {
            set_game_text(record.result, "*");
            snprintf(why, sizeof why, "stopped");
        }
        if (write_pdn_game(pdn, record)) {
            status = 1;
            break;
        }
        const bool we_play_white = number % 2 == 0;
        const char* result = record.result;
        if (strcmp(result, "1-1") == 0)
            ++match_score.draws;
        else if (strcmp(result, "*") == 0)
            ++match_score.unfinished;
        else if ((strcmp(result, "2-0") == 0) == we_play_white)
            ++match_score.wins;
        else
            ++match_score.losses;
        printf("Game %d of %d: %s - %s %s (%s, %d moves); %s +%d =%d -%d\n", number + 1,
               options.games, record.white, record.black, result, why, (record.ply_count + 1) / 2,
               options.name, match_score.wins, match_score.draws, match_score.losses);
        if (outcome == outcome_stop) {
            printf("Match stopped.\n");
            status = 1;
            break;
        }
    }
    print_match_table(match_score);
    return status;
}

bool prepare_match(const MatchOptions& options) {
    fill_bit_count_table();
    build_ray_table();
    ballot.count = 0;
    if (options.ballot[0] && load_ballot(options.ballot, ballot)) return true;
    return start_player(options);
}

int run_match(const MatchOptions& options) {
    if (prepare_match(options)) return 1;
    // Connected first, so that an unreachable server leaves no empty game file behind.
    if (open_socket_link(options.host, options.port, options.retry_seconds)) return 1;
    char path[600];
    FILE* pdn = open_pdn_file(options, path, sizeof path);
    if (!pdn) {
        match_link.close();
        return 1;
    }
    printf("Connected to %s port %s; %d games, written to %s\n", options.host, options.port,
           options.games, path);
    int status = play_match(options, pdn);
    match_link.close();
    fclose(pdn);
    return status;
}
