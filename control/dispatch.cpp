// The dispatcher: one call per event of the queue, on the main thread. It takes the event's
// message out of the ring and starts games in Kavro, relays the moves both ways, resets
// Kavro after a game, answers back requests and stops the server when the client is gone.
#include <cstdio>
#include <cstring>

#include "control/control.h"
#include "engine/engine.h"

namespace {

constexpr int move_attempts = 10;
constexpr int reset_attempts = 10;
constexpr int reset_wait_ms = 1000;

// The buffers of one event; the reply texts reuse text for their "Sent:" lines.
char text[dxp_text_size];
DxpMessage received;
char command[16];

[[noreturn]] void stop_with(const char* line) {
    print_line("%s", line);
    fatal_stop();
}

void read_kavro_board_or_stop(ByteBoard& board) {
    if (read_kavro_board(board)) fatal_stop();
}

void write_player_flag_or_stop(uint32_t address) {
    const uint8_t one = 1;
    if (kavro_process == nullptr || kavro_process->write_memory(address, &one, 1)) {
        report_last_error("WriteProcessMemory");
        fatal_stop();
    }
}

void type_or_stop(const char* kavro_command) {
    if (type_kavro_command(kavro_command)) fatal_stop();
}

AnalysisCallback analysis_callback() {
    return options.send_pv_all ? analysis_relay : nullptr;
}

// Kavro may think for minutes, or never move at all: a client that leaves meanwhile must
// not keep the server waiting for a board nobody will be sent. The server stops, or with
// -keep the wait ends and the game is abandoned.
bool client_gone() {
    if (!dxp_connection_lost()) return false;
    if (!options.keep) stop_with("Received: DXP_CONNECTIONLOST\n");
    return true;
}

void send_and_echo(const DxpMessage& reply) {
    send_dxp_message(reply, text);
    print_line("Sent: \"%s\"\n", text);
}

void send_game_end(int reason) {
    DxpMessage reply{};
    reply.type = DXP_GAMEEND;
    reply.gameend.reason = int16_t(reason);
    reply.gameend.stop_code = 0;
    send_and_echo(reply);
}

// Brings Kavro back to the standard start from the board it shows: "n" on a standard setup
// board, typed until its board leaves the one shown.
void bring_to_standard_start(const ByteBoard& shown, WaitWatch watch) {
    if (!differs_from_standard_start(shown)) return;
    set_standard_start(game.previous_board);
    if (write_setup_board(game.previous_board)) fatal_stop();
    for (int attempt = 0; attempt < reset_attempts; ++attempt) {
        type_or_stop("n");
        if (!waitfor_kavro_board_change(shown, game.kavro_colour, reset_wait_ms, nullptr, watch))
            return;
    }
    stop_with("kavro board did not change.\n");
}

// Takes Kavro off both colours and brings it back to the standard start. shown is the
// board Kavro shows now. With -keep a client that leaves meanwhile does not cut it short:
// the next client needs it all the same.
void reset_kavro(const ByteBoard& shown) {
    write_player_flag_or_stop(kavro_player_plays_black);
    write_player_flag_or_stop(kavro_player_plays_white);
    bring_to_standard_start(shown, options.keep ? nullptr : client_gone);
}

// -keep: the client has gone. Its game is abandoned, Kavro is taken off both colours and
// brought back to the standard start, and everything the client left (bytes, events, game
// state, Kavro's analysis) is forgotten before the next one is let in. Kavro stays the same.
void serve_next_client() {
    if (end_dxp_client()) fatal_stop();
    write_player_flag_or_stop(kavro_player_plays_black);
    write_player_flag_or_stop(kavro_player_plays_white);
    // A Kavro that was thinking stops once it plays neither side; a move it was making by
    // then shows on its board within this pause.
    pause_ms(500);
    ByteBoard shown;
    read_kavro_board_or_stop(shown);
    bring_to_standard_start(shown, nullptr);
    current_board.fill(0);
    game = GameState{};
    last_analysis_text[0] = '\0';
    last_analysis_score = 0;
    draw_count = 0;
    listen_for_next_client();
}

void declare_result(int result) {
    game.game_end_declared = true;
    if (result == result_draw) {
        print_line("Draw declared.\n");
        send_game_end(2);
    } else if (result == result_kavro_won) {
        print_line("Win declared.\n");
        send_game_end(3);
    } else {
        print_line("Loss declared.\n");
        send_game_end(1);
    }
}

void handle_gamereq() {
    const auto& request = received.gamereq;
    print_line("Received: \"%s\"\n", text);
    print_line("GAMEREQ from %s; time %d; moves %d; start position is %s; Kavro plays %s\n",
               request.initiator_name, request.thinking_time, request.move_count,
               request.start_position == 'A' ? "GAYP" : "custom setup",
               request.follower_colour == 'W' ? "white" : "black");

    DxpMessage reply{};
    reply.type = DXP_GAMEACC;
    strcpy(reply.gameacc.follower_name, "Kavro");
    const char start = request.start_position;
    if (start != 'A' && start != 'W') {
        // Refused before anything is written into Kavro: the client may ask for another
        // game on the same connection (acceptance 2).
        print_line("The server cannot accept a black-to-move start position.\n");
        reply.gameacc.acceptance = 2;
        send_and_echo(reply);
        return;
    }
    game.game_end_declared = false;

    if (start == 'A') {
        // Kavro may still show the last game (ended by our own declaration, or never ended):
        // it must stand at the standard start before the game begins.
        ByteBoard shown;
        read_kavro_board_or_stop(shown);
        if (differs_from_standard_start(shown)) reset_kavro(shown);
        set_standard_start(current_board);
    } else {
        // Squares the text does not name stay empty rather than keep the last game's pieces,
        // and Kavro plays no side until told, so that the new board cannot draw a move from
        // the side it played last.
        current_board.fill(0);
        board_from_dxp_text(request.position);
        write_player_flag_or_stop(kavro_player_plays_black);
        write_player_flag_or_stop(kavro_player_plays_white);
        if (load_current_board()) fatal_stop();
    }

    reply.gameacc.acceptance = 0;
    send_and_echo(reply);

    if (request.follower_colour == 'W') {
        game.kavro_colour = 'W';
        type_or_stop("kca");
        // A given position may leave Kavro no move at all; waiting for one would never end.
        if (list_legal_moves(1) == 0) {
            declare_result(result_kavro_lost);
            return;
        }
        if (waitfor_kavro_board_change(current_board, game.kavro_colour, 0, analysis_callback(),
                                       client_gone))
            return; // abandoned: the client has gone
        send_kavro_move(options.send_pv);
        read_kavro_board_or_stop(current_board);
    } else {
        game.kavro_colour = 'Z';
        type_or_stop("kac");
        // The client's first move may come at once, and a command typed before Kavro has
        // taken "kac" would overwrite it: Kavro would play no side and the game would hang.
        pause_ms(500);
        read_kavro_board_or_stop(current_board);
    }
}

void handle_move() {
    print_line("Received: \"%s\"\n", text);
    game.previous_board = current_board;
    translate_received_move(received, command);

    // A move that leaves Kavro without a reply would have the wait below run for ever.
    const int kavro_white = game.kavro_colour == 'W' ? 1 : 0;
    const bool kavro_can_move = list_legal_moves(kavro_white) > 0;

    bool taken = false;
    ByteBoard scratch;
    for (int attempt = 0; attempt < move_attempts && !taken; ++attempt) {
        type_or_stop(command);
        pause_ms(500);
        if (!kavro_can_move) {
            read_kavro_board_or_stop(scratch);
            if (scratch == current_board) {
                declare_result(result_kavro_lost);
                return;
            }
            if (scratch == game.previous_board) continue;
        }
        if (waitfor_kavro_board_change(current_board, game.kavro_colour, 0, analysis_callback(),
                                       client_gone))
            return; // abandoned: the client has gone
        read_kavro_board_or_stop(scratch);
        taken = scratch != game.previous_board;
    }
    if (!taken) stop_with("Kavro did not make a move.\n");

    const Position position = board_to_position();
    int result = adjudicate_position(position, game.kavro_colour == 'W', last_analysis_score);
    if (!options.adjudicate) {
        send_kavro_move(options.send_pv);
        return;
    }
    if (result == result_undecided) {
        if (piece_count_test(position) == result_undecided) {
            send_kavro_move(options.send_pv);
            return;
        }
        result = result_draw;
    }
    declare_result(result);
}

void handle_gameend() {
    print_line("Received: \"%s\"\n", text);
    if (!game.game_end_declared) {
        DxpMessage reply{};
        reply.type = DXP_GAMEEND;
        reply.gameend.reason = 0;
        reply.gameend.stop_code = 0;
        send_dxp_message_quietly(reply);
    }
    read_kavro_board_or_stop(current_board);
    reset_kavro(current_board);
}

void handle_backreq() {
    print_line("Received: \"%s\"\n", text);
    DxpMessage reply{};
    reply.type = DXP_BACKACC;
    reply.backacc.acceptance = 1;
    send_and_echo(reply);
}

} // namespace

