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

// ---- the scripted follower -------------------------------------------------------------
// Plays the first legal move, answers like our server does (its own loss declared when it
// cannot move, E00 to the initiator's GAMEEND, no answer after its own declaration), and
// misbehaves on request.
struct Follower {
    // What it does
    int refuse_games = 0;          // game requests refused before accepting
    int illegal_at_ply = -1;       // a move that is not legal at this ply of a game
    const char* raw_at = nullptr;  // this text instead of its move ...
    int raw_at_ply = -1;           // ... at this ply
    bool chat_and_backreq = false; // a CHAT and a BACKREQ before each of its moves
    int declare_at_ply = -1;       // a GAMEEND of its own at this ply ...
    int declare_reason = 2;        // ... with this reason
    bool reverse_captures = false; // captured squares in the reverse order
    bool silent_after_accept = false;
    const char* answer_request = nullptr; // this text instead of GAMEACC
    // What it saw
    std::vector<std::string> received;
    std::deque<std::string> outbox;
    std::vector<int> end_reasons; // reasons of the initiator's GAMEENDs
    std::vector<std::string> errors;
    int finished = 0;
    bool in_game = false;
    bool declared = false;
    bool white = false;
};
Follower follower;
LegalMoves follower_legal;
GameRecord follower_game;
GameRecord follower_games[8];
int follower_moves_in_outbox = 0; // its moves the initiator has not taken yet

void push(const DxpMessage& message) {
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
    list_legal_moves(game_position(follower_game), game_white_to_move(follower_game),
                     follower_legal);
    const int ply = follower_game.ply_count;
    if (follower_legal.count == 0) return follower_declares(1);
    if (ply == follower.declare_at_ply) return follower_declares(follower.declare_reason);
    if (follower.chat_and_backreq) {
        follower.outbox.push_back("Cthinking\x01 hard");
        follower.outbox.push_back("B001W");
    }
    if (ply == follower.raw_at_ply) {
        follower.outbox.push_back(follower.raw_at);
        return;
    }
    GameMove move;
    describe_move(follower_legal, 0, move);
    DxpMessage message{};
    message.type = DXP_MOVE;
    message.move.from_square = move.from;
    message.move.to_square = ply == follower.illegal_at_ply ? move.from : move.to;
    message.move.capture_count = move.capture_count;
    for (int k = 0; k < move.capture_count; ++k)
        message.move.captured[k] =
            move.captured[follower.reverse_captures ? move.capture_count - 1 - k : k];
    push(message);
    ++follower_moves_in_outbox;
    add_move(follower_game, move);
}

bool follower_receives(const char* text) {
    follower.received.push_back(text);
    DxpMessage message{};
    decode_dxp_message(text, message);
    if (text[0] == 'R') {
        Position start = standard_start_position;
        int wtm = 1;
        if (message.gamereq.start_position != 'A') {
            EXPECT_FALSE(position_from_dxp_text(message.gamereq.position, start));
            wtm = message.gamereq.start_position == 'W';
        }
        start_game(follower_game, start, wtm, message.gamereq.start_position != 'A');
        follower.white = message.gamereq.follower_colour == 'W';
        follower.declared = false;
        if (follower.answer_request) {
            follower.outbox.push_back(follower.answer_request);
            return false;
        }
        DxpMessage accept{};
        accept.type = DXP_GAMEACC;
        snprintf(accept.gameacc.follower_name, sizeof accept.gameacc.follower_name, "Scripted");
        accept.gameacc.acceptance = follower.refuse_games > 0 ? 1 : 0;
        push(accept);
        if (follower.refuse_games > 0) {
            --follower.refuse_games;
            return false;
        }
        follower.in_game = !follower.silent_after_accept;
        if (follower.in_game && (game_white_to_move(follower_game) != 0) == follower.white)
            follower_moves();
    } else if (text[0] == 'M' && follower.in_game) {
        list_legal_moves(game_position(follower_game), game_white_to_move(follower_game),
                         follower_legal);
        int captured[max_capture_pieces];
        for (int k = 0; k < message.move.capture_count; ++k) captured[k] = message.move.captured[k];
        int index = find_move(follower_legal, message.move.from_square, message.move.to_square,
                              captured, message.move.capture_count);
        if (index < 0) {
            follower.errors.push_back(std::string("illegal move sent: ") + text);
            return false;
        }
        GameMove move;
        describe_move(follower_legal, index, move);
        add_move(follower_game, move);
        if (!follower.declared) follower_moves();
    } else if (text[0] == 'E' && follower.in_game) {
        follower.end_reasons.push_back(message.gameend.reason);
        // A reply move the initiator has not taken is not part of its game.
        while (follower_moves_in_outbox > 0 && !follower.outbox.empty() &&
               follower.outbox.back()[0] == 'M') {
            follower.outbox.pop_back();
            --follower_game.ply_count;
            --follower_moves_in_outbox;
        }
        if (!follower.declared) follower.outbox.push_back("E00");
        follower.in_game = false;
        if (follower.finished < 8) follower_games[follower.finished] = follower_game;
        ++follower.finished;
    } else if (text[0] == 'K') {
        // our BACKREQ answered: nothing
    }
    return false;
}

