#!/usr/bin/env bash
# wineserver32.sh ARGS...: the wine server for wine32.sh's programs: the root's native 64-bit
# server, which serves 32-bit programs too (only their code is emulated). Its output goes
# nowhere: a server that stays (-p) must not hold the caller's pipe open.
set -euo pipefail
export PATH=$PATH:/usr/sbin:/sbin
root=${VELQUORA_WIN32_ROOT:?"wineserver32.sh: run it inside scripts/win32-root.sh session"}
exec chroot "$root" /bin/sh -c 'cd "$1" 2>/dev/null || cd /; shift; exec "$@"' sh "$PWD" \
  /usr/lib/wine/wineserver64 "$@" </dev/null >/dev/null 2>&1
