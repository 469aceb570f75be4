#!/usr/bin/env bash
# The library in a host with an allocator of its own (bump_malloc.so preloaded: a block that
# crosses between it and the C library's allocator ends the run), loaded as hosts load it, with
# and without RTLD_DEEPBIND: ShowHelp unpacks and converts the help before it starts its window
# (which fails here, where no toolkit is installed, naming the missing library), and a goods
# upload. Neither may end the host.
# Usage: foreign_allocator.sh BIN_DIR EXAMPLES_DIR        (BIN_DIR also holds bump_malloc.so)
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

"$bin/scale-emulator" --port 0 >"$work/emulator.out" &
emulator=$!
for _ in $(seq 100); do grep -q listening "$work/emulator.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/emulator.out")
[ -n "$port" ] || fail "the emulator did not start"

# A host with its own allocator: HOST_ARGS... run with bump_malloc.so preloaded; prints the exit code.
host() {
  local rc=0
  env LD_PRELOAD="$bin/bump_malloc.so" XDG_CACHE_HOME="$work/cache" DISPLAY=:77 \
    "$bin/velquora-host" "$@" >"$work/host.out" 2>&1 || rc=$?
  echo "$rc"
}

for mode in "" --deepbind; do
  what="loaded ${mode:-without --deepbind}"
  rc=$(host $mode call DoAdditionalAction ShowHelp)
  # 1: the driver answered false (no toolkit); an abort is 134, a crossed block 99.
  if [ "$rc" != 1 ] || ! grep -q "libgtk-3.so.0" "$work/host.out"; then
    cat "$work/host.out"
    fail "ShowHelp in a host with its own allocator, $what: exit $rc"
  fi
  rc=$(host $mode --ip 127.0.0.1 --port "$port" upload-goods "$examples/goods.xml" --quiet)
  if [ "$rc" != 0 ]; then
    cat "$work/host.out"
    fail "a goods upload in a host with its own allocator, $what: exit $rc"
  fi
done
echo "foreign allocator: ShowHelp's help and a goods upload, with and without RTLD_DEEPBIND"
