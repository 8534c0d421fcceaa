// The match: one GAMEREQ per game to each follower, the moves between the two sides, every
// received move checked against the legal moves, games ended by the rules or by a follower,
// each game appended to the PDN file as soon as it is over. dxp-match's side is its own
// player, or a second follower whose moves it relays to the server and back (refereeing).
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
bool refereeing = false; // both sides are followers

// The two sides of a game: 0 is dxp-match's (its own player, or the opponent it fields when
// refereeing), 1 the server. A follower is reached through its link side.
struct Seat {
    int link; // link side; -1 for our own player
    char name[33];
    bool white;
    bool accepted;      // it took this game's request
    bool gone;          // its connection failed
    bool sent_end;      // it has our GAMEEND of this game
    bool got_end;       // we have its GAMEEND of this game
    int acceptance;     // its GAMEACC's code
    int64_t turn_start; // when it was given the move, in microseconds
    int64_t thinking_us;
    int moves;
};
Seat seats[2];
int fault_seat = -1;     // the side that failed the game
const char* fault = "";  // how it failed, for the game's line
int64_t received_at = 0; // when the last message was taken off the link
int64_t relay_us = 0, relay_max_us = 0;
int relayed = 0;

enum GameOutcome {
    outcome_scored,
    outcome_unfinished,
    outcome_refused,
    outcome_fault,
    outcome_stop
};
enum Score { lost = -1, drawn = 0, won = 1, no_result = 2 };

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

// A side in the lines about its failures: "the server" against our own player; when
// refereeing, its role, name and address.
const char* who(int seat) {
    static char text[2][160];
    if (!refereeing) return "the server";
    const MatchOptions& o = match_options;
    snprintf(text[seat], sizeof text[seat], "the %s%s%.32s at %.63s:%.7s",
             seat ? "server" : "opponent", seats[seat].name[0] ? " " : "", seats[seat].name,
             seat ? o.host : o.opponent_host, seat ? o.port : o.opponent_port);
    return text[seat];
}

// A side in the lines about games: its name, with its role when refereeing.
const char* name_of(int seat) {
    static char text[2][64];
    const char* name = seats[seat].name[0] ? seats[seat].name : "?";
    if (!refereeing) return name;
    snprintf(text[seat], sizeof text[seat], "%.32s (%s)", name, seat ? "server" : "opponent");
    return text[seat];
}

int seat_of_link(int link) {
    return seats[0].link == link ? 0 : 1;
}

// Seats of followers as a mask (bit 1 << seat), those that owe us a GAMEEND if asked.
int followers(bool owing_game_end = false) {
    int mask = 0;
    for (int s = 0; s < 2; ++s)
        if (seats[s].link >= 0 && !seats[s].gone && !(owing_game_end && seats[s].got_end))
            mask |= 1 << s;
    return mask;
}

// A failed send is the follower's fault: its connection has gone.
bool send_text(int seat, const char* text) {
    if (!match_link.send(seats[seat].link, text)) return false;
    printf("The connection to %s is lost.\n", who(seat));
    seats[seat].gone = true;
    fault_seat = seat;
    fault = "connection lost";
    return true;
}

bool send_message(int seat, const DxpMessage& message) {
    encode_dxp_message(message, sent);
    return send_text(seat, sent);
}

bool send_game_end(int seat, int reason) {
    DxpMessage message{};
    message.type = DXP_GAMEEND;
    message.gameend.reason = int16_t(reason);
    seats[seat].sent_end = true;
    return send_message(seat, message);
}

