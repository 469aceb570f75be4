#!/usr/bin/env bash
# Figures, not a test: what the log viewer window costs on a virtual display, for folders another
# user may have filled. For each case the viewer shows the file that sorts last; once it has
# settled (two quiet seconds in a row, or 30 seconds) its processor time is measured over 10
# seconds, and its peak memory is printed. Run it on a quiet machine.
#   sparse   a 512 MB sparse zzzz.log (no data, all NUL)
#   idle     a 38 MB log nobody writes to
#   written  the same log while a writer appends a record every 200 ms
# Usage: bench/viewer_bench.sh BIN_DIR   (BIN_DIR holds velquora-viewer; needs Xvfb)
set -euo pipefail
viewer=$(cd "$1" && pwd)/velquora-viewer
work=$(mktemp -d)
xvfb=""
writer=""
trap '[ -n "$writer" ] && kill "$writer" 2>/dev/null; [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 600); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"

mkdir "$work/sparse" "$work/log"
printf '2026.03.05 10:00:00.000\tINFO\tcaption\ttext\r\n' >"$work/sparse/a.log"
truncate -s 512M "$work/sparse/zzzz.log"
record=$(printf '2026.03.05 10:00:00.000\tDEBUG\t> ВыгрузитьТовары\tParams: [0, <Table><Record PLU="1" Name="Сыр"/></Table>]\r\n')
log=$work/log/192_168_0_10_2026.03.05.log
printf '%s' "$record" >"$log"
while [ "$(stat -c %s "$log")" -lt $((38 << 20)) ]; do cat "$log" "$log" >"$log.next" && mv "$log.next" "$log"; done
truncate -s $((38 << 20)) "$log"

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
measure() {  # NAME FOLDER
  "$viewer" log "$2" >/dev/null 2>&1 &
  local pid=$! hz t0 t1 waited=0
  hz=$(getconf CLK_TCK)
  t0=$(ticks "$pid")
  while [ "$waited" -lt 30 ]; do
    sleep 2
    waited=$((waited + 2))
    t1=$(ticks "$pid")
    [ $((t1 - t0)) -le $((hz / 10)) ] && break
    t0=$t1
  done
  t0=$(ticks "$pid")
  sleep 10
  t1=$(ticks "$pid")
  printf '%-8s peak memory %4d MB, processor %3d %% of a core (settled after %d s)\n' "$1" \
    $(($(awk '/VmHWM/ {print $2}' "/proc/$pid/status") >> 10)) $(((t1 - t0) * 100 / (10 * hz))) \
    "$waited"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}

measure sparse "$work/sparse"
measure idle "$work/log"
(while true; do printf '2026.03.05 10:00:01.000\tDEBUG\t< 0x06\tanswer\r\n' >>"$log"; sleep 0.2; done) &
writer=$!
measure written "$work/log"
