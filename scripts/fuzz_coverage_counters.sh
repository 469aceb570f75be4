#!/usr/bin/env bash
# Counts the coverage counters (libFuzzer's inline 8-bit counters, one per instrumented edge)
# in every static library of a fuzz build, to show that the libraries themselves are
# instrumented and not only the fuzz targets. Usage: scripts/fuzz_coverage_counters.sh build/fuzz
set -euo pipefail
build=${1:-build/fuzz}
status=0
while IFS= read -r lib; do
  # objdump -h: one line per section: index, name, size (hex), ...
  read -r objects with counters < <(objdump -h "$lib" | python3 -c '
import sys
objects = with_counters = counters = 0
for line in sys.stdin:
    parts = line.split()
    if "file format" in line:
        objects += 1
    elif len(parts) > 2 and parts[1] == "__sancov_cntrs":
        with_counters += 1
        counters += int(parts[2], 16)
print(objects, with_counters, counters)')
  printf '%-48s %3d objects, %3d counter sections, %6d counters\n' "${lib#"$build"/}" "$objects" "$with" "$counters"
  if [ "$counters" -eq 0 ]; then status=1; fi
done < <(find "$build" -name 'libvelquora_*.a' | sort)
exit $status
