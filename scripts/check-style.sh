#!/usr/bin/env bash
# Style check (CI runs it): every tracked .cpp/.h under src/ tools/ standin/
# tests/ fuzz/ bench/ formatted as .clang-format says, and clang-tidy clean
# (.clang-tidy) over the tool's and the stand-in's sources. Tidy reads
# build/compile_commands.json and configures build/ when it is missing.
# Fix formatting with:  git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=common.sh
source scripts/common.sh
ensure_packages "${KRANZEL_STYLE_PACKAGES[@]}"

jobs="$(nproc)"
status=0

echo "== clang-format"
mapfile -t sources < <(git ls-files -- 'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h' \
  'standin/*.cpp' 'standin/*.h' 'tests/*.cpp' 'tests/*.h' 'fuzz/*.cpp' 'fuzz/*.h' \
  'bench/*.cpp' 'bench/*.h')
if ! printf '%s\0' "${sources[@]}" | xargs -0 -n 16 -P "$jobs" clang-format --dry-run --Werror; then
  echo "clang-format: files not formatted (see above)" >&2
  status=1
fi

echo "== clang-tidy"
if [ ! -f build/compile_commands.json ]; then
  cmake -S . -B build >/dev/null
fi
# Only sources the Linux build compiles (platform_win.cpp is the Windows
# build's and is not in the compilation database).
mapfile -t units < <(jq -r '.[].file' build/compile_commands.json |
  sed "s#^$PWD/##" | grep -E '^(src|tools|standin)/' | sort -u)
if ! printf '%s\0' "${units[@]}" |
  xargs -0 -n 1 -P "$jobs" clang-tidy -p build --quiet --warnings-as-errors='*'; then
  echo "clang-tidy: findings (see above)" >&2
  status=1
fi

[ "$status" -eq 0 ] && echo "style: clean"
exit "$status"
