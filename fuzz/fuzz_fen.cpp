// The FEN reader on arbitrary text: never a read past the text, and every position it takes
// is a sound board that comes back the same through the writer.
#include <cstring>

#include "board/fen.h"
#include "fuzz/fuzz_support.h"

namespace {
// Blocks of exactly their size, allocated once: a text placed at a block's end has its zero
// byte last, so that a read past it is seen.
constexpr size_t max_text = 4096; // run.sh's longest input
char* const input_block = new char[max_text + 1];
char* const output_block = new char[fen_buffer_size]; // exactly the promised room
} // namespace

extern "C" FUZZ_HARNESS int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > max_text) return 0;
    char* const text = input_block + max_text - size;
    std::memcpy(text, data, size);
    text[size] = '\0';
    Position p{1, 2, 3}, again{};
    int white = -1, again_white = -1;
    char error[80];
    if (parse_fen(text, p, white, error, sizeof error))
        return FUZZ_CHECK(std::memchr(error, 0, sizeof error)), 0;
    FUZZ_CHECK(!(p.black & p.white) && !((p.black | p.white) & ~board_mask));
    FUZZ_CHECK(!(p.kings & ~(p.black | p.white)));
    format_fen(p, white, output_block, fen_buffer_size);
    FUZZ_CHECK(!parse_fen(output_block, again, again_white, error, sizeof error));
    FUZZ_CHECK(again == p && (again_white != 0) == (white != 0));
    return 0;
}
