#!/usr/bin/env bash
# Runs one fuzz target of a fuzz build for a while, with its dictionary, growing a working corpus
# in the build folder from the seeds in tests/fuzz/corpus (the seeds are never changed).
# Crash inputs land in <build>/fuzz-artifacts/<target>/.
# Usage: scripts/fuzz_run.sh TARGET [SECONDS=300] [BUILD=build/fuzz] [extra libFuzzer flags...]
set -euo pipefail
cd "$(dirname "$0")/.."
target=$1
seconds=${2:-300}
build=${3:-build/fuzz}
shift $(($# < 3 ? $# : 3))
work="$build/fuzz-corpus/$target"
artifacts="$build/fuzz-artifacts/$target"
mkdir -p "$work" "$artifacts"
dict=()
if [ -f "tests/fuzz/dict/$target.dict" ]; then dict=(-dict="tests/fuzz/dict/$target.dict"); fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$build/tests/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$artifacts/" "${dict[@]}" "$@" "$work" \
  "tests/fuzz/corpus/$target"
