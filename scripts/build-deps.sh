#!/usr/bin/env bash
# Builds the third-party libraries the shipped add-in links (expat, libzip with zlib, cmark) as
# static, position-independent libraries from Debian's own source packages, with only the
# features the driver uses, and prints the prefix that holds them.
#
#   scripts/build-deps.sh linux-x86_64|mingw64|mingw32
#
# Sources come from bookworm (its security updates included) through `apt-get source` with a
# private apt state, so the machine's own apt configuration is left alone. Linux libraries are
# built inside the Debian 11 build root, so they need nothing newer than its C library; the
# Windows ones with the MinGW-w64 cross compilers (posix threads). The prefix is kept under
# $VELQUORA_CACHE (default /var/cache/velquora) keyed by target, versions and this script, so a
# second run is a no-op; deleting the cache only costs time.
#
# What went in is recorded in PREFIX/bom.txt: each source package's exact version with the
# SHA-256 of every file fetched for it, and the compiler packages whose runtime is linked in.
# The release carries these lines in its package. A source older than its floor below stops
# the build, whatever the archive offers that day.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
source "$here/lib/debian-root.sh"

SOURCE_SUITE=${SOURCE_SUITE:-bookworm}
# Part of the cache key: raise it whenever the way the libraries are built changes.
RECIPE=2
PACKAGES=(zlib expat libzip cmark)
# The oldest source version of each library the release may be made of: the newest version whose
# source files the mirror served when the floor was set (expat's includes its 2024 security
# updates). A newer version that the index lists but the mirror does not serve is skipped with a
# message; a version below its floor stops the build. Raise a floor with each security update
# the release must carry, once the mirror serves it.
declare -A FLOOR=(
  [zlib]=1:1.2.13.dfsg-1
  [expat]=2.5.0-1+deb12u2
  [libzip]=1.7.3-1
  [cmark]=0.30.2-6
)

mingw_triple() {
  case $1 in
    mingw64) echo x86_64-w64-mingw32 ;;
    mingw32) echo i686-w64-mingw32 ;;
  esac
}

usage() {
  echo "usage: $0 linux-x86_64|mingw64|mingw32" >&2
  exit 2
}

# ---- sources -------------------------------------------------------------------------------
apt_dir=$VELQUORA_CACHE/apt-$SOURCE_SUITE
apt_src() {
  apt-get -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null \
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" \
    -o Dir::Etc::Preferences=/dev/null -o Dir::Etc::PreferencesParts=/dev/null \
    -o APT::Sandbox::User=root -qq "$@"
}

# Refreshes the private source index when it is missing or a day old.
refresh_index() {
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  cat >"$apt_dir/sources.list" <<LIST
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $DEBIAN_MIRROR $SOURCE_SUITE main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $DEBIAN_MIRROR $SOURCE_SUITE-updates main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $DEBIAN_SECURITY_MIRROR $SOURCE_SUITE-security main
LIST
  if [ -z "$(find "$apt_dir/lists" -maxdepth 1 -name '*Sources*' -mmin -1440 2>/dev/null | head -1)" ]; then
    echo "deps: updating the $SOURCE_SUITE source index" >&2
    apt_src update >&2
    touch "$apt_dir/lists/lock"
  fi
}

apt_src_cache() {
  apt-cache -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null \
    -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache" "$@"
}

