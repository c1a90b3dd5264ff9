#!/usr/bin/env bash
# Runs every fuzz target for a bounded time on a seed corpus made from the test data.
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS_PER_TARGET
# A crash, hang or sanitizer report stops that target, keeps the input under
# BUILD_DIR/artifacts/, and makes this script fail.
set -euo pipefail
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$build/artifacts"
status=0
for target in read_netlist read_value write_netlist; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  cp "$root"/tests/data/fuzz/"$target"/* "$corpus"/ 2>/dev/null || true
  if [[ $target != read_value ]]; then
    cp "$root"/examples/*.sp "$root"/tests/data/golden/*.sp "$corpus"/
  fi
  echo "== fuzz_$target: ${seconds}s"
  if ! "$build/fuzz/fuzz_$target" "$corpus" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=4096 -max_len=65536 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target-" 2>"$build/fuzz_$target.log"; then
    status=1
    tail -n 40 "$build/fuzz_$target.log"
  fi
  grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$build/fuzz_$target.log" || true
done
exit $status
