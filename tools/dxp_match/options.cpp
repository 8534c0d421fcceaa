// The command line and the ballot file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "board/fen.h"
#include "tools/dxp_match/match.h"

MatchOptions match_options;
Ballot ballot;

void print_match_usage() {
    printf("Usage: dxp-match [options]\n"
           "Plays a match against a DXP server (the follower) and writes the games as PDN.\n"
           "With --player dxp:HOST:PORT it referees the server against a second follower.\n"
           "  --host NAME        server host (default 127.0.0.1)\n"
           "  --port N           server port (default 27531)\n"
           "  --games N          number of games, colours alternating (default 2)\n"
           "  --time SECONDS     move time of the engine player, and with --moves the time\n"
           "                     control of the game request (default 1; decimals allowed)\n"
           "  --moves N          moves per side before a game is called a draw (default 150)\n"
           "  --ballot FILE      openings, one PDN FEN per line, each played with both colours\n"
           "  --pdn FILE         game file, appended to (default dxp-match-DATE-TIME.pdn)\n"
           "  --player KIND      random, engine (default), or dxp:HOST:PORT: the follower\n"
           "                     there plays the server, each move checked and forwarded\n"
           "  --seed N           seed of the random player (default 1)\n"
           "  --name NAME        our name in the game request (default dxp-match)\n"
           "  --wait SECONDS     longest wait for a follower's answer (default 120)\n"
           "  --retry SECONDS    keep trying to connect this long (default 2)\n"
           "  --help             this text\n");
}

namespace {

bool whole_number(const char* text, long minimum, long maximum, long& value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < minimum || v > maximum) return false;
    value = v;
    return true;
}

bool copy_text(char* field, size_t size, const char* text) {
    if (text == nullptr || strlen(text) >= size) return false;
    snprintf(field, size, "%s", text);
    return true;
}

} // namespace

ArgumentResult parse_match_arguments(int argc, char** argv, MatchOptions& o) {
    o = MatchOptions{};
    snprintf(o.host, sizeof o.host, "127.0.0.1");
    snprintf(o.port, sizeof o.port, "27531");
    snprintf(o.name, sizeof o.name, "dxp-match");
    o.games = 2;
    o.move_time_ms = 1000;
    o.move_limit = 150;
    o.wait_seconds = 120;
    o.retry_seconds = 2;
    o.player = player_engine;
    o.seed = 1;

    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            print_match_usage();
            return arguments_help;
        }
        // "--name value" or "--name=value".
        char name[32];
        const char* value = nullptr;
        const char* equals = strchr(arg, '=');
        if (strncmp(arg, "--", 2) != 0 ||
            (equals ? size_t(equals - arg) : strlen(arg)) >= sizeof name) {
            printf("dxp-match: unknown argument \"%s\" (see --help)\n", arg);
            return arguments_bad;
        }
        if (equals) {
            snprintf(name, sizeof name, "%.*s", int(equals - arg), arg);
            value = equals + 1;
        } else {
            snprintf(name, sizeof name, "%s", arg);
            value = i + 1 < argc ? argv[++i] : nullptr;
        }
        long number = 0;
        bool ok = value != nullptr;
        if (!ok) {
            printf("dxp-match: %s needs a value (see --help)\n", name);
            return arguments_bad;
        }
        if (strcmp(name, "--host") == 0) {
            ok = copy_text(o.host, sizeof o.host, value) && value[0];
        } else if (strcmp(name, "--port") == 0) {
            ok = whole_number(value, 1, 65535, number);
            if (ok) snprintf(o.port, sizeof o.port, "%ld", number);
        } else if (strcmp(name, "--games") == 0) {
            ok = whole_number(value, 1, 100000, number);
            o.games = int(number);
        } else if (strcmp(name, "--time") == 0) {
            char* end = nullptr;
            errno = 0;
            double seconds = strtod(value, &end);
            ok =
                errno == 0 && end != value && *end == '\0' && seconds >= 0.001 && seconds <= 3600.0;
            o.move_time_ms = int(seconds * 1000.0 + 0.5);
        } else if (strcmp(name, "--moves") == 0) {
            ok = whole_number(value, 1, 999, number);
            o.move_limit = int(number);
        } else if (strcmp(name, "--wait") == 0) {
            ok = whole_number(value, 1, 86400, number);
            o.wait_seconds = int(number);
        } else if (strcmp(name, "--retry") == 0) {
            ok = whole_number(value, 0, 3600, number);
            o.retry_seconds = int(number);
        } else if (strcmp(name, "--seed") == 0) {
            char* end = nullptr;
            errno = 0;
            unsigned long long seed = strtoull(value, &end, 10);
            ok = errno == 0 && end != value && *end == '\0' && value[0] != '-';
            o.seed = seed;
        } else if (strcmp(name, "--player") == 0) {
            ok = strcmp(value, "random") == 0 || strcmp(value, "engine") == 0;
            o.player = strcmp(value, "random") == 0 ? player_random : player_engine;
            // dxp:HOST:PORT, the port after the last colon.
            const char* colon = strrchr(value, ':');
            if (strncmp(value, "dxp:", 4) == 0 && colon > value + 4 &&
                size_t(colon - value - 4) < sizeof o.opponent_host &&
                whole_number(colon + 1, 1, 65535, number)) {
                snprintf(o.opponent_host, sizeof o.opponent_host, "%.*s", int(colon - value - 4),
                         value + 4);
                snprintf(o.opponent_port, sizeof o.opponent_port, "%ld", number);
                o.player = player_follower;
                ok = true;
            }
        } else if (strcmp(name, "--name") == 0) {
            ok = copy_text(o.name, sizeof o.name, value) && value[0];
            for (const char* p = value; ok && *p; ++p)
                ok = static_cast<unsigned char>(*p) >= 32 && *p != 127;
        } else if (strcmp(name, "--ballot") == 0) {
            ok = copy_text(o.ballot, sizeof o.ballot, value) && value[0];
        } else if (strcmp(name, "--pdn") == 0) {
            ok = copy_text(o.pdn, sizeof o.pdn, value) && value[0];
        } else {
            printf("dxp-match: unknown option %s (see --help)\n", name);
            return arguments_bad;
        }
        if (!ok) {
            printf("dxp-match: bad value \"%s\" for %s (see --help)\n", value, name);
            return arguments_bad;
        }
    }
    return arguments_ok;
}

