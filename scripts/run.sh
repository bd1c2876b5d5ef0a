#!/usr/bin/env bash
# Builds the library and runs the command-line host on its built-in default input.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$root/build" -j"$(nproc)"
"$root/build/tools/orvex-example-host" "$@"