// The next message from one of the seats of mask that the game has to act on; CHAT is printed
// and BACKREQ refused on the way. True when the match cannot go on, after printing why, with
// fault_seat the side to blame (for a timeout, waiting_for).
bool next_message(int mask, int waiting_for, int& seat, DxpMessage& message) {
    int links = 0;
    for (int s = 0; s < 2; ++s)
        if (mask >> s & 1) links |= 1 << seats[s].link;
    for (;;) {
        int link = seats[waiting_for].link;
        const ReceiveResult result = match_link.receive(links, link, received, int(sizeof received),
                                                        match_options.wait_seconds);
        received_at = clock_us();
        seat = result == receive_timeout ? waiting_for : seat_of_link(link);
        fault_seat = seat;
        if (result == receive_timeout) {
            printf("No answer from %s within %d seconds.\n", who(seat), match_options.wait_seconds);
            fault = "no answer";
            return true;
        }
        if (result == receive_closed) {
            seats[seat].gone = true;
            printf("The connection to %s is lost.\n", who(seat));
            fault = "connection lost";
            return true;
        }
        fault = "malformed message";
        if (result == receive_too_long) {
            printf("A message longer than %d characters from %s.\n", dxp_max_text, who(seat));
            return true;
        }
        char why[80];
        if (check_dxp_text(received, why, sizeof why)) {
            printf("Malformed message from %s (%s): \"%s\"\n", who(seat), why, printable(received));
            return true;
        }
        message = DxpMessage{};
        decode_dxp_message(received, message);
        if (message.type == DXP_CHAT) {
            printf("Chat from %s: %s\n", seats[seat].name[0] ? name_of(seat) : who(seat),
                   printable(message.chat.text));
            continue;
        }
        if (message.type == DXP_BACKREQ) {
            DxpMessage answer{};
            answer.type = DXP_BACKACC;
            answer.backacc.acceptance = 1; // not supported
            if (send_message(seat, answer)) return true;
            printf("A request from %s to take back moves, refused.\n", who(seat));
            continue;
        }
        fault_seat = -1;
        return false;
    }
}

// Waits for the GAMEEND that each follower still owes: its answer to ours, or its own
// declaration crossing it. A reply move to the last move may come first; it is not part of
// the game any more.
bool wait_for_game_ends() {
    for (int mask; (mask = followers(true)) != 0;) {
        int seat;
        DxpMessage message;
        if (next_message(mask, mask & 2 ? 1 : 0, seat, message)) return true;
        if (message.type == DXP_GAMEEND) {
            seats[seat].got_end = true;
        } else if (message.type != DXP_MOVE) {
            printf("Unexpected message from %s while ending the game: \"%s\"\n", who(seat),
                   printable(received));
            fault_seat = seat;
            fault = "unexpected message";
            return true;
        }
    }
    return false;
}

// The result from a side's view.
void set_result(int seat, Score score) {
    const bool white = seats[seat].white;
    const char* text = score == drawn            ? "1-1"
                       : score == no_result      ? "*"
                       : (score == won) == white ? "2-0"
                                                 : "0-2";
    set_game_text(record.result, text);
}

Score score_of(int seat) {
    const char* r = record.result;
    if (strcmp(r, "1-1") == 0) return drawn;
    if (strcmp(r, "*") == 0) return no_result;
    return (strcmp(r, "2-0") == 0) == seats[seat].white ? won : lost;
}

// The GAMEEND reason a follower is sent: the result from its opponent's view (1 lost, 2 draw,
// 3 won, 0 none).
int reason_for(int seat) {
    const Score score = score_of(seat);
    return score == won ? 1 : score == lost ? 3 : score == drawn ? 2 : 0;
}

// Ends the game by the rules, or after a failure, with both followers: each gets our GAMEEND
// unless it has one, and each that can still answer is waited for.
bool end_game_with_followers() {
    for (int s = 1; s >= 0; --s)
        if ((followers() >> s & 1) && !seats[s].sent_end && send_game_end(s, reason_for(s)))
            return true;
    return wait_for_game_ends();
}

int thinking_minutes(const MatchOptions& options) {
    long long minutes =
        (static_cast<long long>(options.move_time_ms) * options.move_limit + 59999) / 60000;
    return int(minutes < 1 ? 1 : minutes > 999 ? 999 : minutes);
}

