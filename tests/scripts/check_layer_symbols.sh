#!/usr/bin/env bash
# Symbols run down the layers, as includes do: no library needs a symbol that only a
# library above it defines. Takes the libraries from the lowest to the highest.
#
#   check_layer_symbols.sh libOrvexCore.so libOrvexImageProcessing.so libOrvexStagecache.so libOrvexHostKit.so
set -euo pipefail
libraries=("$@")
defined() { nm -D --defined-only "$1" | awk '{print $NF}' | sed 's/@.*//' | sort -u; }
undefined() { nm -D --undefined-only "$1" | awk '{print $NF}' | sed 's/@.*//' | sort -u; }
status=0
for ((low = 0; low < ${#libraries[@]}; low++)); do
  needs=$(undefined "${libraries[low]}")
  for ((high = low + 1; high < ${#libraries[@]}; high++)); do
    upwards=$(comm -12 <(echo "$needs") <(defined "${libraries[high]}") | grep -v -E '^(_init|_fini|_edata|_end|__bss_start)$' || true)
    if [ -n "$upwards" ]; then
      echo "$(basename "${libraries[low]}") needs symbols that only $(basename "${libraries[high]}") above it defines:"
      echo "$upwards" | c++filt | sed 's/^/  /'
      status=1
    fi
  done
done
[ $status -eq 0 ] && echo "symbols run down the layers: ${#libraries[@]} libraries"
exit $status
