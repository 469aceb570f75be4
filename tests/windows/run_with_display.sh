#!/usr/bin/env bash
# run_with_display.sh WINE WINESERVER HOST_BIN PROGRAM
# Runs a Windows program that opens windows: wine draws them only on a display, and a prefix
# whose desktop was started without one (by the headless tests) keeps refusing windows. So this
# program gets a virtual display and a prefix of its own (WINEPREFIX is given), whose server is
# ended afterwards whatever happens. HOST_BIN (may be empty) is passed on to run_under_wine.sh,
# which starts the Linux scale-emulator for the program when it is given.
set -euo pipefail
wine=$1 wineserver=$2 host_bin=$3 program=$4
stop() {
  "$wineserver" -k 2>/dev/null || true
  timeout 30 "$wineserver" -w 2>/dev/null || true
}
trap stop EXIT
bash "$(dirname "$0")/wine_prefix.sh" start "$wine" "$wineserver"
timeout --kill-after=10 "${VELQUORA_WINE_LIMIT:-240}" xvfb-run -a \
  bash "$(dirname "$0")/run_under_wine.sh" "$wine" "$host_bin" "$program"
