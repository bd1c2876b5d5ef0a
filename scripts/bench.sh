#!/usr/bin/env bash
# Builds in Release and prints the table of the library's costs: every figure is a ratio
# against a baseline measured in the same run, with its target and whether it is met.
# Then the peak resident memory of the stagecache tool on its default scene and on a
# 12-megapixel page; then the result store's figures on 40 drawn 2-megapixel pages, and
# the Python module's images per second on the same pages; then reading image files with
# the libraries' own decoders beside OpenCV's (decoding, cold and warm runs of the tool on
# 40 drawn pages and 20 photographs, and its process start); then the explore server's
# latency from an edit of one block size to its overlay, driven by a client.
# Exits non-zero when a target is missed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/fetch-photos.sh"
build="$root/build-release"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVEX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target orvex_bench_report orvex_bench_store orvex_bench_explore orvex-draw-pages stagecache \
  orvex_stagecache_core orvex_bench_codecs orvex_opencv_decoding
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
# Twenty photographs and scans, PNG and JPEG.
mkdir "$out/photos" "$out/codec-work"
for name in astronaut.png camera.png chelsea.png coffee.png coins.png moon.png motorcycle_left.png motorcycle_right.png \
            page.png text.png bw_text.png ihc.png horse.png logo.png grass.png gravel.png brick.png \
            hubble_deep_field.jpg retina.jpg rocket.jpg; do
  ln -s "$root/.photos/$name" "$out/photos/$name"
done
"$build/bench/orvex_bench_codecs" "$build/tools/stagecache" "$build/bench/liborvex_opencv_decoding.so" "$out/pages" \
  "$out/photos" "$out/codec-work" || status=$?
echo
PYTHONPATH="$build/python" /usr/bin/python3 "$root/bench/python_decoding.py" "$build/bench/liborvex_opencv_decoding.so" \
  "$out/pages" "$out/photos" || status=$?
echo
mkdir "$out/explore-pages" "$out/explore-work"
cp "$out"/pages/page-000[0-4].png "$out/explore-pages/"
"$build/bench/orvex_bench_explore" "$build/tools/stagecache" "$out/explore-pages" "$out/explore-work" || status=$?
exit $status
