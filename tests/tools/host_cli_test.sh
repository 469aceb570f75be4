#!/usr/bin/env bash
# The command-line host against the emulator: exit codes, uploads in one call with a progress bar
# drawn from the driver's status line, the driver's error text on failure.
# Usage: host_cli_test.sh BIN_DIR EXAMPLES_DIR
set -uo pipefail
bin=$1
examples=$2
work=$(mktemp -d)
emulator=""
slow=""
emulator2=""
trap 'for e in $emulator $slow $emulator2; do kill "$e" 2>/dev/null; done; rm -rf "$work"' EXIT
passed=0
failed=0
check() {  # NAME EXPECTED_CODE ACTUAL_CODE [GREP_PATTERN FILE]
  if [ "$2" -ne "$3" ]; then
    echo "FAIL: $1: exit $3, expected $2"
    failed=$((failed + 1))
  elif [ $# -ge 5 ] && ! grep -q -- "$4" "$5"; then
    echo "FAIL: $1: \"$4\" not in the output"; cat "$5"
    failed=$((failed + 1))
  else
    passed=$((passed + 1))
  fi
}

port_of() {  # OUTPUT_FILE: waits for the emulator's "listening" line, prints its port
  for _ in $(seq 50); do grep -q listening "$1" 2>/dev/null && break; sleep 0.1; done
  sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$1"
}
"$bin/scale-emulator" --port 0 >"$work/emulator.out" &
emulator=$!
port=$(port_of "$work/emulator.out")
host=("$bin/velquora-host" --ip 127.0.0.1 --port "$port")

"${host[@]}" upload-goods "$examples/goods.xml" >"$work/ok.out" 2>"$work/ok.err"
check "upload 300 goods" 0 $? "upload-goods: done" "$work/ok.out"
# Two records end well within half a second, even in a sanitizer build: no bar at all.
sed -n '1,3p;$p' "$examples/goods.xml" >"$work/two.xml"
"${host[@]}" upload-goods "$work/two.xml" >"$work/two.out" 2>"$work/two.err"
check "upload 2 goods" 0 $? "upload-goods: done" "$work/two.out"
if grep -q "records" "$work/two.err"; then
  echo "FAIL: a short upload drew a progress bar"; cat "$work/two.err"; failed=$((failed + 1))
else
  passed=$((passed + 1))
fi

# A scale that takes 4 ms a record: the 300 goods take over a second, in one call.
"$bin/scale-emulator" --port 0 --delay 4 >"$work/slow.out" &
slow=$!
slow_host=("$bin/velquora-host" --ip 127.0.0.1 --port "$(port_of "$work/slow.out")")
"${slow_host[@]}" upload-goods "$examples/goods.xml" >"$work/slow-ok.out" 2>"$work/slow-ok.err"
check "a long upload" 0 $? "upload-goods: done" "$work/slow-ok.out"
check "its progress bar ends full" 0 0 "300/300 records, [0-9]* rec/s, 0.0 s left" "$work/slow-ok.err"
check "the bar is drawn while it runs" 0 0 "\] [0-9]*/300 records, [0-9]* rec/s, [0-9.]* s left" \
  "$work/slow-ok.err"
"${slow_host[@]}" -q upload-goods "$examples/goods.xml" >"$work/quiet.out" 2>"$work/quiet.err"
check "quiet" 0 $?
if [ -s "$work/quiet.err" ]; then
  echo "FAIL: -q printed"; cat "$work/quiet.err"; failed=$((failed + 1))
else
  passed=$((passed + 1))
fi

# Record 250 gets a price the scale cannot hold: the driver's own text, with where, is printed.
sed '252s/Price="[^"]*"/Price="2000000"/' "$examples/goods.xml" >"$work/bad.xml"
"${slow_host[@]}" upload-goods "$work/bad.xml" >"$work/bad.out" 2>"$work/bad.err"
check "a failing upload" 1 $? \
  '^error: Некорректная цена (запись 250, строка 252, PLU 250: Price="2000000")$' "$work/bad.err"
if grep -q "300/300" "$work/bad.err"; then
  echo "FAIL: the bar of a failed upload was drawn full"; failed=$((failed + 1))
else
  passed=$((passed + 1))
fi

# A scale out of step: every answer twice, record 151 refused. The upload must fail.
"$bin/scale-emulator" --port 0 --double-answers --refuse-plu 151 >"$work/emulator2.out" &
emulator2=$!
step_host=("$bin/velquora-host" --ip 127.0.0.1 --port "$(port_of "$work/emulator2.out")")
for quiet in "" -q; do
  "${step_host[@]}" $quiet upload-goods "$examples/goods.xml" >"$work/step.out" 2>"$work/step.err"
  check "answers out of step fail the upload ($quiet)" 1 $? "лишние байты после ответа" \
    "$work/step.err"
  if grep -q "done" "$work/step.out"; then
    echo "FAIL: a failed upload reported success"; failed=$((failed + 1))
  fi
done

"${host[@]}" delete-good 17 >"$work/del.out" 2>&1
check "delete a good" 0 $?
"$bin/velquora-host" --ip 127.0.0.1 --port 1 clear-goods >"$work/down.out" 2>&1
check "unreachable scale" 1 $? "Ошибка при установлении подключения" "$work/down.out"
"${host[@]}" frobnicate >"$work/usage.out" 2>&1
check "unknown command" 2 $? "unknown command" "$work/usage.out"
"${host[@]}" upload-goods >"$work/usage2.out" 2>&1
check "missing argument" 2 $?
"$bin/velquora-host" --help >"$work/help.out" 2>&1
check "help" 0 $? "upload-goods FILE" "$work/help.out"

# The dump is written when the emulator stops: before that the file is empty, which --show must
# say rather than crash on.
: >"$work/empty.json"
"$bin/scale-emulator" --show "$work/empty.json" >"$work/show-empty.out" 2>&1
check "--show of an empty file" 1 $? "is not a dump" "$work/show-empty.out"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
