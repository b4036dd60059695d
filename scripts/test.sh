#!/usr/bin/env bash
# Builds everything and runs every test: the Windows cross build, the native build with its tests
# (the soak among them) and benchmarks (for their figures), a short run of every fuzz target, the Windows
# installer and the Debian package, chronyd fed by the refclock command, the Windows tests under
# wine against simulated receivers (the installer included), then the native tests under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh all

step() { printf '\n== %s\n' "$*"; }
build() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
}

step "Windows cross build"
build windows-mingw

step "native build and tests"
build linux
ctest --preset linux

step "benchmarks"
scripts/figures.sh --quick

step "fuzzing, briefly"
scripts/fuzz.sh 15

step "Windows installer and zip, Debian package"
scripts/package.sh
scripts/deb-test.sh

step "chronyd fed by clockagent refclock through SOCK and SHM"
scripts/chrony-test.sh build/linux/clockagent

step "Windows tests under wine"
scripts/wine-test.sh

step "tests under AddressSanitizer and UndefinedBehaviorSanitizer"
build linux-sanitize
ctest --preset linux-sanitize
