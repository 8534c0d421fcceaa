// The scripted DXP client: the server it drives, the connection and the client's game.
#include "tools/dxp_client/dxp_client.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "board/fen.h"

namespace fs = std::filesystem;

namespace {

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

void note_engine(ServerRun& run) {
    if (run.engine_pid != 0 || run.pid == 0) return;
    int64_t children[4];
    if (child_processes(run.pid, children, 4) > 0) run.engine_pid = children[0];
}

// The complete lines of the log from offset on; the end of each is the offset after its
// line end.
bool find_line(const ServerRun& run, const std::string& wanted, bool prefix, size_t& line_end,
               std::string* found) {
    size_t at = run.search_from;
    for (;;) {
        const size_t end = run.log.find('\n', at);
        if (end == std::string::npos) return false;
        std::string line = run.log.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') line.pop_back(); // a Windows server's lines
        const bool match = prefix ? line.compare(0, wanted.size(), wanted) == 0 : line == wanted;
        if (match) {
            line_end = end + 1;
            if (found) *found = line;
            return true;
        }
        at = end + 1;
    }
}

bool wait_for_log_line(ServerRun& run, const std::string& wanted, bool prefix, int timeout_ms,
                       std::string* found) {
    const int64_t deadline = clock_ms() + timeout_ms;
    for (;;) {
        read_server_log(run);
        size_t line_end = 0;
        if (find_line(run, wanted, prefix, line_end, found)) {
            run.search_from = line_end;
            return true;
        }
        if (run.ended || clock_ms() >= deadline) return false;
        note_engine(run);
        // An ended server writes nothing more: one last read settles it.
        if (server_exited(run, 0)) continue;
        pause_ms(20);
    }
}

} // namespace

// ---- the server under test ------------------------------------------------------------

std::string default_bin_dir() {
    return KAVRO_BIN_DIR;
}

ServerSetup linux_server_setup(const std::vector<std::string>& arguments, int move_time_ms,
                               const std::string& bin_dir) {
    const std::string bin = bin_dir.empty() ? default_bin_dir() : bin_dir;
    ServerSetup setup;
    setup.command.push_back("{dir}/kavro-dxp");
    setup.command.insert(setup.command.end(), arguments.begin(), arguments.end());
    setup.files = {bin + "/kavro-dxp", bin + "/winkavro.exe"};
    setup.ini_text = "movetime_ms=" + std::to_string(move_time_ms) + "\nhash_megabytes=8\n";
    return setup;
}

ServerRun::~ServerRun() {
    stop_server(*this);
}

bool start_server(ServerRun& run, const ServerSetup& setup) {
    std::random_device random;
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    if (error) {
        printf("no temporary directory: %s\n", error.message().c_str());
        return true;
    }
    fs::path directory;
    for (int attempt = 0; attempt < 100 && directory.empty(); ++attempt) {
        char name[64];
        snprintf(name, sizeof name, "kavro-e2e-%08x", unsigned(random()));
        if (fs::create_directory(base / name, error)) directory = base / name;
    }
    if (directory.empty()) {
        printf("cannot make a scratch directory under %s\n", base.c_str());
        return true;
    }
    run.directory = directory.string();
    run.output_path = (directory / "server.log").string();

    for (const std::string& file : setup.files) {
        const fs::path source = fs::absolute(file);
        if (!fs::exists(source)) {
            printf("missing %s\n", source.c_str());
            return true;
        }
        fs::create_symlink(source, directory / source.filename(), error);
        if (error) {
            printf("cannot link %s: %s\n", source.c_str(), error.message().c_str());
            return true;
        }
    }
    if (!setup.ini_text.empty()) {
        std::ofstream ini(directory / "winkavro.ini");
        ini << setup.ini_text;
        if (!ini) {
            printf("cannot write winkavro.ini\n");
            return true;
        }
    }

    std::vector<std::string> command;
    for (const std::string& entry : setup.command)
        command.push_back(replace_all(entry, "{dir}", run.directory));
    std::vector<const char*> argv;
    for (const std::string& entry : command) argv.push_back(entry.c_str());
    argv.push_back(nullptr);
    std::vector<const char*> environment;
    for (const std::string& entry : setup.environment) environment.push_back(entry.c_str());
    environment.push_back(nullptr);

    run.pid = start_program(argv.data(), run.directory.c_str(), environment.data(),
                            run.output_path.c_str());
    if (run.pid == 0) {
        char text[256];
        last_error_text(text, sizeof text);
        printf("cannot start %s: %s\n", argv[0], text);
        return true;
    }
    run.ended = false;
    run.status = -1;
    return false;
}

