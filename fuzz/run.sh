#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for FUZZ_SECONDS
# (default 60) on a scratch copy of its committed seed corpus, then prints the executions and
# findings per target. Exit status 1 when any target found something.
# Usage: fuzz/run.sh [target...]     (default: every target built)
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
seconds="${FUZZ_SECONDS:-60}"
jobs="${JOBS:-2}"

"$root/tools/ensure-deps.sh" fuzz || exit 1
CXX="${FUZZ_CXX:-clang++}" cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKAVRO_FUZZ=ON -DKAVRO_BUILD_TESTS=OFF -DKAVRO_BUILD_BENCH=OFF >/dev/null || exit 1
ninja -C "$build" -j "$jobs" fuzz-targets || exit 1

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in "$build"/bin/fuzz-*; do [ -x "$f" ] && targets+=("$(basename "$f" | sed 's/^fuzz-//')"); done
fi
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets built"; exit 1; }

# The longest input worth trying per target.
max_len() {
  case "$1" in
    decode) echo 140 ;;
    framing) echo 4096 ;;
    fen) echo 400 ;;
    *) echo 512 ;;
  esac
}

status=0
summary=()
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  findings="$build/findings/$t"
  log="$build/fuzz-$t.log"
  mkdir -p "$corpus" "$findings"
  [ -d "$root/fuzz/corpus/$t" ] && cp -n "$root/fuzz/corpus/$t"/* "$corpus"/ 2>/dev/null
  rm -f "$findings"/*
  echo "== fuzz-$t for ${seconds}s (log: $log)"
  "$build/bin/fuzz-$t" -max_total_time="$seconds" -max_len="$(max_len "$t")" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$corpus" >"$log" 2>&1
  rc=$?
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
  [ -n "$runs" ] || runs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
  found=$(find "$findings" -type f | wc -l)
  line=$(printf '%-10s executions %-12s corpus %-6s findings %s' "$t" "${runs:-?}" \
    "$(find "$corpus" -type f | wc -l)" "$found")
  if [ "$rc" -ne 0 ] || [ "$found" -gt 0 ]; then
    status=1
    line="$line   FAILED (exit $rc): $(find "$findings" -type f | head -3 | tr '\n' ' ')"
    grep -m3 -E 'ERROR|runtime error|SUMMARY' "$log" | sed 's/^/    /'
  fi
  summary+=("$line")
done
echo "== fuzz summary (${seconds}s each)"
printf '%s\n' "${summary[@]}"
exit $status
