#!/bin/sh
# The release: builds QZ410UI.DLL for 32-bit x86 and for x64 from this
# checkout and writes what a driver maintainer ships into OUTDIR:
#   x86/QZ410UI.DLL, x64/QZ410UI.DLL            without debug information
#   symbols/x86/QZ410UI.DLL.debug, symbols/x64/...  their symbols, which the
#                                               DLLs name (.gnu_debuglink)
#   README                                      for integrators
#   SHA256SUMS                                  over every other file
# The build is reproducible: one commit gives the same bytes in any folder at
# any time. --check then loads each shipped DLL into the stand-in host under
# Wine and fails unless it answers as the DLL it was made from; --no-setup
# leaves the machine as it is (the test command, which has set it up already,
# makes and checks a release that way).
#
#   tools/release.sh [--no-setup] [--check] OUTDIR
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)

setup=yes
check=no
while :; do
  case "${1:-}" in
    --no-setup) setup=no; shift ;;
    --check) check=yes; shift ;;
    *) break ;;
  esac
done
[ $# -eq 1 ] || { echo "usage: $0 [--no-setup] [--check] OUTDIR" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)
# OUTDIR holds the release and nothing else, since the sums cover all of it;
# an earlier release there is replaced.
for f in "$out"/* "$out"/.[!.]*; do
  [ -e "$f" ] || continue
  case "${f##*/}" in
    x86 | x64 | symbols | README | SHA256SUMS) rm -rf "$f" ;;
    *) echo "release: $out holds ${f##*/}, which is not part of a release; give an empty folder" >&2; exit 2 ;;
  esac
done

cd "$root"
[ "$setup" = no ] || "$root/tools/setup.sh"

targets=qz410ui
[ "$check" = no ] || targets="qz410ui qz410host"
for tree in win32 win64; do
  echo "== building $tree: $targets"
  cmake --preset "$tree" > /dev/null
  cmake --build --preset "$tree" --target $targets
done

