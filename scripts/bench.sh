#!/usr/bin/env bash
# Builds in Release and prints the table of the library's costs: every figure is a ratio
# against a baseline measured in the same run, with its target and whether it is met.
# Then the peak resident memory of the stagecache tool on its default scene and on a
# 12-megapixel page; then the result store's figures on 40 drawn 2-megapixel pages, and
# the Python module's images per second on the same pages; then the explore server's
# latency from an edit of one block size to its overlay, driven by a client.
# Exits non-zero when a target is missed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build="$root/build-release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVEX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target orvex_bench_report orvex_bench_store orvex_bench_explore orvex-draw-pages stagecache orvex_stagecache_core
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
"$build/bench/orvex_bench_report" "$@" || status=$?
page=$(mktemp --suffix=.png)
out=$(mktemp -d)
trap 'rm -rf "$page" "$out"' EXIT
"$build/bench/orvex_bench_report" --write-page "$page" 4000 3000
printf '%-58s %14s\n' "stagecache peak resident memory, default scene" \
  "$("$build/bench/orvex_bench_report" --peak-memory "$build/tools/stagecache" --quiet --out "$out/a" | tail -1) KiB"
printf '%-58s %14s\n' "stagecache peak resident memory, 12-MP page" \
  "$("$build/bench/orvex_bench_report" --peak-memory "$build/tools/stagecache" --quiet --out "$out/b" "$page" | tail -1) KiB"
echo
"$build/bench/orvex-draw-pages" 40 1632 1224 "$out/pages"
mkdir "$out/store-work"
"$build/bench/orvex_bench_store" "$build/tools/stagecache" "$out/pages" "$out/store-work" || status=$?
echo
PYTHONPATH="$build/python" /usr/bin/python3 "$root/bench/python_throughput.py" "$build/tools/stagecache" "$out/pages" || status=$?
echo
mkdir "$out/explore-pages" "$out/explore-work"
cp "$out"/pages/page-000[0-4].png "$out/explore-pages/"
"$build/bench/orvex_bench_explore" "$build/tools/stagecache" "$out/explore-pages" "$out/explore-work" || status=$?
exit $status
