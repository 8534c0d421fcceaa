#!/usr/bin/env bash
# Plays a match between two servers, each with the bundled stand-in engine in a temporary
# directory of its own, refereed by dxp-match (--player dxp:...): starts both servers on free
# ports, runs the match, stops the servers. Both stand-ins play at the same move time.
# Usage: tools/run-match.sh [BIN_DIR] [GAMES] [MOVE_TIME_SECONDS] [PDN_FILE] [dxp-match options...]
# The servers' logs are kept beside the PDN file as <PDN_FILE>.server.log (the server of
# --port) and <PDN_FILE>.opponent.log; a PDN file left by an earlier run is kept as <PDN_FILE>.old.
set -euo pipefail
bin=$(cd "${1:-build/bin}" && pwd)
games=${2:-10}
move_time=${3:-0.1}
pdn=${4:-match.pdn}
shift $(($# < 4 ? $# : 4))

for program in kavro-dxp winkavro.exe dxp-match; do
  [ -x "$bin/$program" ] || { echo "run-match: $bin/$program is missing; build first"; exit 1; }
done
movetime_ms=$(awk -v t="$move_time" 'BEGIN { ms = int(t * 1000 + 0.5); print (ms < 1 ? 1 : ms) }')
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

[ -f "$pdn" ] && mv -f "$pdn" "$pdn.old"
work=$(mktemp -d "${TMPDIR:-/tmp}/run-match.XXXXXX")
servers=()
cleanup() {
  for server in "${servers[@]}"; do
    # The stand-in is the server's child; it ends with the server, or we end it here.
    children=$(ps -o pid= --ppid "$server" 2>/dev/null || true)
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    for child in $children; do kill "$child" 2>/dev/null || true; done
  done
  for side in server opponent; do
    [ -f "$work/$side/server.log" ] && cp "$work/$side/server.log" "$pdn.$side.log"
  done
  rm -rf "$work"
}
trap cleanup EXIT

ports=()
for side in server opponent; do
  mkdir "$work/$side"
  cp "$bin/winkavro.exe" "$work/$side/"
  printf 'movetime_ms=%s\n' "$movetime_ms" > "$work/$side/winkavro.ini"
  port=$(free_port)
  "$bin/kavro-dxp" -t -port "$port" "$work/$side" > "$work/$side/server.log" 2>&1 &
  servers+=($!)
  ports+=("$port")
done

# Each server launches its stand-in and pauses before it listens.
for side in server opponent; do
  for _ in $(seq 1 100); do
    grep -q "Waiting for client connection." "$work/$side/server.log" 2>/dev/null && break
    sleep 0.1
  done
  grep -q "Waiting for client connection." "$work/$side/server.log" ||
    { echo "run-match: the $side did not start:"; cat "$work/$side/server.log"; exit 1; }
done

status=0
"$bin/dxp-match" --games "$games" --time "$move_time" --port "${ports[0]}" \
  --player "dxp:127.0.0.1:${ports[1]}" --pdn "$pdn" --retry 20 "$@" || status=$?
echo "Games written to $pdn; the servers' logs in $pdn.server.log and $pdn.opponent.log"
exit $status
