#!/usr/bin/env bash
# The distribution package: the manifest lists every library the zip holds and nothing else, each
# entry names a system, an architecture and type="native", and each file is the one built. Beside
# the manifest, BOM.TXT names every third-party source file (with its SHA-256) and compiler runtime
# each library is made of.
# Usage: package_test.sh ZIP NAME=BUILT_FILE...
set -euo pipefail
zip=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}
unzip -q "$zip" -d "$work/unpacked" || fail "cannot unzip $zip"
manifest=$work/unpacked/MANIFEST.XML
[ -f "$manifest" ] || fail "no MANIFEST.XML in the package"
grep -q '<bundle xmlns="http://v8.1c.ru/8.2/addin/bundle">' "$manifest" || fail "not a bundle manifest"
listed=$(grep -o '<component [^>]*/>' "$manifest" | sed -n 's/.* path="\([^"]*\)".*/\1/p' | sort)
held=$(cd "$work/unpacked" && find . -type f ! -name MANIFEST.XML ! -name BOM.TXT | sed 's|^\./||' | sort)
[ -n "$held" ] || fail "the package holds no library"
[ "$listed" = "$held" ] || fail "the manifest lists [$listed] but the package holds [$held]"
while read -r component; do
  for attribute in 'os="\(Linux\|Windows\)"' 'arch="\(x86_64\|i386\)"' 'type="native"'; do
    echo "$component" | grep -q " $attribute" || fail "$component lacks $attribute"
  done
done < <(grep -o '<component [^>]*/>' "$manifest")

# The system and architecture a library file is built for, read from its own header.
number_at() { od -An -t"u$2" -j "$1" -N "$2" "$3" | tr -d ' '; }
file_target() {
  local file=$1
  case $(od -An -c -N 4 "$file" | tr -d ' ') in
    177ELF)
      case $(number_at 18 2 "$file") in 62) echo "Linux x86_64" ;; 3) echo "Linux i386" ;; *) echo "Linux ?" ;; esac ;;
    MZ*)
      case $(number_at $(($(number_at 60 4 "$file") + 4)) 2 "$file") in
        34404) echo "Windows x86_64" ;; 332) echo "Windows i386" ;; *) echo "Windows ?" ;;
      esac ;;
    *) echo "unknown" ;;
  esac
}
while read -r component; do
  path=$(echo "$component" | sed -n 's/.* path="\([^"]*\)".*/\1/p')
  os=$(echo "$component" | sed -n 's/.* os="\([^"]*\)".*/\1/p')
  arch=$(echo "$component" | sed -n 's/.* arch="\([^"]*\)".*/\1/p')
  actual=$(file_target "$work/unpacked/$path")
  [ "$actual" = "$os $arch" ] || fail "the manifest says $path is for $os $arch, the file is for $actual"
done < <(grep -o '<component [^>]*/>' "$manifest")
for pair in "$@"; do
  name=${pair%%=*}
  built=${pair#*=}
  [ -f "$work/unpacked/$name" ] || fail "$name is not in the package"
  cmp -s "$work/unpacked/$name" "$built" || fail "$name differs from $built"
done

# The bill of materials covers every library of the package: each third-party source package
# with at least one file and its SHA-256, and the compilers whose runtime is linked in.
bom=$work/unpacked/BOM.TXT
[ -f "$bom" ] || fail "no BOM.TXT in the package"
while read -r component; do
  os=$(echo "$component" | sed -n 's/.* os="\([^"]*\)".*/\1/p')
  arch=$(echo "$component" | sed -n 's/.* arch="\([^"]*\)".*/\1/p')
  case "$os $arch" in
    "Linux x86_64") target=linux-x86_64 ;;
    "Windows x86_64") target=mingw64 ;;
    "Windows i386") target=mingw32 ;;
    *) fail "no bill of materials is known for $os $arch" ;;
  esac
  for pkg in zlib expat libzip cmark; do
    grep -Eq "^source $target $pkg [^ ]+ [^ ]+ [0-9a-f]{64}\$" "$bom" ||
      fail "BOM.TXT has no source file with its SHA-256 for $pkg in $target"
  done
  grep -Eq "^toolchain $target [^ ]+ [^ ]+\$" "$bom" || fail "BOM.TXT names no compiler runtime for $target"
done < <(grep -o '<component [^>]*/>' "$manifest")
grep -Ev '^(#|source [^ ]+ [^ ]+ [^ ]+ [^ ]+ [0-9a-f]{64}$|toolchain [^ ]+ [^ ]+ [^ ]+$)' "$bom" &&
  fail "BOM.TXT has lines of no known form (above)"
echo "package: $(echo "$held" | wc -l) file(s), all listed and as built; BOM.TXT covers each"
