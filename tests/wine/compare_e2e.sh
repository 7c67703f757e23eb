#!/usr/bin/env bash
# The end-to-end suites with the Windows programs under Wine, compared with
# the Linux build. Both runs of the suites (the filter, $2) capture what a
# user of the tool sees in each case (KRANZEL_E2E_CAPTURE: each run's
# arguments, exit code and console output, every statement the database
# received, the log, standard error); each case that ran under Wine must
# have captured the same text as the Linux build, its CR LF line ends read as
# line ends (the harness checks that every line has one). Left out of the
# comparison: standard error (the added diagnostics name the system's errors
# in each platform's own words), cases skipped under Wine, and cases whose
# runs take turns at a lock in either order. The Wine run's own assertions
# check the rows and work files as the Linux run's do.
#   compare_e2e.sh <kranzel_tests> <gtest filter>
# Exits 77 (skipped) when the Windows build or Wine is missing.
set -uo pipefail
tests="$1"
filter="$2"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/linux" "$dir/windows"

if ! KRANZEL_E2E_CAPTURE="$dir/linux" "$tests" --gtest_filter="$filter" >"$dir/linux.txt" 2>&1; then
  cat "$dir/linux.txt"
  echo "compare_e2e: the Linux build's run failed (above), so there is nothing to compare with" >&2
  exit 1
fi
KRANZEL_E2E_WINE=1 KRANZEL_E2E_CAPTURE="$dir/windows" "$tests" --gtest_filter="$filter" |
  tee "$dir/windows.txt"
status=${PIPESTATUS[0]}
[ "$status" -eq 77 ] && exit 77
# A case skipped part way captured only its first part.
sed -n 's/^\[  SKIPPED \] \([^ ]*\) (.*/\1/p' "$dir/windows.txt" | while read -r name; do
  rm -f "$dir/windows/$name.txt"
done
rm -f "$dir/windows/"*TakeTurns.txt

# The server's date enters some statements (the IDN records without a date
# of their own); a pair of runs on either side of midnight differs in it, so
# the days around the runs compare as one.
days=()
for offset in -1 0 1 2; do
  days+=("$(date -d "$offset day" +%Y%m%d)")
done
normalize() {
  local expr="" d
  for d in "${days[@]}"; do
    expr+="s/${d}/<day>/g;s/${d:0:4}-${d:4:2}-${d:6:2}/<day>/g;s/${d:6:2}\\.${d:4:2}\\.${d:0:4}/<day>/g;"
  done
  sed '/^== stderr$/,$d' "$1" | sed "$expr"
}

compared=0
differing=0
for file in "$dir/windows"/*.txt; do
  [ -e "$file" ] || continue
  name="$(basename "$file")"
  compared=$((compared + 1))
  if ! diff -u --label "linux/$name" --label "windows/$name" <(normalize "$dir/linux/$name") \
    <(normalize "$file"); then
    differing=$((differing + 1))
  fi
done
echo "compare_e2e: $compared cases compared with the Linux build, $differing differ"
[ "$compared" -gt 0 ] || { echo "compare_e2e: no case ran under Wine" >&2; exit 1; }
[ "$differing" -eq 0 ] && [ "$status" -eq 0 ]
