#!/usr/bin/env bash
# Builds the shipped add-in inside the Debian 11 build root: the library (third-party libraries
# and the C++ runtime linked in, checked to need nothing newer than C library 2.31), the viewer
# it carries, the command-line host and the scale emulator, then the distribution package, which
# also carries the Windows x64 and x86 DLLs cross-built here with MinGW (BUILD_DIR-win64, -win32).
#   scripts/build-release.sh [BUILD_DIR]     (default build/release)
# Prints the build folder. Needs root (debootstrap, chroot, mounts).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
source "$here/lib/debian-root.sh"
build=${1:-build/release}
case $build in /*) ;; *) build=$repo/$build ;; esac

deps=$(bash "$here/build-deps.sh" linux-x86_64)

# The bill of materials of the package: what each target's library is made of (see
# build-deps.sh), one line per source file or compiler package, the target in the second field.
version=$(sed -n 's/^project(velquora VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
mkdir -p "$build"
bom=$build/BOM.TXT
{
  echo "# w_velquora $version: what the libraries of this package are made of."
  echo "# source TARGET PACKAGE VERSION FILE SHA256: a file of the Debian source package built in"
  echo "# toolchain TARGET PACKAGE VERSION: a compiler package whose runtime is linked in"
} >"$bom"
add_bom() { sed "s/^\([a-z]*\) /\1 $1 /" "$2/bom.txt" >>"$bom"; }
add_bom linux-x86_64 "$deps"

# The Windows DLLs: built on this machine (the cross compilers are not in the build root), each
# in a folder of its own since both are named w_velquora.dll. GCC 12 warns falsely about
# overlapping copies inside std::string at -O3 (-Wrestrict), so that warning is off here.
windows_dll() {
  local target=$1 toolchain=$2 dir=$3 windows_deps
  windows_deps=$(bash "$here/build-deps.sh" "$target")
  add_bom "$target" "$windows_deps"
  echo "release: building the Windows DLL ($target)" >&2
  cmake -S "$repo" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/$toolchain" -DVELQUORA_DEPS_PREFIX="$windows_deps" \
    -DVELQUORA_WERROR=ON -DVELQUORA_TESTS=OFF -DVELQUORA_BENCH=OFF \
    -DCMAKE_CXX_FLAGS=-Wno-restrict >/dev/null
  cmake --build "$dir" -j "$(nproc)" --target w_velquora >&2
  [ -f "$dir/bin/w_velquora.dll" ] || { echo "release: no $dir/bin/w_velquora.dll" >&2; exit 1; }
}
windows_dll mingw64 toolchain-mingw64.cmake "$build-win64"
windows_dll mingw32 toolchain-mingw32.cmake "$build-win32"
windows_items="Windows|x86_64|$build-win64/bin/w_velquora.dll;Windows|i386|$build-win32/bin/w_velquora.dll"
root=$(bash "$here/release-root.sh" build)
echo "release: building in the Debian 11 root" >&2
root_run "$root" --bind "$VELQUORA_CACHE" --bind "$repo" -- \
  env PKG_CONFIG_PATH="$deps/lib/pkgconfig" sh -c '
    set -e
    cmake -S "$1" -B "$2" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELQUORA_RELEASE=ON \
      -DVELQUORA_WERROR=ON -DVELQUORA_TESTS=OFF -DVELQUORA_BENCH=OFF \
      "-DVELQUORA_PACKAGE_ITEMS=$3" "-DVELQUORA_PACKAGE_BOM=$4" >/dev/null
    cmake --build "$2" -j "$(nproc)"
    cmake --build "$2" --target package
  ' build "$repo" "$build" "$windows_items" "$bom" >&2
echo "$build"
