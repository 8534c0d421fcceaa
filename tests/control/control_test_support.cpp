#include "tests/control/control_test_support.h"

#include <cstring>
#include <sstream>

#include "board/fen.h"

void ControlTest::SetUp() {
    fill_bit_count_table();
    build_ray_table();
    kavro_process = &kavro.process;
    // Pauses shrink to a hundredth: the order of events is what these tests look at.
    pause_scale_percent = 1;
    fatal_stop_hook = [] { throw FatalStop{}; };
    memset(last_analysis_text, 0, sizeof last_analysis_text);
    last_analysis_score = 0;
    draw_count = 0;
    current_board.fill(0);
    options = Options{};
    game = GameState{};

    create_event_queue(nullptr);
    while (wait_event(0) != -1) {
    }
    Socket server = invalid_socket;
    ASSERT_FALSE(net_loopback_pair(server, peer));
    reset_dxp_ring();
    dxp_connection.client_socket.store(server);
}

void ControlTest::TearDown() {
    close_dxp_connection();
    if (peer != invalid_socket) net_close(peer);
    while (wait_event(0) != -1) {
    }
    kavro_process = nullptr;
    pause_scale_percent = 100;
    fatal_stop_hook = nullptr;
}

bool ControlTest::deliver(const std::string& text) {
    const std::string bytes = text + std::string(1, '\0');
    EXPECT_FALSE(receive_bytes(bytes.data(), int(bytes.size()))) << "ring refused " << text;
    const int code = wait_event(0);
    EXPECT_NE(code, -1) << "no event for " << text;
    return run([code] { dispatch_dxp_event(code); });
}

bool ControlTest::dispatch_waiting() {
    for (int code; (code = wait_event(0)) != -1;) {
        if (run([code] { dispatch_dxp_event(code); })) return true;
    }
    return false;
}

std::vector<std::string> ControlTest::received_by_client(int timeout_ms) {
    std::string bytes;
    char chunk[1024];
    const int64_t deadline = clock_ms() + timeout_ms;
    for (;;) {
        if (net_wait_readable(peer, 0) == 1) {
            const int got = net_receive(peer, chunk, sizeof chunk);
            if (got <= 0) break;
            bytes.append(chunk, size_t(got));
            continue;
        }
        if (!bytes.empty() || clock_ms() >= deadline) break;
        pause_ms(5 * 100); // scaled: 5 ms
    }
    std::vector<std::string> messages;
    size_t start = 0;
    for (size_t zero; (zero = bytes.find('\0', start)) != std::string::npos; start = zero + 1)
        messages.push_back(bytes.substr(start, zero - start));
    return messages;
}

void ControlTest::start_game(const char* fen, int32_t kavro_colour) {
    Position position{};
    int white_to_move = 0;
    char error[200];
    ASSERT_FALSE(parse_fen(fen, position, white_to_move, error, sizeof error)) << error;
    board_of_position(position, current_board);
    kavro.show_board(current_board, white_to_move);
    kavro.process.poke_byte(kavro_player_plays_white, kavro_colour == 'W' ? 0 : 1);
    kavro.process.poke_byte(kavro_player_plays_black, kavro_colour == 'W' ? 1 : 0);
    game.kavro_colour = kavro_colour;
}

int ControlTest::count_lines(const std::string& line) const {
    int count = 0;
    for (const std::string& each : lines_of(output)) count += each == line;
    return count;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

DxpMessage move_message(int from, int to, std::vector<int> captured) {
    DxpMessage message{};
    message.type = DXP_MOVE;
    message.move.from_square = int16_t(from);
    message.move.to_square = int16_t(to);
    message.move.capture_count = int16_t(captured.size());
    for (size_t k = 0; k < captured.size(); ++k) message.move.captured[k] = int16_t(captured[k]);
    return message;
}

std::string gamereq_text(char server_colour, const char* fen) {
    DxpMessage message{};
    message.type = DXP_GAMEREQ;
    message.gamereq.version = 1;
    strcpy(message.gamereq.initiator_name, "Tester");
    message.gamereq.follower_colour = server_colour;
    message.gamereq.thinking_time = 10;
    message.gamereq.move_count = 50;
    if (fen == nullptr) {
        message.gamereq.start_position = 'A';
    } else {
        Position position{};
        int white_to_move = 0;
        char error[200];
        if (parse_fen(fen, position, white_to_move, error, sizeof error)) return "";
        ByteBoard board;
        board_of_position(position, board);
        message.gamereq.start_position = white_to_move ? 'W' : 'Z';
        static const char characters[] = {'Z', 'z', 'e', 'w', 'W'};
        for (int i = 0; i < 50; ++i) message.gamereq.position[i] = characters[board[i] + 2];
    }
    char text[dxp_send_size];
    encode_dxp_message(message, text);
    return text;
}
