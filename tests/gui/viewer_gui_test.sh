#!/usr/bin/env bash
# Opens the log and help windows through the driver's DoAdditionalAction on a virtual display,
# checks that each call blocks until its window is closed, and saves screenshots:
#   log_viewer.png, help_viewer.png (the windows) and help_page.png (the help in Chromium).
# Usage: viewer_gui_test.sh BIN_DIR SCREENSHOT_DIR
set -euo pipefail
bin=$1
out=$2
mkdir -p "$out"
work=$(mktemp -d)
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
export XDG_CACHE_HOME=$work/cache  # the library writes its viewer program there
host="$bin/velquora-host"
passed=0

fail() {
  echo "FAIL: $*"
  echo "0 passed, 1 failed"
  exit 1
}

# A log file with Cyrillic text whose name sorts last in the folder, so the window shows it.
"$host" --ip zz.gui.test --port 1 --log test >/dev/null 2>&1 || true

# open ACTION TITLE SCREENSHOT: runs the action, waits for its window, screenshots, closes it.
open_window() {
  local action=$1 title=$2 shot=$3 id="" pid
  "$host" call DoAdditionalAction "$action" >"$work/$action.out" 2>&1 &
  pid=$!
  for _ in $(seq 150); do
    id=$(xdotool search --name "^$title\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && break
    sleep 0.2
  done
  [ -n "$id" ] || { cat "$work/$action.out"; fail "no window \"$title\" for $action"; }
  sleep 2  # let it paint
  kill -0 "$pid" 2>/dev/null || fail "$action returned while its window was open"
  import -window root "$out/$shot"
  if [ "$action" = ShowHelp ]; then
    html=$(ls -td "${TMPDIR:-/tmp}"/\{*\}/md.html 2>/dev/null | head -1)
    [ -n "$html" ] || fail "no md.html while the help window is open"
    help_dir=$(dirname "$html")
    cp -r "$help_dir" "$work/help"
  fi
  xdotool windowfocus --sync "$id" key Escape
  local rc=0
  wait "$pid" || rc=$?
  [ "$rc" -eq 0 ] || { cat "$work/$action.out"; fail "$action exited with $rc"; }
  grep -q "^result: true" "$work/$action.out" || fail "$action did not answer true"
  if [ "$action" = ShowHelp ] && [ -e "$help_dir" ]; then fail "the help's temporary folder was left behind"; fi
  passed=$((passed + 1))
}

open_window ViewLog "Просмотр лога" log_viewer.png
open_window ShowHelp "Справка" help_viewer.png

chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
  --disable-component-update --disable-sync --user-data-dir="$work/chromium" --window-size=900,1400 \
  --screenshot="$out/help_page.png" "file://$work/help/md.html" >/dev/null 2>&1 || fail "chromium could not render the help"
[ -s "$out/help_page.png" ] || fail "no help_page.png"
passed=$((passed + 1))

echo "screenshots in $out"
echo "$passed passed, 0 failed"
