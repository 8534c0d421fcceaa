#!/usr/bin/env bash
# dxp-match with random moves plays a few short games from endgame positions against the
# real server and stand-in; the games it writes must read back as the same games that
# dxp-log2pdn takes out of the server's log.
# Usage: match_e2e.sh BIN_DIR PDN_COMPARE
set -euo pipefail
bin=$1
compare=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/match-e2e.XXXXXX")
server=""
cleanup() {
  if [ -n "$server" ]; then
    children=$(ps -o pid= --ppid "$server" 2>/dev/null || true)
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
    for child in $children; do kill "$child" 2>/dev/null || true; done
  fi
  rm -rf "$work"
}
trap cleanup EXIT

cp "$bin/winkavro.exe" "$work/"
printf 'movetime_ms=30\n' > "$work/winkavro.ini"
cat > "$work/ballot.txt" <<'BALLOT'
# white to move; short endgames
W:W28,33,38,39:B12,13,19   # men only
W:WK46,31,35:B9,14,K3      # kings on both sides
BALLOT

"$bin/kavro-dxp" -t "$work" > "$work/server.log" 2>&1 &
server=$!
for _ in $(seq 1 100); do
  grep -q "Waiting for client connection." "$work/server.log" 2>/dev/null && break
  sleep 0.1
done

status=0
"$bin/dxp-match" --player random --seed 5 --ballot "$work/ballot.txt" --games 4 --moves 12 \
  --pdn "$work/match.pdn" --retry 20 --wait 60 > "$work/match.out" 2>&1 || status=$?
cat "$work/match.out"
if [ "$status" -ne 0 ]; then
  echo "dxp-match failed with status $status; server log:"
  tail -30 "$work/server.log"
  exit 1
fi

# The server stops once the connection is gone.
for _ in $(seq 1 50); do
  kill -0 "$server" 2>/dev/null || break
  sleep 0.1
done
grep -q "Received: DXP_CONNECTIONLOST" "$work/server.log" || { echo "server did not see the end"; exit 1; }

# Port 27531 is one for the whole machine: make sure the games were played with our server.
if ! grep -q "GAMEREQ from dxp-match" "$work/server.log"; then
  echo "our server saw no game: another program holds port 27531? server log:"
  cat "$work/server.log"
  exit 1
fi
"$bin/dxp-log2pdn" "$work/server.log" -o "$work/log.pdn"
"$compare" "$work/match.pdn" "$work/log.pdn" 4