// ---- the ballot ----------------------------------------------------------------------

static LegalMoves ballot_legal;

bool read_ballot_text(const char* text, Ballot& into) {
    into.count = 0;
    int line_number = 0;
    const char* p = text;
    while (*p) {
        ++line_number;
        const char* end = strchr(p, '\n');
        if (!end) end = p + strlen(p);
        char line[512];
        size_t length = size_t(end - p);
        if (length >= sizeof line) {
            printf("Ballot line %d is too long.\n", line_number);
            return true;
        }
        memcpy(line, p, length);
        line[length] = '\0';
        p = *end ? end + 1 : end;
        if (char* comment = strchr(line, '#')) *comment = '\0';
        char* first = line;
        while (*first == ' ' || *first == '\t' || *first == '\r') ++first;
        size_t n = strlen(first);
        while (n > 0 && (first[n - 1] == ' ' || first[n - 1] == '\t' || first[n - 1] == '\r'))
            first[--n] = '\0';
        if (*first == '\0') continue;

        Opening opening{};
        char error[160];
        if (parse_fen(first, opening.position, opening.white_to_move, error, sizeof error)) {
            printf("Ballot line %d: %s\n", line_number, error);
            return true;
        }
        const Position& q = opening.position;
        if (!opening.white_to_move) {
            // DXP followers such as our server refuse a start with black to move.
            printf("Ballot line %d: black to move; openings must have white to move.\n",
                   line_number);
            return true;
        }
        if ((q.white & ~q.kings & white_promotion_mask) ||
            (q.black & ~q.kings & black_promotion_mask)) {
            printf("Ballot line %d: a man stands on the row where it would be crowned.\n",
                   line_number);
            return true;
        }
        list_legal_moves(q, opening.white_to_move, ballot_legal);
        if (ballot_legal.count == 0 || (q.white == 0) || (q.black == 0)) {
            printf("Ballot line %d: the game is already over in this position.\n", line_number);
            return true;
        }
        if (into.count == max_openings) {
            printf("Ballot has more than %d openings.\n", max_openings);
            return true;
        }
        into.openings[into.count++] = opening;
    }
    if (into.count == 0) {
        printf("The ballot holds no opening.\n");
        return true;
    }
    return false;
}

bool load_ballot(const char* path, Ballot& into) {
    static char text[max_openings * 200];
    FILE* file = fopen(path, "rb");
    if (!file) {
        printf("Cannot open the ballot file %s.\n", path);
        return true;
    }
    size_t n = fread(text, 1, sizeof text - 1, file);
    bool too_big = n == sizeof text - 1 && fgetc(file) != EOF;
    bool failed = ferror(file) != 0;
    fclose(file);
    if (failed || too_big) {
        printf(too_big ? "The ballot file %s is too large.\n" : "Cannot read the ballot file %s.\n",
               path);
        return true;
    }
    text[n] = '\0';
    if (strlen(text) != n) {
        printf("The ballot file %s is not a text file.\n", path);
        return true;
    }
    return read_ballot_text(text, into);
}
