#!/usr/bin/env bash
# Fails when a lower layer includes a header of a higher one. The layers, bottom up:
#    0 foundation                           header-only: counted objects, handles, mode-record types
#    1 platform/core                        libOrvexCore
#    2 platform/imageprocessing             libOrvexImageProcessing
#  then libOrvexStagecache, subsystem by subsystem (include/orvex/<name> and src/<name>):
#    3 tav  4 hashing  5 modes  6 stages  7 datawrap  8 paramtree  9 loader
#   10 api: the C functions and the host header (include/*.h, src/api)
#   11 hostkit: libOrvexHostKit, what hosts share above the library (hostkit/)
# A file may include headers of its own layer and of the layers below it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

layer_of_folder() {
  case "$1" in
    foundation) echo 0 ;; core) echo 1 ;; improc) echo 2 ;;
    tav) echo 3 ;; hashing) echo 4 ;; modes) echo 5 ;; stages) echo 6 ;;
    datawrap) echo 7 ;; paramtree) echo 8 ;; loader) echo 9 ;; api) echo 10 ;; hostkit) echo 11 ;;
    *) echo "" ;;
  esac
}

# The layer of a file of the repository, or nothing for files outside the layers.
layer_of_file() {
  case "$1" in
    foundation/*) echo 0 ;;
    include/orvex/*/*) layer_of_folder "$(echo "$1" | cut -d/ -f3)" ;;
    include/*) echo 10 ;;
    platform/core/*) echo 1 ;;
    platform/imageprocessing/*) echo 2 ;;
    hostkit/*) echo 11 ;;
    src/*/*) layer_of_folder "$(echo "$1" | cut -d/ -f2)" ;;
    *) echo "" ;;
  esac
}

# The layer of an included header as written in an #include line of `file`.
layer_of_include() {
  local file=$1 header=$2 quoted=$3
  case "$header" in
    orvex/*/*) layer_of_folder "$(echo "$header" | cut -d/ -f2)" ; return ;;
    OrvexStagecache.h|OrvexStagecacheHost.h) echo 10 ; return ;;
  esac
  if [ "$quoted" = yes ]; then
    # A private header: beside the file, or under src/ for the library's own folders.
    if [ -f "$(dirname "$file")/$header" ]; then layer_of_file "$(dirname "$file")/$header"; return; fi
    if [ -f "src/$header" ]; then layer_of_file "src/$header"; return; fi
  fi
  echo ""
}

violations=0
while IFS= read -r file; do
  own=$(layer_of_file "$file")
  [ -z "$own" ] && continue
  while IFS= read -r line; do
    header=$(echo "$line" | sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]+)[>"].*/\1/')
    quoted=no
    echo "$line" | grep -q '"' && quoted=yes
    target=$(layer_of_include "$file" "$header" "$quoted")
    [ -z "$target" ] && continue
    if [ "$target" -gt "$own" ]; then
      echo "layer violation: $file (layer $own) includes $header (layer $target)"
      violations=$((violations + 1))
    fi
  done < <(grep -E '^[[:space:]]*#[[:space:]]*include' "$file" || true)
done < <(git ls-files 'foundation/*' 'include/*' 'src/*' 'platform/*' 'hostkit/*' | grep -E '\.(h|hpp|c|cpp)$')

if [ "$violations" -gt 0 ]; then
  echo "$violations include(s) run from a lower layer to a higher one"
  exit 1
fi
echo "layers: every include runs downwards"
