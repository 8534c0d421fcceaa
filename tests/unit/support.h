// What the unit tests share: positions from FEN, printed lines, and fatal stops observed.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "board/fen.h"
#include "platform/platform.h"

struct FatalStop {}; // thrown by the hook that every test runs under

// The tables are filled once, as start-up does, and every fatal stop throws.
struct Setup : ::testing::Environment {
    void SetUp() override {
        fill_bit_count_table(), build_ray_table(), fatal_stop_hook = [] { throw FatalStop{}; };
    }
};
inline const auto* const setup = ::testing::AddGlobalTestEnvironment(new Setup);

inline Position fen(const char* text, int* white_to_move = nullptr) {
    Position p{};
    int side = 1;
    char error[200];
    EXPECT_FALSE(parse_fen(text, p, side, error, sizeof error)) << text << ": " << error;
    if (white_to_move) *white_to_move = side;
    return p;
}

inline ByteBoard board_of(const char* text) {
    ByteBoard b;
    board_of_position(fen(text), b);
    return b;
}

// The values, separated by spaces: a compact form for comparing records with table rows.
template <class... T> std::string join(const T&... values) {
    std::ostringstream out;
    ((out << values << ' '), ...);
    std::string text = out.str();
    text.pop_back();
    return text;
}

// A command line given as one text, words separated by spaces, the program's name first.
struct Arguments {
    std::vector<std::string> words;
    std::vector<char*> argv;
    explicit Arguments(const std::string& line) {
        std::istringstream in(line);
        for (std::string word; in >> word;) words.push_back(word);
        for (std::string& word : words) argv.push_back(word.data());
    }
    int argc() const { return int(argv.size()); }
};

// The whole content of an open file.
inline std::string contents(FILE* file) {
    std::string text;
    rewind(file);
    for (int c; (c = fgetc(file)) != EOF;) text += char(c);
    return text;
}

// Runs f with standard output in a file; gives what it printed, with "<stop>" after a fatal
// stop.
template <class F> std::string printed(F f) {
    fflush(stdout);
    FILE* file = tmpfile();
    const int saved = dup(1);
    dup2(fileno(file), 1);
    bool stopped = false;
    try {
        f();
    } catch (const FatalStop&) {
        stopped = true;
    }
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    const std::string text = contents(file);
    fclose(file);
    return stopped ? text + "<stop>" : text;
}
