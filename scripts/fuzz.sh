#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# and runs each on its seed corpus (tests/fuzz/corpus/<target>) for SECONDS seconds
# (default 20). New inputs go to a scratch corpus; a crashing input is kept under
# build-fuzz/crashes and the script fails.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET ...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(mode_records image_buffer image_file parameter_file c_functions store_entry)
"$root/scripts/install-deps.sh"
build="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVEX_SANITIZE=address,undefined -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_BENCHMARKS=OFF -DORVEX_BUILD_TOOLS=OFF -DORVEX_TEST_INSTALL=OFF \
  -DORVEX_BUILD_FUZZERS=ON -DORVEX_LINK_NO_UNDEFINED=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")
mkdir -p "$build/crashes"
status=0
for target in "${targets[@]}"; do
  work=$(mktemp -d)
  echo "=== fuzz_$target for $seconds s"
  if ! "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=30 -rss_limit_mb=4096 \
      -artifact_prefix="$build/crashes/$target-" "$work" "$root/tests/fuzz/corpus/$target" 2>"$build/fuzz_$target.log"; then
    status=1
    tail -40 "$build/fuzz_$target.log"
  fi
  grep -E "stat::number_of_executed_units|cov: " "$build/fuzz_$target.log" | tail -2
  rm -rf "$work"
done
exit $status
