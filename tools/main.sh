#!/bin/sh
# The main job: sets up the machine, builds QZ410UI.DLL for 32-bit x86 and
# for x64, and loads each into the stand-in host under Wine, which prints
# what the plug-in answers and then, as a person would, opens the printing
# preferences and the printer's properties, sets a few controls and a picture
# of its own, and saves PNG pictures of the plug-in's pages in
# build/screenshots; it installs a printer in the project's Wine prefix and
# lets the plug-in initialise it, printing the printer's default device mode
# before and after. With a display and a terminal, it finally opens the
# printing preferences for you. Where 32-bit Wine cannot run, it does the x64
# half and ends failed, with the reason in one line.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/tools/setup.sh"

# Only what this job runs: the DLL and the stand-in host.
for tree in win32 win64; do
  echo "== building $tree: QZ410UI.DLL, qz410host"
  cmake --preset "$tree" > /dev/null
  cmake --build --preset "$tree" --target qz410ui qz410host
done

# Without 32-bit Wine the x86 half cannot run; the x64 half still does, and
# the job ends failed, saying why.
no_x86=$("$root/tools/wine-run.sh" --check-32bit) || true
trees="win32 win64"
[ -z "$no_x86" ] || trees=win64

# Without a display, tools/wine-run.sh starts an Xvfb server of its own; the
# trap ends it and the prefix's Wine server.
prefix="$root/build/wineprefix"
trap '"$root/tools/wine-run.sh" --prefix "$prefix" --stop' EXIT
# A run that fails fails the job.
run() {
  tree=$1
  shift
  rc=0
  (cd "build/$tree/bin" && "$root/tools/wine-run.sh" --prefix "$prefix" qz410host.exe "$@") || rc=$?
  [ $rc -eq 0 ] || status=1
  return $rc
}
# The Version page stamps the driver files it finds in the spooler's driver
# directory; the plug-in's own is among them, so it goes there, with its
# build time. system32\spool is not redirected for 32-bit programs, so the
# x86 file goes to system32 too.
place_driver_file() {
  case $1 in
    win32) d=system32/spool/drivers/w32x86/3 ;;
    *) d=system32/spool/drivers/x64/3 ;;
  esac
  mkdir -p "$prefix/drive_c/windows/$d"
  cp -p "build/$1/bin/QZ410UI.DLL" "$prefix/drive_c/windows/$d/qz410ui.dll"
}

# Every picture listed at the end is one this run made.
shots="$root/build/screenshots"
mkdir -p "$shots"
rm -f "$shots"/*.png
status=0
[ -z "$no_x86" ] || echo "== win32: not run: $no_x86"
for tree in $trees; do
  echo "== $tree: qz410host"
  run "$tree" QZ410UI.DLL || true
  place_driver_file "$tree"
  echo "== $tree: qz410host --screenshots"
  run "$tree" --screenshots "$shots" QZ410UI.DLL || true
  echo "== $tree: printer initialisation on a printer of our own"
  run "$tree" --install-printer "QZ410 $tree" && run "$tree" --initialize "QZ410 $tree" QZ410UI.DLL || true
done
echo "== screenshots in $shots:"
ls "$shots"/*.png 2>/dev/null || echo "(none)"

if [ -n "${DISPLAY:-}" ] && [ -t 0 ] && [ -z "$no_x86" ]; then
  echo "== the printing preferences, x86 (settings kept in build/win32/bin/qz410host.devmode)"
  run win32 --document QZ410UI.DLL || true
fi
if [ -n "$no_x86" ]; then
  echo "main: the x86 half did not run: $no_x86" >&2
  exit 1
fi
exit $status
