#!/usr/bin/env bash
# Builds the release in the Debian 11 root and tries it as users would get it:
#   - the package: its manifest lists every file, each file is the one built;
#   - fresh minbase roots of Debian 11 and Debian 12, holding nothing of the project's
#     dependencies: the command-line host runs info, test and a goods upload against the
#     emulator and every call answers as with the development build (DEV_BIN); the windows
#     fail with a message naming the missing toolkit;
#   - the same roots without /proc, the host ignoring SIGCHLD: the failed viewer fails the call;
#   - Debian 12 with a virtual display and the toolkit: the help window from memory, the viewer's
#     cache where memory may not run, a window without /proc.
# Usage: release-test.sh DEV_BIN_DIR      (needs root; the roots are cached, see release-root.sh)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
source "$here/lib/debian-root.sh"
dev_bin=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
step() {
  echo "== release: $1 ($((SECONDS - step_start)) s so far)"
}
step_start=$SECONDS

# The test roots are made (when the cache lacks them) while the release builds: fetching packages
# waits on the network, building on the processor. A root that fails here is tried again below.
for suite in bullseye bookworm bookworm-desktop; do
  bash "$here/release-root.sh" "$suite" >/dev/null 2>&1 &
done

build=$(bash "$here/build-release.sh")
step "built in $build"
version=$(sed -n 's/^project(velquora VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
bash "$repo/tests/release/package_test.sh" "$build/w_velquora-$version.zip" \
  "libw_velquora_linux_x86_64.so=$build/bin/libw_velquora.so" \
  "w_velquora_windows_x86_64.dll=$build-win64/bin/w_velquora.dll" \
  "w_velquora_windows_i386.dll=$build-win32/bin/w_velquora.dll" "BOM.TXT=$build/BOM.TXT"
for pair in "x86_64-w64-mingw32:$build-win64" "i686-w64-mingw32:$build-win32"; do
  cmake -DLIB="${pair#*:}/bin/w_velquora.dll" -DOBJDUMP="${pair%%:*}-objdump" \
    -P "$repo/tests/windows/dll_exports_check.cmake"
done
cmake -DFILE="$build/bin/libw_velquora.so" -DMAX_GLIBC=2.31 \
  "-DEXPORTS=DestroyObject;GetClassNames;GetClassObject" -P "$repo/cmake/CheckReleaseBinary.cmake"

bash "$repo/tests/release/smoke.sh" "$dev_bin" "$repo/examples" "$work/expected" ||
  { echo "FAIL: the development build's own smoke run"; cat "$work"/expected/*.txt; exit 1; }

# Copies what a user would have into a root: the library, the host and the emulator (built in
# the release root, so they run there), the test scripts and the sample goods.
stage() {
  local root=$1
  rm -rf "$root/opt/velquora-test"
  mkdir -p "$root/opt/velquora-test/bin" "$root/opt/velquora-test/examples"
  cp "$build/bin/libw_velquora.so" "$build/bin/velquora-host" "$build/bin/scale-emulator" \
    "$root/opt/velquora-test/bin/"
  cp "$repo/tests/release/"*.sh "$root/opt/velquora-test/"
  cp "$repo/examples/goods.xml" "$root/opt/velquora-test/examples/"
}

for suite in bullseye bookworm; do
  root=$(bash "$here/release-root.sh" "$suite")
  stage "$root"
  root_run "$root" -- bash /opt/velquora-test/smoke.sh /opt/velquora-test/bin \
    /opt/velquora-test/examples /opt/velquora-test/out ||
    { echo "FAIL: smoke run in $suite"; cat "$root"/opt/velquora-test/out/*.txt; exit 1; }
  diff -r "$work/expected" "$root/opt/velquora-test/out" ||
    { echo "FAIL: in $suite the release answers differently from the development build"; exit 1; }
  # No window toolkit in a minbase root: the action fails and names what is missing.
  rc=0
  root_run "$root" -- env DISPLAY=:77 /opt/velquora-test/bin/velquora-host call DoAdditionalAction \
    ViewLog >"$work/nogtk.out" 2>&1 || rc=$?
  if [ "$rc" -eq 0 ] || ! grep -q "libgtk-3.so.0" "$work/nogtk.out"; then
    cat "$work/nogtk.out"
    echo "FAIL: in $suite without GTK the log viewer did not name the missing library"
    exit 1
  fi
  step "Debian $suite: info, test and upload answer as in the development build; no toolkit is named"
done

# The viewer as a guest of the host's process, in the bare roots (no toolkit): a host that ignores
# SIGCHLD, on a system without /proc (an empty folder over it). The viewer still starts (from
# memory, through its descriptor) and fails, and the call answers false, naming the missing
# library with the loader's reason.
viewer_guest_case() {  # ROOT SUITE
  local root=$1 suite=$2 rc=0
  # In a chroot "/" is no mount point, so /proc itself is made private before it is covered.
  root_run "$root" -- unshare --mount --propagation unchanged sh -c \
    'mount --make-private /proc && mount -t tmpfs none /proc && trap "" CHLD && exec "$@"' \
    sh env DISPLAY=:77 /opt/velquora-test/bin/velquora-host \
    --lib /opt/velquora-test/bin/libw_velquora.so call DoAdditionalAction ViewLog \
    >"$work/guest.out" 2>&1 || rc=$?
  if [ "$rc" -eq 0 ] || ! grep -q "^result: false" "$work/guest.out" ||
    ! grep -q "Ответ загрузчика: libgtk-3.so.0: cannot open shared object file" "$work/guest.out"; then
    cat "$work/guest.out"
    echo "FAIL: in $suite without /proc and with SIGCHLD ignored the failed viewer was not reported"
    exit 1
  fi
  step "Debian $suite: no /proc, SIGCHLD ignored: the failed viewer fails the call, with the loader's reason"
}
for suite in bullseye bookworm; do
  viewer_guest_case "$(bash "$here/release-root.sh" "$suite")" "$suite"
done

root=$(bash "$here/release-root.sh" bookworm-desktop)
stage "$root"
root_run "$root" -- bash /opt/velquora-test/window_test.sh /opt/velquora-test/bin
step "Debian bookworm desktop: windows from the carried viewer (memory, cache, no /proc)"