ReceiveResult follower_sends(char* text, int size, int) {
    if (follower.outbox.empty()) return receive_timeout;
    std::string next = follower.outbox.front();
    follower.outbox.pop_front();
    if (next[0] == 'M' && follower_moves_in_outbox > 0) --follower_moves_in_outbox;
    if (next == "<close>") return receive_closed;
    snprintf(text, size_t(size), "%s", next.c_str());
    return receive_message;
}

void follower_closes() {}

struct MatchRun {
    int status;
    std::string output;
    std::string pdn;
};

MatchRun run(std::vector<std::string> arguments, const char* ballot_text = nullptr) {
    ensure_tables();
    follower_moves_in_outbox = 0;
    std::vector<char*> argv{const_cast<char*>("dxp-match")};
    for (std::string& a : arguments) argv.push_back(a.data());
    MatchOptions options;
    EXPECT_EQ(parse_match_arguments(int(argv.size()), argv.data(), options), arguments_ok);
    ballot.count = 0;
    EXPECT_FALSE(start_player(options));
    if (ballot_text) {
        EXPECT_FALSE(read_ballot_text(ballot_text, ballot));
    }
    match_link = MatchLink{follower_receives, follower_sends, follower_closes};
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

const char* endgames = "# endgames\n"
                       "W:W31,32,36,37:B14,15,19  # men only\n"
                       "\n"
                       "W:WK46,33:B8,9,K25\n";

TEST(MatchAgainstAFollower, GamesAreCheckedEndedByTheRulesAndWrittenMoveForMove) {
    follower = Follower{};
    MatchRun r =
        run({"--player", "random", "--games", "4", "--moves", "40", "--seed", "7"}, endgames);
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
    EXPECT_EQ(requests[0][35], 'Z'); // the follower plays black: we are white in game 1
    EXPECT_EQ(requests[1][35], 'W');
    EXPECT_EQ(requests[2][35], 'Z');
    EXPECT_EQ(requests[0].substr(39, 3), "040");
    EXPECT_EQ(requests[0].substr(42, 2), "BW");
    EXPECT_EQ(requests[0].substr(44), requests[1].substr(44));
    EXPECT_NE(requests[0].substr(44), requests[2].substr(44));
    EXPECT_EQ(requests[0].substr(44), "eeeeeeeeeeeeezzeeezeeeeeeeeeeewweeewweeeeeeeeeeeee");

    std::vector<GameRecord*> games = read_games(r.pdn);
    ASSERT_EQ(games.size(), 4u);
    for (int g = 0; g < 4; ++g) {
        SCOPED_TRACE(g);
        expect_same_game(*games[g], follower_games[g], false);
        EXPECT_TRUE(games[g]->custom_start);
        EXPECT_STREQ(games[g]->white, g % 2 == 0 ? "dxp-match" : "Scripted");
        EXPECT_STREQ(games[g]->black, g % 2 == 0 ? "Scripted" : "dxp-match");
        EXPECT_STRNE(games[g]->result, "*");
        // The reason we gave agrees with the final position and the result.
        const GameRecord& game = *games[g];
        int wtm = game_white_to_move(game);
        list_legal_moves(game_position(game), wtm, follower_legal);
        if (follower.end_reasons[size_t(g)] == 2) {
            EXPECT_STREQ(game.result, "1-1");
        } else if (follower_legal.count == 0) {
            // The side to move has lost; whoever ended the game said so.
            EXPECT_STREQ(game.result, wtm ? "0-2" : "2-0");
        } else {
            ADD_FAILURE() << "game ended with reason " << follower.end_reasons[size_t(g)];
        }
    }
    EXPECT_NE(r.output.find("Game 4 of 4:"), std::string::npos);
    EXPECT_NE(r.output.find("Elo difference:"), std::string::npos);
}

TEST(MatchAgainstAFollower, CapturedSquaresMayComeInAnyOrder) {
    follower = Follower{};
    follower.reverse_captures = true;
    // Game 2: the follower is white and must open with a capture of two pieces.
    MatchRun r =
        run({"--player", "random", "--games", "2", "--moves", "10"}, "W:W37,49:B32,22,6\n");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("Illegal"), std::string::npos) << r.output;
    std::vector<GameRecord*> games = read_games(r.pdn);
    ASSERT_EQ(games.size(), 2u);
    ASSERT_GE(games[1]->ply_count, 1);
    EXPECT_EQ(games[1]->moves[0].capture_count, 2);
    expect_same_game(*games[1], follower_games[1], false);
}

