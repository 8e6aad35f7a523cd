#!/usr/bin/env bash
# Runs the fuzz targets over their seed corpora, sharing FUZZ_BUDGET seconds (default 300) equally,
# or each for FUZZ_SECONDS when that is set, with the limits CI holds them to. Fails on any crash,
# sanitizer report, leak, timeout, allocation over 2 GB or file left in its temporary folder (each
# target has its own, under BUILD/fuzz/tmp/); the input that caused it is left in
# BUILD/fuzz/artifacts/.
#
# The character target mutates Assimp's test models and reads each in the reader's process, where
# a crash inside Assimp is a refusal; FUZZ_CHARACTER_MUTATE=0 runs its seeds once only.
# Usage: fuzz/run.sh BUILD [TARGET...]
#   (targets: scene_file obj weights_file pc2 mdd character character_transport)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(scene_file obj weights_file pc2 mdd character character_transport)
mutating=0
for target in "${targets[@]}"; do
  [ "$target" = character ] && [ "${FUZZ_CHARACTER_MUTATE:-1}" != 1 ] || mutating=$((mutating + 1))
done
seconds="${FUZZ_SECONDS:-$(( ${FUZZ_BUDGET:-300} / (mutating > 0 ? mutating : 1) ))}"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:halt_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"


failed=()
for target in "${targets[@]}"; do
  program="$build/fuzz/fuzz_$target"
  work="$build/fuzz/work/$target"      # what this run finds; the seeds stay as checked in
  artifacts="$build/fuzz/artifacts"
  log="$build/fuzz/$target.log"
  mkdir -p "$work" "$artifacts"
  seeds=("$here/corpus/$target")
  if [ "$target" = character ]; then
    # Seeds from Assimp's test models (Debian's assimp-testmodels), copied rather than checked in.
    seeds=("$build/fuzz/seeds/character")
    mkdir -p "${seeds[0]}"
    while read -r model; do
      [ -z "$model" ] || [ ! -f "/usr/share/assimp/models/$model" ] ||
        cp "/usr/share/assimp/models/$model" "${seeds[0]}/$(echo "$model" | tr / _)"
    done <"$here/character_seeds.txt"
    # Leaks inside Assimp itself are known and not ours to mend (lsan_assimp.supp says which).
    export LSAN_OPTIONS="suppressions=$here/lsan_assimp.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
  fi
  limit=(-max_total_time="$seconds")
  if [ "$target" = character ] && [ "${FUZZ_CHARACTER_MUTATE:-1}" != 1 ]; then
    limit=(-runs=0)
    echo "== fuzz $target: its seeds once"
  else
    echo "== fuzz $target: ${seconds}s"
  fi
  # A temporary folder of the target's own: a clean run must leave it empty.
  temporary="$build/fuzz/tmp/$target"
  rm -rf "$temporary"
  mkdir -p "$temporary"
  status=0
  TMPDIR="$temporary" "$program" "${limit[@]}" -rss_limit_mb=2048 -malloc_limit_mb=2048 -timeout=10 \
    -max_len=1048576 -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
    "$work" "${seeds[@]}" >"$log" 2>&1 || status=$?
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' "$log" || true
  if [ "$status" -ne 0 ]; then
    echo "fuzz $target FAILED (exit $status); the end of $log:"
    tail -n 60 "$log"
    failed+=("$target")
  elif [ -n "$(ls -A "$temporary")" ]; then
    echo "fuzz $target FAILED: it left files in its temporary folder: $(ls -A "$temporary" | head -5)"
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing found faults in: ${failed[*]}"
  exit 1
fi
echo "fuzzing: ${#targets[@]} targets, ${seconds}s each, nothing found"