# The shipped file keeps no symbol table either: both go to the symbol file,
# which gdb and winedbg find by the name and checksum in .gnu_debuglink when
# it lies beside the DLL (or in a .debug folder beside it). objcopy writes a
# new PE time stamp, the time of the copy unless told otherwise: it stays
# none (0), as the linker left it.
export SOURCE_DATE_EPOCH=0
for pair in win32:x86:i686 win64:x64:x86_64; do
  tree=${pair%%:*}
  rest=${pair#*:}
  arch=${rest%%:*}
  objcopy=${rest#*:}-w64-mingw32-objcopy
  mkdir -p "$out/$arch" "$out/symbols/$arch"
  built="build/$tree/bin/QZ410UI.DLL"
  "$objcopy" --only-keep-debug "$built" "$out/symbols/$arch/QZ410UI.DLL.debug"
  (cd "$out/symbols/$arch" && "$objcopy" --strip-all --add-gnu-debuglink=QZ410UI.DLL.debug \
    "$root/$built" "$out/$arch/QZ410UI.DLL")
  chmod 644 "$out/$arch/QZ410UI.DLL" "$out/symbols/$arch/QZ410UI.DLL.debug"
done

# What the README tells, read from the files and sources themselves.
# The file version from the DLL's fixed version information (VS_FIXEDFILEINFO:
# its signature, then two words of structure version, then the version).
file_version() {
  at=$(LC_ALL=C grep -obUaP '\xbd\x04\xef\xfe' "$1" | head -n 1 | cut -d: -f1)
  set -- $(od -An -tu4 -j$((at + 8)) -N8 "$1")
  echo "$(($1 >> 16)).$(($1 & 65535)).$(($2 >> 16)).$(($2 & 65535))"
}
version=$(file_version "$out/x86/QZ410UI.DLL")
[ "$(file_version "$out/x64/QZ410UI.DLL")" = "$version" ] ||
  { echo "release: the x86 and x64 DLLs carry different versions" >&2; exit 1; }
exports=$(x86_64-w64-mingw32-objdump -p "$out/x64/QZ410UI.DLL" |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p' | sort | tr '\n' ' ' | sed 's/ $//')
# {0xABCE80D7, 0x9F46, 0x11D1, {0x88, 0x2A, ...}} as the registry writes it.
clsid=$(sed -n 's/.*CLSID_QZ410UI = {\(.*\)}};.*/\1/p' plugin/HostContract.h | tr -d '{} ' | tr ',' ' ' | {
  read -r d1 d2 d3 b0 b1 b2 b3 b4 b5 b6 b7
  printf '{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}' \
    "$d1" "$d2" "$d3" "$b0" "$b1" "$b2" "$b3" "$b4" "$b5" "$b6" "$b7"
})
commit=$(git -C "$root" rev-parse HEAD 2>/dev/null || echo "unknown (not a git checkout)")
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null)" ]; then
  commit="$commit, with changes not yet committed"
fi
size() { wc -c < "$out/$1" | tr -d ' '; }

cat > "$out/README" <<EOF
QZ410UI.DLL $version, the user-interface plug-in of the QZ410 printer driver
for Windows 2000 and XP, built from commit $commit.

Files
  x86/QZ410UI.DLL                  the plug-in for 32-bit Windows ($(size x86/QZ410UI.DLL) bytes)
  x64/QZ410UI.DLL                  the plug-in for x64 Windows ($(size x64/QZ410UI.DLL) bytes)
  symbols/x86/QZ410UI.DLL.debug    symbols and DWARF debug information of the x86 DLL
  symbols/x64/QZ410UI.DLL.debug    the same for the x64 DLL
  SHA256SUMS                       SHA-256 of every file above and of this README

The plug-in is a COM in-process server that the driver's core UI module loads
from the driver directory. It exports
  $exports
by plain name, and its class id is
  $clsid

The DLLs carry no debug information and no link time stamp: building the
same commit again (tools/release.sh OUTDIR, in any folder, at any time) gives
the same bytes, so a shipped file can be checked against its commit.

Checking the files
  cd <this folder> && sha256sum -c SHA256SUMS

The symbols
  Keep them with the release; they are not shipped to users. Each DLL names
  its symbol file and checksum in its .gnu_debuglink section: for crash
  analysis put QZ410UI.DLL.debug beside the DLL (or in a .debug folder beside
  it) and gdb or winedbg finds it. The source paths in it start with /qz410ui;
  in gdb, "set substitute-path /qz410ui <checkout of the commit>".
EOF

(cd "$out" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
  while read -r f; do sha256sum "$f"; done > SHA256SUMS)

# Nothing leaves here unchecked: the sums verify, no file has a time stamp,
# no debug section is left in a shipped DLL, and each names its symbol file.
(cd "$out" && sha256sum --quiet -c SHA256SUMS)
pe_time() {
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tu4 -j$((pe + 8)) -N4 "$1" | tr -d ' '
}
for arch in x86 x64; do
  for f in "$arch/QZ410UI.DLL" "symbols/$arch/QZ410UI.DLL.debug"; do
    [ "$(pe_time "$out/$f")" = 0 ] || { echo "release: $f has a PE time stamp" >&2; exit 1; }
  done
  dump=$(x86_64-w64-mingw32-objdump -h "$out/$arch/QZ410UI.DLL")
  case "$dump" in *" .debug_"*) echo "release: $arch/QZ410UI.DLL still has debug sections" >&2; exit 1 ;; esac
  case "$dump" in *" .gnu_debuglink "*) ;; *) echo "release: $arch/QZ410UI.DLL names no symbol file" >&2; exit 1 ;; esac
done
echo "== release $version in $out:"
(cd "$out" && LC_ALL=C ls -l x86/QZ410UI.DLL x64/QZ410UI.DLL symbols/*/QZ410UI.DLL.debug)
[ "$check" = yes ] || exit 0

# What the stand-in host prints of a DLL, after the line naming its path.
answers() {
  (cd "build/$1/bin" && "$root/tools/wine-run.sh" --prefix "$root/build/wineprefix" qz410host.exe "$2") | sed 1d
}
trap '"$root/tools/wine-run.sh" --prefix "$root/build/wineprefix" --stop' EXIT
failed=
for pair in win64:x64 win32:x86; do
  tree=${pair%%:*}
  arch=${pair#*:}
  if [ "$arch" = x86 ]; then
    no_x86=$("$root/tools/wine-run.sh" --check-32bit) || true
    if [ -n "$no_x86" ]; then
      echo "release: x86/QZ410UI.DLL not checked: $no_x86" >&2
      failed=yes
      continue
    fi
  fi
  echo "== $arch/QZ410UI.DLL in the stand-in host"
  built=$(answers "$tree" QZ410UI.DLL) || true
  shipped=$(answers "$tree" "Z:$(echo "$out/$arch/QZ410UI.DLL" | tr / '\\')") || true
  if [ -n "$built" ] && [ "$built" = "$shipped" ]; then
    echo "$shipped"
  else
    echo "release: $arch/QZ410UI.DLL answers otherwise than build/$tree/bin/QZ410UI.DLL:" >&2
    answered=$(mktemp)
    printf '%s\n' "$shipped" > "$answered"
    printf '%s\n' "$built" | diff -u - "$answered" >&2 || true
    rm -f "$answered"
    failed=yes
  fi
done
[ -z "$failed" ]
