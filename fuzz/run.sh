#!/usr/bin/env bash
# Runs each fuzz target for FUZZ_SECONDS (default 60) over its seed corpus, with the limits CI
# holds it to. Fails on any crash, sanitizer report, leak, timeout or allocation over 2 GB; the
# input that caused it is left in BUILD/fuzz/artifacts/.
# Usage: fuzz/run.sh BUILD [TARGET...]   (targets: scene_file obj weights_file pc2 mdd)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(scene_file obj weights_file pc2 mdd)
seconds="${FUZZ_SECONDS:-60}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:halt_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"


failed=()
for target in "${targets[@]}"; do
  program="$build/fuzz/fuzz_$target"
  work="$build/fuzz/work/$target"      # what this run finds; the seeds stay as checked in
  artifacts="$build/fuzz/artifacts"
  log="$build/fuzz/$target.log"
  mkdir -p "$work" "$artifacts"
  echo "== fuzz $target: ${seconds}s"
  status=0
  "$program" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=2048 -timeout=10 \
    -max_len=1048576 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
    "$work" "$here/corpus/$target" >"$log" 2>&1 || status=$?
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$log" || true
  if [ "$status" -ne 0 ]; then
    echo "fuzz $target FAILED (exit $status); the end of $log:"
    tail -n 60 "$log"
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]}"
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets, ${seconds}s each, nothing found"