int piece_count_test(const Position& position) {
    const uint64_t pieces = position.black | position.white;
    int count = 0;
    for (int quarter = 0; quarter < 4; ++quarter)
        count += bit_count_table[(pieces >> (16 * quarter)) & 0xFFFF];
    return count < 6 ? 0 : 3;
}

void dispatch_dxp_event(int type_code) {
    // The last event there will ever be: whatever the ring still holds (an over-long
    // message, say) must not keep the server from stopping.
    if (type_code == DXP_CONNECTIONLOST) {
        print_line("Received: DXP_CONNECTIONLOST\n");
        if (!options.keep) fatal_stop();
        serve_next_client();
        return;
    }
    // A message too long to be taken leaves its record unfilled: no handler may act on it.
    // The connection is closed by now and its DXP_CONNECTIONLOST event follows.
    if (next_dxp_message(text, received)) return;
    // What a client sent before it left is not acted on when the server goes on to the next
    // client: its game is abandoned.
    if (options.keep && dxp_connection_lost()) return;

    switch (type_code) {
    case DXP_GAMEREQ:
        handle_gamereq();
        break;
    case DXP_MOVE:
        handle_move();
        break;
    case DXP_GAMEEND:
        handle_gameend();
        break;
    case DXP_CHAT:
        print_line("Received: \"%s\"\n", text);
        break;
    case DXP_BACKREQ:
        handle_backreq();
        break;
    default:
        break; // GAMEACC, BACKACC and unknown codes: taken out of the ring, nothing else
    }
}