# The versions of a source package the index offers, newest first.
source_versions() {
  apt_src_cache showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -u | {
    # dpkg decides the order (epochs, tildes); an insertion sort is enough for a few lines.
    local list=() v i
    while read -r v; do
      i=${#list[@]}
      while ((i > 0)) && dpkg --compare-versions "$v" gt "${list[i - 1]}"; do
        list[i]=${list[i - 1]}
        i=$((i - 1))
      done
      list[i]=$v
    done
    printf '%s\n' "${list[@]}"
  }
}

# Fetches and unpacks (Debian's patches applied) the newest version of a source package that
# the mirror actually serves; an index can name a security update whose files are not there
# yet. Never goes below the package's floor. Prints "VERSION FOLDER". The unpacked tree is
# kept, so this runs once per version.
fetch_source() {
  local pkg=$1 floor=${FLOOR[$1]} v newest=""
  for v in $(source_versions "$pkg"); do
    newest=${newest:-$v}
    if dpkg --compare-versions "$v" lt "$floor"; then
      echo "deps: $pkg: no version at or above the floor $floor can be fetched from $SOURCE_SUITE" \
        "(newest listed: $newest; $v and older are below the floor). The floor is the oldest" \
        "version with the security fixes the release must carry (FLOOR in scripts/build-deps.sh);" \
        "use a mirror that serves it, never lower the floor to get a build." >&2
      return 1
    fi
    local dir=$VELQUORA_CACHE/sources/${pkg}_${v#*:}
    if [ -f "$dir/.complete" ] && [ -f "$dir/.sources.sha256" ]; then
      echo "$v $dir"
      return 0
    fi
    # A version that failed since the index was last refreshed is not asked for again.
    if [ -n "$(find "$dir.unavailable" -newer "$apt_dir/lists/lock" 2>/dev/null)" ]; then continue; fi
    local dl
    dl=$(mktemp -d "$VELQUORA_CACHE/sources/.dl.XXXXXX")
    # apt checks each file against the signed index; the sums are kept for the bill of materials.
    if (cd "$dl" && apt_src source --download-only "$pkg=$v" >&2 &&
      dpkg-source --no-check -x ./*.dsc src >&2 &&
      find . -maxdepth 1 -type f -printf '%f\n' | LC_ALL=C sort | xargs sha256sum >src/.sources.sha256); then
      rm -rf "$dir"
      mv "$dl/src" "$dir"
      rm -rf "$dl"
      touch "$dir/.complete"
      echo "$v $dir"
      return 0
    fi
    rm -rf "$dl"
    touch "$dir.unavailable"
    echo "deps: $pkg $v is listed but cannot be fetched; trying an older one" >&2
  done
  echo "deps: no source package $pkg can be fetched from $SOURCE_SUITE (floor $floor)" >&2
  return 1
}

# The compiler packages whose runtime (C++ library, libgcc, MinGW's C runtime and threads) is
# linked into the libraries of a target.
toolchain_packages() {
  case $1 in
    linux-x86_64) echo gcc-10 libstdc++-10-dev libgcc-10-dev libc6-dev ;;
    mingw64) echo g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix-runtime mingw-w64-x86-64-dev ;;
    mingw32) echo g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix-runtime mingw-w64-i686-dev ;;
  esac
}

# ---- building (runs on the host for Windows, inside the build root for Linux) --------------
# build_all TARGET PREFIX SRC_ZLIB SRC_EXPAT SRC_LIBZIP SRC_CMARK
build_all() {
  local target=$1 prefix=$2 zlib_src=$3 expat_src=$4 libzip_src=$5 cmark_src=$6
  local cc cxx ar ranlib cflags triple="" system=()
  case $target in
    linux-x86_64) cc=gcc cxx=g++ ar=ar ranlib=ranlib cflags="-O2 -fPIC" ;;
    mingw64 | mingw32)
      triple=$(mingw_triple "$target")
      cc=$triple-gcc-posix cxx=$triple-g++-posix ar=$triple-ar ranlib=$triple-ranlib cflags="-O2"
      system=(-DCMAKE_SYSTEM_NAME=Windows -DCMAKE_RC_COMPILER="$triple-windres"
        -DCMAKE_FIND_ROOT_PATH="$prefix" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER
        -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY
        -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY)
      ;;
    *) usage ;;
  esac
  local work
  work=$(mktemp -d "$prefix.work.XXXXXX")
  # shellcheck disable=SC2064
  trap "rm -rf '$work'" RETURN
  local common=(-G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix"
    -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_C_COMPILER="$cc" -DCMAKE_CXX_COMPILER="$cxx"
    -DCMAKE_AR="$(command -v "$ar")" -DCMAKE_RANLIB="$(command -v "$ranlib")"
    -DCMAKE_C_FLAGS="$cflags" -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DBUILD_SHARED_LIBS=OFF
    "${system[@]}")
  local jobs
  jobs=$(nproc)

  echo "deps: zlib" >&2
  cp -a "$zlib_src" "$work/zlib"
  (cd "$work/zlib" && CC=$cc AR=$ar RANLIB=$ranlib CFLAGS=$cflags CHOST=$triple \
    ./configure --static --prefix="$prefix" --libdir="$prefix/lib" >&2 &&
    make -j"$jobs" libz.a >&2 && make install >&2)

  echo "deps: expat" >&2
  # Debian's patches test `XML_DTD == 1` as its autotools build defines it; the CMake build
  # used here (it needs no autotools) would define it empty.
  cp -a "$expat_src/expat" "$work/expat-src"
  sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/; s/^#cmakedefine XML_NS$/#cmakedefine XML_NS 1/' \
    "$work/expat-src/expat_config.h.cmake"
  cmake -S "$work/expat-src" -B "$work/expat" "${common[@]}" -DEXPAT_SHARED_LIBS=OFF \
    -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF \
    -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF -DEXPAT_BUILD_PKGCONFIG=ON >&2
  cmake --build "$work/expat" -j "$jobs" --target install >&2

  echo "deps: libzip" >&2
  cmake -S "$libzip_src" -B "$work/libzip" "${common[@]}" -DZLIB_INCLUDE_DIR="$prefix/include" \
    -DZLIB_LIBRARY="$prefix/lib/libz.a" -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF \
    -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF -DENABLE_BZIP2=OFF \
    -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF \
    -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF >&2
  cmake --build "$work/libzip" -j "$jobs" --target install >&2

  echo "deps: cmark" >&2
  cmake -S "$cmark_src" -B "$work/cmark" "${common[@]}" -DCMARK_TESTS=OFF -DCMARK_SHARED=OFF \
    -DCMARK_STATIC=ON >&2
  cmake --build "$work/cmark" -j "$jobs" --target install >&2

  static_pkg_config_files "$prefix"
}

# The prefix holds static libraries only: each .pc file links what its library needs itself
# and defines the macros that tell the headers not to expect a DLL.
static_pkg_config_files() {
  local pc
  for pc in "$1"/lib/pkgconfig/*.pc; do
    local defines=""
    case $(basename "$pc") in
      expat.pc) defines=" -DXML_STATIC" ;;
      libzip.pc) defines=" -DZIP_STATIC" ;;
      libcmark.pc) defines=" -DCMARK_STATIC_DEFINE" ;;
    esac
    awk -v defines="$defines" '
      /^Libs\.private:/ { sub(/^Libs\.private:/, ""); private = private $0; next }
      /^Cflags:/ { $0 = $0 defines }
      { lines[n++] = $0 }
      END { for (i = 0; i < n; i++) { if (lines[i] ~ /^Libs:/) lines[i] = lines[i] private; print lines[i] } }
    ' "$pc" >"$pc.new"
    mv "$pc.new" "$pc"
  done
}

# ---- main ----------------------------------------------------------------------------------
if [ "${1:-}" = "--inside-root" ]; then
  shift
  build_all "$@"
  exit 0
fi

target=${1:-}
case $target in
  linux-x86_64) ;;
  mingw64) need_host_tools x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix cmake make ;;
  mingw32) need_host_tools i686-w64-mingw32-gcc-posix i686-w64-mingw32-g++-posix cmake make ;;
  *) usage ;;
esac
need_host_tools apt-get dpkg-source sha256sum flock
mkdir -p "$VELQUORA_CACHE/sources" "$VELQUORA_CACHE/deps"

refresh_index
declare -A version source_dir
for pkg in "${PACKAGES[@]}"; do
  found=$(fetch_source "$pkg") || exit 1
  version[$pkg]=${found%% *}
  source_dir[$pkg]=${found#* }
done

# shellcheck disable=SC2046 # one word per package name
if [ "$target" = linux-x86_64 ]; then
  build_root=$(bash "$here/release-root.sh" build)
  toolchain=$(root_run "$build_root" -- dpkg-query -W -f='${Package} ${Version}\n' $(toolchain_packages "$target"))
else
  toolchain=$(dpkg-query -W -f='${Package} ${Version}\n' $(toolchain_packages "$target"))
fi
# The bill of materials: every source file that went in, and the compilers' runtime packages.
bom=$(
  for pkg in "${PACKAGES[@]}"; do
    while read -r sum file; do
      echo "source $pkg ${version[$pkg]} $file $sum"
    done <"${source_dir[$pkg]}/.sources.sha256"
  done
  while read -r name ver; do echo "toolchain $name $ver"; done <<<"$toolchain"
)
key=$( (echo "$bom" "recipe=$RECIPE") | sha256sum | cut -c1-12)
prefix=$VELQUORA_CACHE/deps/$target-$key

(
  flock 9
  if [ -f "$prefix/.complete" ]; then exit 0; fi
  start=$SECONDS
  srcs=()
  for pkg in "${PACKAGES[@]}"; do
    echo "deps: $pkg ${version[$pkg]}" >&2
    srcs+=("${source_dir[$pkg]}")
  done
  rm -rf "$prefix"
  mkdir -p "$prefix"
  log=$prefix.log
  if [ "$target" = linux-x86_64 ]; then
    root_run "$build_root" --bind "$VELQUORA_CACHE" --bind "$here" -- \
      bash "$here/build-deps.sh" --inside-root "$target" "$prefix" "${srcs[@]}" 2>"$log" >&2
  else
    bash "$here/build-deps.sh" --inside-root "$target" "$prefix" "${srcs[@]}" 2>"$log" >&2
  fi || {
    rm -rf "$prefix" "$prefix".work.*
    echo "deps: build failed, see $log" >&2
    exit 1
  }
  echo "$bom" >"$prefix/bom.txt"
  touch "$prefix/.complete"
  echo "deps: $target built in $((SECONDS - start)) s" >&2
) 9>"$prefix.lock"
echo "$prefix"
