// dxp-match against a scripted follower in the same process: the messages it sends, how it
// checks what it receives, how games end, what it writes to PDN; options, ballot, Elo.
#include <algorithm>
#include <cmath>
#include <deque>
#include <string>
#include <vector>

#include "dxp/dxp.h"
#include "tests/tools/support.h"
#include "tools/dxp_match/match.h"
#include "tools/pdn/pdn.h"

namespace {

// How the scripted follower misbehaves. Otherwise it plays the first legal move and answers
// like our server: its own loss declared when it cannot move, E00 to the initiator's GAMEEND,
// no answer after its own declaration.
struct Script {
    int refuse_games = 0;          // game requests refused before accepting
    int illegal_at_ply = -1;       // a move that is not legal at this ply of a game
    const char* raw_at = nullptr;  // this text instead of its move ...
    int raw_at_ply = 1;            // ... at this ply
    bool chat_and_backreq = false; // a CHAT and a BACKREQ before each of its moves
    int declare_at_ply = -1;       // a GAMEEND of its own at this ply ...
    int declare_reason = 2;        // ... with this reason
    bool reverse_captures = false; // captured squares in the reverse order
    bool silent_after_accept = false;
    const char* answer_request = nullptr; // this text instead of GAMEACC
};

struct Follower {
    Script script;
    std::vector<std::string> received, errors;
    std::deque<std::string> outbox;
    std::vector<int> end_reasons; // reasons of the initiator's GAMEENDs
    int finished = 0;
    int moves_in_outbox = 0; // its moves the initiator has not taken yet
    bool in_game = false, declared = false, white = false;
};
Follower follower;
LegalMoves follower_legal;
GameRecord follower_game;
GameRecord follower_games[8];

void push(DxpMessage message) {
    char text[dxp_send_size];
    encode_dxp_message(message, text);
    follower.outbox.push_back(text);
}

void follower_declares(int reason) {
    DxpMessage end{};
    end.type = DXP_GAMEEND;
    end.gameend.reason = int16_t(reason);
    push(end);
    follower.declared = true;
}

void follower_moves() {
    const Script& s = follower.script;
    list_legal_moves(game_position(follower_game), game_white_to_move(follower_game),
                     follower_legal);
    const int ply = follower_game.ply_count;
    if (follower_legal.count == 0) return follower_declares(1);
    if (ply == s.declare_at_ply) return follower_declares(s.declare_reason);
    if (s.chat_and_backreq)
        follower.outbox.insert(follower.outbox.end(), {"Cthinking\x01 hard", "B001W"});
    if (s.raw_at && ply == s.raw_at_ply) return follower.outbox.push_back(s.raw_at);
    GameMove move;
    describe_move(follower_legal, 0, move);
    DxpMessage message{};
    message.type = DXP_MOVE;
    message.move.from_square = move.from;
    message.move.to_square = ply == s.illegal_at_ply ? move.from : move.to;
    message.move.capture_count = move.capture_count;
    for (int k = 0, n = move.capture_count; k < n; ++k)
        message.move.captured[k] = move.captured[s.reverse_captures ? n - 1 - k : k];
    push(message);
    ++follower.moves_in_outbox;
    add_move(follower_game, move);
}

bool follower_receives(const char* text) {
    Script& s = follower.script;
    follower.received.push_back(text);
    DxpMessage message{};
    decode_dxp_message(text, message);
    if (text[0] == 'R') {
        const char start = message.gamereq.start_position;
        Position position = standard_start_position;
        EXPECT_FALSE(start != 'A' && position_from_dxp_text(message.gamereq.position, position));
        start_game(follower_game, position, start == 'A' || start == 'W', start != 'A');
        follower.white = message.gamereq.follower_colour == 'W';
        follower.declared = false;
        if (s.answer_request) {
            follower.outbox.push_back(s.answer_request);
            return false;
        }
        DxpMessage accept{};
        accept.type = DXP_GAMEACC;
        snprintf(accept.gameacc.follower_name, sizeof accept.gameacc.follower_name, "Scripted");
        accept.gameacc.acceptance = s.refuse_games > 0;
        push(accept);
        if (s.refuse_games > 0) return --s.refuse_games, false;
        follower.in_game = !s.silent_after_accept;
        if (follower.in_game && (game_white_to_move(follower_game) != 0) == follower.white)
            follower_moves();
    } else if (text[0] == 'M' && follower.in_game) {
        list_legal_moves(game_position(follower_game), game_white_to_move(follower_game),
                         follower_legal);
        int captured[max_capture_pieces];
        for (int k = 0; k < message.move.capture_count; ++k) captured[k] = message.move.captured[k];
        int index = find_move(follower_legal, message.move.from_square, message.move.to_square,
                              captured, message.move.capture_count);
        if (index < 0)
            return follower.errors.push_back(std::string("illegal move sent: ") + text), false;
        GameMove move;
        describe_move(follower_legal, index, move);
        add_move(follower_game, move);
        if (!follower.declared) follower_moves();
    } else if (text[0] == 'E' && follower.in_game) {
        follower.end_reasons.push_back(message.gameend.reason);
        // A reply move the initiator has not taken is not part of its game.
        while (follower.moves_in_outbox > 0 && !follower.outbox.empty() &&
               follower.outbox.back()[0] == 'M') {
            follower.outbox.pop_back();
            --follower_game.ply_count;
            --follower.moves_in_outbox;
        }
        if (!follower.declared) follower.outbox.push_back("E00");
        follower.in_game = false;
        if (follower.finished < 8) follower_games[follower.finished] = follower_game;
        ++follower.finished;
    }
    return false;
}

ReceiveResult follower_sends(char* text, int size, int) {
    if (follower.outbox.empty()) return receive_timeout;
    std::string next = follower.outbox.front();
    follower.outbox.pop_front();
    if (next[0] == 'M' && follower.moves_in_outbox > 0) --follower.moves_in_outbox;
    if (next == "<close>") return receive_closed;
    snprintf(text, size_t(size), "%s", next.c_str());
    return receive_message;
}

ArgumentResult parse(std::vector<std::string> arguments, MatchOptions& options,
                     std::string* output = nullptr) {
    std::vector<char*> argv{const_cast<char*>("dxp-match")};
    for (std::string& a : arguments) argv.push_back(a.data());
    testing::internal::CaptureStdout();
    ArgumentResult result = parse_match_arguments(int(argv.size()), argv.data(), options);
    std::string out = testing::internal::GetCapturedStdout();
    if (output) *output = out;
    return result;
}

struct MatchRun {
    int status;
    std::string output, pdn;
};

// A match of the random player (unless arguments say otherwise) against the follower.
MatchRun run(Script script, std::vector<std::string> arguments, const char* ballot_text = nullptr) {
    ensure_tables();
    follower = Follower{};
    follower.script = script;
    arguments.insert(arguments.begin(), {"--player", "random"});
    MatchOptions options;
    EXPECT_EQ(parse(arguments, options), arguments_ok);
    ballot.count = 0;
    EXPECT_FALSE(start_player(options));
    EXPECT_FALSE(ballot_text && read_ballot_text(ballot_text, ballot));
    match_link = MatchLink{follower_receives, follower_sends, [] {}};
    FILE* pdn = tmpfile();
    EXPECT_NE(pdn, nullptr);
    testing::internal::CaptureStdout();
    MatchRun result;
    result.status = play_match(options, pdn);
    result.output = testing::internal::GetCapturedStdout();
    result.pdn = read_whole_file(pdn);
    fclose(pdn);
    return result;
}

std::vector<GameRecord*> read_games(const std::string& text) {
    static GameRecord games[8];
    std::vector<GameRecord*> out;
    PdnReader reader;
    start_pdn_reader(reader, text.data(), text.size());
    char error[200];
    for (int g = 0; g < 8; ++g) {
        PdnReadResult r = read_pdn_game(reader, games[g], error, sizeof error);
        EXPECT_NE(r, pdn_error) << error;
        if (r != pdn_game) break;
        out.push_back(&games[g]);
    }
    return out;
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

const char* endgames = "# endgames\n"
                       "W:W31,32,36,37:B14,15,19  # men only\n"
                       "\n"
                       "W:WK46,33:B8,9,K25\n";

TEST(MatchAgainstAFollower, GamesAreCheckedEndedByTheRulesAndWrittenMoveForMove) {
    MatchRun r = run({}, {"--games", "4", "--moves", "40", "--seed", "7"}, endgames);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(follower.errors.empty()) << follower.errors[0];
    ASSERT_EQ(follower.finished, 4) << r.output;

    // The requests: alternating colours, each opening twice, positions given in full.
    std::vector<std::string> requests;
    for (const std::string& text : follower.received)
        if (text[0] == 'R') requests.push_back(text);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].size(), 94u);
    EXPECT_EQ(requests[0].substr(0, 35), "R01dxp-match                       ");
    // The follower plays black: we are white in game 1.
    EXPECT_EQ(requests[0][35], 'Z');
    EXPECT_EQ(requests[1][35], 'W');
    EXPECT_EQ(requests[2][35], 'Z');
    EXPECT_EQ(requests[0].substr(39, 5), "040BW");
    EXPECT_EQ(requests[0].substr(44), requests[1].substr(44));
    EXPECT_NE(requests[0].substr(44), requests[2].substr(44));
    EXPECT_EQ(requests[0].substr(44), "eeeeeeeeeeeeezzeeezeeeeeeeeeeewweeewweeeeeeeeeeeee");

