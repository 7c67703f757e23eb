#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in the normal
# build and once with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages

# The Windows programs, for the tests that run them under Wine.
if have_windows_tools; then
  bash "$KRANZEL_ROOT/scripts/build-windows.sh" "$KRANZEL_ROOT/build-windows"
else
  echo "Windows build and its tests under Wine skipped: install ${KRANZEL_WINDOWS_TEST_PACKAGES[*]} to run them."
fi

build "$KRANZEL_ROOT/build" -DKRANZEL_TESTS=ON -DKRANZEL_WINDOWS_DIR="$KRANZEL_ROOT/build-windows"
(cd "$KRANZEL_ROOT/build" && ctest --output-on-failure --no-tests=error -j"$(nproc)")

build "$KRANZEL_ROOT/build-sanitize" -DKRANZEL_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DKRANZEL_TESTS=ON
(cd "$KRANZEL_ROOT/build-sanitize" && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure --no-tests=error -j"$(nproc)")
echo "All tests passed (normal and sanitizer builds)."
