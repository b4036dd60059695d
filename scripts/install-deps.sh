#!/usr/bin/env bash
# Installs the Debian 12 packages a build needs, only those that are missing.
#   install-deps.sh app     compiler and CMake: enough for the programs
#   install-deps.sh all     also GoogleTest, Google Benchmark, libpng (a test reads the screenshots)
#                           and the MinGW-w64 cross compiler
#   install-deps.sh wine    wine, Xvfb, ImageMagick and fonts, to run and look at the Windows programs
#   install-deps.sh package NSIS and dpkg-dev, to build the Windows installer and the Debian
#                           package, and systemd for systemd-analyze, which scores the service unit
#                           (installed where systemd does not run the machine, it starts nothing)
#   install-deps.sh chrony  the libraries that Debian's chronyd and chronyc need, to run them
#                           unpacked (never chrony itself: it would start as a service)
#   install-deps.sh fuzz    clang with libFuzzer and the sanitizer runtimes
set -euo pipefail

case "${1:-app}" in
  app) packages=(cmake ninja-build g++) ;;
  all) packages=(cmake ninja-build g++ googletest libbenchmark-dev g++-mingw-w64-x86-64-posix
                 util-linux libpng-dev) ;;
  wine) packages=(wine wine64 xvfb imagemagick fonts-liberation) ;;
  package) packages=(nsis dpkg-dev systemd) ;;
  chrony) packages=(util-linux libcap2 libedit2 libgnutls30 libnettle8 libseccomp2) ;;
  fuzz) packages=(cmake ninja-build clang-14 clang libclang-rt-14-dev) ;;
  *) echo "install-deps: unknown set '$1' (app, all, wine, package, chrony or fuzz)" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
    missing+=("$package")
done
((${#missing[@]} == 0)) && exit 0

sudo=()
[[ "$(id -u)" -ne 0 ]] && sudo=(sudo)
echo "Installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
