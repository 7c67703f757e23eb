#!/usr/bin/env bash
# Installs what is missing, builds a Release tree in build-bench/, and runs
# the benchmark: kranzel against a raw ODBC replay of the same statements
# (20P and IDN, 10 000 and 200 000 records, first and second delivery),
# standin_bench (the stand-in against Debian's SQLite ODBC driver) and, when
# the TDS listener is built, the round trip through FreeTDS. Prints a
# Markdown table of medians.
#
#   scripts/bench.sh [--pairs N] [--quick] [--keep]
#     --pairs N   kranzel/replay pairs (and standin_bench rounds), default 5
#     --quick     10 000 records only
#     --keep      keep the temporary installation (files, journals, log)
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages "${KRANZEL_BENCH_PACKAGES[@]}"

BUILD="$KRANZEL_ROOT/build-bench"
cmake -S "$KRANZEL_ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DKRANZEL_TESTS=OFF >/dev/null
targets=(kranzel_bench standin_bench)
# The TDS listener, where the tree has it; its row is skipped otherwise.
# (The list is read whole: grep -q would end the pipe early under pipefail.)
if cmake --build "$BUILD" --target help | grep 'kranzel-standin-server' >/dev/null; then
  targets+=(kranzel-standin-server)
fi
cmake --build "$BUILD" -j"$(nproc)" --target "${targets[@]}" >/dev/null
"$BUILD/bench/kranzel_bench" "$@"
