#!/usr/bin/env bash
# wine32.sh PROGRAM [ARGS...]: runs a 32-bit Windows program with the 32-bit wine of the
# emulated root; the caller runs inside `scripts/win32-root.sh session`, which names the root in
# VELQUORA_WIN32_ROOT and binds the build folders into it at their own paths. The program starts
# in the caller's working folder. Wine's output goes through a file: wine processes that outlive
# the program (the prefix's services, a server that stays) would hold the caller's pipe open.
set -euo pipefail
export PATH=$PATH:/usr/sbin:/sbin
root=${VELQUORA_WIN32_ROOT:?"wine32.sh: run it inside scripts/win32-root.sh session"}
out=$(mktemp)
auth=""
cleanup() { rm -f "$out" ${auth:+"$root$auth"}; }
trap cleanup EXIT
# A virtual display's cookie file lies outside the root: the root gets a copy.
if [ -n "${XAUTHORITY:-}" ] && [ -f "$XAUTHORITY" ]; then
  auth=/tmp/xauth.$$
  cp "$XAUTHORITY" "$root$auth"
  export XAUTHORITY=$auth
fi
export WINELOADER=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver64
chroot "$root" /bin/sh -c 'cd "$1" 2>/dev/null || cd /; shift; exec "$@"' sh "$PWD" \
  /usr/lib/wine/wine "$@" </dev/null >"$out" 2>&1 &
pid=$!
trap 'kill "$pid" 2>/dev/null || true' TERM INT
status=0
wait "$pid" || status=$?
# A signal ends the wait early: wait for the program itself.
while kill -0 "$pid" 2>/dev/null; do wait "$pid" || status=$?; done
cat "$out"
exit "$status"
