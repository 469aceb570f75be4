#!/usr/bin/env bash
# Records one session of every driver method through the command-line host against emulators
# (accepting, refusing, out of step, closing, absent) with the driver log and the exchange log
# on: the host's outputs and exit codes, the emulators' dumps and the driver's log files, with
# timestamps and the work folder masked. Two builds that behave alike record identical folders:
#   scripts/record-session.sh build/a/bin a.out && scripts/record-session.sh build/b/bin b.out
#   diff -r a.out b.out
# Usage: record-session.sh BIN_DIR OUT_DIR
set -uo pipefail
bin=$(realpath "$1")
examples=$(realpath "$(dirname "$0")/../examples")
out=$2
rm -rf "$out"
mkdir -p "$out/logs" "$out/dumps"
out=$(realpath "$out")
work=$(mktemp -d)
chmod 755 "$work"
pids=()
# shellcheck disable=SC2154  # p is the loop's own variable
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
export XDG_DATA_HOME=$work/data HOME=$work/home
mkdir -p "$XDG_DATA_HOME" "$HOME"
# As root the driver would log into /var/lib: the host runs as nobody, whose logs go to the
# work folder.
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody "$work"
  as_user() { setpriv --reuid=nobody --regid=nogroup --clear-groups env XDG_DATA_HOME="$XDG_DATA_HOME" HOME="$HOME" "$@"; }
else
  as_user() { "$@"; }
fi

# Waits for an emulator's first line ("listening on ADDR:PORT", "control on ADDR:PORT") and
# prints the port.
port_of() {  # OUTPUT_FILE
  for _ in $(seq 50); do grep -q " on " "$1" 2>/dev/null && break; sleep 0.1; done
  sed -n 's/^.* on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$1"
}
declare -A scale_pid scale_port
start_scale() {  # NAME [OPTIONS...]: on a free port, scale_port[NAME] (no port shows in the records)
  local name=$1
  shift
  "$bin/scale-emulator" --port 0 --dump "$out/dumps/$name.json" "$@" >"$work/$name.emu" 2>&1 &
  pids+=($!)
  scale_pid[$name]=$!
  scale_port[$name]=$(port_of "$work/$name.emu")
}
stop_scale() {  # NAME
  kill -TERM "${scale_pid[$1]}" || cat "$work/$1.emu" >&2
  wait "${scale_pid[$1]}" 2>/dev/null
}

step=0
run() {  # PORT ARGS... : one host process, its outputs into the transcript
  local port=$1
  shift
  step=$((step + 1))
  {
    echo "=== $step: $*"
    as_user "$bin/velquora-host" -q --ip 127.0.0.1 --port "$port" --log --ext-log \
      --commodity-font 3 --company-font 2 --label-format 17 "$@" >"$work/o" 2>"$work/e"
    echo "exit $?"
    # An upload's summary carries its time ("за 0,2 с"), which differs from run to run.
    echo "--- stdout"
    sed -E 's/за [0-9]+,[0-9] с/за N с/g' "$work/o"
    echo "--- stderr"
    sed -E 's/за [0-9]+,[0-9] с/за N с/g' "$work/e"
  } >>"$out/transcript.txt"
}

