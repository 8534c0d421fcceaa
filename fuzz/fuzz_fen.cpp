// The PDN FEN reader on arbitrary text: it must never read past the text, and every
// position it accepts must be a sound board that survives writing and reading again.
#include <cstring>
#include <memory>

#include "board/board.h"
#include "board/fen.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<char[]> text(new char[size + 1]);
    std::memcpy(text.get(), data, size);
    text[size] = '\0';

    Position position{1, 2, 3};
    int white_to_move = -1;
    char error[80];
    std::memset(error, 'x', sizeof error);
    if (parse_fen(text.get(), position, white_to_move, error, sizeof error)) {
        FUZZ_CHECK(std::memchr(error, 0, sizeof error) != nullptr);
        return 0;
    }
    FUZZ_CHECK((position.black & position.white) == 0);
    FUZZ_CHECK(((position.black | position.white) & ~board_mask) == 0);
    FUZZ_CHECK((position.kings & ~(position.black | position.white)) == 0);

    // Exactly the promised room, on the heap so that writing past it is seen.
    std::unique_ptr<char[]> out(new char[fen_buffer_size]);
    format_fen(position, white_to_move, out.get(), fen_buffer_size);
    FUZZ_CHECK(std::memchr(out.get(), 0, fen_buffer_size) != nullptr);

    Position again{};
    int again_white = -1;
    FUZZ_CHECK(!parse_fen(out.get(), again, again_white, error, sizeof error));
    FUZZ_CHECK(again == position);
    FUZZ_CHECK((again_white != 0) == (white_to_move != 0));
    return 0;
}
