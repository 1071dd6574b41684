#!/bin/sh
# Installs what the build and the tests need on Debian 12, skipping what is
# already there: CMake and Ninja, the native and MinGW-w64 compilers,
# GoogleTest and Google Benchmark, Wine (64- and 32-bit) and Xvfb; for
# signing a release osslsigncode, openssl, the CA certificates (which time
# stamps are checked against) and Python 3; and, on a kernel that runs no
# 32-bit Linux programs, a user-mode x86 emulator for Wine's 32-bit loader.
set -eu

packages="cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 xvfb util-linux osslsigncode openssl ca-certificates python3"

run() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

installed() {
  case "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" in *"install ok installed"*) return 0 ;; esac
  return 1
}
missing=
for p in $packages; do installed "$p" || missing="$missing $p"; done

apt() { run env DEBIAN_FRONTEND=noninteractive apt-get -q "$@" < /dev/null; }
# A mirror in mid-sync serves an index of the wrong size for a while; apt
# then fails the whole update although every other list came in. Try again
# a few times, then go on with the lists apt has: most packages are still
# there, and the install below says what is not.
update_lists() {
  for pause in 20 40 0; do
    apt update && return 0
    [ "$pause" -eq 0 ] && break
    echo "setup: apt-get update failed; trying again in $pause s" >&2
    sleep "$pause"
  done
  echo "setup: apt-get update still fails; going on with the package lists apt has" >&2
}
if [ -n "$missing" ]; then
  echo "setup: installing$missing"
  case "$missing" in
    *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || run dpkg --add-architecture i386 ;;
  esac
  update_lists
  # One install for everything, and when that is refused (a package the
  # lists lack, or one whose dependencies they cannot meet), one for each
  # package, so that one missing package costs only itself.
  if ! apt install -y --no-install-recommends $missing; then
    # 32-bit Wine's libraries must be of the very version of their 64-bit
    # twins. When a suite's i386 index could not be fetched, the newest
    # versions offered for both are the release's own (its point-release
    # archive), so Wine is asked for from there, 64-bit twins that are older
    # being upgraded to match. It goes first, before anything else can
    # install a 64-bit twin from the suite whose i386 half is missing.
    case "$missing" in
      *wine32:i386*)
        wine_set=$(for p in wine wine64 wine32:i386; do installed "$p" || echo "$p"; done)
        release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
        apt install -y --no-install-recommends $wine_set ||
          { [ -n "$release" ] && apt install -y --no-install-recommends -t "$release" $wine_set; } || true ;;
    esac
    for p in $missing; do installed "$p" || apt install -y --no-install-recommends "$p" || true; done
  fi
  lacking=
  for p in $missing; do installed "$p" || lacking="$lacking $p"; done
  if [ -n "$lacking" ]; then
    echo "setup: could not install$lacking from the package lists apt has (see apt's messages above)" >&2
    # Without 32-bit Wine the x86 half cannot run; the main job and the
    # test command say so and fail. Without anything else nothing can.
    [ "$lacking" = " wine32:i386" ] || exit 1
  fi
fi

# Wine's 32-bit loader is a 32-bit Linux program. Where the kernel refuses to
# run those, tools/wine-run.sh runs it under QEMU's user-mode emulator, which
# needs no binfmt_misc entry (none is made: it would change how every Wine
# run on the machine starts). QEMU before 8.1 ignores MAP_FIXED_NOREPLACE,
# which Wine's address-space reservation relies on, and Debian 12's own
# qemu-user-static is 7.2; so the static qemu-user of bookworm-backports is
# unpacked aside, through a private apt state that leaves the machine's
# sources and package lists alone.
# Without 32-bit Wine there is nothing for the emulator to run.
emu_dir=/opt/qz410/qemu
if [ -e /usr/lib/wine/wine ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1 && ! [ -x "$emu_dir/qemu-i386" ]; then
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
