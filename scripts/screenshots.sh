#!/usr/bin/env bash
# Puts the screenshots of the last scripts/wine-test.sh run (build/screenshots/) in place of those
# in docs/screenshots/, which the README shows; a native test checks that they show the pictures
# of ui/pictures/.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=0
for committed in docs/screenshots/*.png; do
  fresh="build/screenshots/$(basename "$committed")"
  if [[ -f "$fresh" ]]; then
    cp "$fresh" "$committed"
    echo "screenshots: $committed"
  else
    echo "screenshots: $fresh is missing; run scripts/wine-test.sh first" >&2
    missing=1
  fi
done
exit $missing
