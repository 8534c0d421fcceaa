// Move translation: Kavro's new board into a DXP MOVE, a received MOVE into a command that
// Kavro types. Both go through the legal move list of current_board, so a move that is
// not legal there can never pass in either direction.
#include <cstdio>
#include <cstring>

#include "control/control.h"
#include "engine/engine.h"

MoveWork move_work;

namespace {

int received_capture_count(const DxpMessage& message) {
    const int count = message.move.capture_count;
    if (count < 0) return 0;
    return count > dxp_max_captured ? dxp_max_captured : count;
}

[[noreturn]] void stop_with(const char* line) {
    print_line("%s", line);
    fatal_stop();
}

} // namespace

int list_legal_moves(int white_to_move) {
    const Position before = board_to_position();
    return generate_legal_moves(before, white_to_move, move_work.list, move_work.paths,
                                move_work.n);
}

bool path_matches_received_captures(int white_to_move, const CapturePath& path,
                                    const DxpMessage& message) {
    const int count = received_capture_count(message);
    if (path.count != message.move.capture_count) return false;
    for (int k = 0; k < path.count; ++k) {
        const int square = square_of_mask(path_piece_taken(path, k, white_to_move));
        bool found = false;
        for (int i = 0; i < count && !found; ++i) found = message.move.captured[i] == square;
        if (!found) return false;
    }
    return true;
}

void send_kavro_move(bool send_pv) {
    const int white_to_move = game.kavro_colour == 'W' ? 1 : 0;
    const Position before = board_to_position();
    const int count = list_legal_moves(white_to_move);
    const int n = move_work.n;

    if (read_kavro_board(current_board)) fatal_stop();
    const Position after = board_to_position();

    int index = -1;
    for (int i = 0; i < count; ++i) {
        if (move_work.list.entries[i] == after) {
            index = i;
            break;
        }
    }
    if (index < 0) stop_with("Cannot match kavro new board up with a legal move.\n");

    DxpMessage reply{};
    reply.type = DXP_MOVE;
    const MoveSquares squares =
        move_squares(n, index, white_to_move, before, move_work.list, move_work.paths);
    reply.move.time = 0;
    reply.move.from_square = int16_t(square_of_mask(squares.from));
    reply.move.to_square = int16_t(square_of_mask(squares.to));
    reply.move.capture_count = int16_t(n);
    for (int k = 0; k < n; ++k) {
        const uint64_t piece = path_piece_taken(move_work.paths[index], k, white_to_move);
        reply.move.captured[k] = int16_t(square_of_mask(piece));
    }
    char text[dxp_send_size];
    send_dxp_message(reply, text);
    print_line("Sent: \"%s\"\n", text);

    if (send_pv) {
        DxpMessage chat{};
        chat.type = DXP_CHAT;
        // The line is cut after its first 126 characters.
        for (int i = 0; i < 126 && last_analysis_text[i] != '\0'; ++i)
            chat.chat.text[i] = last_analysis_text[i];
        send_dxp_message(chat, text);
        print_line("Sent: \"%s\"\n", text);
    }
}

void translate_received_move(const DxpMessage& message, char* command) {
    const int white_to_move = game.kavro_colour == 'W' ? 0 : 1;
    const Position before = board_to_position();
    const int count = list_legal_moves(white_to_move);
    const int n = move_work.n;
    const int received_count = message.move.capture_count;

    if ((n == 0 && received_count != 0) || (n != 0 && received_count == 0)) {
        stop_with("Capture counts dont match\n");
    }

    int m = -1;
    MoveSquares chosen{};
    for (int i = 0; i < count; ++i) {
        const MoveSquares squares =
            move_squares(n, i, white_to_move, before, move_work.list, move_work.paths);
        if (square_of_mask(squares.from) != message.move.from_square) continue;
        if (square_of_mask(squares.to) != message.move.to_square) continue;
        if (n > 0 && !path_matches_received_captures(white_to_move, move_work.paths[i], message))
            continue;
        m = i;
        chosen = squares;
        break;
    }
    if (m < 0) stop_with("cannot match from and to squares of received move.\n");

    int same_squares = 0;
    for (int i = 0; i < count; ++i) {
        const MoveSquares squares =
            move_squares(n, i, white_to_move, before, move_work.list, move_work.paths);
        if (squares.from == chosen.from && squares.to == chosen.to) ++same_squares;
    }

    const int from = square_of_mask(chosen.from);
    const int to = square_of_mask(chosen.to);
    if (same_squares == 1) {
        snprintf(command, 9, "%d-%d", from, to);
    } else {
        // Kavro needs one square that only this move jumps to tell it from the others.
        int jumped = 0;
        for (int k = 0; k < n && jumped == 0; ++k) {
            const uint64_t piece = path_piece_taken(move_work.paths[m], k, white_to_move);
            bool shared = false;
            for (int j = 0; j < count && !shared; ++j) {
                if (j != m && path_takes_piece(n, white_to_move, piece, move_work.paths, j))
                    shared = true;
            }
            if (!shared) jumped = square_of_mask(piece);
        }
        if (jumped == 0) stop_with("Error, cannot find a unique jumped square.\n");
        snprintf(command, 9, "%d-%d-%d", from, jumped, to);
    }

    position_to_board(move_work.list.entries[m]);
}
