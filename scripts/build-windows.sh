#!/usr/bin/env bash
# Builds the Windows programs kranzel.exe, kranzel-ini.exe and
# kranzel-check.exe with the mingw-w64 cross compiler (installed when missing,
# like wixl from msitools) into build-windows/, and beside them the Windows zip
# (kranzel-<version>-windows-x64.zip) and the MSI (kranzel-<version>-x64.msi).
# The shipped programs are stripped; their debug information stays in
# build-windows/<program>.exe.debug.
#   scripts/build-windows.sh [BUILD_DIR] [cmake options...]
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages "${KRANZEL_WINDOWS_BUILD_PACKAGES[@]}"

dir="${1:-$KRANZEL_ROOT/build-windows}"
[ $# -gt 0 ] && shift
build "$dir" -DCMAKE_TOOLCHAIN_FILE="$KRANZEL_ROOT/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release "$@"
(cd "$dir" && cpack -G ZIP >/dev/null)
cmake --build "$dir" --target msi >/dev/null
echo "Built $dir/kranzel.exe, $dir/kranzel-ini.exe and $dir/kranzel-check.exe"
ls "$dir"/kranzel-*.zip "$dir"/kranzel-*.msi
