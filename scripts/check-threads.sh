#!/usr/bin/env bash
# Checks the lock annotations (ORVEX_GUARDED_BY, ORVEX_REQUIRES, ORVEX_ACQUIRED_BEFORE, ...)
# of the libraries, the host kit and the stagecache tool with clang -Wthread-safety and
# -Wthread-safety-beta (which checks the lock order). libstdc++'s mutexes carry no
# annotations, so the sources are compiled (syntax only, nothing is linked) against
# libc++ with its annotations switched on. Exits non-zero on any warning.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
build="$root/build-threads"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
  -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_BENCHMARKS=OFF -DORVEX_BUILD_TOOLS=ON -DORVEX_BUILD_PYTHON=OFF >/dev/null
flags=(-fsyntax-only -stdlib=libc++ -D_LIBCPP_ENABLE_THREAD_SAFETY_ANNOTATIONS -Wthread-safety -Wthread-safety-beta -Werror)
status=0
checked=0
# Each entry of compile_commands.json: the compile command, then the file it compiles.
while IFS= read -r command; do
  file=${command##* }
  case "$file" in "$root"/src/*|"$root"/platform/*|"$root"/hostkit/*|"$root"/tools/*) ;; *) continue ;; esac
  # The command without its output: "-o <object> -c <file>" becomes the syntax check.
  compile=$(echo "$command" | sed -E 's/ -o [^ ]+ / /')
  # One check per core at a time; a failed one fails the script when it is waited for.
  if [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; then wait -n || status=1; fi
  (cd "$build" && eval "$compile ${flags[*]}") &
  checked=$((checked + 1))
done < <(/usr/bin/python3 -c 'import json, sys
for entry in json.load(open(sys.argv[1])): print(entry["command"])' "$build/compile_commands.json")
while [ "$(jobs -rp | wc -l)" -gt 0 ]; do wait -n || status=1; done
[ "$checked" -gt 0 ] || { echo "no sources found in $build/compile_commands.json"; exit 1; }
[ "$status" -eq 0 ] && echo "thread-safety annotations hold in $checked sources"
exit $status