// A received move: checked against the legal moves, recorded, and forwarded to the other
// side when that is a follower. True when the game cannot go on.
bool take_move(int seat, int mover, int number, const DxpMessage& message) {
    Seat& side = seats[seat];
    if (seat != mover) {
        printf("Move out of turn from %s in game %d: \"%s\"\n", who(seat), number + 1, received);
        fault_seat = seat;
        fault = "move out of turn";
        return true;
    }
    int captured[max_capture_pieces];
    // The count is the one the text claims; more than a move can take is illegal.
    const int count = message.move.capture_count;
    int index = -1;
    if (count <= max_capture_pieces) {
        for (int k = 0; k < count; ++k) captured[k] = message.move.captured[k];
        index = find_move(legal, message.move.from_square, message.move.to_square, captured, count);
    }
    if (index < 0) {
        printf("Illegal move from %s in game %d at move %d: \"%s\" is not a legal move in this "
               "position.\n",
               who(seat), number + 1, record.ply_count / 2 + 1, received);
        fault_seat = seat;
        fault = "illegal move";
        return true;
    }
    side.thinking_us += received_at - side.turn_start;
    ++side.moves;
    GameMove move;
    describe_move(legal, index, move);
    if (add_move(record, move)) return true;
    Seat& other = seats[1 - seat];
    if (other.link < 0) return false;
    // Forwarded as it came, time field and all.
    if (send_text(1 - seat, received)) return true;
    other.turn_start = clock_us();
    const int64_t took = other.turn_start - received_at;
    relay_us += took;
    relay_max_us = took > relay_max_us ? took : relay_max_us;
    ++relayed;
    if (took > 1000) ++match_times.relayed_slowly;
    return false;
}

// Our own player's move, sent to the server.
bool play_our_move() {
    const int64_t start = clock_us();
    GameMove move;
    describe_move(legal, choose_move(record, legal), move);
    if (add_move(record, move)) return true;
    DxpMessage reply{};
    reply.type = DXP_MOVE;
    const int64_t seconds = (clock_us() - start) / 1000000;
    reply.move.time = int16_t(seconds > 9999 ? 9999 : seconds);
    reply.move.from_square = move.from;
    reply.move.to_square = move.to;
    reply.move.capture_count = move.capture_count;
    for (int k = 0; k < move.capture_count; ++k) reply.move.captured[k] = move.captured[k];
    seats[0].thinking_us += clock_us() - start;
    ++seats[0].moves;
    if (send_message(1, reply)) return true;
    seats[1].turn_start = clock_us();
    return false;
}