TEST(MatchAgainstAFollower, AnIllegalMoveStopsTheMatchAndTheGameIsKeptUnfinished) {
    follower = Follower{};
    follower.illegal_at_ply = 3;
    MatchRun r = run({"--player", "random", "--games", "4"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Illegal move from Scripted in game 1 at move 2: \"M0000"),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("Match stopped."), std::string::npos);
    EXPECT_NE(r.output.find("Unfinished games (not scored): 1"), std::string::npos);
    std::vector<GameRecord*> games = read_games(r.pdn);
    ASSERT_EQ(games.size(), 1u);
    EXPECT_STREQ(games[0]->result, "*");
    EXPECT_EQ(games[0]->ply_count, 3);       // the illegal fourth move is not in the record
    EXPECT_EQ(follower.received.size(), 3u); // R and two moves: no GAMEREQ after the stop
}

TEST(MatchAgainstAFollower, MalformedOrLostMessagesStopTheMatchWithTheReason) {
    struct Case {
        const char* text;
        const char* expected;
    } cases[] = {
        {"M00003228", "Malformed message from the server (MOVE"},
        {"M0000322801", "MOVE length does not fit"},
        {"M0000322821", "MOVE takes more pieces"},
        {"M00003a2800", "non-digit"},
        {"Xhello", "unknown message type"},
        {"", "empty message"},
        {"E2x", "malformed GAMEEND"},
        {"AKavro                           0",
         "Unexpected message from the server during the game"},
        {"R01x", "malformed GAMEREQ"},
        {"<close>", "The server closed the connection."},
    };
    for (const Case& c : cases) {
        follower = Follower{};
        follower.raw_at = c.text;
        follower.raw_at_ply = 1;
        MatchRun r = run({"--player", "random", "--games", "2"});
        EXPECT_EQ(r.status, 1) << c.text;
        EXPECT_NE(r.output.find(c.expected), std::string::npos) << c.text << "\n" << r.output;
        EXPECT_NE(r.output.find("Match stopped."), std::string::npos) << c.text;
    }
}

