#!/usr/bin/env bash
# The machine-wide log folder among several local users. Only root (a process that may create
# folders in /var/lib) logs there: the folder is root's to write and everyone's to read, another
# user logs into his own folder, and whatever another user plants under a name root logs into (in
# a folder an earlier version left open to all) is refused, as is a second name of another file.
# Runs as root with a fresh /var/lib in a mount namespace of its own, and as a user id that has no
# account: nothing is left behind.
# Usage: log_rights.sh BIN_DIR
# (PRIVATE_MOUNTS=1: already in a mount namespace whose mounts are private, as a chroot, where
# unshare cannot make them so, must be started.)
set -euo pipefail
if [ -z "${PRIVATE_MOUNTS:-}" ]; then
  exec env PRIVATE_MOUNTS=1 unshare --mount --propagation private bash "$0" "$@"
fi
bin=$1
mount -t tmpfs -o mode=0755 velquora-log-rights /var/lib
work=/var/lib/velquora-test # on the tmpfs: gone with the namespace
mkdir -p "$work"
emulator=""
trap '[ -n "$emulator" ] && kill "$emulator" 2>/dev/null' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

"$bin/scale-emulator" --port 0 >"$work/emulator.out" &
emulator=$!
for _ in $(seq 100); do grep -q listening "$work/emulator.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/emulator.out")
[ -n "$port" ] || fail "the emulator did not start"

folder=/var/lib/Korvanta/w_velquora
stranger=40001
mkdir -p "$work/home"
chown "$stranger:$stranger" "$work/home"
# COMMAND... as the other user, with a home of its own.
as_stranger() {
  setpriv --reuid="$stranger" --regid="$stranger" --clear-groups \
    env HOME="$work/home" XDG_DATA_HOME= XDG_CACHE_HOME= "$@"
}
# A device test with logging on, against ADDRESS (the log file is named after it). Only the
# exchange's answer can fail the call, so the exit code is not checked.
log_test() {
  local address=$1
  shift
  "$@" "$bin/velquora-host" --ip "$address" --port "$port" --log test >"$work/host.out" 2>&1 || true
}
log_file() { echo "$folder/${1//./_}_$(date +%Y.%m.%d).log"; }
mode_owner() { stat -c '%a %u' "$1"; }

# Root, under the loosest umask: the folder and its parent 0755, the file 0644, all root's.
(umask 0 && log_test 127.0.0.1)
[ -s "$(log_file 127.0.0.1)" ] || { cat "$work/host.out"; fail "root wrote no log"; }
for path in /var/lib/Korvanta "$folder"; do
  [ "$(mode_owner "$path")" = "755 0" ] || fail "$path is $(mode_owner "$path") (mode, owner)"
done
[ "$(mode_owner "$(log_file 127.0.0.1)")" = "644 0" ] ||
  fail "root's log file is $(mode_owner "$(log_file 127.0.0.1)")"

# Another user reads root's records but can neither add a file nor change one; his own host
# logs into his own folder.
as_stranger cat "$(log_file 127.0.0.1)" >/dev/null || fail "another user cannot read root's log"
as_stranger sh -c ": >'$folder/planted.log'" 2>/dev/null && fail "another user created a file in $folder"
as_stranger sh -c "echo forged >>'$(log_file 127.0.0.1)'" 2>/dev/null && fail "another user wrote to root's log"
before=$(ls "$folder")
log_test 127.0.0.1 as_stranger
own=$work/home/.local/share/Korvanta/w_velquora
[ -s "$own/127_0_0_1_$(date +%Y.%m.%d).log" ] || { cat "$work/host.out"; fail "the other user's host wrote no log of its own"; }
[ "$(mode_owner "$own")" = "700 $stranger" ] || fail "the other user's log folder is $(mode_owner "$own")"
[ "$(ls "$folder")" = "$before" ] || fail "the other user's host wrote into $folder"

# A folder an earlier version made open to all (1777): the other user pre-creates the day's file
# of another scale; root's records for it are refused, never appended to his file.
chmod 1777 "$folder"
planted=$(log_file 127.0.0.2)
as_stranger sh -c "umask 0 && : >'$planted'"
log_test 127.0.0.2
[ ! -s "$planted" ] || fail "root appended to a log file the other user made: $(head -c 200 "$planted")"
[ "$(mode_owner "$planted")" = "666 $stranger" ] || fail "the planted file changed: $(mode_owner "$planted")"

# A second name for one of root's files under a day file's name: the file keeps its content.
echo precious >/var/lib/victim
ln /var/lib/victim "$(log_file 127.0.0.3)"
log_test 127.0.0.3
[ "$(cat /var/lib/victim)" = precious ] || fail "root appended through a hard link: $(head -c 200 /var/lib/victim)"
echo "log rights: root's folder 0755 and file 0644; another user reads, cannot write, logs at home;" \
  "his planted file and a hard link are refused"
