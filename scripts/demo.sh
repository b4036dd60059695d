#!/usr/bin/env bash
# Builds clockagent and makes one whole clock update against a simulated receiver: the receiver
# plays a GPS timing receiver on a pseudo-terminal, and 'clockagent sync --dry-run' asks it for
# the time and shows what it would set the clock to (the clock itself is left alone).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh app
cmake --preset linux-app >/dev/null
cmake --build --preset linux-app >/dev/null
tool=build/linux-app/clockagent

work=$(mktemp -d /tmp/clockagent-demo.XXXXXX)
receiver=""
cleanup() {
  [[ -n "$receiver" ]] && kill "$receiver" 2>/dev/null && wait "$receiver" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$tool" simulate --link "$work/receiver" >/dev/null &
receiver=$!
for _ in $(seq 100); do [[ -e "$work/receiver" ]] && break; sleep 0.05; done

echo "\$ clockagent sync --port $work/receiver --dry-run"
"$tool" sync --port "$work/receiver" --dry-run
