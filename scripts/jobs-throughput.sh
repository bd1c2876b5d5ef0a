#!/usr/bin/env bash
# Images per second of the stagecache host with 1 job and with 2, one run each, on a folder
# of distinct drawn pages (default: 200 pages of about 2 megapixels), and their ratio.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
count=${1:-200}
"$root/scripts/install-deps.sh"
build="$root/build-release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVEX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target stagecache orvex-draw-pages
pages=$(mktemp -d)
trap 'rm -rf "$pages"' EXIT
"$build/bench/orvex-draw-pages" "$count" 1632 1224 "$pages"
rate() {
  local start end
  start=$(date +%s.%N)
  "$build/tools/stagecache" --quiet --jobs "$1" "$pages" >/dev/null
  end=$(date +%s.%N)
  awk -v n="$count" -v a="$start" -v b="$end" 'BEGIN { print n / (b - a) }'
}
one=$(rate 1)
two=$(rate 2)
awk -v one="$one" -v two="$two" 'BEGIN { printf "jobs 1: %.2f images/s\njobs 2: %.2f images/s\nratio:  %.2f\n", one, two, two / one }'
