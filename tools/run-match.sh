#!/usr/bin/env bash
# Plays a match of dxp-match against the server with the bundled stand-in engine, both at the
# same move time: starts kavro-dxp in a temporary directory, runs the match, stops the server.
# Usage: tools/run-match.sh [BIN_DIR] [GAMES] [MOVE_TIME_SECONDS] [PDN_FILE] [dxp-match options...]
# The server's log is kept beside the PDN file as <PDN_FILE>.server.log; a PDN file left by an
# earlier run is kept as <PDN_FILE>.old.
set -euo pipefail
bin=$(cd "${1:-build/bin}" && pwd)
games=${2:-20}
move_time=${3:-0.1}
pdn=${4:-match.pdn}
shift $(($# < 4 ? $# : 4))

for program in kavro-dxp winkavro.exe dxp-match; do
  [ -x "$bin/$program" ] || { echo "run-match: $bin/$program is missing; build first"; exit 1; }
done
movetime_ms=$(awk -v t="$move_time" 'BEGIN { ms = int(t * 1000 + 0.5); print (ms < 1 ? 1 : ms) }')

[ -f "$pdn" ] && mv -f "$pdn" "$pdn.old"
work=$(mktemp -d "${TMPDIR:-/tmp}/run-match.XXXXXX")
server=""
cleanup() {
  if [ -n "$server" ]; then
    # The stand-in is the server's child; it ends with the server, or we end it here.
    children=$(ps -o pid= --ppid "$server" 2>/dev/null || true)
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    for child in $children; do kill "$child" 2>/dev/null || true; done
  fi
  [ -f "$work/server.log" ] && cp "$work/server.log" "$pdn.server.log"
  rm -rf "$work"
}
trap cleanup EXIT

cp "$bin/winkavro.exe" "$work/"
printf 'movetime_ms=%s\n' "$movetime_ms" > "$work/winkavro.ini"
"$bin/kavro-dxp" -t "$work" > "$work/server.log" 2>&1 &
server=$!

# The server launches the stand-in and pauses before it listens.
for _ in $(seq 1 100); do
  grep -q "Waiting for client connection." "$work/server.log" 2>/dev/null && break
  kill -0 "$server" 2>/dev/null || { echo "run-match: the server stopped:"; cat "$work/server.log"; exit 1; }
  sleep 0.1
done

status=0
"$bin/dxp-match" --games "$games" --time "$move_time" --player engine --pdn "$pdn" \
  --retry 20 "$@" || status=$?
echo "Games written to $pdn; server log in $pdn.server.log"
exit $status
