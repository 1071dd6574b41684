#!/bin/sh
# The main job: sets up the machine, builds QZ410UI.DLL for 32-bit x86 and
# for x64, and loads each into the stand-in host under Wine, which prints
# what the plug-in answers and then, as a person would, opens the printing
# preferences and the printer's properties, sets a few controls and a picture
# of its own, and saves PNG pictures of the plug-in's pages in
# build/screenshots; it installs a printer in the project's Wine prefix and
# lets the plug-in initialise it, printing the printer's default device mode
# before and after. With a display and a terminal, it finally opens the
# printing preferences for you.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/tools/setup.sh"

for tree in win32 win64; do
  echo "== building $tree"
  cmake --preset "$tree" > /dev/null
  cmake --build --preset "$tree"
done

# Without a display, tools/wine-run.sh starts an Xvfb server of its own; the
# trap ends it and the prefix's Wine server.
trap '"$root/tools/wine-run.sh" --prefix "$root/build/wineprefix" --stop' EXIT
run() {
  tree=$1
  shift
  (cd "build/$tree/bin" && "$root/tools/wine-run.sh" --prefix "$root/build/wineprefix" qz410host.exe "$@")
}

shots="$root/build/screenshots"
mkdir -p "$shots"
status=0
for tree in win32 win64; do
  echo "== $tree: qz410host"
  run "$tree" QZ410UI.DLL || status=1
  echo "== $tree: qz410host --screenshots"
  run "$tree" --screenshots "$shots" QZ410UI.DLL || status=1
  echo "== $tree: printer initialisation"
  run "$tree" --install-printer "QZ410 Test" && run "$tree" --initialize "QZ410 Test" QZ410UI.DLL || status=1
done
echo "== screenshots in $shots:"
ls "$shots"/*.png 2>/dev/null || echo "(none)"

if [ -n "${DISPLAY:-}" ] && [ -t 0 ]; then
  echo "== the printing preferences, x86 (settings kept in build/win32/bin/qz410host.devmode)"
  run win32 --document QZ410UI.DLL || status=1
fi
exit $status
