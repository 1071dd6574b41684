#!/bin/sh
# Runs a Windows program under Wine in the project's own prefix, so that no
# test depends on (or changes) the user's prefix. Used by CTest as the cross
# trees' emulator:  wine-run.sh --prefix DIR program.exe [args...]
# Makes the prefix on first use and, when there is no display, starts an
# Xvfb server that later runs share.  wine-run.sh --prefix DIR --stop ends
# that prefix's Wine server and the Xvfb server started for it.
# wine-run.sh --check-32bit exits 0 when 32-bit programs can start here, and
# otherwise prints the one line that tells why not and exits 1. A 32-bit
# program that cannot start ends with that line on stderr and status 77.
set -eu

prefix=
if [ "${1:-}" = "--prefix" ]; then prefix=$2; shift 2; fi
[ -n "$prefix" ] || prefix=${QZ410_WINE_PREFIX:-$(pwd)/wineprefix}
[ $# -ge 1 ] || { echo "usage: $0 [--prefix DIR] program.exe [args...] | --stop | --check-32bit" >&2; exit 2; }

# Wine's own start script prefers the 32-bit loader whenever it is installed,
# even for 64-bit programs; pick the loader by the program's machine type.
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
export WINELOADER="$wine64"
# Where the kernel cannot run Wine's 32-bit loader (a 32-bit Linux program),
# QEMU's user-mode emulator can; tools/setup.sh puts it here.
qemu_i386=${QZ410_QEMU_I386:-/opt/qz410/qemu/qemu-i386}
# Prints the PE machine field of a program file (014c x86, 8664 x64), or
# nothing when the file is not found here.
pe_machine() {
  [ -f "$1" ] || return 0
  pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$pe" ] || return 0
  od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' '
}

# Which way 32-bit Wine starts here: "native", "emulated" or "none", and
# for "none" why not, in one line.
wow64=native
why=
if ! "$wine32" --version >/dev/null 2>&1; then
  wow64=none
  if ! [ -e "$wine32" ]; then
    why="32-bit Wine is not installed ($wine32 is missing: the Debian package wine32:i386, which tools/setup.sh installs when apt's package lists offer it)"
  elif ! [ -x "$qemu_i386" ]; then
    why="32-bit Wine cannot start: this kernel runs no 32-bit Linux programs and there is no emulator for them ($qemu_i386, which tools/setup.sh fetches)"
  elif "$qemu_i386" "$wine32" --version >/dev/null 2>&1; then
    wow64=emulated
  else
    why="32-bit Wine cannot start: this kernel runs no 32-bit Linux programs and the emulator $qemu_i386 cannot start it either"
  fi
fi
if [ "$1" = "--check-32bit" ]; then
  [ "$wow64" = none ] || exit 0
  echo "$why"
  exit 1
fi

mkdir -p "$prefix"
prefix=$(cd "$prefix" && pwd)
export WINEPREFIX="$prefix"

if [ "$1" = "--stop" ]; then
  wineserver -k 2>/dev/null || true
  if [ -f "$prefix.xvfb.pid" ]; then
    kill "$(cat "$prefix.xvfb.pid")" 2>/dev/null || true
    rm -f "$prefix.xvfb.pid" "$prefix.display"
  fi
  exit 0
fi

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEARCH=win64
# Wine gives Windows names to Unix files in the locale's character set: in
# the C locale of a system with no LANG set (minimal containers, a Debian
# base system) names outside ASCII cannot be made or opened. Debian's libc
# has C.UTF-8 built in.
case "$(locale charmap 2>/dev/null)" in
  UTF-8) ;;
  *) export LC_ALL=C.UTF-8 ;;
esac

# One lock serialises the set-up of the prefix and the display, since CTest
# runs tests in parallel.
exec 9>"$prefix.lock"
flock 9

