// dxp-match: a DXP initiator that plays a match and writes its games as PDN.
#include "platform/platform.h"
#include "tools/dxp_match/match.h"

int main(int argc, char** argv) {
    setup_line_output();
    MatchOptions options;
    switch (parse_match_arguments(argc, argv, options)) {
    case arguments_help:
        return 0;
    case arguments_bad:
        return 2;
    case arguments_ok:
        break;
    }
    return run_match(options);
}
