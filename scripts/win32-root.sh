#!/usr/bin/env bash
# A Debian 12 root holding 32-bit wine, whose 32-bit code runs under user-mode emulation: this
# machine's kernel refuses 32-bit programs, so i386 ELF files are handed to qemu-i386 (taken
# from Debian 13's qemu-user, as Debian 12's is too slow) through a binfmt entry registered in a
# private user namespace. Nothing is installed or registered on the machine itself.
#
#   win32-root.sh path        prints the root, making it first when the cache lacks it
#   win32-root.sh run [--bind DIR]... [--timeout S] -- COMMAND...
#                             runs COMMAND inside the root (chroot)
#   win32-root.sh session [--bind DIR]... [--timeout S] -- COMMAND...
#                             runs COMMAND on this machine's side of the same namespace, with
#                             VELQUORA_WIN32_ROOT set: commands it starts enter the root with
#                             `chroot "$VELQUORA_WIN32_ROOT" …` (tests/windows/wine32.sh), so
#                             every program of one test run can share one wine server.
# Each DIR is bound into the root at the same path. The namespace (its own mounts, a /tmp of
# its own in the root, its own process tree) ends with COMMAND: nothing stays mounted or running.
# The default time limit is 3600 s.
#
# The root is cached under $VELQUORA_CACHE/roots, named by its recipe, package list and qemu
# version; it is made under a temporary name and renamed when complete. A cached root is used
# without looking at the network; VELQUORA_WIN32_REFRESH=1 looks for a newer qemu-user first.
set -euo pipefail
export PATH=$PATH:/usr/sbin:/sbin
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/debian-root.sh"

# Bump when the steps below change what a root holds.
recipe=1
suite=bookworm
packages=(wine wine64 wine32:i386)
qemu_suite=trixie
base=$VELQUORA_CACHE/roots/win32-$(printf '%s\n' "win32-root-v$recipe" "$suite" "${packages[@]}" |
  sha256sum | cut -c1-12)

fetch() { wget -q -O "$2" "$1"; }

# The newest complete root of this recipe and package list, if any.
cached_root() {
  local done
  done=$(ls -d "$base"-qemu-*/.complete 2>/dev/null | sort -V | tail -n 1)
  [ -n "$done" ] && dirname "$done"
}

