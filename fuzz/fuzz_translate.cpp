// translate_received_move on positions from random play or any placement of pieces, with
// MOVE records from arbitrary text or from the legal list. A fatal stop is a fair answer to a
// bad move, and to a legal one only when another legal move has its squares; an accepted move
// gives a well-formed command and a legal position.
#include <cstdio>
#include <cstring>
#include <string>

#include "control/control.h"
#include "fuzz/fuzz_support.h"

namespace {
MoveList list;
CapturePaths paths;
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_observe_fatal_stops();
    fill_bit_count_table();
    build_ray_table();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    auto next = [&] { return at < size ? data[at++] : 0; };
    const int mode = next();
    set_standard_start(current_board);
    const int8_t values[8] = {-1, 1, -2, 2, 0, 0, 0, 0};
    for (int s = 0; s < 50 && (mode & 1); ++s)
        current_board[s] = values[next() % 8]; // men even on the last row
    for (int ply = mode & 1 ? 0 : next() % 120, n, white = 1; ply > 0; --ply, white ^= 1) {
        const int count = generate_legal_moves(board_to_position(), white, list, paths, n);
        if (count == 0) break;
        position_to_board(list.entries[next() % count]);
    }
    game.kavro_colour = (mode & 2) ? 'W' : 'Z';
    const int white = game.kavro_colour != 'W';
    const Position before = board_to_position();
    int n = 0;
    const int count = generate_legal_moves(before, white, list, paths, n);
    DxpMessage message{};
    int legal = -1; // the listed move the record names, when it comes from the list
    if (mode & 4) { // the wire text, decoded as the dispatcher does
        std::string text(1, 'M');
        text.append(reinterpret_cast<const char*>(data) + at, size - at);
        decode_dxp_message(text.c_str(), message);
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
    int from = 0, via = 0, to = 0, used = 0;
    const int fields = std::sscanf(command, "%d-%d-%d%n", &from, &via, &to, &used);
    if (fields == 2) std::sscanf(command, "%d-%d%n", &from, &to, &used);
    FUZZ_CHECK(fields >= 2 && size_t(used) == std::strlen(command) &&
               from == message.move.from_square);
    FUZZ_CHECK(to == message.move.to_square && (n == 0) == (message.move.capture_count == 0));
    bool found = false;
    for (int i = 0; i < count; ++i) found |= list.entries[i] == board_to_position();
    FUZZ_CHECK(found);
    return 0;
}
