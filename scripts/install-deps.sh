#!/usr/bin/env bash
# Installs the Debian packages the build, tests and benchmarks need, when missing, and the
# extra packages named as arguments (the tests ask for chromium).
set -euo pipefail
packages=(cmake make g++ pkg-config libopencv-core-dev libopencv-imgproc-dev libopencv-imgcodecs-dev
          libxxhash-dev libzstd-dev liblz4-dev libssl-dev libdeflate-dev libturbojpeg0-dev libspng-dev libgtest-dev libbenchmark-dev nlohmann-json3-dev libgraphviz-dev libcpp-httplib-dev
          python3 python3-dev python3-numpy pybind11-dev python3-pytest python3-distributed clang libclang-rt-14-dev libc++-14-dev libc++abi-14-dev "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
