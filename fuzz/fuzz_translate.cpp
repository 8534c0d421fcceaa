// translate_received_move on positions from a few plies of random play or any placement of pieces,
// with MOVE records from arbitrary text or from the legal list. A fatal stop is a fair answer to a
// bad move, and to a legal one only when another legal move has its squares; an accepted move
// gives a well-formed command and a legal position.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "control/control.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_observe_fatal_stops();
    fill_bit_count_table();
    build_ray_table();
    return 0;
}

// The lists live in the main thread's work area, as in the server: the translation lists the
// same position again into the same place, so the list below is still there after it.
extern "C" FUZZ_HARNESS int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    auto next = [&] { return at < size ? data[at++] : 0; };
    const int mode = next();
    set_standard_start(current_board);
    // About 19 pieces, one in three a king, men even on the last row.
    const int8_t values[16] = {-1, 1, -1, 1, -2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int s = 0; s < 50 && (mode & 1); ++s) current_board[s] = values[next() % 16];
    // A few plies from the start: games' own openings (placements give every other position).
    Position played = board_to_position();
    for (int ply = mode & 1 ? 0 : next() % 16, white = 1, n; ply > 0; --ply, white ^= 1) {
        const int count = generate_legal_moves(played, white, move_work.list, nullptr, n);
        if (count == 0) break;
        played = move_work.list.entries[next() % count];
    }
    if (!(mode & 1)) position_to_board(played);
    game.kavro_colour = (mode & 2) ? 'W' : 'Z';
    const int white = game.kavro_colour != 'W';
    const Position before = board_to_position();
    // A text needs no list of its own: the translation's is there afterwards.
    const bool text = mode & 4;
    int count = text ? 0 : list_legal_moves(white), n = move_work.n;
    const MoveList& list = move_work.list;
    const CapturePath* paths = move_work.paths;
    DxpMessage message{};
    int legal = -1; // the listed move the record names, when it comes from the list
    if (text) {     // the wire text, decoded as the dispatcher does
        char wire[dxp_text_size] = "M"; // at most the longest text the ring hands over
        std::memcpy(wire + 1, data + at, std::min(size - at, size_t(dxp_max_text - 1)));
        decode_dxp_message(wire, message);
    } else if (count > 0) {
        legal = next() % count;
        const MoveSquares m = move_squares(n, legal, white, before, list, paths);
        message.type = DXP_MOVE;
        message.move.from_square = int16_t(square_of_mask(m.from));
        message.move.to_square = int16_t(square_of_mask(m.to));
        message.move.capture_count = int16_t(n);
        for (int k = 0; k < n; ++k)
            message.move.captured[k] =
                int16_t(square_of_mask(path_piece_taken(paths[legal], k, white)));
        for (int k = n - 1; k > 0; --k) // the captured squares in an order of the input's choosing
            std::swap(message.move.captured[k], message.move.captured[next() % (k + 1)]);
    }
    char command[9] = "";
    try {
        translate_received_move(message, command);
    } catch (const FuzzFatalStop&) {
        int same = 0;
        for (int i = 0; i < count && legal >= 0; ++i) {
            const MoveSquares m = move_squares(n, i, white, before, list, paths);
            same += square_of_mask(m.from) == message.move.from_square &&
                    square_of_mask(m.to) == message.move.to_square;
        }
        return FUZZ_CHECK(legal < 0 || same > 1), 0;
    }
    if (text) count = list.count, n = move_work.n;
    int from = 0, via = 0, to = 0, used = 0;
    const int fields = std::sscanf(command, "%d-%d-%d%n", &from, &via, &to, &used);
    if (fields == 2) std::sscanf(command, "%d-%d%n", &from, &to, &used);
    FUZZ_CHECK(fields >= 2 && size_t(used) == std::strlen(command) &&
               from == message.move.from_square);
    FUZZ_CHECK(to == message.move.to_square && (n == 0) == (message.move.capture_count == 0));
    bool found = false;
    const Position after = board_to_position();
    for (int i = 0; i < count; ++i) found |= list.entries[i] == after;
    FUZZ_CHECK(found);
    return 0;
}
