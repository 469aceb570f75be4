#!/usr/bin/env bash
# The command-line host against the emulator: exit codes, batch uploads with progress, and
# the record a failing batch stopped at. Usage: host_cli_test.sh BIN_DIR EXAMPLES_DIR
set -uo pipefail
bin=$1
examples=$2
work=$(mktemp -d)
emulator=""
emulator2=""
trap 'for e in $emulator $emulator2; do kill "$e" 2>/dev/null; done; rm -rf "$work"' EXIT
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

"$bin/scale-emulator" --port 0 >"$work/emulator.out" &
emulator=$!
for _ in $(seq 50); do grep -q listening "$work/emulator.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/emulator.out")
host=("$bin/velquora-host" --ip 127.0.0.1 --port "$port")

"${host[@]}" upload-goods "$examples/goods.xml" --batch 40 >"$work/ok.out" 2>"$work/ok.err"
check "upload 300 goods in batches" 0 $? "uploaded 300 goods" "$work/ok.out"
grep -q "300/300 records" "$work/ok.err"
check "progress bar" 0 $?

# Record 250 gets a price the scale cannot hold.
sed '252s/Price="[^"]*"/Price="2000000"/' "$examples/goods.xml" >"$work/bad.xml"
"${host[@]}" upload-goods "$work/bad.xml" --batch 40 >"$work/bad.out" 2>"$work/bad.err"
check "a failing record is named" 1 $? "record 250 (PLU 250): Некорректная цена" "$work/bad.err"

# A scale out of step: every answer twice, record 151 refused. The upload must fail.
"$bin/scale-emulator" --port 0 --double-answers --refuse-plu 151 >"$work/emulator2.out" &
emulator2=$!
for _ in $(seq 50); do grep -q listening "$work/emulator2.out" 2>/dev/null && break; sleep 0.1; done
port2=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/emulator2.out")
for mode in --batch=100 --quiet; do
  "$bin/velquora-host" --ip 127.0.0.1 --port "$port2" ${mode/=/ } upload-goods \
    "$examples/goods.xml" >"$work/step.out" 2>"$work/step.err"
  check "answers out of step fail the upload ($mode)" 1 $? "лишние байты после ответа" \
    "$work/step.err"
done
if grep -q "uploaded" "$work/step.out"; then
  echo "FAIL: a failed upload reported success"; failed=$((failed + 1))
fi

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

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
