#!/usr/bin/env bash
# The one test command, the same that CI runs (.ci/run).
#
#   scripts/test.sh          installs every package a test needs (all lists
#                            in scripts/common.sh) and runs every group: the
#                            Windows build, the normal build with every test
#                            (FreeTDS, valgrind and the Windows programs under
#                            Wine included), the sanitizer build, the style
#                            check, a short fuzz run, the package check and
#                            the deployment check. A test that does not run
#                            (its tools missing) fails the run.
#   scripts/test.sh --quick  the inner loop: the normal build and its tests,
#                            with nothing installed beyond the build's needs;
#                            says what it left out.
set -euo pipefail
source "$(dirname "$0")/common.sh"
cd "$KRANZEL_ROOT"

quick=0
case "${1:-}" in
  --quick) quick=1 ;;
  "") ;;
  *)
    echo "usage: scripts/test.sh [--quick]" >&2
    exit 2
    ;;
esac

times=()
current=""
# A group that fails ends the run (set -e); the last lines say which one, so
# that nobody has to search the output for it.
report_failure() {
  local rc=$?
  if [ "$rc" -ne 0 ] && [ -n "$current" ]; then
    printf '\n==== FAILED: %s (exit %d). The groups before it passed:\n' "$current" "$rc" >&2
    printf '%s\n' "${times[@]}" >&2
  fi
}
trap report_failure EXIT
# group NAME COMMAND...: runs one group and notes how long it took.
group() {
  local name="$1" start=$SECONDS
  shift
  current="$name"
  printf '\n==== %s\n' "$name"
  "$@"
  current=""
  times+=("$(printf '  %-40s %5d s' "$name" $((SECONDS - start)))")
}

# tests DIR STRICT [ctest options...]: the build's tests. With STRICT, a test
# that did not run (ctest's "Skipped" or "Not Run") fails the group.
tests() {
  local dir="$1" strict="$2"
  shift 2
  local out="$dir/ctest-output.txt"
  (cd "$dir" && ctest --output-on-failure --no-tests=error -j"$(nproc)" "$@") 2>&1 | tee "$out"
  if [ "$strict" = 1 ] && grep -q "The following tests did not run" "$out"; then
    echo "FAILED: the tests listed above did not run; the full run runs every test." >&2
    echo "Install what they name (scripts/common.sh lists it) or run scripts/test.sh as root." >&2
    return 1
  fi
}

if [ "$quick" = 1 ]; then
  ensure_packages
  group "normal build" build "$KRANZEL_ROOT/build" -DKRANZEL_TESTS=ON \
    -DKRANZEL_WINDOWS_DIR="$KRANZEL_ROOT/build-windows"
  group "normal build: tests (not under Wine)" tests "$KRANZEL_ROOT/build" 0 -LE wine -E '^TdsClients\.'
  echo
  echo "Quick run passed. Left out (scripts/test.sh runs them): the Windows build and its"
  echo "tests under Wine, the listener's client matrix (TdsClients), the sanitizer build,"
  echo "the style check, the fuzz run, the package check and the deployment check; tests"
  echo "whose packages are missing were skipped (above)."
  printf '%s\n' "${times[@]}"
  exit 0
fi

mapfile -t packages < <(all_packages)
ensure_packages "${packages[@]}"

group "Windows build" bash scripts/build-windows.sh "$KRANZEL_ROOT/build-windows"
group "normal build" build "$KRANZEL_ROOT/build" -DKRANZEL_TESTS=ON \
  -DKRANZEL_WINDOWS_DIR="$KRANZEL_ROOT/build-windows"
# The SQL Server clients of the listener's client matrix (tedious goes into
# the build folder, from the npm registry).
group "client matrix" ensure_client_matrix "$KRANZEL_ROOT/build"
group "normal build: every test, Wine included" tests "$KRANZEL_ROOT/build" 1
# The sanitizer build leaves out only what cannot run in it: valgrind beside
# the sanitizers, and the Windows programs (its stand-in driver cannot be
# loaded into Wine).
group "sanitizer build" build "$KRANZEL_ROOT/build-sanitize" -DKRANZEL_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=Debug -DKRANZEL_TESTS=ON
ensure_client_matrix "$KRANZEL_ROOT/build-sanitize"
ASAN_OPTIONS=detect_leaks=1 group "sanitizer build: tests" \
  tests "$KRANZEL_ROOT/build-sanitize" 1 -E '^Valgrind\.' -LE wine
group "style check" bash scripts/check-style.sh
group "fuzz run (20 s a target)" bash scripts/fuzz.sh 20
group "package check" bash scripts/package-check.sh
# The deployment page's steps, with the packages the package check built.
KRANZEL_DEBS="$KRANZEL_ROOT/build-deb" group "deployment check" bash scripts/deploy-check.sh

echo
echo "All tests passed: every group ran (${SECONDS} s in all)."
printf '%s\n' "${times[@]}"
