#!/usr/bin/env bash
# wine_prefix.sh start|stop WINE WINESERVER  (WINEPREFIX comes from the environment)
# start: makes the prefix once (about 10 s the first time), so the test programs do not race to
#        create it, and waits for its server to end (it must not hold CTest's output open);
#        with VELQUORA_WINESERVER_STAYS=1, then starts a server that stays until `stop`, so the
#        programs share it instead of each starting one;
# stop:  ends the server and every wine process of the prefix, so nothing outlives the run.
set -euo pipefail
action=$1 wine=$2 wineserver=$3
case $action in
  start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      timeout --kill-after=10 "${VELQUORA_WINE_LIMIT:-240}" "$wine" wineboot.exe --init
      timeout 60 "$wineserver" -w
    fi
    # Refused only when a server already runs for the prefix, which serves as well.
    if [ "${VELQUORA_WINESERVER_STAYS:-0}" = 1 ]; then
      "$wineserver" -p || true
    fi
    ;;
  stop)
    "$wineserver" -k 2>/dev/null || true
    timeout 30 "$wineserver" -w 2>/dev/null || true
    ;;
esac
