#!/usr/bin/env bash
# Prints the path of one of the release's Debian roots, making it first when the cache lacks it:
#   build   Debian 11 with the compiler: the release library, its tools and the viewer are built
#           here, so they need nothing newer than C library 2.31
#   bullseye, bookworm   bare minbase roots that hold nothing of the project's dependencies:
#           the release is tried in them as on a user's machine
#   bookworm-desktop     bookworm with a virtual display and the window toolkit, for the viewer
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/debian-root.sh"

case ${1:-} in
  build) debian_root bullseye g++ cmake ninja-build pkg-config make libgtk-3-dev nlohmann-json3-dev ;;
  bullseye) debian_root bullseye ;;
  bookworm) debian_root bookworm ;;
  bookworm-desktop) debian_root bookworm xvfb xauth xdotool libgtk-3-0 libwebkit2gtk-4.1-0 fonts-dejavu-core ;;
  *)
    echo "usage: $0 build|bullseye|bookworm|bookworm-desktop" >&2
    exit 2
    ;;
esac
