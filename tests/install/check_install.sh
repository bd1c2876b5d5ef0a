#!/usr/bin/env bash
# Installs the built package into a scratch prefix, then builds and runs a tiny consumer
# twice: once found with find_package(OrvexStagecache), once with pkg-config.
set -euo pipefail
build_dir=$1
work=$2
sources=$3

rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"
cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log"

cmake -S "$sources/consumer" -B "$work/cmake-consumer" -DCMAKE_PREFIX_PATH="$prefix" >"$work/configure.log"
cmake --build "$work/cmake-consumer" >"$work/build.log"
LD_LIBRARY_PATH="$prefix/lib:${LD_LIBRARY_PATH:-}" "$work/cmake-consumer/consumer"

libdir=$(find "$prefix" -name OrvexStagecache.pc -printf '%h\n')
export PKG_CONFIG_PATH="$libdir"
# shellcheck disable=SC2046
c++ -std=c++17 "$sources/consumer/main.cpp" -o "$work/pkgconfig-consumer" $(pkg-config --cflags --libs OrvexStagecache)
LD_LIBRARY_PATH="$prefix/lib:$libdir:${LD_LIBRARY_PATH:-}" "$work/pkgconfig-consumer"
echo "installed package found by find_package and by pkg-config"
