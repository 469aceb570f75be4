#!/usr/bin/env bash
# run_under_wine.sh WINE HOST_BIN PROGRAM [ARGS...]
# Runs a Windows test program under wine, bounded in time (VELQUORA_WINE_LIMIT seconds). When
# HOST_BIN is given, a Linux scale-emulator from it serves its control line on 127.0.0.1 for the
# program (the port goes in VELQUORA_EMULATOR_CONTROL) and is stopped afterwards, whatever
# happens.
set -euo pipefail
wine=$1 host_bin=$2 program=$3
shift 3

emulator_pid=""
work=$(mktemp -d)
cleanup() {
  if [ -n "$emulator_pid" ]; then kill "$emulator_pid" 2>/dev/null || true; wait "$emulator_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

if [ -n "$host_bin" ]; then
  "$host_bin/scale-emulator" --control >"$work/control" 2>&1 &
  emulator_pid=$!
  for _ in $(seq 100); do
    grep -q "^control on" "$work/control" && break
    sleep 0.1
  done
  port=$(sed -n 's/^control on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/control")
  if [ -z "$port" ]; then
    echo "run_under_wine: the emulator did not start:" >&2
    cat "$work/control" >&2
    exit 1
  fi
  export VELQUORA_EMULATOR_CONTROL=$port
fi

# Wine names Unix files in the locale's character set: without a UTF-8 one (a bare environment
# has none) a Windows program cannot create a file with a Cyrillic name.
export LC_ALL=C.UTF-8
# The program's own folder is its working folder, so wine finds the DLL beside it.
cd "$(dirname "$program")"
timeout --kill-after=10 "${VELQUORA_WINE_LIMIT:-480}" "$wine" "$program" "$@"
