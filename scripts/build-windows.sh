#!/usr/bin/env bash
# Builds the Windows programs kranzel.exe and kranzel-ini.exe with the
# mingw-w64 cross compiler (installed when missing) into build-windows/, and
# the Windows zip beside them (kranzel-[<version>-]windows-x64.zip).
#   scripts/build-windows.sh [BUILD_DIR] [cmake options...]
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages "${KRANZEL_WINDOWS_BUILD_PACKAGES[@]}"

dir="${1:-$KRANZEL_ROOT/build-windows}"
[ $# -gt 0 ] && shift
build "$dir" -DCMAKE_TOOLCHAIN_FILE="$KRANZEL_ROOT/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=Release "$@"
(cd "$dir" && cpack -G ZIP >/dev/null)
echo "Built $dir/kranzel.exe and $dir/kranzel-ini.exe"
ls "$dir"/kranzel-*.zip