void read_server_log(ServerRun& run) {
    if (run.output_path.empty()) return;
    std::ifstream file(run.output_path, std::ios::binary);
    if (!file) return;
    file.seekg(std::streamoff(run.log.size()));
    std::ostringstream rest;
    rest << file.rdbuf();
    run.log += rest.str();
}

std::vector<std::string> server_log_lines(ServerRun& run) {
    read_server_log(run);
    std::vector<std::string> lines;
    std::istringstream stream(run.log);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

bool server_printed(ServerRun& run, const std::string& line, int timeout_ms) {
    return wait_for_log_line(run, line, false, timeout_ms, nullptr);
}

bool server_printed_prefix(ServerRun& run, const std::string& prefix, int timeout_ms,
                           std::string* found) {
    return wait_for_log_line(run, prefix, true, timeout_ms, found);
}

bool server_exited(ServerRun& run, int timeout_ms) {
    if (run.ended) return true;
    if (run.pid == 0) return false;
    note_engine(run);
    int status = 0;
    if (!wait_program(run.pid, timeout_ms, status)) return false;
    run.ended = true;
    run.status = status;
    run.pid = 0;
    read_server_log(run);
    return true;
}

int64_t server_engine_pid(ServerRun& run) {
    note_engine(run);
    return run.engine_pid;
}

int64_t process_cpu_ms(int64_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(file, line)) return -1;
    // "pid (name) state ..." then utime and stime as the 12th and 13th fields after the name,
    // in clock ticks of 1/100 s.
    const size_t close_paren = line.rfind(')');
    if (close_paren == std::string::npos) return -1;
    std::istringstream fields(line.substr(close_paren + 1));
    std::string field;
    int64_t user = 0, system = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
        if (i == 12) user = std::stoll(field);
        if (i == 13) system = std::stoll(field);
    }
    return (user + system) * 10;
}

void stop_server(ServerRun& run) {
    if (run.pid != 0) {
        note_engine(run);
        end_process_group(run.pid);
        run.pid = 0;
        if (!run.ended) {
            run.ended = true;
            run.status = 128 + 9;
        }
    }
    if (run.engine_pid != 0 && process_running(run.engine_pid)) end_process_group(run.engine_pid);
    if (!run.directory.empty()) {
        read_server_log(run);
        std::error_code error;
        fs::remove_all(run.directory, error);
        run.directory.clear();
        run.output_path.clear();
    }
}

// ---- the DXP connection ------------------------------------------------------------------

DxpClient::~DxpClient() {
    client_close(*this);
}

bool client_connect(DxpClient& client, int timeout_ms, const char* host, const char* port) {
    client_close(client);
    const int64_t deadline = clock_ms() + timeout_ms;
    for (;;) {
        client.socket = net_connect(host, port);
        if (client.socket != invalid_socket) return false;
        if (clock_ms() >= deadline) {
            printf("cannot connect to %s:%s\n", host, port);
            return true;
        }
        pause_ms(50);
    }
}

bool connect_to_server(ServerRun& run, DxpClient& client, int timeout_ms) {
    if (!server_printed(run, "Waiting for client connection.", timeout_ms)) {
        printf("the server is not waiting for a client\n");
        return true;
    }
    // The server accepts one client per run; should this connection not be the one it
    // accepted (a stale server of an earlier test, say), connect again for a bounded time.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (client_connect(client, 10000)) return true;
        if (server_printed(run, "DamExchange server has accepted a client connection.", 3000))
            return false;
        client_close(client);
    }
    printf("the server accepted no connection\n");
    return true;
}

bool client_send_bytes(DxpClient& client, const char* data, size_t size) {
    if (client.socket == invalid_socket) return true;
    size_t sent = 0;
    while (sent < size) {
        const int chunk = int(std::min<size_t>(size - sent, 65536));
        const int got = net_send(client.socket, data + sent, chunk);
        if (got <= 0) return true;
        sent += size_t(got);
    }
    return false;
}

bool client_send_text(DxpClient& client, const std::string& text) {
    return client_send_bytes(client, text.c_str(), text.size() + 1);
}

bool client_send(DxpClient& client, const DxpMessage& message, std::string* text) {
    char wire[dxp_send_size];
    encode_dxp_message(message, wire);
    if (text) *text = wire;
    return client_send_text(client, wire);
}

