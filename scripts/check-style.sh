#!/usr/bin/env bash
# Style check (CI runs it): every tracked .cpp/.h under src/ tools/ standin/
# tests/ fuzz/ bench/ formatted as .clang-format says, and clang-tidy clean
# (.clang-tidy) over every one of them that a build compiles: the Linux
# build's sources, tests and benchmark (build/compile_commands.json,
# configured when missing), the fuzz targets (build-fuzz/, configured with
# clang when missing, as scripts/fuzz.sh does) and the Windows platform files
# (build-windows/compile_commands.json, when the Windows build is there).
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
  cmake -S . -B build -DKRANZEL_TESTS=ON >/dev/null
fi
if [ ! -f build-fuzz/compile_commands.json ] && command -v clang++ >/dev/null 2>&1; then
  cmake -S . -B build-fuzz -DKRANZEL_FUZZ=ON -DKRANZEL_TESTS=OFF -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
# units DIR PATTERN: the tracked C++ sources of DIR's compilation database
# whose path matches PATTERN, as "DIR<TAB>file".
units() {
  [ -f "$1/compile_commands.json" ] || return 0
  jq -r '.[].file' "$1/compile_commands.json" | sed "s#^$PWD/##" | grep -E "$2" |
    grep -E '\.cpp$' | sort -u | sed "s#^#$1\t#"
}
mapfile -t jobs_list < <(
  units build '^(src|tools|standin|tests|bench)/'
  units build-fuzz '^fuzz/'
  units build-windows '^src/platform/[a-z_]+_win\.cpp$')
# Every tracked source of these directories must be checked by one of them.
mapfile -t tracked < <(git ls-files -- 'src/*.cpp' 'tools/*.cpp' 'standin/*.cpp' 'tests/*.cpp' \
  'fuzz/*.cpp' 'bench/*.cpp')
for f in "${tracked[@]}"; do
  if ! printf '%s\n' "${jobs_list[@]}" | cut -f2 | grep -qxF "$f"; then
    echo "clang-tidy: $f is in no compilation database (build the Windows programs?)" >&2
    status=1
  fi
done
# clang reads the Windows build's commands with the cross compiler's C++ and
# Windows headers (not gcc's own intrinsics, which only gcc understands).
WINDOWS_TIDY_ARGS="--extra-arg-before=--target=x86_64-w64-mingw32"
if command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1; then
  while read -r dir; do
    WINDOWS_TIDY_ARGS+=" --extra-arg-before=-isystem$dir"
  done < <(x86_64-w64-mingw32-g++ -E -x c++ - -v </dev/null 2>&1 |
    sed -n '/#include <...> search starts here:/,/End of search list/s/^ //p' | grep '/c++')
  WINDOWS_TIDY_ARGS+=" --extra-arg-before=-isystem/usr/x86_64-w64-mingw32/include"
fi
export WINDOWS_TIDY_ARGS
# shellcheck disable=SC2016 # expanded by the inner shell
if ! printf '%s\n' "${jobs_list[@]}" | xargs -d '\n' -n 1 -P "$jobs" sh -c '
    dir="${0%%	*}" file="${0#*	}" extra=""
    [ "$dir" = build-windows ] && extra="$WINDOWS_TIDY_ARGS"
    # shellcheck disable=SC2086 # one word per argument
    clang-tidy -p "$dir" $extra --quiet --warnings-as-errors="*" "$file"'; then
  echo "clang-tidy: findings (see above)" >&2
  status=1
fi

[ "$status" -eq 0 ] && echo "style: clean"
exit "$status"
