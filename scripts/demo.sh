#!/usr/bin/env bash
# The demo: a scale emulator on a free loopback port, the sample shop loaded into it through
# the command-line host exactly as a business application would, then what the scale holds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELQUORA_TESTS=OFF -DVELQUORA_BENCH=OFF >/dev/null
cmake --build build/demo -j "$(nproc)" >/dev/null
bin=build/demo/bin

work=$(mktemp -d)
trap 'kill "$emulator" 2>/dev/null || true; rm -rf "$work"' EXIT
"$bin/scale-emulator" --port 0 --dump "$work/scale.json" >"$work/emulator.out" &
emulator=$!
for _ in $(seq 50); do
  grep -q listening "$work/emulator.out" 2>/dev/null && break
  sleep 0.1
done
port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/emulator.out")
echo "Scale emulator listening on 127.0.0.1:$port"

host=("$bin/velquora-host" --ip 127.0.0.1 --port "$port" --commodity-font 6 --ingredient-font 0
      --spec-font 1 --company-font 4 --label-format 17 --log --ext-log)
"${host[@]}" test
"${host[@]}" clear-goods
"${host[@]}" clear-groups
"${host[@]}" upload-shops examples/shop.xml
"${host[@]}" upload-groups examples/groups.xml
"${host[@]}" upload-goods examples/goods.xml
"${host[@]}" upload-data F41 examples/preset_keys.hex

kill -TERM "$emulator"
wait "$emulator" || true
echo
echo "What the scale now holds:"
"$bin/scale-emulator" --show "$work/scale.json"
echo
log_folder=$("${host[@]}" info | sed -n 's/.*LogPath="\([^"]*\)".*/\1/p')
echo "Driver log: ${log_folder}127_0_0_1_$(date +%Y.%m.%d).log"
