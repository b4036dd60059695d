#!/usr/bin/env bash
# Builds clockagent and decodes a recorded receiver session: every packet the receiver sent, and
# for each timing packet the clock time it gives.
#   demo.sh [FILE]     default: a timing receiver's broadcast of packet 0x8F-AB
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh app
cmake --preset linux-app >/dev/null
cmake --build --preset linux-app >/dev/null

capture="${1:-../shared/testdata/captures/rx-c-0x8fab-mixed.bin}"
build/linux-app/clockagent decode "$capture"
