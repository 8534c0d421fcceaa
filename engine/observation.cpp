// Watching Kavro: its analysis line and score, and the wait for its board to change.
#include <cstdio>
#include <cstring>

#include "engine/engine.h"

char last_analysis_text[200];
int32_t last_analysis_score;

bool read_kavro_analysis(AnalysisCallback callback) {
    uint8_t origins[kavro_analysis_length];
    uint8_t destinations[kavro_analysis_length];
    int16_t score = 0;
    if (read_kavro_memory(kavro_analysis_from, origins, sizeof origins) ||
        read_kavro_memory(kavro_analysis_to, destinations, sizeof destinations) ||
        read_kavro_memory(kavro_score, &score, sizeof score))
        return true;

    // 18 characters of value and at most 24 moves of 6 fit with room to spare.
    char line[sizeof last_analysis_text];
    int length = snprintf(line, sizeof line, "value %.2f, pv ", score / 100.0);
    for (int i = 0; i < kavro_analysis_length; ++i) {
        if (origins[i] == kavro_end_of_line) break;
        length += snprintf(
            line + length, sizeof line - size_t(length), "%d%c%d ", square_of_code(origins[i] & 63),
            (destinations[i] & 0x40) != 0 ? 'x' : '-', square_of_code(destinations[i] & 63));
    }
    if (strcmp(line, last_analysis_text) != 0) {
        print_line("%s\n", line);
        if (callback != nullptr) callback(line);
        memcpy(last_analysis_text, line, sizeof line);
        last_analysis_score = score;
    }
    return false;
}

bool waitfor_kavro_board_change(const ByteBoard& reference, int32_t colour, int32_t time_limit,
                                AnalysisCallback callback, WaitWatch watch) {
    const int64_t start = clock_ms();
    char text[200];
    position_text(reference, colour, text);
    print_line("waitfor_kavro_board_change\n");
    print_line("%s", text);

    ByteBoard board;
    for (;;) {
        if (read_kavro_board(board)) fatal_stop();
        if (board != reference) break;
        if (read_kavro_analysis(callback)) fatal_stop();
        if (watch != nullptr && watch()) return true;
        pause_ms(100);
        if (time_limit != 0 && clock_ms() - start > time_limit) return true;
    }
    // Kavro may still be busy with the board it shows: look again once it has settled.
    pause_ms(500);
    if (read_kavro_board(board)) fatal_stop();
    position_text(board, colour == 'W' ? 'Z' : 'W', text);
    print_line("%s", text);
    return false;
}

void position_text(const ByteBoard& board, int32_t colour, char* text) {
    // The worst case, every square a king, needs 198 bytes of the 200.
    char* out = text;
    *out++ = colour == 'W' ? 'W' : 'B';
    for (int side = 1; side >= -1; side -= 2) {
        *out++ = ':';
        *out++ = side == 1 ? 'W' : 'B';
        bool first = true;
        for (int s = 1; s <= 50; ++s) {
            const int value = board[s - 1] * side;
            if (value != 1 && value != 2) continue;
            if (!first) *out++ = ',';
            if (value == 2) *out++ = 'K';
            if (s >= 10) *out++ = char('0' + s / 10);
            *out++ = char('0' + s % 10);
            first = false;
        }
    }
    *out++ = '.';
    *out++ = '\n';
    *out = '\0';
}
