#!/usr/bin/env bash
# Builds the shipped add-in inside the Debian 11 build root: the library (third-party libraries
# and the C++ runtime linked in, checked to need nothing newer than C library 2.31), the viewer
# it carries, the command-line host and the scale emulator, then the distribution package.
#   scripts/build-release.sh [BUILD_DIR]     (default build/release)
# Prints the build folder. Needs root (debootstrap, chroot, mounts).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
source "$here/lib/debian-root.sh"
build=${1:-build/release}
case $build in /*) ;; *) build=$repo/$build ;; esac

deps=$(bash "$here/build-deps.sh" linux-x86_64)
root=$(bash "$here/release-root.sh" build)
mkdir -p "$build"
echo "release: building in the Debian 11 root" >&2
root_run "$root" --bind "$VELQUORA_CACHE" --bind "$repo" -- \
  env PKG_CONFIG_PATH="$deps/lib/pkgconfig" sh -c '
    set -e
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELQUORA_RELEASE=ON \
      -DVELQUORA_WERROR=ON -DVELQUORA_TESTS=OFF -DVELQUORA_BENCH=OFF >/dev/null
    cmake --build "$2" -j "$(nproc)"
    cmake --build "$2" --target package
  ' build "$repo" "$build" >&2
echo "$build"
