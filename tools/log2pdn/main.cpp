// dxp-log2pdn [LOG] [-o PDN]: the games of a server log as PDN; the log from a file or, with
// no file or "-", from standard input; the games to a file or standard output.
#include <cstdio>
#include <cstring>

#include "board/board.h"
#include "tools/log2pdn/log2pdn.h"

int main(int argc, char** argv) {
    const char* input_path = nullptr;
    const char* output_path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            printf("Usage: dxp-log2pdn [LOG] [-o PDN]\n"
                   "Writes the games of a kavro-dxp log (its standard output) as PDN.\n"
                   "Reads standard input when LOG is missing or \"-\"; writes standard output "
                   "without -o.\n");
            return 0;
        }
        if (strcmp(argv[i], "-o") == 0 || strcmp(argv[i], "--output") == 0) {
            if (i + 1 >= argc) {
                fprintf(stderr, "dxp-log2pdn: %s needs a file name\n", argv[i]);
                return 2;
            }
            output_path = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            fprintf(stderr, "dxp-log2pdn: unknown option %s (see --help)\n", argv[i]);
            return 2;
        } else if (input_path) {
            fprintf(stderr, "dxp-log2pdn: one log at a time (see --help)\n");
            return 2;
        } else {
            input_path = argv[i];
        }
    }
    FILE* input = stdin;
    if (input_path && strcmp(input_path, "-") != 0) {
        input = fopen(input_path, "r");
        if (!input) {
            fprintf(stderr, "dxp-log2pdn: cannot open %s\n", input_path);
            return 1;
        }
    }
    FILE* output = stdout;
    if (output_path) {
        output = fopen(output_path, "w");
        if (!output) {
            fprintf(stderr, "dxp-log2pdn: cannot write %s\n", output_path);
            return 1;
        }
    }
    fill_bit_count_table();
    build_ray_table();
    start_log(output, stderr);

    static char line[8192];
    bool failed = false;
    while (!failed && fgets(line, sizeof line, input)) {
        size_t length = strlen(line);
        bool whole = length > 0 && line[length - 1] == '\n';
        while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
            line[--length] = '\0';
        if (!whole && !feof(input)) {
            // Longer than any line the server writes about a game: skip the rest of it.
            int c;
            while ((c = fgetc(input)) != EOF && c != '\n') {
            }
            continue;
        }
        failed = read_log_line(line);
    }
    if (!failed && ferror(input)) {
        fprintf(stderr, "dxp-log2pdn: cannot read the log\n");
        failed = true;
    }
    if (!failed) failed = finish_log();
    if (output != stdout && fclose(output) != 0) failed = true;
    if (input != stdin) fclose(input);
    if (failed) return 1;
    fprintf(stderr, "dxp-log2pdn: %d games written%s\n", log_summary.games,
            log_summary.problems ? "; some log lines did not fit their game (see above)" : "");
    return 0;
}
