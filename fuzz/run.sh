#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each for FUZZ_SECONDS
# (default 60) on a scratch copy of its seed corpus; findings go to build-fuzz/findings/<target>/.
# Exit status 1 when any target found something.   Usage: fuzz/run.sh [target...]
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
"$root/tools/ensure-deps.sh" fuzz || exit 1
CXX="${FUZZ_CXX:-clang++}" cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKAVRO_FUZZ=ON -DKAVRO_BUILD_TESTS=OFF -DKAVRO_BUILD_BENCH=OFF >/dev/null || exit 1
ninja -C "$build" -j "${JOBS:-2}" fuzz-targets || exit 1
targets=("$@")
[ $# -gt 0 ] || targets=(decode framing fen translate)
status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t" findings="$build/findings/$t"
  mkdir -p "$corpus" "$findings" && rm -f "$findings"/*
  cp -n "$root/fuzz/corpus/$t"/* "$corpus"/ 2>/dev/null
  # Longer inputs than a target can use only slow it down: a text is at most 132 characters,
  # a move needs a mode, 50 squares and a text, and a short framing input fills the ring.
  case "$t" in decode) max_len=160 ;; translate) max_len=256 ;; framing) max_len=1024 ;;
    *) max_len=4096 ;; esac
  echo "== fuzz-$t for ${FUZZ_SECONDS:-60}s (log: $build/fuzz-$t.log)"
  "$build/bin/fuzz-$t" -max_total_time="${FUZZ_SECONDS:-60}" -max_len=$max_len -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" \
    >"$build/fuzz-$t.log" 2>&1
  rc=$? found=$(find "$findings" -type f | wc -l)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/fuzz-$t.log")
  echo "$t: exit $rc, findings $found, ${runs:-?} executions"
  if [ "$rc" -ne 0 ] || [ "$found" -gt 0 ]; then
    status=1
    grep -m3 -E 'ERROR|runtime error|fuzz check failed' "$build/fuzz-$t.log" | sed 's/^/    /'
  fi
done
exit $status
