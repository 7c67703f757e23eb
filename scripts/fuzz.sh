#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang in build-fuzz/ and runs
# each for a fixed time, starting from its seed corpus fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh [seconds per target, default 20] [target...]
#
# Fails on the first finding (a crash, a sanitizer report, a leak or a
# broken property); the input that caused it is kept as
# build-fuzz/findings/<target>/crash-<sha1> (or leak-, timeout-, oom-).
# Inputs that reached new code are kept in build-fuzz/corpus/<target>/ and
# seed the next run; the committed seeds stay unchanged.
set -euo pipefail
source "$(dirname "$0")/common.sh"
ensure_packages "${KRANZEL_FUZZ_PACKAGES[@]}"

seconds="${1:-20}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_ini fuzz_cipher fuzz_text_reader fuzz_import)

dir="$KRANZEL_ROOT/build-fuzz"
cmake -S "$KRANZEL_ROOT" -B "$dir" -DKRANZEL_FUZZ=ON -DKRANZEL_TESTS=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"

for t in "${targets[@]}"; do
  mkdir -p "$dir/corpus/$t" "$dir/findings/$t"
  dict=()
  [ -f "$KRANZEL_ROOT/fuzz/$t.dict" ] && dict=(-dict="$KRANZEL_ROOT/fuzz/$t.dict")
  echo "== $t: $seconds s"
  if ! "$dir/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 "${dict[@]}" -artifact_prefix="$dir/findings/$t/" \
      "$dir/corpus/$t" "$KRANZEL_ROOT/fuzz/corpus/$t" >"$dir/findings/$t.log" 2>&1; then
    tail -n 60 "$dir/findings/$t.log"
    echo "FINDING in $t: reproduce with $dir/fuzz/$t $(ls -t "$dir/findings/$t/" | head -n 1 | sed "s|^|$dir/findings/$t/|")" >&2
    exit 1
  fi
  grep -E "stat::number_of_executed_units|stat::new_units_added" "$dir/findings/$t.log" | tr '\n' ' '
  echo
done
echo "No findings."
