#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan, and runs each for SECONDS (default 15),
# seeded from the recorded receiver sessions and a few hand-made inputs. Corpora grow in
# build/fuzz/corpus/; a crash leaves its input in build/fuzz/ and fails the run.
#   fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-15}"

scripts/install-deps.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

corpus=build/fuzz/corpus
mkdir -p "$corpus"/{receive,settings,interval,nmea}
cp tests/data/captures/*.bin "$corpus/receive/"
printf '\x10\x41\x48\x93\xa8\x00\x04\xb0\x41\x50\x00\x00\x10\x03' >"$corpus/receive/answer-41"
printf '\x01\x00\x04COM5\x01\x01\x34\x05\x06113400\x06\x03UTC\x07\x02ON' >"$corpus/settings/stored"
printf '\x01\x80\x01\x33\x00\x04XYZ5' >"$corpus/settings/odd-types"
printf '$GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*44\r\n$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n' \
  >"$corpus/nmea/rmc-gga"
for text in "00 06:00" "00 30:90" "99 99:99" "49 17:03" "_1 0_:00"; do
  printf '%s' "$text" >"$corpus/interval/$(printf '%s' "$text" | tr ' :_' '-.u')"
done

status=0
for target in receive settings interval nmea; do
  echo "== $target: $seconds s"
  (cd build/fuzz && ./fuzz/${target}_fuzzer -max_total_time="$seconds" -max_len=8192 \
      -print_final_stats=1 "corpus/$target" 2>&1 |
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==|SUMMARY|Done)' ) || status=1
done
exit $status
