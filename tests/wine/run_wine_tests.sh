#!/bin/sh
# Runs the Windows group under Wine. Now and then (about one run in eight
# here) Wine kills one of the programs it runs under the clock sped up a
# thousandfold, which faketime reports as "Caught Killed" and which ends that
# run with exit 1 whatever the program did. That is Wine's doing, not the
# tool's: the group then runs again in a fresh prefix, at most three times,
# and says so. A failure without that mark fails at once; a real fault of the
# tool fails every time.
tests="$1"
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
for run in 1 2 3; do
  "$tests" >"$out" 2>&1
  rc=$?
  cat "$out"
  [ "$rc" -eq 0 ] && exit 0
  if [ "$run" -lt 3 ] && grep -q "Caught Killed" "$out"; then
    echo "Wine killed a program of this run (\"Caught Killed\" from faketime): the group runs again in a fresh prefix ($run of 3)."
    continue
  fi
  exit "$rc"
done