    std::vector<GameRecord*> games = read_games(r.pdn);
    ASSERT_EQ(games.size(), 4u);
    for (int g = 0; g < 4; ++g) {
        SCOPED_TRACE(g);
        const GameRecord& game = *games[g];
        expect_same_game(game, follower_games[g], false);
        EXPECT_TRUE(game.custom_start);
        EXPECT_STREQ(game.white, g % 2 == 0 ? "dxp-match" : "Scripted");
        EXPECT_STREQ(game.black, g % 2 == 0 ? "Scripted" : "dxp-match");
        // The reason we gave agrees with the final position and the result.
        int wtm = game_white_to_move(game);
        list_legal_moves(game_position(game), wtm, follower_legal);
        const int reason = follower.end_reasons[size_t(g)];
        ASSERT_TRUE(reason == 2 || follower_legal.count == 0) << "ended with reason " << reason;
        // A draw, or the side to move has lost.
        EXPECT_STREQ(game.result, reason == 2 ? "1-1" : wtm ? "0-2" : "2-0");
    }
    EXPECT_TRUE(has(r.output, "Game 4 of 4:") && has(r.output, "Elo difference:")) << r.output;
}

TEST(MatchAgainstAFollower, CapturedSquaresMayComeInAnyOrder) {
    // Game 2: the follower is white and must open with a capture of two pieces.
    MatchRun r =
        run({.reverse_captures = true}, {"--games", "2", "--moves", "10"}, "W:W37,49:B32,22,6\n");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(has(r.output, "Illegal")) << r.output;
    std::vector<GameRecord*> games = read_games(r.pdn);
    ASSERT_EQ(games.size(), 2u);
    ASSERT_GE(games[1]->ply_count, 1);
    EXPECT_EQ(games[1]->moves[0].capture_count, 2);
    expect_same_game(*games[1], follower_games[1], false);
}

