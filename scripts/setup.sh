#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the tools need.
# Idempotent: installs only what is missing; runs apt-get update at most once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libexpat1-dev nlohmann-json3-dev libzip-dev zlib1g-dev libcmark-dev
  libgtk-3-dev libwebkit2gtk-4.1-0
  # the window tests: a virtual display, a robot to close windows, screenshots, fonts
  xvfb xdotool imagemagick chromium fonts-dejavu-core
  clang-format
  # the command-line tools' test: a pseudo-terminal (script), reading the emulator's dump
  bsdutils python3
  # the release: Debian roots, source packages, checks of what the shipped files need
  debootstrap dpkg-dev binutils unzip
  # Windows: MinGW-w64 cross compilers (posix threads), GoogleTest's sources, wine to run tests
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest wine wine64
  # the emulated 32-bit wine root (scripts/win32-root.sh): fetching and checking its qemu
  wget gpgv xz-utils
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "setup: all packages present"
