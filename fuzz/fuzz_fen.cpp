// The FEN reader on arbitrary text: never a read past the text, and every position it takes
// is a sound board that comes back the same through the writer.
#include <cstring>
#include <string>

#include "board/fen.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Position p{1, 2, 3}, again{};
    int white = -1, again_white = -1;
    char error[80];
    if (parse_fen(text.c_str(), p, white, error, sizeof error))
        return FUZZ_CHECK(std::memchr(error, 0, sizeof error)), 0;
    FUZZ_CHECK(!(p.black & p.white) && !((p.black | p.white) & ~board_mask));
    FUZZ_CHECK(!(p.kings & ~(p.black | p.white)));
    std::string out(fen_buffer_size, '\0'); // exactly the promised room
    format_fen(p, white, out.data(), out.size());
    FUZZ_CHECK(!parse_fen(out.c_str(), again, again_white, error, sizeof error));
    FUZZ_CHECK(again == p && (again_white != 0) == (white != 0));
    return 0;
}
