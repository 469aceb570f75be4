#!/usr/bin/env bash
# Builds the release in the Debian 11 root and tries it as users would get it:
#   - the package: its manifest lists every file, each file is the one built;
#   - fresh minbase roots of Debian 11 and Debian 12, holding nothing of the project's
#     dependencies: the command-line host runs info, test and a goods upload against the
#     emulator and every call answers as with the development build (DEV_BIN); the windows
#     fail with a message naming the missing toolkit;
#   - the same roots without /proc, the host ignoring SIGCHLD: the failed viewer fails the call;
#   - Debian 12 with a virtual display and the toolkit: the help window from memory, the viewer's
#     cache where memory may not run, a window without /proc;
#   - the library as a guest (in the Debian 11 and 12 roots): 1000 loads and unloads in each
#     dlopen mode leave it unmapped and the heap as it was; a host with its own allocator, with
#     and without RTLD_DEEPBIND; a host whose callback throws; the log folder's rights among
#     several users;
#   - the package and the DLLs are reproducible: packing again gives the same bytes, the DLLs
#     carry no build time.
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

# ---- the package and the DLLs depend on their inputs only ------------------------------------
reproducible_package_test() {
  local again=$work/package-again stamp
  # The DLLs and the viewer program each carries.
  for pair in "x86_64-w64-mingw32:$build-win64" "i686-w64-mingw32:$build-win32"; do
    for file in bin/w_velquora.dll src/shipped/velquora-viewer.image; do
      stamp=$("${pair%%:*}-objdump" -p "${pair#*:}/$file" | sed -n 's/^Time\/Date[ \t]*//p')
      case $stamp in
        *1970*) ;;
        *) echo "FAIL: ${pair#*:}/$file carries a build time: $stamp"; exit 1 ;;
      esac
    done
  done
  # The same libraries, copied anew (other times, another folder), packed again.
  mkdir -p "$again"
  cp "$build/bin/libw_velquora.so" "$again/linux.so"
  cp "$build-win64/bin/w_velquora.dll" "$again/win64.dll"
  cp "$build-win32/bin/w_velquora.dll" "$again/win32.dll"
  cp "$build/BOM.TXT" "$again/bom.txt"
  touch -d "2001-02-03 04:05:06" "$again"/*
  cmake -DOUT="$again/package.zip" -DSTAGE="$again/stage" -DBOM="$again/bom.txt" \
    "-DITEMS=Linux|x86_64|$again/linux.so;Windows|x86_64|$again/win64.dll;Windows|i386|$again/win32.dll" \
    -P "$repo/cmake/MakePackage.cmake" >/dev/null
  cmp "$build/w_velquora-$version.zip" "$again/package.zip" ||
    { echo "FAIL: packing the same libraries again gives another package"; exit 1; }
  step "the package packs to the same bytes again; the DLLs carry no build time"
}

bash "$repo/tests/release/smoke.sh" "$dev_bin" "$repo/examples" "$work/expected" ||
  { echo "FAIL: the development build's own smoke run"; cat "$work"/expected/*.txt; exit 1; }

reproducible_package_test

# ---- the library as a guest in the host's process -------------------------------------------
# The probes are built in the Debian 11 build root, so they run in every test root.
build_guest_probes() {
  local build_root
  build_root=$(bash "$here/release-root.sh" build)
  mkdir -p "$build/probes"
  root_run "$build_root" --bind "$repo" -- sh -c '
    gcc -O2 -Wall -Werror -o "$2/load_probe" "$1/tests/release/load_probe.c" -ldl &&
    gcc -O2 -Wall -Werror -shared -fPIC -o "$2/bump_malloc.so" "$1/tests/release/bump_malloc.c"' \
    probes "$repo" "$build/probes"
}

# 1000 loads and unloads in each dlopen mode: the library is gone after every dlclose and the
# heap does not grow (the C++ runtime's 71 KB exception reserve used to stay behind each time);
# a host with its own allocator, loading it with and without RTLD_DEEPBIND; a host whose
# callback throws.
guest_test() {
  local root=$1 suite=$2
  cp "$build/probes/load_probe" "$build/probes/bump_malloc.so" "$root/opt/velquora-test/bin/"
  root_run "$root" -- /opt/velquora-test/bin/load_probe /opt/velquora-test/bin/libw_velquora.so \
    1000 1024 || { echo "FAIL: load and unload in $suite"; exit 1; }
  root_run "$root" -- bash /opt/velquora-test/foreign_allocator.sh /opt/velquora-test/bin \
    /opt/velquora-test/examples || { echo "FAIL: a host with its own allocator in $suite"; exit 1; }
  root_run "$root" -- bash /opt/velquora-test/throwing_host.sh /opt/velquora-test/bin \
    /opt/velquora-test/examples || { echo "FAIL: a host whose callback throws in $suite"; exit 1; }
  step "Debian $suite: 1000 loads per dlopen mode leave nothing behind; a host allocator and a throwing host callback are survived"
}

# The machine-wide log folder among several users: as root, with a /var/lib of its own in a
# mount namespace whose mounts (the root's too) are private, so all goes with it.
log_rights_test() {
  local root=$1 suite=$2
  unshare --mount --propagation private bash -c 'source "$1/lib/debian-root.sh" && root_run "$2" -- \
    env PRIVATE_MOUNTS=1 bash /opt/velquora-test/log_rights.sh /opt/velquora-test/bin' \
    log-rights "$here" "$root" || { echo "FAIL: log folder rights in $suite"; exit 1; }
  step "Debian $suite: the log folder is root's; other users' files and hard links are refused"
}

build_guest_probes

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
  guest_test "$root" "$suite"
  log_rights_test "$root" "$suite"
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
