#!/usr/bin/env bash
# Prints the figures kept in BENCHMARKS.md: receive-loop throughput, Refresh Time to outcome, the
# clock error after an update, the time clockagent find takes, and the size and imports of
# ClockAgent.exe. Expects the linux and
# windows-mingw presets built (scripts/test.sh builds both first).
#   scripts/figures.sh [--quick]   --quick: shorter throughput runs, as the test command uses
#   scripts/figures.sh --discipline   only the discipline's figures: eleven minutes on the tests'
#                                     virtual clock (not part of the test command)
set -euo pipefail
cd "$(dirname "$0")/.."

min_time=1
[[ "${1:-}" == "--quick" ]] && min_time=0.2
if [[ "${1:-}" == "--discipline" ]]; then
  echo "== the clock held between updates (build/linux/bench/clockagent_discipline_bench)"
  exec build/linux/bench/clockagent_discipline_bench
fi
clockagent=build/linux/clockagent
. scripts/lib.sh figures

echo "== receive loop and calendar (build/linux/bench/clockagent_bench)"
build/linux/bench/clockagent_bench --benchmark_min_time="$min_time"

echo
echo "== whole updates against the simulator, 50 attempts each (build/linux/bench/clockagent_update_bench)"
# The pulse's attempts go through the tests' fake modem lines, preloaded into the benchmark and
# the simulators it starts.
FAKE_MODEM_LINES=$dir/modem-lines "${with_modem_lines[@]}" build/linux/bench/clockagent_update_bench

echo
echo "== clockagent find over three simulated ports: 4800 8-O-1 answering, 19200 8-N-1 broadcasting, silent"
simulate "$dir/answering" --baud 4800 --parity odd
simulate "$dir/broadcasting" --broadcast --baud 19200
simulate "$dir/silent" --silent
began=$(date +%s%N)
"$clockagent" find --port "$dir/answering" --port "$dir/broadcasting" --port "$dir/silent" \
  2>/dev/null || true
echo "searched in $((($(date +%s%N) - began) / 1000000)) ms"

exe=build/windows-mingw/ClockAgent.exe
if [[ -f "$exe" ]]; then
  echo
  echo "== $exe"
  echo "size: $(stat -c %s "$exe") bytes"
  echo "imports: $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | sort -f | paste -sd ' ')"
fi