TEST(MatchAgainstAFollower, AnIllegalMoveStopsTheMatchAndTheGameIsKeptUnfinished) {
    MatchRun r = run({.illegal_at_ply = 3}, {"--games", "4"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has(r.output, "Illegal move from Scripted in game 1 at move 2: \"M0000") &&
                has(r.output, "Match stopped.") &&
                has(r.output, "Unfinished games (not scored): 1"))
        << r.output;
    std::vector<GameRecord*> games = read_games(r.pdn);
    ASSERT_EQ(games.size(), 1u);
    EXPECT_STREQ(games[0]->result, "*");
    EXPECT_EQ(games[0]->ply_count, 3);       // the illegal fourth move is not in the record
    EXPECT_EQ(follower.received.size(), 3u); // R and two moves: no GAMEREQ after the stop
}

TEST(MatchAgainstAFollower, BadMessagesSilenceAndRefusalsStopTheMatchWithTheReason) {
    const struct {
        Script script;
        const char* expected;
        const char* wait = "60";
    } cases[] = {
        {{.raw_at = "M00003228"}, "Malformed message from the server (MOVE"},
        {{.raw_at = "M0000322801"}, "MOVE length does not fit"},
        {{.raw_at = "M0000322821"}, "MOVE takes more pieces"},
        {{.raw_at = "M00003a2800"}, "non-digit"},
        {{.raw_at = "Xhello"}, "unknown message type"},
        {{.raw_at = ""}, "empty message"},
        {{.raw_at = "E2x"}, "malformed GAMEEND"},
        {{.raw_at = "AKavro                           0"},
         "Unexpected message from the server during the game"},
        {{.raw_at = "R01x"}, "malformed GAMEREQ"},
        {{.raw_at = "<close>"}, "The server closed the connection."},
        {{.answer_request = "E00"},
         "The server answered the game request with \"E00\" instead of "
         "GAMEACC.\nMatch stopped before game 1 began.\n"},
        {{.silent_after_accept = true}, "No answer from the server within 7 seconds.", "7"},
        {{.refuse_games = 2}, "The server refuses the games; match stopped."},
    };
    for (const auto& c : cases) {
        MatchRun r = run(c.script, {"--games", "3", "--wait", c.wait});
        EXPECT_EQ(r.status, 1) << c.expected;
        EXPECT_TRUE(has(r.output, c.expected)) << c.expected << "\n" << r.output;
        // A game stopped while played is kept unfinished; a refusal leaves no record.
        const bool began = c.script.raw_at || c.script.silent_after_accept;
        EXPECT_TRUE(began ? has(r.output, "Match stopped.") : r.pdn.empty()) << r.output;
    }
}

TEST(MatchAgainstAFollower, ChatIsPrintedAndTakeBackRequestsAreRefused) {
    MatchRun r = run({.chat_and_backreq = true}, {"--games", "1", "--moves", "5"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(has(r.output, "Chat from Scripted: thinking? hard\n")) << r.output;
    EXPECT_GE(std::count(follower.received.begin(), follower.received.end(), "K1"), 5);
    std::vector<GameRecord*> games = read_games(r.pdn);
    ASSERT_EQ(games.size(), 1u);
    expect_same_game(*games[0], follower_games[0], false);
    EXPECT_EQ(games[0]->ply_count, 10); // the move limit, not disturbed by the chatter
    EXPECT_TRUE(has(r.output, "(move limit, 5 moves)")) << r.output;
}

TEST(MatchAgainstAFollower, TheFollowersGameEndIsAnsweredOnceAndScored) {
    const struct {
        int reason;
        const char* result_as_white; // we are white in game 1
        const char* score;
    } cases[] = {{3, "0-2", "+0 =0 -1"},
                 {1, "2-0", "+1 =0 -0"},
                 {2, "1-1", "+0 =1 -0"},
                 {0, "*", "+0 =0 -0"}};
    for (const auto& c : cases) {
        MatchRun r = run({.declare_at_ply = 3, .declare_reason = c.reason}, {"--games", "1"});
        EXPECT_EQ(r.status, 0) << r.output;
        std::vector<GameRecord*> games = read_games(r.pdn);
        ASSERT_EQ(games.size(), 1u);
        EXPECT_STREQ(games[0]->result, c.result_as_white) << c.reason;
        EXPECT_EQ(games[0]->ply_count, 3);
        EXPECT_EQ(follower.received.back(), "E00");
        EXPECT_TRUE(has(r.output, std::string("dxp-match ") + c.score)) << r.output;
    }
}

TEST(MatchAgainstAFollower, ARefusedGameIsSkipped) {
    MatchRun r = run({.refuse_games = 1}, {"--games", "2", "--moves", "3"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(has(r.output, "Game 1 of 2: refused by Scripted, acceptance code 1.") &&
                has(r.output, "Games refused by the follower: 1"))
        << r.output;
    EXPECT_EQ(read_games(r.pdn).size(), 1u);
}

TEST(MatchAgainstAFollower, KingsOnlyGamesEndDrawnByTheRules) {
    // The follower shuttles its king between 50 and 45, where no king can take it; the
    // engine keeps its own king safe. Only the draw rules can end the game.
    MatchRun r =
        run({}, {"--player", "engine", "--time", "0.005", "--games", "1", "--moves", "200"},
            "W:WK1:BK50\n");
    EXPECT_EQ(r.status, 0) << r.output;
    std::vector<GameRecord*> games = read_games(r.pdn);
    ASSERT_EQ(games.size(), 1u);
    const GameRecord& game = *games[0];
    EXPECT_STREQ(game.result, "1-1");
    EXPECT_EQ(follower.end_reasons, std::vector<int>{2});
    EXPECT_TRUE(is_threefold_repetition(game) || kings_only_plies(game) == kings_only_draw_plies)
        << game.ply_count;
    // Ended as soon as a rule applied, not later.
    GameRecord shorter = game;
    --shorter.ply_count;
    EXPECT_FALSE(is_threefold_repetition(shorter) ||
                 kings_only_plies(shorter) >= kings_only_draw_plies);
    EXPECT_TRUE(has(r.output, "(threefold repetition,") ||
                has(r.output, "(25 king moves each without capture,"))
        << r.output;
}

// ---- the parts -------------------------------------------------------------------------

TEST(Elo, KnownScoresIntervalsAndTheTable) {
    const struct {
        int wins, draws, losses;
        double difference, low, high;
    } known[] = {
        {15, 0, 5, 190.85, 42.05, 477.29}, // 75%
        {10, 0, 10, 0.0, -163.32, 163.32},
        {12, 6, 2, 190.85, 72.61, 375.98}, // draws narrow the interval
        {3, 14, 3, 0.0, -85.06, 85.06},
    };
    for (const auto& k : known) {
        EloEstimate e = elo_estimate(k.wins, k.draws, k.losses);
        EXPECT_NEAR(e.difference, k.difference, 0.05) << k.wins << k.draws << k.losses;
        EXPECT_NEAR(e.low, k.low, 0.05) << k.wins << k.draws << k.losses;
        EXPECT_NEAR(e.high, k.high, 0.05) << k.wins << k.draws << k.losses;
    }
    EloEstimate all_won = elo_estimate(10, 0, 0);
    EXPECT_TRUE(std::isinf(all_won.difference) && all_won.difference > 0);
    EXPECT_NEAR(all_won.low, 182.73, 0.05); // 10 wins in 10 are 5% likely at this strength
    EXPECT_TRUE(std::isinf(elo_estimate(0, 0, 20).difference) &&
                elo_estimate(0, 0, 20).difference < 0);

    const struct {
        int wins, draws, losses;
        const char* text;
    } formats[] = {
        {15, 0, 5, "+190.8 +/- 217.6 (95%)"},     {10, 0, 10, "+0.0 +/- 163.3 (95%)"},
        {0, 20, 0, "+0.0 +/- 0.0 (95%)"},         {10, 0, 0, "+inf (95%: at least +182.7)"},
        {0, 0, 20, "-inf (95%: at most -316.6)"}, {19, 0, 1, "+511.5 (95%: +307.5 to +inf)"},
        {0, 0, 0, "none (no game scored)"},
    };
    char text[96];
    for (const auto& f : formats) {
        format_elo(elo_estimate(f.wins, f.draws, f.losses), text, sizeof text);
        EXPECT_STREQ(text, f.text);
    }
    format_elo(elo_estimate(5, 10, 15), text, sizeof text);
    EXPECT_EQ(text[0], '-');

    MatchScore score{3, 14, 3, 1, 0};
    testing::internal::CaptureStdout();
    print_match_table(score);
    std::string table = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(has(table, "     20      3     14       3   50.0%") &&
                has(table, "Elo difference: +0.0 +/- 85.1 (95%)") &&
                has(table, "Unfinished games (not scored): 1"))
        << table;
}

TEST(Options, DefaultsValuesAndOneLineForEveryMistake) {
    MatchOptions o;
    ASSERT_EQ(parse({}, o), arguments_ok);
    EXPECT_STREQ(o.host, "127.0.0.1");
    EXPECT_STREQ(o.port, "27531");
    EXPECT_EQ(o.player, player_engine);
    ASSERT_EQ(parse({"--games=12", "--time", "0.25", "--player", "random", "--port", "1234",
                     "--seed", "99", "--ballot", "b.txt", "--pdn=x.pdn", "--moves", "80"},
                    o),
              arguments_ok);
    EXPECT_EQ(o.games, 12);
    EXPECT_EQ(o.move_time_ms, 250);
    EXPECT_EQ(o.player, player_random);
    EXPECT_STREQ(o.port, "1234");
    EXPECT_EQ(o.seed, 99u);
    EXPECT_STREQ(o.ballot, "b.txt");
    EXPECT_STREQ(o.pdn, "x.pdn");
    EXPECT_EQ(o.move_limit, 80);

    std::string out;
    EXPECT_EQ(parse({"--help"}, o, &out), arguments_help);
    EXPECT_TRUE(has(out, "--ballot FILE"));
    for (std::vector<std::string> bad : {std::vector<std::string>{"--gmaes", "3"},
                                         {"--games", "0"},
                                         {"--games", "3x"},
                                         {"--games"},
                                         {"--time", "0"},
                                         {"--time", "fast"},
                                         {"--player", "human"},
                                         {"--port", "70000"},
                                         {"--seed", "-1"},
                                         {"games"},
                                         {"--moves", "1000"},
                                         {"--name", std::string(40, 'n')},
                                         {"--name", "tab\there"}}) {
        EXPECT_EQ(parse(bad, o, &out), arguments_bad) << bad[0];
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_EQ(out.rfind("dxp-match: ", 0), 0u) << out;
    }
}

TEST(Ballot, OpeningsAreCheckedLineByLine) {
    ensure_tables();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(read_ballot_text(endgames, ballot));
    EXPECT_EQ(ballot.count, 2);
    const struct {
        const char* text;
        const char* expected;
    } bad[] = {
        {"W:W31-50:B1-20\nW:W31:B51\n", "Ballot line 2:"},
        {"\n# x\nB:W31-50:B1-20\n", "Ballot line 3: black to move"},
        {"W:W3,31:B20\n", "Ballot line 1: a man stands on the row"},
        {"W:W31:B\n", "Ballot line 1: the game is already over"},
        {"W:W46:B41,37\n", "Ballot line 1: the game is already over"}, // white blocked
        {"# nothing\n\n", "The ballot holds no opening."},
    };
    for (const auto& c : bad) EXPECT_TRUE(read_ballot_text(c.text, ballot)) << c.text;
    std::string out = testing::internal::GetCapturedStdout();
    for (const auto& c : bad) EXPECT_TRUE(has(out, c.expected)) << out;
}

TEST(Connection, AnUnreachableServerGetsOneLineAndAFailure) {
    MatchOptions o;
    ASSERT_EQ(parse({"--port", "1", "--retry", "0", "--player", "random"}, o), arguments_ok);
    testing::internal::CaptureStdout();
    int status = run_match(o);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out.rfind("Cannot connect to 127.0.0.1 port 1", 0), 0u) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
}

} // namespace
