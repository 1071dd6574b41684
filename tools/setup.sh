#!/bin/sh
# Installs what the build and the tests need on Debian 12, skipping what is
# already there: CMake and Ninja, the native and MinGW-w64 compilers,
# GoogleTest and Google Benchmark, Wine (64- and 32-bit) and Xvfb.
set -eu

packages="cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 xvfb util-linux"

missing=
for p in $packages; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$status" in *"install ok installed"*) ;; *) missing="$missing $p" ;; esac
done
[ -n "$missing" ] || exit 0

echo "setup: installing$missing"
run() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
case "$missing" in
  *:i386*) dpkg --print-foreign-architectures | grep -qx i386 || run dpkg --add-architecture i386 ;;
esac
run env DEBIAN_FRONTEND=noninteractive apt-get update -q < /dev/null
run env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing < /dev/null
