#!/usr/bin/env bash
# Installs the built package into a scratch prefix (never the system's), then, without
# LD_LIBRARY_PATH: builds and runs a tiny consumer found with find_package(OrvexStagecache),
# a program that links the image-processing library alone, the example host with
# find_package at C++14 (the package asks for C++17 itself), and the example host with
# pkg-config after the prefix was moved; and, when the Python module was built, imports it
# from the moved prefix and from a prefix holding only the components a wheel takes
# (runtime and python), and reads a page with it.
set -euo pipefail
build_dir=$1
work=$2
sources=$3
example=$4
write_page=$5

rm -rf "$work"
mkdir -p "$work"
prefix="$work/prefix"
cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log"
unset LD_LIBRARY_PATH
page="$work/page.png"
"$write_page" "$page"

cmake -S "$sources/consumer" -B "$work/cmake-consumer" -DCMAKE_PREFIX_PATH="$prefix" >"$work/configure.log"
cmake --build "$work/cmake-consumer" >"$work/build.log"
"$work/cmake-consumer/consumer"
"$work/cmake-consumer/improc_consumer"

cmake -S "$example" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_STANDARD=14 >"$work/example-configure.log"
cmake --build "$work/example" >"$work/example-build.log"
"$work/example/example-host" "$page" >"$work/example.out"
grep -q "set standard: [1-9][0-9]* candidate regions, [1-9][0-9]* line segments" "$work/example.out"
grep -q "set fine: " "$work/example.out"

# The package moved elsewhere: pkg-config finds it relative to its own file, and the
# libraries find each other beside themselves.
moved="$work/moved-prefix"
mv "$prefix" "$moved"
pcdir=$(find "$moved" -name OrvexHostKit.pc -printf '%h\n')
export PKG_CONFIG_PATH="$pcdir"
# shellcheck disable=SC2046
c++ "$example/main.cpp" -o "$work/pkgconfig-example" $(pkg-config --cflags --libs OrvexHostKit) \
  -Wl,-rpath,"$(pkg-config --variable=libdir OrvexHostKit)"
"$work/pkgconfig-example" "$page" >"$work/pkgconfig-example.out"
cmp "$work/example.out" "$work/pkgconfig-example.out"
package=$(find "$moved" -type d -name orvex_stagecache -path '*dist-packages*' | head -1)
if [ -n "$package" ]; then
  wheel_like="$work/runtime-and-python"
  cmake --install "$build_dir" --prefix "$wheel_like" --component runtime >>"$work/install.log"
  cmake --install "$build_dir" --prefix "$wheel_like" --component python >>"$work/install.log"
  if [ -n "$(find "$wheel_like" -name '*.h' -o -name '*.pc' -o -name '*.cmake')" ]; then
    echo "the runtime and python components hold build files" >&2
    exit 1
  fi
  for package_dir in "$package" "$(find "$wheel_like" -type d -name orvex_stagecache | head -1)"; do
    PYTHONPATH=$(dirname "$package_dir") /usr/bin/python3 -c '
import sys, orvex_stagecache as osc
assert osc.__file__.startswith(sys.argv[2]), osc.__file__
with osc.Cache().add(sys.argv[1]) as image:
    assert len(image.line_segments("standard")) > 0 and len(image.id) == 32, image.summary()
' "$page" "$package_dir"
  done
fi
echo "installed package: consumers and the example host build and run from any prefix, without LD_LIBRARY_PATH"
