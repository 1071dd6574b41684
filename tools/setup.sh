#!/bin/sh
# Installs what the build and the tests need on Debian 12, skipping what is
# already there: CMake and Ninja, the native and MinGW-w64 compilers,
# GoogleTest and Google Benchmark, Wine (64- and 32-bit) and Xvfb; and, on a
# kernel that runs no 32-bit Linux programs, a user-mode x86 emulator for
# Wine's 32-bit loader.
set -eu

packages="cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 xvfb util-linux"

run() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

missing=
for p in $packages; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$status" in *"install ok installed"*) ;; *) missing="$missing $p" ;; esac
done
if [ -n "$missing" ]; then
  echo "setup: installing$missing"
  case "$missing" in
    *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || run dpkg --add-architecture i386 ;;
  esac
  run env DEBIAN_FRONTEND=noninteractive apt-get update -q < /dev/null
  run env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing < /dev/null
fi

# Wine's 32-bit loader is a 32-bit Linux program. Where the kernel refuses to
# run those, tools/wine-run.sh runs it under QEMU's user-mode emulator, which
# needs no binfmt_misc entry (none is made: it would change how every Wine
# run on the machine starts). QEMU before 8.1 ignores MAP_FIXED_NOREPLACE,
# which Wine's address-space reservation relies on, and Debian 12's own
# qemu-user-static is 7.2; so the static qemu-user of bookworm-backports is
# unpacked aside, through a private apt state that leaves the machine's
# sources and package lists alone.
emu_dir=/opt/qz410/qemu
if ! /usr/lib/wine/wine --version >/dev/null 2>&1 && ! [ -x "$emu_dir/qemu-i386" ]; then
  echo "setup: fetching a user-mode x86 emulator for 32-bit Wine into $emu_dir"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/parts" "$work/root"
  # The backports suite lives beside the machine's own Debian 12 suite.
  mirror() {
    apt-get indextargets --format '$(REPO_URI)' 'Label: Debian' 'Codename: bookworm' 'Identifier: Packages' | head -n 1
  }
  uri=$(mirror)
  [ -n "$uri" ] || { run env DEBIAN_FRONTEND=noninteractive apt-get update -q < /dev/null; uri=$(mirror); }
  [ -n "$uri" ] || { echo "setup: no Debian 12 archive among apt's sources" >&2; exit 1; }
  echo "deb [arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri bookworm-backports main" > "$work/sources.list"
  apt_private() {
    apt-get -q -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts="$work/parts" \
      -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache" -o APT::Sandbox::User=root "$@" < /dev/null
  }
  apt_private update > "$work/update.log" 2>&1 || { cat "$work/update.log" >&2; exit 1; }
  (cd "$work" && apt_private download qemu-user/bookworm-backports > download.log 2>&1) ||
    { cat "$work/download.log" >&2; exit 1; }
  dpkg-deb -x "$work"/qemu-user_*.deb "$work/root"
  "$work/root/usr/bin/qemu-i386" --version | head -n 1
  run mkdir -p "$emu_dir"
  run cp "$work/root/usr/bin/qemu-i386" "$emu_dir/qemu-i386.new"
  run mv "$emu_dir/qemu-i386.new" "$emu_dir/qemu-i386"
fi
