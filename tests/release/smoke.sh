#!/usr/bin/env bash
# One round of the command-line host against the scale emulator on 127.0.0.1: `info`, `test`
# and a goods upload, each call's answers (with the port replaced by PORT) and what the scale
# then holds written to OUT_DIR, so runs of two builds on two systems can be compared.
# Usage: smoke.sh BIN_DIR EXAMPLES_DIR OUT_DIR
set -euo pipefail
bin=$1
examples=$2
out=$3
mkdir -p "$out"
work=$(mktemp -d)
emulator=""
trap '[ -n "$emulator" ] && kill "$emulator" 2>/dev/null; rm -rf "$work"' EXIT

"$bin/scale-emulator" --port 0 --dump "$work/scale.json" >"$work/emulator.out" &
emulator=$!
for _ in $(seq 100); do grep -q listening "$work/emulator.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/emulator.out")
[ -n "$port" ] || { echo "the emulator did not start" >&2; cat "$work/emulator.out" >&2; exit 1; }
host=("$bin/velquora-host" --ip 127.0.0.1 --port "$port")

run() {  # NAME ARGS...: the exit code and everything the host printed
  local name=$1 rc=0
  shift
  "${host[@]}" "$@" >"$work/$name.out" 2>&1 || rc=$?
  # The port and an upload's time ("за 0,2 с") differ from run to run.
  { echo "exit $rc"; sed -E "s/\b$port\b/PORT/g; s/за [0-9]+,[0-9] с/за N с/g" "$work/$name.out"; } \
    >"$out/$name.txt"
}
run info info
run test test
run upload upload-goods "$examples/goods.xml" --quiet
kill -TERM "$emulator"
wait "$emulator" || true
emulator=""
"$bin/scale-emulator" --show "$work/scale.json" >"$out/scale.txt"
grep -q "^exit 0" "$out/info.txt" && grep -q "^exit 0" "$out/test.txt" && grep -q "^exit 0" "$out/upload.txt"
