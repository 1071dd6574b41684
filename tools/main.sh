#!/bin/sh
# The main job: sets up the machine, builds QZ410UI.DLL for 32-bit x86 and
# for x64, and loads each into the stand-in host under Wine, which prints
# what the plug-in answers and runs the printer initialisation on a printer
# it installs in the project's Wine prefix.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/tools/setup.sh"

for tree in win32 win64; do
  echo "== building $tree"
  cmake --preset "$tree" > /dev/null
  cmake --build --preset "$tree"
done
trap '"$root/tools/wine-run.sh" --prefix "$root/build/wineprefix" --stop' EXIT
for tree in win32 win64; do
  echo "== $tree: qz410host"
  (cd "build/$tree/bin" && "$root/tools/wine-run.sh" --prefix "$root/build/wineprefix" qz410host.exe QZ410UI.DLL)
  echo "== $tree: printer initialisation on a printer of our own"
  (cd "build/$tree/bin" &&
    "$root/tools/wine-run.sh" --prefix "$root/build/wineprefix" qz410host.exe --install-printer "QZ410 $tree" &&
    "$root/tools/wine-run.sh" --prefix "$root/build/wineprefix" qz410host.exe --initialize "QZ410 $tree" QZ410UI.DLL)
done
