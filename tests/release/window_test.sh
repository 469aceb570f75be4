#!/usr/bin/env bash
# On a virtual display: ShowHelp runs the viewer the library carries from memory, writing no file;
# where no memory file may run (vm.memfd_noexec=2 in a process namespace of its own) it writes
# the viewer into the user's cache folder, reuses that file, and replaces a changed one, never
# running it; without /proc and with SIGCHLD ignored by the host, ViewLog still opens its window
# and answers true. Usage: window_test.sh BIN_DIR   (as root: it makes namespaces)
set -euo pipefail
bin=$(cd "$1" && pwd)
work=$(mktemp -d)
xvfb=""
trap '[ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
# A loaded machine may take a while to start the server: wait up to a minute.
for _ in $(seq 600); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
export XDG_CACHE_HOME=$work/cache
folder=$XDG_CACHE_HOME/Korvanta/w_velquora

# show_window ACTION TITLE WHAT [WRAPPER...]: runs the action through the host (inside WRAPPER),
# waits for its window, closes it, and checks the call answered true.
show_window() {
  local action=$1 title=$2 what=$3 id="" pid rc=0
  shift 3
  # The library named: without /proc the host cannot find its own folder.
  "$@" "$bin/velquora-host" --lib "$bin/libw_velquora.so" call DoAdditionalAction "$action" \
    >"$work/window.out" 2>&1 &
  pid=$!
  for _ in $(seq 150); do
    id=$(xdotool search --name "^$title\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  [ -n "$id" ] || { cat "$work/window.out"; fail "no window \"$title\" ($what)"; }
  sleep 1
  xdotool windowfocus --sync "$id" key Escape
  wait "$pid" || rc=$?
  [ "$rc" -eq 0 ] && grep -q "^result: true" "$work/window.out" ||
    { cat "$work/window.out"; fail "$action failed ($what)"; }
}

show_window ShowHelp "Справка" "from memory"
[ ! -e "$folder" ] || fail "the viewer was written to $folder although it ran from memory"

# No memory file may run: the checked copy in the cache.
refused() { unshare --pid --fork sh -c 'echo 2 >/proc/sys/vm/memfd_noexec && exec "$@"' sh "$@"; }
show_window ShowHelp "Справка" "memory refused, first call" refused
viewer=$(ls "$folder"/velquora-viewer-* 2>/dev/null)
[ "$(echo "$viewer" | wc -l)" -eq 1 ] && [ -f "$viewer" ] || fail "no viewer file in $folder"
[ "$(stat -c %a "$folder")" = 700 ] || fail "the cache folder is open to others"
cp "$viewer" "$work/viewer.copy"
inode=$(stat -c %i "$viewer")

show_window ShowHelp "Справка" "memory refused, second call" refused
[ "$(stat -c %i "$viewer")" = "$inode" ] || fail "the second call rewrote the viewer"

printf '#!/bin/sh\ntouch %s/planted\n' "$work" >"$viewer"
show_window ShowHelp "Справка" "memory refused, after the viewer file was changed" refused
[ ! -e "$work/planted" ] || fail "the changed viewer file was run"
cmp -s "$viewer" "$work/viewer.copy" || fail "the changed viewer file was not replaced"

# A host that ignores SIGCHLD, on a system without /proc (an empty folder over it).
# (In a chroot "/" is no mount point, so /proc itself is made private before it is covered.)
no_proc() {
  unshare --mount --propagation unchanged sh -c \
    'mount --make-private /proc && mount -t tmpfs none /proc && trap "" CHLD && exec "$@"' sh "$@"
}
show_window ViewLog "Просмотр лога" "no /proc, SIGCHLD ignored" no_proc
echo "windows: 5 windows opened; from memory nothing was written; where memory may not run the" \
  "viewer was written once, reused and restored; no /proc and an ignored SIGCHLD changed nothing"