ReceiveResult client_receive(DxpClient& client, std::string& text, int timeout_ms) {
    const int64_t deadline = clock_ms() + timeout_ms;
    for (;;) {
        const size_t zero = client.pending.find('\0');
        if (zero != std::string::npos) {
            text = client.pending.substr(0, zero);
            client.pending.erase(0, zero + 1);
            return received_message;
        }
        if (client.socket == invalid_socket) return connection_closed;
        const int64_t left = deadline - clock_ms();
        if (left <= 0) return receive_timed_out;
        // The wait counts whole seconds; a shorter remainder takes one more look.
        const int ready = net_wait_readable(client.socket, left >= 1000 ? 1 : 0);
        if (ready < 0) return connection_closed;
        if (ready == 0) {
            if (left < 1000) pause_ms(int(std::min<int64_t>(left, 20)));
            continue;
        }
        char buffer[4096];
        const int got = net_receive(client.socket, buffer, sizeof buffer);
        if (got <= 0) {
            net_close(client.socket);
            client.socket = invalid_socket;
            continue;
        }
        client.pending.append(buffer, size_t(got));
    }
}

ReceiveResult client_receive_message(DxpClient& client, DxpMessage& message, std::string& text,
                                     int timeout_ms) {
    const ReceiveResult result = client_receive(client, text, timeout_ms);
    message = DxpMessage{};
    if (result == received_message) {
        char copy[dxp_text_size] = {};
        snprintf(copy, sizeof copy, "%s", text.c_str());
        decode_dxp_message(copy, message);
    }
    return result;
}

bool client_sees_close(DxpClient& client, int timeout_ms) {
    const int64_t deadline = clock_ms() + timeout_ms;
    std::string text;
    for (;;) {
        const int64_t left = deadline - clock_ms();
        if (left <= 0) return false;
        if (client_receive(client, text, int(left)) == connection_closed) return true;
    }
}

void client_close(DxpClient& client) {
    if (client.socket != invalid_socket) net_close(client.socket);
    client.socket = invalid_socket;
    client.pending.clear();
}

// ---- messages --------------------------------------------------------------------------

DxpMessage make_gamereq(char server_colour, const std::string& fen, const char* name) {
    DxpMessage message{};
    message.type = DXP_GAMEREQ;
    message.gamereq.version = 1;
    snprintf(message.gamereq.initiator_name, sizeof message.gamereq.initiator_name, "%s", name);
    message.gamereq.follower_colour = server_colour;
    message.gamereq.thinking_time = 10;
    message.gamereq.move_count = 50;
    if (fen.empty()) {
        message.gamereq.start_position = 'A';
        return message;
    }
    Position position{};
    int white_to_move = 1;
    char error[128];
    if (parse_fen(fen.c_str(), position, white_to_move, error, sizeof error)) {
        printf("bad FEN %s: %s\n", fen.c_str(), error);
        message.type = 0;
        return message;
    }
    message.gamereq.start_position = white_to_move ? 'W' : 'Z';
    ByteBoard board{};
    board_of_position(position, board);
    static const char characters[] = {'Z', 'z', 'e', 'w', 'W'};
    for (int i = 0; i < 50; ++i) message.gamereq.position[i] = characters[board[i] + 2];
    return message;
}

DxpMessage make_gameend(int reason, int stop_code) {
    DxpMessage message{};
    message.type = DXP_GAMEEND;
    message.gameend.reason = int16_t(reason);
    message.gameend.stop_code = int16_t(stop_code);
    return message;
}

DxpMessage make_chat(const std::string& text) {
    DxpMessage message{};
    message.type = DXP_CHAT;
    snprintf(message.chat.text, sizeof message.chat.text, "%s", text.c_str());
    return message;
}

DxpMessage make_backreq(int move_number, char colour) {
    DxpMessage message{};
    message.type = DXP_BACKREQ;
    message.backreq.move_number = int16_t(move_number);
    message.backreq.colour = colour;
    return message;
}

// ---- the game as the client sees it ----------------------------------------------------

