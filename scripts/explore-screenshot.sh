#!/usr/bin/env bash
# Regenerates docs/explore.png: the explore page in headless Chromium after the browser
# test's edits (a block size changed, the cost of that change shown).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" chromium
cmake -S "$root" -B "$root/build" >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target stagecache orvex_browser_tests
ORVEX_EXPLORE_SCREENSHOT="$root/docs/explore.png" "$root/build/tests/orvex_browser_tests" --gtest_filter='ExploreInBrowser.*'
echo "wrote $root/docs/explore.png"