# The emulated 32-bit loader cannot exec a 32-bit process either, so it must
# hand Wine a loader path that is a script starting the emulator. Wine names
# the loader of a child process after the directory of the running program
# (/proc/self/exe) and the base name of argv[0], and finds its libraries
# and data relative to that directory. Hence a small tree that mirrors
# /usr/lib/wine: real copies of both loaders (a symbolic link would resolve
# back to /usr/lib/wine), links to the library and data directories, and
# "wine", the script, which runs the 32-bit copy under the emulator with
# argv[0] set to itself. Its "wine64" starts 64-bit children of 32-bit
# programs, and the set-up below, so that the prefix gets its 32-bit half.
loaders="$prefix.loaders"
if [ "$wow64" = emulated ]; then
  bin="$loaders/lib/wine"
  mkdir -p "$bin" "$loaders/share"
  for f in wine:wine-i386 wine64:wine64; do
    cmp -s "/usr/lib/wine/${f%%:*}" "$bin/${f#*:}" || cp "/usr/lib/wine/${f%%:*}" "$bin/${f#*:}"
  done
  for l in lib/i386-linux-gnu lib/x86_64-linux-gnu share/wine lib/wine/wineserver; do
    [ -L "$loaders/$l" ] || ln -s "/usr/$l" "$loaders/$l"
  done
  printf '#!/bin/sh\nWINELOADERNOEXEC=1 exec "%s" -0 "%s" "%s" "$@"\n' "$qemu_i386" "$bin/wine" "$bin/wine-i386" > "$bin/wine.new"
  chmod +x "$bin/wine.new"
  mv "$bin/wine.new" "$bin/wine"
  wine32="$bin/wine"
  setup64="$bin/wine64"
else
  setup64="$wine64"
fi

if [ -z "${DISPLAY:-}" ]; then
  displayfile="$prefix.display"
  n=$(cat "$displayfile" 2>/dev/null || true)
  if [ -z "$n" ] || ! [ -e "/tmp/.X11-unix/X$n" ] || ! kill -0 "$(cat "$prefix.xvfb.pid" 2>/dev/null || echo 0)" 2>/dev/null; then
    n=90
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 < /dev/null &
    echo $! > "$prefix.xvfb.pid"
    i=0
    while ! [ -e "/tmp/.X11-unix/X$n" ]; do
      i=$((i + 1)); [ $i -lt 100 ] || { echo "wine-run: Xvfb :$n did not start" >&2; exit 1; }
      sleep 0.1
    done
    echo "$n" > "$displayfile"
  fi
  export DISPLAY=":$n"
fi

# A prefix made while 32-bit Wine could not start lacks its 32-bit half
# (syswow64); once the emulator is there, Wine's update makes it.
if [ "$wow64" = emulated ] && [ -f "$prefix/.qz410-ready" ] && ! [ -f "$prefix/.qz410-wow64" ]; then
  rm -f "$prefix/.qz410-ready" "$prefix/.update-timestamp"
fi
# The marker holds the version of this set-up, so that older prefixes get
# the later steps too.
if [ "$(cat "$prefix/.qz410-ready" 2>/dev/null)" != 2 ]; then
  "$setup64" wineboot -i >/dev/null 2>&1 || true
  # A crashing test must end with its exit code, not wait in the debugger.
  for view in 32 64; do
    "$wine64" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f /reg:$view >/dev/null 2>&1 || true
  done
  # Without a window manager, Wine waits about two seconds on every closing
  # dialog for a manager's answer, unless it manages its windows itself.
  "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
  wineserver -w
  [ "$wow64" != emulated ] || touch "$prefix/.qz410-wow64"
  echo 2 > "$prefix/.qz410-ready"
fi
flock -u 9
exec 9>&-

if [ "$(pe_machine "$1")" = 014c ]; then
  # A 32-bit program needs Wine's 32-bit loader, a 32-bit Linux program.
  if [ "$wow64" = none ]; then
    echo "wine-run: cannot start $1: $why" >&2
    exit 77
  fi
  exec "$wine32" "$@"
fi
exec "$wine64" "$@"
