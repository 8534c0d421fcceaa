// A scripted DXP client: starts a server with its engine in a scratch directory, reads the
// server's log, talks DXP to it over loopback, and keeps its own copy of the game so that
// every move the server sends is checked against the legal moves.
//
//   ServerRun server;
//   ASSERT_FALSE(start_server(server, linux_server_setup({"-t"}, 100)));
//   DxpClient client;
//   ASSERT_FALSE(connect_to_server(server, client, 30000));
//   ...
//   // ServerRun's destructor kills the server and its engine and removes the directory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "board/movegen.h"
#include "dxp/dxp.h"
#include "platform/platform.h"

// ---- the server under test ------------------------------------------------------------
struct ServerSetup {
    // The command line: the program (a path, or a name looked up in PATH, e.g. "wine") and
    // its arguments. It runs in the scratch directory; "{dir}" in an entry is replaced by
    // that directory's path.
    std::vector<std::string> command;
    std::vector<std::string> files;       // linked into the scratch directory by file name
    std::vector<std::string> environment; // "NAME=value" entries added for the server
    std::string ini_text;                 // written there as winkavro.ini when not empty
};

// Where the build put kavro-dxp and winkavro.exe.
std::string default_bin_dir();
// The Linux server and stand-in of bin_dir (default_bin_dir() when empty), started as
// "{dir}/kavro-dxp <arguments...>" with the stand-in thinking move_time_ms per move.
ServerSetup linux_server_setup(const std::vector<std::string>& arguments, int move_time_ms,
                               const std::string& bin_dir = "");

struct ServerRun {
    std::string directory;   // the scratch directory
    std::string output_path; // the server's standard output and error
    int64_t pid = 0;         // 0 once it has ended and been reaped
    bool ended = false;
    int status = -1;        // exit code, or 128 + signal
    std::string log;        // everything read from the output so far
    size_t search_from = 0; // server_printed looks for lines from here on
    int64_t engine_pid = 0; // the engine the server started, once seen
    ~ServerRun();
};

// Makes the scratch directory, puts the files there and starts the server. True on
// failure, after printing why.
bool start_server(ServerRun& run, const ServerSetup& setup);
// Waits at most timeout_ms for a log line equal to line, looking only after the last line
// found this way; true when it came. An earlier line is skipped over, not consumed.
bool server_printed(ServerRun& run, const std::string& line, int timeout_ms);
// Like server_printed, for a line that starts with prefix; gives the whole line.
bool server_printed_prefix(ServerRun& run, const std::string& prefix, int timeout_ms,
                           std::string* found = nullptr);
// Reads what the server has written since the last look.
void read_server_log(ServerRun& run);
std::vector<std::string> server_log_lines(ServerRun& run);
// Waits at most timeout_ms for the server to end; true when it has ended (see status).
bool server_exited(ServerRun& run, int timeout_ms);
// The engine the server started (its child process), or 0.
int64_t server_engine_pid(ServerRun& run);
// Processor time (user and system) a running process has used so far, in ms; -1 when it
// cannot be read (Linux: /proc).
int64_t process_cpu_ms(int64_t pid);
// Kills the server and its engine (each with its process group) and removes the directory.
void stop_server(ServerRun& run);

// ---- the DXP connection ------------------------------------------------------------------
struct DxpClient {
    Socket socket = invalid_socket;
    std::string pending; // received bytes not yet cut into messages
    ~DxpClient();
};

// Connects, retrying for at most timeout_ms. True on failure.
bool client_connect(DxpClient& client, int timeout_ms, const char* host = "127.0.0.1",
                    const char* port = "27531");
// Waits at most timeout_ms for the server to listen, connects and waits until the server
// has accepted the connection (connecting again when an accept attempt dropped it). True on
// failure, after printing why.
bool connect_to_server(ServerRun& run, DxpClient& client, int timeout_ms);
// Sends text and its zero byte. True on failure.
bool client_send_text(DxpClient& client, const std::string& text);
bool client_send_bytes(DxpClient& client, const char* data, size_t size);
// Encodes and sends a record; the wire text goes to text when given. True on failure.
bool client_send(DxpClient& client, const DxpMessage& message, std::string* text = nullptr);
enum ReceiveResult { received_message = 1, receive_timed_out = 0, connection_closed = -1 };
// The next message text (without its zero byte), waiting at most timeout_ms.
ReceiveResult client_receive(DxpClient& client, std::string& text, int timeout_ms);
// The same, decoded.
ReceiveResult client_receive_message(DxpClient& client, DxpMessage& message, std::string& text,
                                     int timeout_ms);
// Waits at most timeout_ms for the server to close the connection; true when it did.
// Messages that arrive meanwhile are dropped.
bool client_sees_close(DxpClient& client, int timeout_ms);
void client_close(DxpClient& client);

// ---- messages --------------------------------------------------------------------------
// A GAMEREQ for the standard start (fen empty) or for a PDN FEN position; the server plays
// server_colour ('W' or 'Z').
DxpMessage make_gamereq(char server_colour, const std::string& fen = "",
                        const char* name = "e2e client");
DxpMessage make_gameend(int reason, int stop_code);
DxpMessage make_chat(const std::string& text);
DxpMessage make_backreq(int move_number, char colour);

// ---- the game as the client sees it ----------------------------------------------------
struct TrackedMove {
    int from;
    int to;
    std::vector<int> captured; // in the order taken
};

struct GameTracker {
    Position position{};
    int white_to_move = 1;
    int plies = 0;
    std::vector<TrackedMove> legal; // the legal moves of the side to move
    std::vector<Position> after;    // the position after each of them
    GameTracker();
};

// Starts from the standard start (fen empty) or a PDN FEN. True on failure (bad FEN).
bool game_start(GameTracker& game, const std::string& fen = "");
// Checks a received MOVE against the legal moves (from, to and the set of captured
// squares) and plays it. Empty when legal, otherwise why not.
std::string game_apply_received(GameTracker& game, const DxpMessage& move);
// The index of the legal move from -> to (and taking captured, in any order, when not
// empty), or -1.
int game_find_move(const GameTracker& game, int from, int to,
                   const std::vector<int>& captured = {});
// Plays legal move index and gives its MOVE, the captured squares in the order taken or,
// with ascending_captures, sorted as many clients send them.
DxpMessage game_play(GameTracker& game, int index, bool ascending_captures = false);
std::string game_fen(const GameTracker& game);

// ---- a whole exchange --------------------------------------------------------------------
struct PlayResult {
    std::string error;    // empty when every message was as it should be
    int client_moves = 0; // moves the client sent
    int server_moves = 0; // moves the server sent, each checked
    bool client_has_no_move = false;
    std::string game_end;              // the server's GAMEEND text, when it ended the game
    std::vector<int64_t> latencies_ms; // per client move: from sending it to the reply
};
// Plays the side client_white names with random legal moves (from seed) and checks each of
// the server's moves, for at most client_moves of the client's moves, until the client has
// no move left, or until the server sends GAMEEND. When the server is to move first, its
// move is awaited first. CHAT messages are passed over.
PlayResult play_moves(DxpClient& client, GameTracker& game, bool client_white, int client_moves,
                      uint32_t seed, int reply_timeout_ms);
