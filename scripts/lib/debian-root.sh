# Debian root file systems made with debootstrap, kept in a cache folder outside the clone.
# Sourced by the release scripts. A root is keyed by its suite and package list; it is built under
# a temporary name and renamed when complete, so a half-made root is never used.

VELQUORA_CACHE=${VELQUORA_CACHE:-/var/cache/velquora}
DEBIAN_MIRROR=${DEBIAN_MIRROR:-http://deb.debian.org/debian}
DEBIAN_SECURITY_MIRROR=${DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}

need_host_tools() {
  local missing=() tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  if ((${#missing[@]})); then
    echo "missing host tools: ${missing[*]} (run scripts/setup.sh)" >&2
    return 1
  fi
}

# Prints the path of the root for SUITE with PACKAGES installed, making it first if needed.
debian_root() {
  local suite=$1
  shift
  need_host_tools debootstrap chroot flock sha256sum
  local key
  key=$(printf '%s\n' "root-v1" "$suite" "$@" | sort | sha256sum | cut -c1-16)
  local root=$VELQUORA_CACHE/roots/$suite-$key
  mkdir -p "$VELQUORA_CACHE/roots"
  (
    flock 9
    [ -f "$root/.complete" ] && exit 0
    local tmp=$root.partial
    rm -rf "$tmp"
    echo "root: debootstrap $suite into $tmp" >&2
    local start=$SECONDS
    debootstrap --variant=minbase "$suite" "$tmp" "$DEBIAN_MIRROR" >"$VELQUORA_CACHE/roots/$suite-$key.log" 2>&1 ||
      { echo "root: debootstrap failed, see $VELQUORA_CACHE/roots/$suite-$key.log" >&2; exit 1; }
    cat >"$tmp/etc/apt/sources.list" <<LIST
deb $DEBIAN_MIRROR $suite main
deb $DEBIAN_MIRROR $suite-updates main
deb $DEBIAN_SECURITY_MIRROR $suite-security main
LIST
    if (($#)); then
      root_run "$tmp" -- sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" && apt-get clean' \
        apt "$@" >>"$VELQUORA_CACHE/roots/$suite-$key.log" 2>&1 ||
        { echo "root: package installation failed, see $VELQUORA_CACHE/roots/$suite-$key.log" >&2; exit 1; }
    fi
    printf '%s\n' "$@" >"$tmp/.packages"
    touch "$tmp/.complete"
    rm -rf "$root"
    mv "$tmp" "$root"
    echo "root: $suite ready in $((SECONDS - start)) s" >&2
  ) 9>"$root.lock" || return 1
  echo "$root"
}

# root_run ROOT [--bind DIR]... -- COMMAND...: runs COMMAND inside ROOT with /proc, /sys and /dev
# and each DIR (at the same path) mounted; everything is unmounted again however it ends.
# Runs of the same root are serialized so their mounts never interleave.
root_run() {
  local root=$1
  shift
  local binds=()
  while [ "$1" != "--" ]; do
    [ "$1" = "--bind" ] && binds+=("$2")
    shift 2
  done
  shift
  (
    flock 8
    # Not `local`: the exit trap runs after the function's variables are gone.
    root_run_mounted=()
    cleanup() {
      local i
      for ((i = ${#root_run_mounted[@]} - 1; i >= 0; i--)); do
        umount "${root_run_mounted[i]}" 2>/dev/null || umount -l "${root_run_mounted[i]}" 2>/dev/null || true
      done
    }
    trap cleanup EXIT
    trap 'exit 130' INT TERM
    mount_at() { mkdir -p "$2" && mount "${@:3}" "$1" "$2" && root_run_mounted+=("$2"); }
    mount_at proc "$root/proc" -t proc || exit 1
    mount_at /sys "$root/sys" --bind || exit 1
    mount_at /dev "$root/dev" --bind || exit 1
    mount_at devpts "$root/dev/pts" -t devpts -o newinstance,ptmxmode=0666 2>/dev/null || true
    for dir in "${binds[@]}"; do
      mount_at "$dir" "$root$dir" --bind || exit 1
    done
    cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"
  ) 8>>"$root/.run.lock"
}
