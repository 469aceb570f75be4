#!/usr/bin/env bash
# Opens the log and help windows through the driver's DoAdditionalAction on a virtual display,
# checks that each call blocks until its window is closed, and saves screenshots:
#   log_viewer.png, help_viewer.png (the windows), help_viewer_host_libs.png (the help for a host
#   whose library path holds a broken WebKitGTK), log_viewer_pipe.png and log_viewer_bad_utf8.png
#   (the log window on a tampered folder) and help_page.png (the help in Chromium).
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
# A loaded machine may take a while to start the server: wait up to a minute, then say so.
for _ in $(seq 600); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { cat "$work/xvfb.log"; echo "FAIL: Xvfb reported no display"; exit 1; }
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

# The windows must be found by their titles whatever the locale the host runs in: the host and
# the viewer run with LC_ALL=C here (a bare environment has no locale at all).
# open_window ACTION TITLE SCREENSHOT: runs the action, waits for its window, screenshots, closes it.
open_window() {
  local action=$1 title=$2 shot=$3
  # The host holds a file open without close-on-exec (descriptor 7), as hosts do.
  # A host fills in its settings page before any action: the address is what the log file is
  # named for.
  LC_ALL=C "$host" --ip 127.0.0.1 --port 1 call DoAdditionalAction "$action" >"$work/$action.out" 2>&1 7>>"$work/host-file" &
  wait_and_close $! "$action" "$title" "$shot"
  grep -q "^result: true" "$work/$action.out" || fail "$action did not answer true"
  if [ "$action" = ShowHelp ] && [ -e "$help_dir" ]; then fail "the help's temporary folder was left behind"; fi
  passed=$((passed + 1))
}

# wait_and_close PID NAME TITLE SCREENSHOT: the window of process PID must appear and stay until
# it is closed with Escape; then PID must exit with 0.
wait_and_close() {
  local pid=$1 name=$2 title=$3 shot=$4 id=""
  # Up to a minute: on a loaded machine the help's browser engine alone took over 30 s to start.
  for _ in $(seq 300); do
    id=$(xdotool search --name "^$title\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && break
    sleep 0.2
  done
  [ -n "$id" ] || { cat "$work/$name.out"; fail "no window \"$title\" for $name"; }
  eval "$(xdotool getwindowgeometry --shell "$id" | sed 's/^/win_/')"
  win_x=$win_X
  win_y=$win_Y
  # Let it paint: the help's browser starts a process of its own and may take a few seconds.
  for _ in $(seq 20); do
    sleep 0.5
    import -window root "$out/$shot"
    [ "$(convert "$out/$shot" -crop "${win_WIDTH}x${win_HEIGHT}+$win_x+$win_y" -format %k info:)" -gt 2 ] && break
  done
  kill -0 "$pid" 2>/dev/null || fail "$name returned while its window was open"
  # The host's file stays the host's: neither the viewer nor the browser's helper processes hold it.
  if [ "$name" = ShowHelp ] || [ "$name" = ViewLog ]; then
    local holders
    holders=$( (find /proc/[0-9]*/fd -lname "$work/host-file" 2>/dev/null || true) | cut -d/ -f3 | sort -u | xargs)
    [ "$holders" = "$pid" ] || fail "the host's file is held by processes $holders (the host is $pid)"
  fi
  if [ "$name" = ShowHelp ]; then
    html=$(ls -td "${TMPDIR:-/tmp}"/\{*\}/md.html 2>/dev/null | head -1)
    [ -n "$html" ] || fail "no md.html while the help window is open"
    help_dir=$(dirname "$html")
    cp -r "$help_dir" "$work/help"
  fi
  xdotool windowfocus --sync "$id" key Escape
  local rc=0
  wait "$pid" || rc=$?
  [ "$rc" -eq 0 ] || { cat "$work/$name.out"; fail "$name exited with $rc"; }
}

open_window ViewLog "Просмотр лога" log_viewer.png
open_window ShowHelp "Справка" help_viewer.png

# A host whose library path holds libraries of its own that do not suit the toolkit (here a
# broken WebKitGTK of each version): the help still opens (help_viewer_host_libs.png), as the
# viewer does not get the host's library path. The viewer started with that path itself says
# why WebKitGTK did not load, in the loader's words.
mkdir "$work/host-libs"
: >"$work/host-libs/libwebkit2gtk-4.1.so.0"
: >"$work/host-libs/libwebkit2gtk-4.0.so.37"
LD_LIBRARY_PATH=$work/host-libs open_window ShowHelp "Справка" help_viewer_host_libs.png
rc=0
LD_LIBRARY_PATH=$work/host-libs "$bin/velquora-viewer" doc "$work/help/md.html" "Справка" \
  >"$work/host-libs.out" 2>&1 || rc=$?
if [ "$rc" -eq 0 ] || ! grep -q "нужна библиотека WebKitGTK" "$work/host-libs.out" ||
  ! grep -q "Ответ загрузчика: .*libwebkit2gtk-4.1.so.0: file too short" "$work/host-libs.out"; then
  cat "$work/host-libs.out"
  fail "the viewer did not give the loader's reason for WebKitGTK"
fi
passed=$((passed + 1))

# A folder another user has tampered with. A named pipe whose name sorts last: the window must
# appear at once and say why it cannot show it (log_viewer_pipe.png). A file with ill-formed
# UTF-8 (an encoded lone surrogate): shown with the bad bytes replaced, not blank
# (log_viewer_bad_utf8.png).
bad_record='2026.01.01 10:00:00.000\tDEBUG\t> Method: \tParams: [\355\240\200\320\241\321\213\321\200]\r\n'
mkdir "$work/pipe" "$work/bad"
printf "$bad_record" >"$work/pipe/a.log"
mkfifo "$work/pipe/z.log"
printf "$bad_record" >"$work/bad/z.log"
for case in pipe bad; do
  LC_ALL=C "$bin/velquora-viewer" log "$work/$case" >"$work/$case.out" 2>&1 &
  shot=log_viewer_$case.png
  [ "$case" = bad ] && shot=log_viewer_bad_utf8.png
  wait_and_close $! "$case" "Просмотр лога" "$shot"
  # The first line of the text area: more than the background's colours when text is shown.
  colours=$(convert "$out/$shot" -crop "400x30+$((win_x + 2))+$((win_y + 42))" -format %k info:)
  if [ "$case" = bad ] && [ "$colours" -le 2 ]; then fail "the ill-formed file is shown blank"; fi
  passed=$((passed + 1))
done

chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
  --disable-component-update --disable-sync --user-data-dir="$work/chromium" --window-size=900,1400 \
  --screenshot="$out/help_page.png" "file://$work/help/md.html" >/dev/null 2>&1 || fail "chromium could not render the help"
[ -s "$out/help_page.png" ] || fail "no help_page.png"
passed=$((passed + 1))

echo "screenshots in $out"
echo "$passed passed, 0 failed"
