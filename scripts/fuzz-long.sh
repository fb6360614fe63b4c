#!/usr/bin/env bash
# Long fuzzing campaigns: every fuzz target (or those named) for a fixed number
# of executions, from its committed seed corpus, one after the other on one
# core. New inputs go to a working corpus in the build folder, findings to
# its artifacts folder; copy a finding into fuzz/corpus/<target>/ once it is
# fixed, so that the test command replays it for ever.
#
#   scripts/fuzz-long.sh [-n executions per target] [target ...]
#
# TARVION_FUZZ_SECONDS caps each target's time as well (no cap by default).
#
# Needs clang with libFuzzer (Debian: clang libclang-rt-14-dev). Prints one
# line per target with its executions, rate and corpus size; exit 0 only when
# no target found anything.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${TARVION_FUZZ_BUILD:-$root/build/fuzz}
runs=10000000
if [ "${1:-}" = "-n" ]; then runs=$2; shift 2; fi

CXX=clang++ cmake -S "$root" -B "$dir" -G Ninja -DTARVION_BUILD_FUZZ=ON -DTARVION_BUILD_TESTS=OFF \
  >"$dir.configure.log" 2>&1 || { tail -20 "$dir.configure.log"; exit 1; }
nice cmake --build "$dir" -j1 --target fuzz_targets >"$dir.build.log" 2>&1 ||
  { grep -E 'error|FAILED' -A5 "$dir.build.log" | head -40; exit 1; }

targets=("$@")
if ((${#targets[@]} == 0)); then
  for src in "$root"/fuzz/*_fuzz.cpp; do targets+=("$(basename "$src" .cpp)"); done
fi
found=0
for t in "${targets[@]}"; do
  work=$dir/corpus-work/$t art=$dir/artifacts/$t
  mkdir -p "$work" "$art"
  start=$(date +%s)
  nice "$dir/fuzz/$t" -runs="$runs" -max_total_time="${TARVION_FUZZ_SECONDS:-0}" -print_final_stats=1 -artifact_prefix="$art/" \
    "$work" "$root/fuzz/corpus/$t" >"$dir/$t.log" 2>&1
  rc=$?
  secs=$(($(date +%s) - start))
  execs=$(grep -o 'number_of_executed_units: *[0-9]*' "$dir/$t.log" | grep -o '[0-9]*$')
  rate=$(grep -o 'average_exec_per_sec: *[0-9]*' "$dir/$t.log" | grep -o '[0-9]*$')
  if [ "$rc" -ne 0 ]; then
    found=$((found + 1))
    echo "$t: FINDING after ${execs:-?} executions (exit $rc); see $dir/$t.log and $art/"
  else
    echo "$t: ${execs:-?} executions in ${secs}s (${rate:-?}/s), no finding; corpus $(ls "$work" | wc -l) inputs"
  fi
done
[ "$found" -eq 0 ]
