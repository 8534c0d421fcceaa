// translate_received_move on legal positions with arbitrary MOVE records. A fatal stop is an
// allowed answer to a bad move; a crash, a bad read or write, a command that is no command,
// or a board that no legal move gives is a finding. A move taken from the legal list must be
// accepted unless another legal move shares its squares.
//
// Input: a mode byte, then the position (random play from the start, or a placement of
// pieces), Kavro's colour, and the MOVE (its wire text, raw record fields, or a legal move).
#include <cstdio>
#include <cstring>

#include "board/board.h"
#include "board/movegen.h"
#include "control/control.h"
#include "dxp/dxp.h"
#include "fuzz/fuzz_support.h"

namespace {

MoveList scratch_list;
CapturePaths scratch_paths;

// Plays up to plies random legal moves from the standard start.
void random_play(FuzzBytes& in, int plies) {
    Position position{};
    ByteBoard start;
    set_standard_start(start);
    position = position_of_board(start);
    int white = 1;
    for (int ply = 0; ply < plies; ++ply) {
        int n = 0;
        int count = generate_legal_moves(position, white, scratch_list, scratch_paths, n);
        if (count == 0) break;
        position = scratch_list.entries[in.below(uint32_t(count))];
        white = !white;
    }
    position_to_board(position);
}

// Places pieces square by square, as a client's GAMEREQ may: men even on their own side's
// crowning row, where no game puts them.
void placement(FuzzBytes& in) {
    // A man or a king of either side, or (half the time) an empty square.
    const int8_t values[8] = {-1, 1, -2, 2, 0, 0, 0, 0};
    for (int s = 0; s < 50; ++s) current_board[s] = values[in.below(8)];
}

// The command must be "from-to" or "from-jumped-to" with squares 1 to 50.
bool command_well_formed(const char* command, int from, int to) {
    int a = 0, b = 0, c = 0, used = 0;
    size_t length = std::strlen(command);
    if (length > 8) return false;
    if (std::sscanf(command, "%d-%d-%d%n", &a, &b, &c, &used) == 3 && size_t(used) == length)
        return a == from && c == to && b >= 1 && b <= 50;
    if (std::sscanf(command, "%d-%d%n", &a, &b, &used) == 2 && size_t(used) == length)
        return a == from && b == to;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_observe_fatal_stops(true);
    fill_bit_count_table();
    build_ray_table();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzBytes in{data, size};
    const uint8_t mode = in.next();
    if (mode & 1)
        placement(in);
    else
        random_play(in, int(in.next() % 120));
    game.kavro_colour = (mode & 2) ? 'W' : 'Z';
    const int client_white = game.kavro_colour == 'W' ? 0 : 1;
    const Position before = board_to_position();

    // The client's legal moves, for the oracle.
    int n = 0;
    const int count = generate_legal_moves(before, client_white, scratch_list, scratch_paths, n);

    DxpMessage message;
    std::memset(&message, 0, sizeof message);
    bool from_legal_list = false;
    switch ((mode >> 2) & 3) {
    case 0: { // the wire text, decoded as the dispatcher does
        char text[dxp_text_size];
        size_t length = in.size < size_t(dxp_max_text - 1) ? in.size : size_t(dxp_max_text - 1);
        text[0] = 'M';
        std::memcpy(text + 1, in.data, length);
        text[1 + length] = '\0';
        decode_dxp_message(text, message);
        break;
    }
    case 1: { // raw record fields, whatever their values
        message.type = DXP_MOVE;
        auto word = [&in] { return int16_t(uint16_t(in.next() | in.next() << 8)); };
        message.move.time = word();
        message.move.from_square = word();
        message.move.to_square = word();
        message.move.capture_count = word();
        for (int i = 0; i < dxp_max_captured; ++i) message.move.captured[i] = word();
        break;
    }
    default: { // a legal move, its captured squares in a shuffled order
        if (count == 0) return 0;
        const int i = int(in.below(uint32_t(count)));
        const MoveSquares squares =
            move_squares(n, i, client_white, before, scratch_list, scratch_paths);
        message.type = DXP_MOVE;
        message.move.from_square = int16_t(square_of_mask(squares.from));
        message.move.to_square = int16_t(square_of_mask(squares.to));
        message.move.capture_count = int16_t(n);
        for (int k = 0; k < n; ++k)
            message.move.captured[k] =
                int16_t(square_of_mask(path_piece_taken(scratch_paths[i], k, client_white)));
        for (int k = n - 1; k > 0; --k) {
            int j = int(in.below(uint32_t(k + 1)));
            std::swap(message.move.captured[k], message.move.captured[j]);
        }
        from_legal_list = true;
        break;
    }
    }

    char command[9];
    std::memset(command, 0x7F, sizeof command);
    const ByteBoard board_before = current_board;
    try {
        translate_received_move(message, command);
    } catch (const FuzzFatalStop&) {
        if (from_legal_list) {
            // Only an ambiguous move may be refused: another legal move with its squares.
            int same = 0;
            for (int i = 0; i < count; ++i) {
                MoveSquares s =
                    move_squares(n, i, client_white, before, scratch_list, scratch_paths);
                if (square_of_mask(s.from) == message.move.from_square &&
                    square_of_mask(s.to) == message.move.to_square)
                    ++same;
            }
            FUZZ_CHECK(same > 1);
        }
        return 0;
    }
    // Accepted: a well-formed command for the message's squares, and a legal move on the board.
    FUZZ_CHECK(std::memchr(command, 0, sizeof command) != nullptr);
    FUZZ_CHECK(command_well_formed(command, message.move.from_square, message.move.to_square));
    FUZZ_CHECK(current_board != board_before);
    const Position after = board_to_position();
    bool legal = false;
    for (int i = 0; i < count && !legal; ++i) legal = scratch_list.entries[i] == after;
    FUZZ_CHECK(legal);
    FUZZ_CHECK((n == 0) == (message.move.capture_count == 0));
    return 0;
}
