#!/usr/bin/env bash
# run_with_display.sh WINE WINESERVER PROGRAM
# Runs a Windows program that opens windows: wine draws them only on a display, and a prefix
# whose desktop was started without one (by the headless tests) keeps refusing windows. So this
# program gets a virtual display and a prefix of its own (WINEPREFIX is given), whose server is
# ended afterwards whatever happens.
set -euo pipefail
wine=$1 wineserver=$2 program=$3
stop() {
  "$wineserver" -k 2>/dev/null || true
  timeout 30 "$wineserver" -w 2>/dev/null || true
}
trap stop EXIT
bash "$(dirname "$0")/wine_prefix.sh" start "$wine" "$wineserver"
# Unix file names in UTF-8, as in run_under_wine.sh.
export LC_ALL=C.UTF-8
timeout --kill-after=10 240 xvfb-run -a "$wine" "$program"
