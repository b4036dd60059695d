#!/usr/bin/env bash
# Builds clockagent and makes one whole clock update against a simulated receiver: the receiver
# plays a GPS timing receiver on a pseudo-terminal, and 'clockagent sync --dry-run' asks it for
# the time and shows what it would set the clock to (the clock itself is left alone).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh app
cmake --preset linux-app >/dev/null
cmake --build --preset linux-app >/dev/null
clockagent=build/linux-app/clockagent

. scripts/lib.sh demo
simulate "$dir/receiver"

echo "\$ clockagent sync --port $dir/receiver --dry-run"
"$clockagent" sync --port "$dir/receiver" --dry-run