// One game. why receives how it ended.
GameOutcome play_game(int number, char* why, size_t why_size) {
    const bool ours_white = number % 2 == 0;
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
    for (int s = 0; s < 2; ++s) {
        Seat& seat = seats[s];
        seat.white = (s == 0) == ours_white;
        seat.accepted = seat.link < 0;
        seat.sent_end = seat.got_end = false;
        seat.thinking_us = 0;
        seat.moves = 0;
    }
    fault_seat = -1;

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
    request.gamereq.thinking_time = int16_t(thinking_minutes(match_options));
    request.gamereq.move_count = int16_t(match_options.move_limit);
    request.gamereq.start_position = custom ? (white_to_move ? 'W' : 'Z') : 'A';
    position_to_dxp_text(start, request.gamereq.position);
    // The same request to both followers, each with its own colour; the server first.
    for (int s = 1; s >= 0; --s) {
        if (seats[s].link < 0) continue;
        request.gamereq.follower_colour = seats[s].white ? 'W' : 'Z';
        if (send_message(s, request)) return outcome_fault;
        seats[s].turn_start = clock_us();
    }
    for (int s = 1; s >= 0; --s) {
        if (seats[s].link < 0) continue;
        int from;
        DxpMessage message;
        if (next_message(1 << s, s, from, message)) return outcome_fault;
        if (message.type != DXP_GAMEACC) {
            printf("The game request to %s was answered with \"%s\", not GAMEACC.\n", who(s),
                   printable(received));
            fault_seat = s;
            fault = "unexpected message";
            return outcome_fault;
        }
        snprintf(seats[s].name, sizeof seats[s].name, "%.32s",
                 printable(message.gameacc.follower_name));
        seats[s].acceptance = message.gameacc.acceptance;
        seats[s].accepted = seats[s].acceptance == 0;
    }
    set_game_text(record.white, seats[ours_white ? 0 : 1].name);
    set_game_text(record.black, seats[ours_white ? 1 : 0].name);
    for (int s = 1; s >= 0; --s) {
        if (seats[s].accepted) continue;
        snprintf(why, why_size, "refused by %s, acceptance code %d", name_of(s),
                 seats[s].acceptance);
        if (!refereeing) return outcome_refused;
        printf("Game %d was refused by %s, acceptance code %d.\n", number + 1, who(s),
               seats[s].acceptance);
        fault_seat = s;
        fault = "game refused";
        return outcome_fault;
    }

    for (;;) {
        const GameJudgement judgement = judge_game(record, match_options.move_limit, legal);
        const int mover = (game_white_to_move(record) != 0) == seats[0].white ? 0 : 1;
        if (judgement != game_goes_on) {
            if (judgement == game_no_legal_move) {
                set_result(mover, lost);
                snprintf(why, why_size, "%s cannot move", name_of(mover));
            } else {
                set_result(mover, drawn);
                snprintf(why, why_size, "%s", judgement_text(judgement));
            }
            return end_game_with_followers() ? outcome_fault : outcome_scored;
        }
        if (seats[mover].link < 0) {
            if (play_our_move()) return fault_seat >= 0 ? outcome_fault : outcome_stop;
            continue;
        }
        int seat;
        DxpMessage message;
        if (next_message(followers(), mover, seat, message)) return outcome_fault;
        if (message.type == DXP_MOVE) {
            if (take_move(seat, mover, number, message))
                return fault_seat >= 0 ? outcome_fault : outcome_stop;
            continue;
        }
        if (message.type == DXP_GAMEEND) {
            // The reason is the sender's own view: 1 it lost, 2 draw, 3 it won.
            int reason = message.gameend.reason;
            if (reason < 1 || reason > 3) reason = 0;
            set_result(seat, reason == 1   ? lost
                             : reason == 2 ? drawn
                             : reason == 3 ? won
                                           : no_result);
            snprintf(why, why_size, "%s ended the game%s", name_of(seat),
                     reason == 1   ? ", its loss"
                     : reason == 2 ? " as a draw"
                     : reason == 3 ? " as its win"
                                   : " without a result");
            // The side that ended the game gets our answer; the other side hears its reason.
            seats[seat].got_end = true;
            if (send_game_end(seat, 0)) return outcome_fault;
            const int other = 1 - seat;
            if (seats[other].link >= 0 && (send_game_end(other, reason) || wait_for_game_ends()))
                return outcome_fault;
            return reason == 0 ? outcome_unfinished : outcome_scored;
        }
        printf("Unexpected message from %s during the game: \"%s\"\n", who(seat),
               printable(received));
        fault_seat = seat;
        fault = "unexpected message";
        return outcome_fault;
    }
}

// After a side failed: the game is its loss unless it was already decided, and the
// followers still in the game hear that it is over.
void settle_fault(char* why, size_t why_size) {
    const int seat = fault_seat;
    if (seat < 0) return;
    if (strcmp(record.result, "*") == 0) {
        set_result(seat, lost);
        snprintf(why, why_size, "%s loses: %s", name_of(seat), fault);
    }
    // The failed side is not waited for.
    seats[seat].got_end = true;
    for (int s = 0; s < 2; ++s)
        if (!seats[s].accepted) seats[s].sent_end = seats[s].got_end = true;
    end_game_with_followers();
}

