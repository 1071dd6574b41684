#!/bin/sh
# Runs a Windows program under Wine in the project's own prefix, so that no
# test depends on (or changes) the user's prefix. Used by CTest as the cross
# trees' emulator:  wine-run.sh --prefix DIR program.exe [args...]
# Makes the prefix on first use and, when there is no display, starts an
# Xvfb server that later runs share.  wine-run.sh --prefix DIR --stop ends
# that prefix's Wine server and the Xvfb server started for it.
set -eu

prefix=
if [ "${1:-}" = "--prefix" ]; then prefix=$2; shift 2; fi
[ -n "$prefix" ] || prefix=${QZ410_WINE_PREFIX:-$(pwd)/wineprefix}
[ $# -ge 1 ] || { echo "usage: $0 [--prefix DIR] program.exe [args...] | --stop" >&2; exit 2; }

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
# A kernel without 32-bit support cannot start Wine's 32-bit loader, which
# /usr/bin/wine tries first; the 64-bit loader still runs 64-bit programs.
wine=wine
if ! wine --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine64 ]; then
  wine=/usr/lib/wine/wine64
  export WINELOADER=$wine
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
export WINEARCH=win64

# One lock serialises the set-up of the prefix and the display, since CTest
# runs tests in parallel.
exec 9>"$prefix.lock"
flock 9

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

# The marker holds the version of this set-up, so that older prefixes get
# the later steps too.
if [ "$(cat "$prefix/.qz410-ready" 2>/dev/null)" != 2 ]; then
  "$wine" wineboot.exe -i >/dev/null 2>&1 || true
  # A crashing test must end with its exit code, not wait in the debugger.
  for view in 32 64; do
    "$wine" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f /reg:$view >/dev/null 2>&1 || true
  done
  # Without a window manager, Wine waits about two seconds on every closing
  # dialog for a manager's answer, unless it manages its windows itself.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
  wineserver -w
  echo 2 > "$prefix/.qz410-ready"
fi
flock -u 9
exec 9>&-

# Say plainly why a 32-bit program cannot run here, instead of Wine's
# "ShellExecuteEx failed".
if [ "$wine" != wine ] && [ -f "$1" ]; then
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  if [ "$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ')" = 014c ]; then
    echo "wine-run: this machine's kernel cannot run 32-bit programs such as $1" >&2
    exit 1
  fi
fi
exec "$wine" "$@"
