#!/usr/bin/env bash
# Puts real photographs and scans where the tests find them (.photos/ at the top of the
# checkout, or the folder named as the first argument): the sample images that Debian's
# python3-skimage package carries, taken from the package file itself, so that nothing it
# depends on needs installing. Does nothing when the folder is filled already.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
target=${1:-$root/.photos}
[ -f "$target/.complete" ] && exit 0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "fetching sample photographs (python3-skimage) into $target"
(cd "$work" && apt-get download python3-skimage >/dev/null 2>&1) || {
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  (cd "$work" && apt-get download python3-skimage >/dev/null 2>&1)
}
dpkg-deb --fsys-tarfile "$work"/python3-skimage_*.deb |
  tar -x -C "$work" --wildcards './usr/lib/python3/dist-packages/skimage/data/*'
mkdir -p "$target"
find "$work/usr/lib/python3/dist-packages/skimage/data" -maxdepth 1 -type f \( -name '*.png' -o -name '*.jpg' \) \
  -exec cp {} "$target/" \;
touch "$target/.complete"
