#!/usr/bin/env bash
# The command-line host and the emulator as a user and a script meet them: error cases (message
# and exit code), uploads in one call with progress on a terminal and through a pipe, the page
# defaults, several scales at once, the document check, Ctrl-C.
# Usage: host_cli_test.sh BIN_DIR EXAMPLES_DIR
set -uo pipefail
bin=$1
examples=$2
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait; rm -rf "$work"' EXIT
passed=0
failed=0
fail() {  # MESSAGE [FILE]
  echo "FAIL: $1"
  if [ $# -ge 2 ]; then cat "$2"; fi
  failed=$((failed + 1))
}
check() {  # NAME EXPECTED_CODE ACTUAL_CODE [GREP_PATTERN FILE]
  if [ "$2" -ne "$3" ]; then
    fail "$1: exit $3, expected $2" "${5:-/dev/null}"
  elif [ $# -ge 5 ] && ! grep -q -- "$4" "$5"; then
    fail "$1: \"$4\" not in the output" "$5"
  else
    passed=$((passed + 1))
  fi
}
expect_not() {  # NAME GREP_PATTERN FILE: fails when the pattern is there
  if grep -q -- "$2" "$3"; then fail "$1" "$3"; else passed=$((passed + 1)); fi
}

# Starts an emulator with ARGS; sets $port and $pid, its stdout/stderr in $work/emu-$port.*
start_emulator() {
  local out
  out=$(mktemp "$work/emu.XXXX")
  "$bin/scale-emulator" --port 0 "$@" >"$out" 2>"$out.err" &
  pid=$!
  pids+=("$pid")
  for _ in $(seq 50); do grep -q listening "$out" 2>/dev/null && break; sleep 0.1; done
  port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$out")
  mv "$out" "$work/emu-$port.out"
  mv "$out.err" "$work/emu-$port.err"
}
# Stops the emulator on PORT (pid PID); its count of records is then in emu-PORT.err.
stop_emulator() {
  kill -TERM "$2"
  wait "$2" 2>/dev/null
}

start_emulator --dump "$work/fast.json"
fast=$port
fast_pid=$pid
host=("$bin/velquora-host" --ip 127.0.0.1 --port "$fast")

# ---- error cases: one line naming what is wrong (never a bare exception or the whole usage)
mkdir "$work/adir"
echo "just text" >"$work/text.txt"
printf 'IPPort=%s\nnot a setting line\n' "$fast" >"$work/bad-settings.txt"
: >"$work/empty.json"
echo '{"plu": 5}' >"$work/not-dump.json"
while IFS='|' read -r name code pattern command; do
  [ -z "$name" ] && continue
  # Builds without benchmarks (the sanitizer build) have no upload-bench.
  if [[ $command == *upload-bench* && ! -x $bin/upload-bench ]]; then continue; fi
  eval "$command" >"$work/case.out" 2>&1 </dev/null
  got=$?
  check "$name" "$code" "$got" "$pattern" "$work/case.out"
  if [ "$code" -ne 0 ] && grep -q "^Usage:\|what()\|basic_filebuf\|stoi" "$work/case.out"; then
    fail "$name: more than a one-line error" "$work/case.out"
  fi
done <<EOF
port not a number|2|--port takes a number 0..65535, not "abc"|"$bin/velquora-host" --port abc info
port out of range|2|--port takes a number 0..65535, not "70000"|"$bin/velquora-host" --port 70000 info
port of an address|2|the port of 127.0.0.1:x takes a number|"$bin/velquora-host" --ip 127.0.0.1:x test
font out of range|2|--commodity-font takes a number 0..9, not "12"|"$bin/velquora-host" --commodity-font 12 info
option without a value|2|--lib needs a value|"$bin/velquora-host" info --lib
unknown option|2|unknown option --frob|"$bin/velquora-host" --frob info
unknown command|2|unknown command frobnicate|"\${host[@]}" frobnicate
missing argument|2|upload-goods takes 1 argument|"\${host[@]}" upload-goods
check with a scale|2|check uses a scale emulator of its own|"\${host[@]}" check "$examples/goods.xml"
bad kind|2|--kind takes goods, groups or shops|"$bin/velquora-host" --kind pies check "$examples/goods.xml"
document missing|3|cannot read the document $work/none.xml: No such file or directory|"\${host[@]}" upload-goods "$work/none.xml"
document a directory|3|the document $work/adir is a directory|"\${host[@]}" upload-goods "$work/adir"
document not XML|3|$work/text.txt is not an XML document|"\${host[@]}" upload-groups "$work/text.txt"
empty standard input|3|standard input is not an XML document|"\${host[@]}" upload-goods - </dev/null
settings file missing|3|cannot read the settings file $work/none.txt|"\${host[@]}" --settings "$work/none.txt" info
settings file line|3|bad-settings.txt:2: not NAME=VALUE|"\${host[@]}" --settings "$work/bad-settings.txt" info
argument file missing|3|^error: cannot read the argument file $work/none.txt|"\${host[@]}" delete-good "@$work/none.txt"
library missing|3|cannot load the library|"$bin/velquora-host" --lib "$work/none.so" info
unreachable scale|4|^error: Ошибка при установлении подключения|"$bin/velquora-host" --ip 127.0.0.1 --port 1 clear-goods
driver refuses|1|^error: Не удалось преобразовать значение "abc"|"\${host[@]}" delete-good abc
help|0|Exit codes: 0 success; 1 the driver refused|"$bin/velquora-host" --help
version without a library|3|cannot load the library|"$bin/velquora-host" --lib "$work/none.so" --version
version|0|^library .* /.*libw_velquora.so$|"$bin/velquora-host" --version
emulator port not a number|2|--port takes a number 0..65535, not "abc"|"$bin/scale-emulator" --port abc
emulator port out of range|2|--port takes a number 0..65535, not "65536"|"$bin/scale-emulator" --port 65536
emulator close-after|2|--close-after takes a number|"$bin/scale-emulator" --close-after -1
emulator answer rule|2|--answer takes CMD:TABLE:BYTE in hex, not "F1:25"|"$bin/scale-emulator" --answer F1:25
emulator unknown|2|unknown argument --frob|"$bin/scale-emulator" --frob
emulator show missing|1|cannot read the dump $work/none.json|"$bin/scale-emulator" --show "$work/none.json"
emulator show empty|1|$work/empty.json is not a dump|"$bin/scale-emulator" --show "$work/empty.json"
emulator show other JSON|1|$work/not-dump.json is not a dump|"$bin/scale-emulator" --show "$work/not-dump.json"
emulator show a directory|1|$work/adir is a directory, not a dump|"$bin/scale-emulator" --show "$work/adir"
emulator help|0|--close-after N|"$bin/scale-emulator" --help
bench help|0|^Usage: upload-bench|"$bin/upload-bench" --help
EOF

# ---- uploads through a pipe: no bar frames, the summary with count and time
"${host[@]}" upload-goods "$examples/goods.xml" >"$work/ok.out" 2>"$work/ok.err"
check "upload 300 goods" 0 $? "^записано 300 товаров за [0-9]*,[0-9] с$" "$work/ok.out"
"${host[@]}" --json upload-groups - <"$examples/groups.xml" >"$work/json.out" 2>"$work/json.err"
check "groups from standard input, as JSON" 0 $? \
  '^{"command":"upload-groups","error":null,"exit":0,"ok":true,"records":10,"scale":"127.0.0.1:'"$fast"'","seconds":[0-9.e-]*,"total":10}$' \
  "$work/json.out"
# call opens the device for what needs it and echoes no argument it left unchanged.
"${host[@]}" call UploadGroups "@$examples/groups.xml" >"$work/call.out" 2>&1
check "call opens the device" 0 $? "^result: true$" "$work/call.out"
expect_not "call echoes the document back" "Молочная" "$work/call.out"
# A method a host calls on a closed driver opens nothing: no scale listens on port 1.
"$bin/velquora-host" --ip 127.0.0.1 --port 1 call GetDescription x >"$work/call-closed.out" 2>&1
check "call of a method for a closed driver" 0 $? "^result: true$" "$work/call-closed.out"

# Fonts given nowhere arrive as the driver's page defaults; info says where each came from.
printf '<Table><Record PLU="900" Code="900" EANData="2090009" Name="Гречка" GroupCode="1" Price="10" SellByDate="0" SellByTime="0" PLUTare="0" IsWeightGoods="false" Description="крупа" SpecMessage="сухо"/></Table>' \
  >"$work/plain.xml"
"${host[@]}" -q upload-goods "$work/plain.xml" >/dev/null 2>&1
"${host[@]}" -q upload-shops "$examples/shop.xml" >/dev/null 2>&1
kill -USR1 "$fast_pid"
sleep 0.5
python3 - "$work/fast.json" >"$work/fonts.out" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
plu = [p for p in d["plu"] if p["plu"] == 900][0]
print("name", plu["name"][0]["font"], "ingredients", plu["ingredients"][0]["font"],
      "spec", plu["spec_message"][0]["font"], "shop", d["shops"][0]["name"][0]["font"],
      "format", plu["label_format"])
PY
check "page default fonts on the scale" 0 0 "^name 6 ingredients 0 spec 1 shop 4 format 17$" \
  "$work/fonts.out"
"${host[@]}" --spec-font 3 info >"$work/info.out" 2>&1
check "info: a value from the command line" 0 $? "^  SpecMessageFont  *3  *command line$" "$work/info.out"
check "info: a page default" 0 0 "^  CommodityFont  *6  *page default$" "$work/info.out"
# Padded by characters, not bytes: the English names of the properties start in one column.
python3 - "$work/info.out" >"$work/columns.out" <<'PY'
import sys
lines = open(sys.argv[1], encoding="utf-8").read().split("\n")
start = lines.index([l for l in lines if l.startswith("properties")][0]) + 1
rows = [l for l in lines[start:] if l.startswith("  ")][:8]
print(sorted({len(l) - len(l[2:].split(None, 1)[1]) for l in rows}))
PY
check "info: columns aligned for Cyrillic" 0 0 "^\[[0-9]*\]$" "$work/columns.out"

# ---- a failing upload: the driver's text and where it stopped
start_emulator --delay 4
slow=$port
slow_host=("$bin/velquora-host" --ip 127.0.0.1 --port "$slow")
sed '252s/Price="[^"]*"/Price="2000000"/' "$examples/goods.xml" >"$work/bad.xml"
"${slow_host[@]}" upload-goods "$work/bad.xml" >"$work/bad.out" 2>"$work/bad.err"
# The document is checked whole before anything is sent: the driver's text says where.
check "a failing upload" 1 $? \
  '^error: Некорректная цена (запись 250, строка 252, PLU 250: Price="2000000")$' "$work/bad.err"
check "where it stopped" 0 0 \
  "^остановлено за [0-9]*,[0-9] с: документ не прошёл проверку: на весы ничего не отправлено$" \
  "$work/bad.err"
expect_not "a failed upload reported success" "записано" "$work/bad.out"

# ---- progress: plain lines through a pipe, a bar fitted to the width on a terminal
"${slow_host[@]}" upload-goods "$examples/goods.xml" >"$work/pipe.out" 2>"$work/pipe.err"
check "a long upload through a pipe" 0 $? "^Выгрузка товаров: [0-9 ]* из 300$" "$work/pipe.err"
if grep -q $'\r\|\033' "$work/pipe.err"; then fail "terminal frames in a pipe" "$work/pipe.err"; else passed=$((passed + 1)); fi
check "its summary" 0 0 "^записано 300 товаров за [0-9]*,[0-9] с$" "$work/pipe.out"
COLUMNS=50 script -qec "stty cols 50 2>/dev/null; ${slow_host[*]} upload-goods $examples/goods.xml" \
  /dev/null </dev/null >"$work/tty.out" 2>&1
check "a long upload on a terminal" 0 $? "records, [0-9]* rec/s" "$work/tty.out"
# Split into what the screen shows line by line: no frame wider than the 50 columns.
sed 's/\x1b\[[0-9;]*[A-Za-z]//g' "$work/tty.out" | tr '\r' '\n' >"$work/tty.lines"
check "the bar ends full" 0 0 "^\[#*\] 300/300 records" "$work/tty.lines"
if awk '{ if (length($0) > 49) bad = 1 } END { exit !bad }' "$work/tty.lines"; then
  fail "a bar wider than the terminal" "$work/tty.lines"
else
  passed=$((passed + 1))
fi
check "the bar is redrawn in place" 0 0 $'\033\\[K' "$work/tty.out"

# ---- three scales at once, one slow (progress), one closing the connection after 100 records
start_emulator --delay 4
a=$port
a_pid=$pid
start_emulator --close-after 100
b=$port
b_pid=$pid
start_emulator
c=$port
c_pid=$pid
printf '# the shop'"'"'s scales\n127.0.0.1:%s\n127.0.0.1:%s  # by the door\n\n127.0.0.1:%s\n' \
  "$a" "$b" "$c" >"$work/scales.txt"
"$bin/velquora-host" --ips "$work/scales.txt" upload-goods "$examples/goods.xml" \
  >"$work/many.out" 2>"$work/many.err"
# A connection the scale closes is a transport failure, named with how far the upload got.
check "three scales: exit code of the broken connection" 4 $? \
  "^127.0.0.1:$a  *ok  *300/300 " "$work/many.out"
check "three scales: the second" 0 0 \
  "^127.0.0.1:$b  *FAILED .*Соединение закрыто весами (127.0.0.1:$b; записано 100 из 300)" \
  "$work/many.out"
check "three scales: the third" 0 0 "^127.0.0.1:$c  *ok  *300/300 " "$work/many.out"
check "three scales: progress lines name their scale" 0 0 \
  "^127.0.0.1:$a: Выгрузка товаров: [0-9 ]* из 300$" "$work/many.err"
for p in "$a_pid" "$b_pid" "$c_pid"; do stop_emulator x "$p"; done
check "emulator: count on exit" 0 0 "^scale-emulator: 300 records received" "$work/emu-$a.err"
check "emulator: closed after 100" 0 0 "^scale-emulator: 100 records received" "$work/emu-$b.err"

# ---- check: the driver's first fault, nothing sent to any scale
start_emulator
watch=$port
watch_pid=$pid
"$bin/velquora-host" check "$examples/goods.xml" >"$work/check-ok.out" 2>&1
check "check a good document" 0 $? "^OK: записано 300 товаров на эмулятор 127.0.0.1:" \
  "$work/check-ok.out"
"$bin/velquora-host" --settings <(echo "IPAddress=127.0.0.1"; echo "IPPort=$watch") \
  check "$work/bad.xml" >"$work/check-bad.out" 2>&1
check "check a bad document" 1 $? \
  '^error: Некорректная цена (запись 250, строка 252, PLU 250: Price="2000000")$' \
  "$work/check-bad.out"
"$bin/velquora-host" check - <"$examples/groups.xml" >"$work/check-groups.out" 2>&1
check "check tells groups by their records" 0 $? "^OK: записано 10 групп" "$work/check-groups.out"
stop_emulator x "$watch_pid"
check "check sent nothing to a scale in the settings" 0 0 \
  "^scale-emulator: 0 records received on 0 connections" "$work/emu-$watch.err"

# ---- a scale that stops answering after 50 records (the driver waits out its 10 s answer
# time-out: run beside the Ctrl-C cases below)
start_emulator --mute-after 50 --verbose
mute=$port
mute_pid=$pid
"$bin/velquora-host" --json --ip 127.0.0.1 --port "$mute" upload-goods "$examples/goods.xml" \
  >"$work/mute.out" 2>"$work/mute.err" &
mute_host=$!

# ---- Ctrl-C: the first waits for the call, the second ends at once and says how far it got
start_emulator --delay 10
ctl=$port
"$bin/velquora-host" --ip 127.0.0.1 --port "$ctl" upload-goods "$examples/goods.xml" \
  >"$work/int1.out" 2>"$work/int1.err" &
hp=$!
sleep 1
kill -INT "$hp"
wait "$hp"
check "one Ctrl-C: the call ends, then exit 130" 130 $? "^записано 300 товаров" "$work/int1.out"
check "one Ctrl-C: it says it waits" 0 0 "остановка после возврата текущего вызова" "$work/int1.err"
"$bin/velquora-host" --ip 127.0.0.1 --port "$ctl" upload-goods "$examples/goods.xml" \
  >"$work/int2.out" 2>"$work/int2.err" &
hp=$!
sleep 1.5
kill -INT "$hp"
sleep 0.2
kill -INT "$hp"
wait "$hp"
check "two Ctrl-C: exit 130 at once" 130 $? \
  "прервано: по последней строке состояния весы приняли [0-9]* из 300 товаров; весы могут хранить" \
  "$work/int2.err"

wait "$mute_host"
check "a scale that stops answering: transport" 4 $? \
  '"error":"Ошибка при получении ответа от сервера (127.0.0.1:[0-9]*: нет ответа за 10 с; записано 50 из 300)","exit":4,"ok":false,"records":50,.*"total":300' \
  "$work/mute.out"
stop_emulator x "$mute_pid"
check "emulator --verbose: progress while receiving" 0 0 "^scale-emulator: 50 records received$" \
  "$work/emu-$mute.err"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