namespace {

// The generator's lists are large; one work area serves every tracker of the process.
struct TrackerWork {
    MoveList list;
    CapturePaths paths;
};

TrackerWork& tracker_work() {
    static std::unique_ptr<TrackerWork> work = std::make_unique<TrackerWork>();
    return *work;
}

void list_moves(GameTracker& game) {
    TrackerWork& work = tracker_work();
    int n = 0;
    const int count =
        generate_legal_moves(game.position, game.white_to_move, work.list, work.paths, n);
    game.legal.clear();
    game.after.clear();
    for (int i = 0; i < count; ++i) {
        const MoveSquares squares =
            move_squares(n, i, game.white_to_move, game.position, work.list, work.paths);
        TrackedMove move{square_of_mask(squares.from), square_of_mask(squares.to), {}};
        for (int k = 0; k < n; ++k)
            move.captured.push_back(
                square_of_mask(path_piece_taken(work.paths[i], k, game.white_to_move)));
        game.legal.push_back(move);
        game.after.push_back(work.list.entries[i]);
    }
}

void play_index(GameTracker& game, int index) {
    game.position = game.after[size_t(index)];
    game.white_to_move = !game.white_to_move;
    ++game.plies;
    list_moves(game);
}

bool same_set(std::vector<int> a, std::vector<int> b) {
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

} // namespace

GameTracker::GameTracker() {
    fill_bit_count_table();
    build_ray_table();
}

bool game_start(GameTracker& game, const std::string& fen) {
    const std::string text = fen.empty() ? "W:W31-50:B1-20" : fen;
    char error[128];
    if (parse_fen(text.c_str(), game.position, game.white_to_move, error, sizeof error)) {
        printf("bad FEN %s: %s\n", text.c_str(), error);
        return true;
    }
    game.plies = 0;
    list_moves(game);
    return false;
}

int game_find_move(const GameTracker& game, int from, int to, const std::vector<int>& captured) {
    for (size_t i = 0; i < game.legal.size(); ++i) {
        const TrackedMove& move = game.legal[i];
        if (move.from != from || move.to != to) continue;
        if (!captured.empty() && !same_set(move.captured, captured)) continue;
        return int(i);
    }
    return -1;
}

std::string game_apply_received(GameTracker& game, const DxpMessage& move) {
    if (move.type != DXP_MOVE) return "not a MOVE";
    const int count = std::clamp<int>(move.move.capture_count, 0, dxp_max_captured);
    const std::vector<int> captured(move.move.captured, move.move.captured + count);
    for (size_t i = 0; i < game.legal.size(); ++i) {
        const TrackedMove& legal = game.legal[i];
        if (legal.from != move.move.from_square || legal.to != move.move.to_square) continue;
        if (legal.captured.size() != size_t(move.move.capture_count)) continue;
        if (!same_set(legal.captured, captured)) continue;
        play_index(game, int(i));
        return "";
    }
    char text[dxp_send_size];
    encode_dxp_message(move, text);
    return std::string("illegal move ") + text + " in " + game_fen(game);
}

DxpMessage game_play(GameTracker& game, int index, bool ascending_captures) {
    const TrackedMove& legal = game.legal[size_t(index)];
    DxpMessage message{};
    message.type = DXP_MOVE;
    message.move.time = 0;
    message.move.from_square = int16_t(legal.from);
    message.move.to_square = int16_t(legal.to);
    std::vector<int> captured = legal.captured;
    if (ascending_captures) std::sort(captured.begin(), captured.end());
    message.move.capture_count = int16_t(captured.size());
    for (size_t k = 0; k < captured.size(); ++k) message.move.captured[k] = int16_t(captured[k]);
    play_index(game, index);
    return message;
}

std::string game_fen(const GameTracker& game) {
    char text[200];
    format_fen(game.position, game.white_to_move, text, sizeof text);
    return text;
}

// ---- a whole exchange --------------------------------------------------------------------

PlayResult play_moves(DxpClient& client, GameTracker& game, bool client_white, int client_moves,
                      uint32_t seed, int reply_timeout_ms) {
    PlayResult result;
    std::mt19937 random(seed);
    int64_t sent_at = -1;
    while (result.client_moves < client_moves || (game.white_to_move != 0) != client_white) {
        if ((game.white_to_move != 0) == client_white) {
            if (game.legal.empty()) {
                result.client_has_no_move = true;
                return result;
            }
            const int index = int(random() % game.legal.size());
            const DxpMessage move = game_play(game, index, (random() & 1) != 0);
            if (client_send(client, move)) {
                result.error = "cannot send a move";
                return result;
            }
            sent_at = clock_ms();
            ++result.client_moves;
            continue;
        }
        DxpMessage message{};
        std::string text;
        const ReceiveResult got = client_receive_message(client, message, text, reply_timeout_ms);
        if (got != received_message) {
            result.error = got == receive_timed_out ? "no reply from the server in time"
                                                    : "the server closed the connection";
            return result;
        }
        if (message.type == DXP_CHAT) continue;
        if (message.type == DXP_GAMEEND) {
            result.game_end = text;
            return result;
        }
        if (message.type != DXP_MOVE) {
            result.error = "unexpected message " + text;
            return result;
        }
        if (sent_at >= 0) result.latencies_ms.push_back(clock_ms() - sent_at);
        sent_at = -1;
        result.error = game_apply_received(game, message);
        if (!result.error.empty()) return result;
        ++result.server_moves;
    }
    return result;
}
