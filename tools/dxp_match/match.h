// dxp-match: plays a match as the initiating side of a DXP connection, with its own player or
// as the referee between the server and a second follower; checks every move it receives,
// ends games by the rules, writes the games to PDN and scores the match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "tools/pdn/game.h"

// ---- options -------------------------------------------------------------------------
// player_follower: the opponent is another DXP follower (--player dxp:HOST:PORT), and
// dxp-match referees it against the server.
enum PlayerKind { player_random, player_engine, player_follower };

struct MatchOptions {
    char host[64];
    char port[8];
    char opponent_host[64]; // the follower of player_follower
    char opponent_port[8];
    int games;
    int move_time_ms;  // our engine's time per move
    int move_limit;    // moves per side before the game is called a draw
    int wait_seconds;  // longest wait for the follower's answer
    int retry_seconds; // how long to keep trying to connect
    PlayerKind player;
    uint64_t seed;    // of the random player
    char name[33];    // our name in GAMEREQ and in the PDN
    char ballot[512]; // empty: every game from the standard start
    char pdn[512];    // empty: a name made from the date and time
};
extern MatchOptions match_options;

enum ArgumentResult { arguments_ok, arguments_help, arguments_bad };
// Fills the options from the command line; a bad option prints one line.
ArgumentResult parse_match_arguments(int argc, char** argv, MatchOptions& options);
void print_match_usage();

// ---- the ballot: the openings of a match ---------------------------------------------
constexpr int max_openings = 2000;
struct Opening {
    Position position;
    int white_to_move;
};
struct Ballot {
    int count;
    Opening openings[max_openings];
};
extern Ballot ballot;
// One PDN FEN per line; blank lines and text after '#' are skipped. True on failure, after
// printing the file's line and why.
bool read_ballot_text(const char* text, Ballot& into);
bool load_ballot(const char* path, Ballot& into);

// ---- the score -----------------------------------------------------------------------
struct MatchScore {
    int wins;
    int draws;
    int losses;
    int unfinished; // ended without a result ("*"): not scored
    int refused;    // the follower did not accept the game
};
extern MatchScore match_score;

// Thinking: from giving a side the move (the side that begins: the game request) to its move.
// Relay: the referee's own time for a move, from taking it off the link to having forwarded it.
struct MatchTimes {
    int64_t thinking_us[2]; // [0] dxp-match's side (its player, or the opponent), [1] the server
    int moves[2];
    int64_t relay_us;
    int64_t relay_max_us;
    int relayed;
    int relayed_slowly; // in more than a millisecond
};
extern MatchTimes match_times;

// The Elo difference of a score and its 95% interval; infinite where the score is 0% or
// 100% or where the interval reaches past them.
struct EloEstimate {
    double difference;
    double low;
    double high;
};
EloEstimate elo_estimate(int wins, int draws, int losses);
// "+190.8 +/- 12.3", or the forms with "inf" when a bound is infinite.
void format_elo(const EloEstimate& estimate, char* out, size_t size);
void print_match_table(const MatchScore& score);

// ---- game ends by the rules ----------------------------------------------------------
enum GameJudgement {
    game_goes_on,
    game_no_legal_move, // the side to move has lost
    game_repetition,    // draw
    game_kings_only,    // draw: 25 moves each with kings only, no capture
    game_move_limit,    // draw by the match's limit
};
// Judges the position after the last move; legal receives the moves of the side to move.
GameJudgement judge_game(const GameRecord& game, int move_limit, LegalMoves& legal);
const char* judgement_text(GameJudgement judgement);

// ---- the connections -----------------------------------------------------------------
// How the match reaches the followers: side 0 the server, side 1 the opponent when
// refereeing. A test puts scripted followers in their place.
enum LinkSide { link_server = 0, link_opponent = 1 };
enum ReceiveResult {
    receive_message = 1,
    receive_timeout = 0,
    receive_closed = -1,
    receive_too_long = -2
};
struct MatchLink {
    bool (*send)(int side, const char* text); // the text without its zero byte; true on failure
    // The next message of one of the sides in mask (bit 1 << side); side receives which side
    // it came from, failed, or (on a timeout) was waited for.
    ReceiveResult (*receive)(int mask, int& side, char* text, int size, int timeout_seconds);
    void (*close)(int side);
};
extern MatchLink match_link;
// Connects side to a follower, trying again for up to retry_seconds, and makes match_link
// the sockets. True on failure, after printing.
bool open_socket_link(int side, const char* host, const char* port, int retry_seconds);

// True when a received text is not a well-formed DXP message, with the reason.
bool check_dxp_text(const char* text, char* error, size_t size);

// ---- players -------------------------------------------------------------------------
// Prepares the player (the engine's tables once). True on failure, after printing.
bool start_player(const MatchOptions& options);
void new_game_for_player();
// Chooses one of the listed moves of the position after the game's last move.
int choose_move(const GameRecord& game, const LegalMoves& legal);
// xorshift64*, seeded by the match's --seed (or the strength tool's): the same games for a
// seed on every machine.
extern uint64_t random_state;
uint64_t next_random();

// ---- the match -----------------------------------------------------------------------
// Tables, ballot and player. True on failure, after printing why.
bool prepare_match(const MatchOptions& options);
// Plays the games over match_link, appending each to pdn, and prints the table. Returns the
// exit status: 0 when every game was played. A side that fails (an illegal move, a refused
// game when refereeing, a lost connection, no answer) loses the game and stops the match.
int play_match(const MatchOptions& options, FILE* pdn);
// The whole match: prepare, open the game file, connect, play, close.
int run_match(const MatchOptions& options);
