#!/bin/sh
# Runs a cross-built test program under wine (the command given) and runs it again, up to twice,
# when it failed without writing a byte. A test program always writes before it can fail, so such
# a run never reached it: wine itself failed to start it, which a busy machine has made happen a
# few times in thousands of runs. Its exit code is said, so that a cause can be looked for.
out=$(mktemp) && err=$(mktemp) || exit 1
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2 3; do
  "$@" >"$out" 2>"$err"
  code=$?
  if [ "$code" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ]; then break; fi
  echo "wine ended the program with code $code before it wrote anything (run $attempt of 3)" >&2
done
cat "$out"
cat "$err" >&2
exit "$code"
