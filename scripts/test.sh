#!/usr/bin/env bash
# The whole suite, as CI runs it: installs what is missing, then builds and tests twice:
# a normal build with warnings as errors, and an AddressSanitizer + UBSan build; the Windows x64
# DLL with its suites under wine and the x86 DLL with its suites under 32-bit wine, emulated in a
# Debian 12 root (scripts/win32-root.sh); then builds the release in a Debian 11 root and tries it
# in fresh Debian 11 and 12 roots (scripts/release-test.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)
run_suite() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja -DVELQUORA_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

echo "== normal build"
run_suite build/ci-release -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== Windows x64 build, tests under wine (the prefix lives in the build folder)"
windows_deps=$(bash scripts/build-deps.sh mingw64)
run_suite build/ci-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DVELQUORA_DEPS_PREFIX="$windows_deps" -DVELQUORA_HOST_BIN="$PWD/build/ci-release/bin" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== Windows x86 build, tests under 32-bit wine: this kernel runs no 32-bit code, so it is"
echo "   emulated (qemu-i386) in a cached Debian 12 root, inside a user namespace of the run's own"
windows32_deps=$(bash scripts/build-deps.sh mingw32)
cmake -S . -B build/ci-win32 -G Ninja -DVELQUORA_WERROR=ON -DVELQUORA_TESTS=ON -DVELQUORA_BENCH=OFF \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake -DVELQUORA_DEPS_PREFIX="$windows32_deps" \
  -DVELQUORA_HOST_BIN="$PWD/build/ci-release/bin" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/ci-win32 -j "$jobs"
bash scripts/win32-root.sh session --bind "$PWD" --timeout 3600 -- \
  ctest --test-dir build/ci-win32 --output-on-failure -j "$jobs"
echo "== sanitizer build"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build/ci-asan -DCMAKE_BUILD_TYPE=Debug -DVELQUORA_SANITIZE=ON -DVELQUORA_BENCH=OFF
echo "== release build and fresh-system runs"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO bash scripts/release-test.sh build/ci-release/bin