TEST(MatchAgainstAFollower, AGameRequestNotAcceptedStopsTheMatchWithoutARecord) {
    follower = Follower{};
    follower.answer_request = "E00";
    MatchRun r = run({"--player", "random", "--games", "3"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("The server answered the game request with \"E00\" instead of "
                            "GAMEACC.\nMatch stopped before game 1 began.\n"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.pdn, "");
}

TEST(MatchAgainstAFollower, SilenceIsBoundedByTheWait) {
    follower = Follower{};
    follower.silent_after_accept = true;
    MatchRun r = run({"--player", "random", "--games", "2", "--wait", "7"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("No answer from the server within 7 seconds."), std::string::npos)
        << r.output;
}

TEST(MatchAgainstAFollower, ChatIsPrintedAndTakeBackRequestsAreRefused) {
    follower = Follower{};
    follower.chat_and_backreq = true;
    MatchRun r = run({"--player", "random", "--games", "1", "--moves", "5"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Chat from Scripted: thinking? hard\n"), std::string::npos) << r.output;
    int refusals = 0;
    for (const std::string& text : follower.received) refusals += text == "K1";
    EXPECT_GE(refusals, 5);
    std::vector<GameRecord*> games = read_games(r.pdn);
    ASSERT_EQ(games.size(), 1u);
    expect_same_game(*games[0], follower_games[0], false);
    EXPECT_EQ(games[0]->ply_count, 10); // the move limit, not disturbed by the chatter
    EXPECT_NE(r.output.find("(move limit, 5 moves)"), std::string::npos) << r.output;
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
        follower = Follower{};
        follower.declare_at_ply = 3;
        follower.declare_reason = c.reason;
        MatchRun r = run({"--player", "random", "--games", "1"});
        EXPECT_EQ(r.status, 0) << r.output;
        std::vector<GameRecord*> games = read_games(r.pdn);
        ASSERT_EQ(games.size(), 1u);
        EXPECT_STREQ(games[0]->result, c.result_as_white) << c.reason;
        EXPECT_EQ(games[0]->ply_count, 3);
        EXPECT_EQ(follower.received.back(), "E00");
        EXPECT_NE(r.output.find(std::string("dxp-match ") + c.score), std::string::npos)
            << r.output;
    }
}

TEST(MatchAgainstAFollower, RefusedGamesAreSkippedAndTwoInARowStopTheMatch) {
    follower = Follower{};
    follower.refuse_games = 1;
    MatchRun r = run({"--player", "random", "--games", "2", "--moves", "3"});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Game 1 of 2: refused by Scripted, acceptance code 1."),
              std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("Games refused by the follower: 1"), std::string::npos);
    EXPECT_EQ(read_games(r.pdn).size(), 1u);

    follower = Follower{};
    follower.refuse_games = 2;
    r = run({"--player", "random", "--games", "5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("The server refuses the games; match stopped."), std::string::npos);
    EXPECT_EQ(r.pdn, "");
}

TEST(MatchAgainstAFollower, KingsOnlyGamesEndDrawnByTheRules) {
    follower = Follower{};
    // The follower shuttles its king between 50 and 45, where no king can take it; the
    // engine keeps its own king safe. Only the draw rules can end the game.
    MatchRun r = run({"--player", "engine", "--time", "0.005", "--games", "1", "--moves", "200"},
                     "W:WK1:BK50\n");
    EXPECT_EQ(r.status, 0) << r.output;
    std::vector<GameRecord*> games = read_games(r.pdn);
    ASSERT_EQ(games.size(), 1u);
    const GameRecord& game = *games[0];
    EXPECT_STREQ(game.result, "1-1");
    ASSERT_EQ(follower.end_reasons.size(), 1u);
    EXPECT_EQ(follower.end_reasons[0], 2);
    EXPECT_TRUE(is_threefold_repetition(game) || kings_only_plies(game) == kings_only_draw_plies)
        << game.ply_count;
    // Ended as soon as a rule applied, not later.
    GameRecord shorter = game;
    --shorter.ply_count;
    EXPECT_FALSE(is_threefold_repetition(shorter) ||
                 kings_only_plies(shorter) >= kings_only_draw_plies);
    EXPECT_TRUE(r.output.find("(threefold repetition,") != std::string::npos ||
                r.output.find("(25 king moves each without capture,") != std::string::npos)
        << r.output;
}

// ---- the parts -------------------------------------------------------------------------

TEST(Elo, KnownScores) {
    auto near = [](double a, double b) { return std::fabs(a - b) < 0.05; };
    EloEstimate e = elo_estimate(15, 0, 5); // 75%
    EXPECT_TRUE(near(e.difference, 190.85)) << e.difference;
    EXPECT_TRUE(near(e.low, 42.05)) << e.low;
    EXPECT_TRUE(near(e.high, 477.29)) << e.high;
    e = elo_estimate(10, 0, 10);
    EXPECT_EQ(e.difference, 0.0);
    EXPECT_TRUE(near(e.high, 163.32)) << e.high;
    EXPECT_TRUE(near(e.low, -163.32)) << e.low;
    e = elo_estimate(3, 14, 3); // draws narrow the interval
    EXPECT_TRUE(near(e.high, 85.06)) << e.high;
    e = elo_estimate(12, 6, 2);
    EXPECT_TRUE(near(e.difference, 190.85)) << e.difference;
    EXPECT_TRUE(near(e.low, 72.61)) << e.low;
    EXPECT_TRUE(near(e.high, 375.98)) << e.high;

    char text[96];
    format_elo(elo_estimate(15, 0, 5), text, sizeof text);
    EXPECT_STREQ(text, "+190.8 +/- 217.6 (95%)");
    format_elo(elo_estimate(10, 0, 10), text, sizeof text);
    EXPECT_STREQ(text, "+0.0 +/- 163.3 (95%)");
    format_elo(elo_estimate(0, 20, 0), text, sizeof text);
    EXPECT_STREQ(text, "+0.0 +/- 0.0 (95%)");
    format_elo(elo_estimate(5, 10, 15), text, sizeof text);
    EXPECT_EQ(text[0], '-');
}

TEST(Elo, AllWonAllLostAndIntervalsPastTheEdge) {
    char text[96];
    EloEstimate e = elo_estimate(10, 0, 0);
    EXPECT_TRUE(std::isinf(e.difference) && e.difference > 0);
    EXPECT_NEAR(e.low, 182.73, 0.05); // 10 wins in 10 are 5% likely at this strength
    format_elo(e, text, sizeof text);
    EXPECT_STREQ(text, "+inf (95%: at least +182.7)");
    e = elo_estimate(0, 0, 20);
    EXPECT_TRUE(std::isinf(e.difference) && e.difference < 0);
    format_elo(e, text, sizeof text);
    EXPECT_STREQ(text, "-inf (95%: at most -316.6)");
    format_elo(elo_estimate(19, 0, 1), text, sizeof text);
    EXPECT_STREQ(text, "+511.5 (95%: +307.5 to +inf)");
    format_elo(elo_estimate(0, 0, 0), text, sizeof text);
    EXPECT_STREQ(text, "none (no game scored)");

    MatchScore score{3, 14, 3, 1, 0};
    testing::internal::CaptureStdout();
    print_match_table(score);
    std::string table = testing::internal::GetCapturedStdout();
    EXPECT_NE(table.find("     20      3     14       3   50.0%"), std::string::npos) << table;
    EXPECT_NE(table.find("Elo difference: +0.0 +/- 85.1 (95%)"), std::string::npos) << table;
    EXPECT_NE(table.find("Unfinished games (not scored): 1"), std::string::npos);
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
    EXPECT_NE(out.find("--ballot FILE"), std::string::npos);
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
    for (const auto& c : bad) EXPECT_NE(out.find(c.expected), std::string::npos) << out;
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