cp "$examples"/* "$work/"
sed 's/Price="878.90"/Price="abc"/' "$examples/goods.xml" >"$work/bad_price.xml"
printf '<Table><Record PLU="1" Code="1" EANData="2010001" Name="x" GroupCode="1" Price="1" SellByDate="1" SellByTime="0" PLUTare="0"/>' >"$work/broken.xml"
printf '<SystemSettings DateTime="2024-05-17T10:30:00"/>' >"$work/system.xml"
chmod 644 "$work"/*.xml "$work"/*.hex

start_scale main
P=${scale_port[main]}
run $P info
run $P test
run $P upload-goods "$work/goods.xml"
run $P upload-groups "$work/groups.xml"
run $P upload-shops "$work/shop.xml"
run $P upload-data F41 "$work/preset_keys.hex"
run $P upload-data D41 /dev/null
run $P upload-data X41 "$work/preset_keys.hex"
run $P upload-data F4 "$work/preset_keys.hex"
printf 'F1' >"$work/odd.hex"; printf '0000000100ZZ' >"$work/nothex.hex"; chmod 644 "$work"/*.hex
run $P upload-data F41 "$work/odd.hex"
run $P upload-data F41 "$work/nothex.hex"
run $P upload-data D25 /dev/null
run $P delete-good 5
run $P delete-good 99999
run $P delete-good -1
run $P delete-group 3
run $P delete-group abc
run $P upload-goods "$work/bad_price.xml"
run $P upload-goods "$work/broken.xml"
run $P call GetInterfaceRevision
run $P call GetLastError ""
run $P call SetParameter Extra 5
run $P call DoAdditionalAction Nothing
run $P call DoAdditionalAction ViewLog
run $P call Nope
run $P call UploadGoods "" "@$work/goods.xml" ""
run $P call Open ""
run $P call ClearGoods ""
run $P clear-groups
run $P upload-goods "$work/goods.xml"
run $P clear-goods
stop_scale main

# A refused record in the middle of an upload.
start_scale refuse --refuse-plu 7
run "${scale_port[refuse]}" upload-goods "$work/goods.xml"
stop_scale refuse
# Refusals of every table.
start_scale answers --answer F1:23:15 --answer F2:25:15 --answer F3:25:15 --answer F3:23:06 \
  --answer F1:3D:15 --answer F1:41:15 --answer F2:23:15
run "${scale_port[answers]}" upload-groups "$work/groups.xml"
run "${scale_port[answers]}" upload-shops "$work/shop.xml"
run "${scale_port[answers]}" clear-goods
run "${scale_port[answers]}" clear-groups
run "${scale_port[answers]}" delete-good 4
run "${scale_port[answers]}" delete-group 4
run "${scale_port[answers]}" upload-data F41 "$work/preset_keys.hex"
stop_scale answers
# A scale out of step: every answer twice, and bytes after every answer.
start_scale double --double-answers
run "${scale_port[double]}" upload-groups "$work/groups.xml"
run "${scale_port[double]}" clear-goods
stop_scale double
start_scale noise --noise FF13
run "${scale_port[noise]}" upload-goods "$work/goods.xml"
stop_scale noise
# Connections reset by the scale: the one Open makes, then the one of the upload.
start_scale drop --drop 2
run "${scale_port[drop]}" upload-goods "$work/goods.xml"
run "${scale_port[drop]}" upload-goods "$work/goods.xml"
stop_scale drop
# A scale that closes the connection instead of answering the fifth goods record.
"$bin/scale-emulator" --control --port 0 >"$work/control.emu" 2>&1 &
pids+=($!)
control=$!
exec 5<>"/dev/tcp/127.0.0.1/$(port_of "$work/control.emu")"
echo "start 127.0.0.1" >&5
read -r started <&5
cport=$(echo "$started" | sed -E 's/.*"port":([0-9]+).*/\1/')
echo 'faults 1 {"rules":[{"command":241,"table":37,"record":5,"close":true}]}' >&5
read -r _ <&5
run "$cport" upload-goods "$work/goods.xml"
echo "dump 1" >&5
read -r dump <&5
echo "$dump" >"$out/dumps/closing.json"
exec 5>&-
kill $control
# No scale at all (the port of one that has gone): three attempts, then the failure.
start_scale gone
stop_scale gone
rm -f "$out/dumps/gone.json"
run "${scale_port[gone]}" test
run "${scale_port[gone]}" upload-groups "$work/groups.xml"
# A bad address.
step=$((step + 1))
{
  echo "=== $step: bad address"
  as_user "$bin/velquora-host" -q --ip 300.1.1.1 --port "$P" --log test >"$work/o" 2>"$work/e"
  echo "exit $?"
  cat "$work/o" "$work/e"
} >>"$out/transcript.txt"

# The driver's log files, timestamps masked.
for f in $(find "$work/data" -name '*.log' | sort); do
  name=$(basename "$f" | sed -E 's/[0-9]{4}\.[0-9]{2}\.[0-9]{2}/DATE/')
  sed -E 's/^[0-9]{4}\.[0-9]{2}\.[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}/TIMESTAMP/' "$f" \
    >"$out/logs/$name"
done
find "$work/data" -printf '%P %m\n' | sort >"$out/log_tree.txt"
sed -i "s#$work#WORK#g" "$out/transcript.txt" "$out"/logs/*
