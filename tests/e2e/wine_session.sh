#!/usr/bin/env bash
# The wine side of the Windows tests: a private wine prefix under the build tree, the Windows
# platform checks, and the end of the session.
#
#   wine_session.sh prefix <prefix>                       make the prefix (once) and start wine
#   wine_session.sh check <prefix> <source dir> <work dir> build and run the platform checks
#   wine_session.sh stop <prefix>                         end every wine process of the prefix
#
# Exit status 77 (ctest's skip) when wine or the cross compiler is not installed.
set -uo pipefail

skip=77
action=${1:-}
prefix=${2:-}
[ -n "$prefix" ] && prefix=$(realpath -m "$prefix") # wine wants an absolute path
[ -n "$action" ] && [ -n "$prefix" ] || { echo "usage: $0 prefix|check|stop <prefix> ..."; exit 2; }

export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No .NET or HTML engine: there is nothing to fetch them from, and nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="

need_wine() {
    if ! command -v wine >/dev/null 2>&1 || ! command -v wineserver >/dev/null 2>&1; then
        echo "wine is not installed (make windows installs it): skipped"
        exit $skip
    fi
}

# Wine's own background processes keep the output of the wine program that started them
# open for seconds after it has ended: every wine program here writes into a file.
run_logged() {
    local log=$1
    shift
    "$@" </dev/null >"$log" 2>&1
}

case "$action" in
prefix)
    need_wine
    mkdir -p "$prefix" || exit 1
    if [ ! -f "$prefix/.kavro-ready" ]; then
        echo "making the wine prefix $prefix (the first time takes a while)"
        start=$(date +%s)
        run_logged "$prefix/../wineboot.log" wineboot -i || { cat "$prefix/../wineboot.log"; exit 1; }
        # With the null graphics driver the hidden window of the event queue needs no display.
        run_logged "$prefix/../reg.log" wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics \
            /d null /f || { cat "$prefix/../reg.log"; exit 1; }
        wineserver -w
        touch "$prefix/.kavro-ready"
        echo "wine prefix ready in $(($(date +%s) - start)) s"
    fi
    # One wine server for the whole session, started apart from any test's output; it ends
    # by itself a minute after its last program should the session's end never run.
    wineserver -p60 </dev/null >/dev/null 2>&1
    echo "wine session started"
    ;;
check)
    need_wine
    source_dir=${3:?source dir}
    work_dir=${4:?work dir}
    compiler=$(command -v x86_64-w64-mingw32-g++-posix || command -v x86_64-w64-mingw32-g++)
    if [ -z "$compiler" ]; then
        echo "the mingw-w64 cross compiler is not installed (make windows installs it): skipped"
        exit $skip
    fi
    mkdir -p "$work_dir" || exit 1
    program=$work_dir/wine_platform_check.exe
    sources=("$source_dir/tests/e2e/wine_platform_check.cpp" "$source_dir"/platform/win32/*.cpp)
    if [ ! -f "$program" ] || [ -n "$(find "${sources[@]}" "$source_dir/platform/platform.h" \
        -newer "$program")" ]; then
        # Built like the stand-in: warnings are errors, static runtime, low fixed image base.
        "$compiler" -std=c++20 -O2 -Wall -Wextra -Wpedantic -Wshadow -Wconversion \
            -Wno-sign-conversion -Werror -static -I"$source_dir" "${sources[@]}" -lws2_32 \
            -Wl,--image-base=0x10000 -Wl,--disable-dynamicbase -o "$program.new" || exit 1
        mv "$program.new" "$program"
    fi
    cd "$work_dir" || exit 1
    run_logged check.log wine wine_platform_check.exe
    status=$?
    cat check.log
    exit $status
    ;;
stop)
    need_wine
    [ -d "$prefix" ] || exit 0
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    echo "wine session ended"
    ;;
*) echo "unknown action $action"; exit 2 ;;
esac
