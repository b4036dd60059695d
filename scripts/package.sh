#!/usr/bin/env bash
# Builds the releases into build/package/: for Windows the installer and a zip of the same files,
# for Debian and its derivatives the package (CPack's DEB generator) with the refclock service.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all
scripts/install-deps.sh package
cmake --preset windows-mingw >/dev/null
cmake --build --preset windows-mingw >/dev/null

build=build/windows-mingw
version=$(cat "$build/version.txt")
out=build/package
mkdir -p "$out"
makensis -V2 -DBUILD="$PWD/$build" -DOUTFILE="$PWD/$out/ClockAgent-$version-setup.exe" \
  installer/clockagent.nsi
rm -f "$out/ClockAgent-$version-windows-x64.zip"
(cd "$build" && cmake -E tar cf "../../$out/ClockAgent-$version-windows-x64.zip" --format=zip \
  ClockAgent.exe clockagent.com ClockAgentTimeProvider.dll)

cmake --preset linux-app >/dev/null
cmake --build --preset linux-app >/dev/null
rm -f build/linux-app/clockagent_*.deb "$out"/clockagent_*.deb
(cd build/linux-app && cpack -G DEB >/dev/null)
cp build/linux-app/clockagent_*.deb "$out/"
ls -l "$out"
