#!/usr/bin/env bash
# A careless host whose SetStatusLine throws a C++ exception during a long goods upload: the
# exception comes from the host's C++ runtime and unwinds into the library, which carries its own.
# The library must stop it, go on without the status line and finish the upload.
# Usage: throwing_host.sh BIN_DIR EXAMPLES_DIR
set -euo pipefail
bin=$1
examples=$2
work=$(mktemp -d)
emulator=""
trap '[ -n "$emulator" ] && kill "$emulator" 2>/dev/null; rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

# 5 ms a record makes the upload long enough for the status line (half a second).
"$bin/scale-emulator" --port 0 --delay 5 >"$work/emulator.out" &
emulator=$!
for _ in $(seq 100); do grep -q listening "$work/emulator.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/emulator.out")
[ -n "$port" ] || fail "the emulator did not start"

rc=0
start=$SECONDS
"$bin/velquora-host" --status-line-throws --ip 127.0.0.1 --port "$port" \
  upload-goods "$examples/goods.xml" >"$work/host.out" 2>&1 || rc=$?
[ "$rc" = 0 ] || { cat "$work/host.out"; fail "a host whose status line throws: exit $rc"; }
# 300 records at 5 ms each: the status line is due after half a second.
[ $((SECONDS - start)) -ge 1 ] || fail "the upload was too short to show its progress"
echo "throwing host: the upload went through although every status line threw"
