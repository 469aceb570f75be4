#!/usr/bin/env bash
# On a virtual display: ShowHelp writes the viewer the library carries into the user's cache
# folder and opens the window; a second call reuses that file; a file changed on disk is
# replaced, never run. Usage: window_test.sh BIN_DIR
set -euo pipefail
bin=$1
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

# Runs ShowHelp, waits for its window, closes it, and checks the call answered true.
show_help() {
  local id="" pid rc=0
  "$bin/velquora-host" call DoAdditionalAction ShowHelp >"$work/help.out" 2>&1 &
  pid=$!
  for _ in $(seq 150); do
    id=$(xdotool search --name '^Справка$' 2>/dev/null | head -1 || true)
    [ -n "$id" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  [ -n "$id" ] || { cat "$work/help.out"; fail "no help window ($1)"; }
  sleep 1
  xdotool windowfocus --sync "$id" key Escape
  wait "$pid" || rc=$?
  [ "$rc" -eq 0 ] && grep -q "^result: true" "$work/help.out" || { cat "$work/help.out"; fail "ShowHelp failed ($1)"; }
}

show_help "first call"
viewer=$(ls "$folder"/velquora-viewer-* 2>/dev/null)
[ "$(echo "$viewer" | wc -l)" -eq 1 ] && [ -f "$viewer" ] || fail "no viewer file in $folder"
[ "$(stat -c %a "$folder")" = 700 ] || fail "the cache folder is open to others"
cp "$viewer" "$work/viewer.copy"
inode=$(stat -c %i "$viewer")

show_help "second call"
[ "$(stat -c %i "$viewer")" = "$inode" ] || fail "the second call rewrote the viewer"

printf '#!/bin/sh\ntouch %s/planted\n' "$work" >"$viewer"
show_help "after the viewer file was changed"
[ ! -e "$work/planted" ] || fail "the changed viewer file was run"
cmp -s "$viewer" "$work/viewer.copy" || fail "the changed viewer file was not replaced"
echo "windows: 3 help windows opened; the viewer was written once, reused, and restored"
