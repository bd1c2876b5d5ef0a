#!/usr/bin/env bash
# Builds the library and its command-line host, then runs the host on its built-in scene
# and writes the report to ./stagecache-report (open stagecache-report/index.html).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$root/build" -j"$(nproc)"
"$root/build/tools/stagecache" --out "${STAGECACHE_REPORT:-stagecache-report}" "$@"
