#!/usr/bin/env bash
# Runs every native fuzz target for its share of SECONDS, each on its own
# corpus (kept between runs) seeded from SEEDS. Prints each target's final
# statistics and exits non-zero when a target found a failing input; the
# input is kept as <build>/findings/<target>-crash-*.
# Usage: run.sh BUILD_DIR SEEDS_DIR SECONDS
set -uo pipefail
build=$1 seeds=$2 seconds=$3
targets=(${FUZZ_TARGETS:-pipeline clean conditioning inflate boundary triangulate graph tiles})
share=$(( seconds / ${#targets[@]} ))
[ "$share" -lt 1 ] && share=1
mkdir -p "$build/corpus" "$build/findings" "$build/logs"
status=0
for t in "${targets[@]}"; do
  mkdir -p "$build/corpus/$t"
  export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  "$build/tests/fuzz/native/fuzz_$t" "$build/corpus/$t" "$seeds/$t" \
      -max_total_time="$share" -timeout=20 -rss_limit_mb=4096 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$build/findings/$t-" \
      >"$build/logs/$t.log" 2>&1
  rc=$?
  runs=$(awk '/stat::number_of_executed_units:/ {print $2}' "$build/logs/$t.log")
  speed=$(awk '/stat::average_exec_per_sec:/ {print $2}' "$build/logs/$t.log")
  echo "fuzz_$t: ${runs:-?} runs, ${speed:-?} exec/s, exit $rc"
  if [ "$rc" -ne 0 ]; then
    status=1
    grep -m3 -E 'ERROR|runtime error|SUMMARY' "$build/logs/$t.log"
  fi
done
exit $status
