#!/usr/bin/env bash
# Regenerates docs/report.png: the browser test's screenshot of the default report.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" chromium
cmake -S "$root" -B "$root/build" >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target stagecache orvex_browser_tests
ORVEX_REPORT_SCREENSHOT="$root/docs/report.png" "$root/build/tests/orvex_browser_tests"
echo "wrote $root/docs/report.png"