# Sets qemu_file, qemu_sha256 and qemu_version from the qemu suite's package index, whose
# checksum comes from the suite's signed release file.
find_qemu() {
  local work=$1 dist=$DEBIAN_MIRROR/dists/$qemu_suite index_sha
  fetch "$dist/InRelease" "$work/InRelease"
  gpgv --keyring /usr/share/keyrings/debian-archive-keyring.gpg --output "$work/Release" \
    "$work/InRelease" 2>"$work/gpgv.log" ||
    { echo "win32-root: $qemu_suite's release file is not signed by a Debian key" >&2; cat "$work/gpgv.log" >&2; return 1; }
  index_sha=$(awk '/^SHA256:/ { on = 1; next } /^[^ ]/ { on = 0 }
    on && $3 == "main/binary-amd64/Packages.xz" { print $1 }' "$work/Release")
  [ -n "$index_sha" ] || { echo "win32-root: no package index in $qemu_suite's release file" >&2; return 1; }
  fetch "$dist/main/binary-amd64/Packages.xz" "$work/Packages.xz"
  echo "$index_sha  $work/Packages.xz" | sha256sum -c --quiet - ||
    { echo "win32-root: $qemu_suite's package index does not match its release file" >&2; return 1; }
  read -r qemu_version qemu_file qemu_sha256 < <(xz -dc "$work/Packages.xz" | awk '
    /^Package: / { p = ($2 == "qemu-user") }
    p && /^Version: / { v = $2 } p && /^Filename: / { f = $2 } p && /^SHA256: / { s = $2 }
    /^$/ && p { print v, f, s; exit }')
  [ -n "${qemu_sha256:-}" ] || { echo "win32-root: no qemu-user in $qemu_suite's package index" >&2; return 1; }
}

# The binfmt helper placed in the root: registers qemu-i386 for i386 ELF files in the user
# namespace's own binfmt_misc instance (once per namespace), then runs its arguments.
write_helper() {
  cat >"$1" <<'HELPER'
#!/bin/sh
# with-i386-binfmt COMMAND...: i386 ELF files started from now on in this user namespace run
# under qemu-i386 (the F flag opens the emulator now, so it works from any root).
set -e
if [ ! -e /run/bfm/qemu-i386 ]; then
  mkdir -p /run/bfm
  mountpoint -q /run/bfm || mount -t binfmt_misc binfmt_misc /run/bfm
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/local/bin/qemu-i386:F' >/run/bfm/register
fi
exec "$@"
HELPER
  chmod 755 "$1"
}

make_root() {
  need_host_tools debootstrap chroot unshare flock sha256sum wget gpgv xz dpkg-deb tar
  local work=$base.partial root log=$base.log start=$SECONDS
  rm -rf "$work"
  mkdir -p "$work"
  echo "win32-root: making the root in $work" >&2
  find_qemu "$work" >"$log" 2>&1 || { cat "$log" >&2; return 1; }
  root=$base-qemu-$(printf '%s' "$qemu_version" | tr -c 'A-Za-z0-9.-' '_')
  debootstrap --variant=minbase "$suite" "$work/root" "$DEBIAN_MIRROR" >>"$log" 2>&1 ||
    { echo "win32-root: debootstrap failed, see $log" >&2; return 1; }
  cat >"$work/root/etc/apt/sources.list" <<LIST
deb $DEBIAN_MIRROR $suite main
deb $DEBIAN_MIRROR $suite-updates main
deb $DEBIAN_SECURITY_MIRROR $suite-security main
LIST
  cp -L /etc/resolv.conf "$work/root/etc/resolv.conf"
  # Real root in a mount namespace of its own: the mounts for the installation end with it.
  timeout -k 10 1800 unshare --mount --pid --fork --kill-child --mount-proc="$work/root/proc" sh -c '
    mount --rbind /dev "$1/dev" && shift && exec chroot "$@"' sh "$work/root" "$work/root" \
    /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive sh -c 'dpkg --add-architecture i386 && apt-get update -qq &&
      apt-get install -y -qq --no-install-recommends "$@" && apt-get clean' apt "${packages[@]}" \
    >>"$log" 2>&1 || { echo "win32-root: package installation failed, see $log" >&2; return 1; }
  echo "win32-root: qemu-user $qemu_version from $qemu_suite" >&2
  fetch "$DEBIAN_MIRROR/$qemu_file" "$work/qemu-user.deb"
  echo "$qemu_sha256  $work/qemu-user.deb" | sha256sum -c --quiet - ||
    { echo "win32-root: $qemu_file does not match its package index" >&2; return 1; }
  dpkg-deb --fsys-tarfile "$work/qemu-user.deb" | tar -xO ./usr/bin/qemu-i386 \
    >"$work/root/usr/local/bin/qemu-i386"
  chmod 755 "$work/root/usr/local/bin/qemu-i386"
  write_helper "$work/root/usr/local/bin/with-i386-binfmt"
  printf '%s\n' "${packages[@]}" >"$work/root/.packages"
  printf 'qemu-user %s %s\n' "$qemu_version" "$qemu_sha256" >"$work/root/.qemu"
  touch "$work/root/.complete"
  rm -rf "$root"
  mv "$work/root" "$root"
  rm -rf "$work"
  echo "win32-root: ready in $((SECONDS - start)) s: $root" >&2
}

# Prints the root, making it first if needed (one maker at a time).
win32_root() {
  mkdir -p "$VELQUORA_CACHE/roots"
  (
    flock 9
    if [ "${VELQUORA_WIN32_REFRESH:-0}" = 1 ] || ! cached_root >/dev/null; then
      if [ "${VELQUORA_WIN32_REFRESH:-0}" = 1 ] && cached_root >/dev/null; then
        local work
        work=$(mktemp -d)
        find_qemu "$work" || { rm -rf "$work"; exit 1; }
        rm -rf "$work"
        if [ -f "$base-qemu-$(printf '%s' "$qemu_version" | tr -c 'A-Za-z0-9.-' '_')/.complete" ]; then
          exit 0
        fi
      fi
      make_root || exit 1
    fi
  ) 9>"$base.lock" || return 1
  cached_root
}

# enter MODE ROOT TIMEOUT BINDS... -- COMMAND...
enter() {
  local mode=$1 root=$2 limit=$3
  shift 3
  # In the namespace: the build folders bound in at their own paths, /dev, a fresh /tmp, then
  # the binfmt entry; COMMAND runs in the root (run) or beside it (session).
  exec timeout -k 5 "$limit" unshare --user --map-root-user --mount --pid --fork --kill-child \
    --mount-proc="$root/proc" sh -c '
      set -e
      mode=$1 root=$2
      shift 2
      mount --rbind /dev "$root/dev"
      mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
      while [ "$1" != -- ]; do
        mkdir -p "$root$1"
        mount --rbind "$1" "$root$1"
        shift
      done
      shift
      # Never exec: this shell stays the namespace'"'"'s first process and so reaps the processes
      # that wine leaves to it.
      if [ "$mode" = run ]; then
        chroot "$root" /usr/local/bin/with-i386-binfmt "$@"
      else
        chroot "$root" /usr/local/bin/with-i386-binfmt true
        mount -t proc proc /proc
        VELQUORA_WIN32_ROOT=$root "$@"
      fi' sh "$mode" "$root" "$@"
}

case ${1:-} in
  path) win32_root ;;
  run | session)
    mode=$1
    shift
    binds=()
    limit=3600
    while [ $# -gt 0 ] && [ "$1" != -- ]; do
      case $1 in
        --bind) binds+=("$(cd "$2" && pwd -P)") ;;
        --timeout) limit=$2 ;;
        *) echo "win32-root: unknown option $1" >&2; exit 2 ;;
      esac
      shift 2
    done
    [ "${1:-}" = -- ] && [ $# -gt 1 ] || { echo "usage: $0 $mode [--bind DIR]... [--timeout S] -- COMMAND..." >&2; exit 2; }
    shift
    root=$(win32_root)
    enter "$mode" "$root" "$limit" "${binds[@]}" -- "$@"
    ;;
  *)
    echo "usage: $0 path | run|session [--bind DIR]... [--timeout S] -- COMMAND..." >&2
    exit 2
    ;;
esac
