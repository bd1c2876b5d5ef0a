#!/usr/bin/env bash
# Installs the built package into a scratch prefix, then builds and runs a tiny consumer
# twice: once found with find_package(OrvexStagecache), once with pkg-config, and a
# program that links the image-processing library alone. The pkg-config build runs
# again after the prefix was moved.
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
LD_LIBRARY_PATH="$prefix/lib:${LD_LIBRARY_PATH:-}" "$work/cmake-consumer/improc_consumer"

# The package moved elsewhere: pkg-config finds it relative to its own file.
moved="$work/moved-prefix"
mv "$prefix" "$moved"
pcdir=$(find "$moved" -name OrvexStagecache.pc -printf '%h\n')
export PKG_CONFIG_PATH="$pcdir"
# shellcheck disable=SC2046
c++ -std=c++17 "$sources/consumer/main.cpp" -o "$work/pkgconfig-consumer" $(pkg-config --cflags --libs OrvexStagecache)
LD_LIBRARY_PATH="$pcdir/..:${LD_LIBRARY_PATH:-}" "$work/pkgconfig-consumer"
echo "installed package found by find_package and, moved, by pkg-config"