void print_thinking(const char* heading, const int64_t* thinking_us, const int* moves,
                    int64_t relay, int64_t relay_max, int count) {
    printf("%s", heading);
    for (int s = 0; s < 2; ++s)
        printf("%s%s %.1f s for %d moves (%.0f ms a move)", s ? "; " : "", name_of(s),
               double(thinking_us[s]) / 1e6, moves[s],
               moves[s] ? double(thinking_us[s]) / 1e3 / moves[s] : 0.0);
    if (count)
        printf("; referee %.3f ms a move, at most %.3f ms", double(relay) / 1e3 / count,
               double(relay_max) / 1e3);
    printf("\n");
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
    match_times = MatchTimes{};
    refereeing = options.player == player_follower;
    seats[0] = Seat{};
    seats[1] = Seat{};
    seats[0].link = refereeing ? link_opponent : -1;
    seats[1].link = link_server;
    if (!refereeing) snprintf(seats[0].name, sizeof seats[0].name, "%s", options.name);
    int status = 0;
    int refused_in_a_row = 0;
    for (int number = 0; number < options.games; ++number) {
        char why[160] = "";
        relay_us = relay_max_us = 0;
        relayed = 0;
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
        const bool failed = outcome == outcome_fault || outcome == outcome_stop;
        if (failed && !refereeing && !seats[1].accepted) {
            printf("Match stopped before game %d began.\n", number + 1);
            status = 1;
            break;
        }
        if (outcome == outcome_fault) settle_fault(why, sizeof why);
        if (outcome == outcome_stop) {
            set_game_text(record.result, "*");
            snprintf(why, sizeof why, "stopped");
        }
        if (write_pdn_game(pdn, record)) {
            status = 1;
            break;
        }
        const Score score = score_of(0);
        if (score == drawn)
            ++match_score.draws;
        else if (score == no_result)
            ++match_score.unfinished;
        else if (score == won)
            ++match_score.wins;
        else
            ++match_score.losses;
        printf("Game %d of %d: %s - %s %s (%s, %d moves); %s +%d =%d -%d\n", number + 1,
               options.games, record.white, record.black, record.result, why,
               (record.ply_count + 1) / 2, name_of(0), match_score.wins, match_score.draws,
               match_score.losses);
        const int64_t thinking[2] = {seats[0].thinking_us, seats[1].thinking_us};
        const int moves[2] = {seats[0].moves, seats[1].moves};
        print_thinking("  Thinking: ", thinking, moves, relay_us, relay_max_us, relayed);
        MatchTimes& t = match_times;
        for (int s = 0; s < 2; ++s) {
            t.thinking_us[s] += thinking[s];
            t.moves[s] += moves[s];
        }
        t.relay_us += relay_us;
        t.relay_max_us = relay_max_us > t.relay_max_us ? relay_max_us : t.relay_max_us;
        t.relayed += relayed;
        if (failed) {
            printf("Match stopped.\n");
            status = 1;
            break;
        }
    }
    print_match_table(match_score);
    const MatchTimes& t = match_times;
    if (t.moves[0] + t.moves[1] > 0)
        print_thinking("Thinking time: ", t.thinking_us, t.moves, 0, 0, 0);
    if (t.relayed)
        printf("Referee time per relayed move: %.3f ms on average, %.3f ms at most (%d moves, %d "
               "of them over 1 ms)\n",
               double(t.relay_us) / 1e3 / t.relayed, double(t.relay_max_us) / 1e3, t.relayed,
               t.relayed_slowly);
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
    // Connected first, so that an unreachable follower leaves no empty game file behind.
    const bool referee = options.player == player_follower;
    if (open_socket_link(link_server, options.host, options.port, options.retry_seconds)) return 1;
    if (referee && open_socket_link(link_opponent, options.opponent_host, options.opponent_port,
                                    options.retry_seconds)) {
        match_link.close(link_server);
        return 1;
    }
    char path[600];
    FILE* pdn = open_pdn_file(options, path, sizeof path);
    if (!pdn) {
        match_link.close(link_server);
        if (referee) match_link.close(link_opponent);
        return 1;
    }
    if (referee)
        printf("Refereeing the server at %s port %s against the opponent at %s port %s; %d "
               "games, written to %s\n",
               options.host, options.port, options.opponent_host, options.opponent_port,
               options.games, path);
    else
        printf("Connected to %s port %s; %d games, written to %s\n", options.host, options.port,
               options.games, path);
    int status = play_match(options, pdn);
    match_link.close(link_server);
    if (referee) match_link.close(link_opponent);
    fclose(pdn);
    return status;
}
