#!/usr/bin/env bash
# End to end with a real time daemon: chronyd from Debian's package, unpacked here and never
# installed, takes samples from `clockagent refclock` through a SOCK and an SHM reference clock,
# fed by the simulator for half a minute; chronyc must show both sources with samples within
# 10 ms. chronyd runs with -x (it never touches the clock) and without the right to set the
# clock, everything in an IPC namespace of its own (the SHM unit can meet no other program's), and
# the refclock command as an ordinary user in the dialout group with only the rights its service
# unit grants: none of root's. chronyd reads the segment that command made for itself alone, and
# binds its socket in the package's folder; the drop-in's command gives the socket to the user.
# With --pulse, the simulator broadcasts 20-80 ms after a pulse on its DTR and refclock takes the
# pulse on DCD (through the tests' fake modem lines, preloaded into those two alone): the offsets
# must then be within 0.2 ms. With --nmea, the simulator speaks NMEA sentences 0.7 s after each
# second (and its pulse), which refclock reads with --protocol nmea, told that latency when no
# pulse times them.
#   chrony-test.sh [--pulse] [--nmea] [CLOCKAGENT]   (default build/linux/clockagent)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
usage() {
  echo "usage: $0 [--pulse] [--nmea] [CLOCKAGENT]" >&2
  exit 2
}
clockagent=
pulse=
nmea=
for arg; do
  case "$arg" in
    --pulse) pulse=--pulse ;;
    --nmea) nmea=--nmea ;;
    -*) usage ;;
    *) [[ -z $clockagent ]] || usage; clockagent=$arg ;;
  esac
done
clockagent=$(realpath "${clockagent:-build/linux/clockagent}")
[[ -x $clockagent ]] || { echo "chrony-test: $clockagent is missing; build it first" >&2; exit 2; }
# The shared-memory key of unit 0, as the program has it.
key_base=$(sed -n 's/^constexpr key_t kShmKeyBase = \(0x[0-9A-Fa-f]*\);.*/\1/p' \
  refclock/refclock_outputs.h)
[[ -n $key_base ]] ||
  { echo "chrony-test: no kShmKeyBase in refclock/refclock_outputs.h" >&2; exit 2; }

scripts/install-deps.sh chrony

# Debian's chronyd and chronyc, unpacked once into the build folder.
chrony=$root/build/chrony
if [[ ! -x $chrony/root/usr/sbin/chronyd ]]; then
  rm -rf "$chrony"
  mkdir -p "$chrony"
  download() { (cd "$chrony" && apt-get download -q chrony 2>&1); }
  # A fresh machine has no package lists yet.
  download >/dev/null || { apt-get update -qq && download >/dev/null; }
  dpkg -x "$chrony"/chrony_*.deb "$chrony/root"
fi

if [[ "${CHRONY_TEST_INSIDE:-}" != 1 ]]; then
  # Again, in an IPC namespace of its own and without the right to set the clock.
  exec unshare --ipc setpriv --bounding-set -sys_time --inh-caps -sys_time \
    env CHRONY_TEST_INSIDE=1 bash "$0" $pulse $nmea "$clockagent"
fi

. scripts/lib.sh chrony
seconds=30
within=0.010
receiver=()
refclock=()
lines=()
if [[ -n $pulse ]]; then
  within=0.0002
  receiver=(--pulse dcd)
  [[ -n $nmea ]] || receiver+=(--broadcast)
  refclock=(--pulse dcd)
  lines=("${with_modem_lines[@]}")
fi
if [[ -n $nmea ]]; then
  receiver+=(--protocol nmea --nmea-delay 700)
  refclock+=(--protocol nmea)
  [[ -n $pulse ]] || refclock+=(--latency 700)
fi
# Open to all like /run; the socket's folder as the package's tmpfiles.d makes it, root's and
# open to the service's group (here nogroup, 65534); chronyd's command socket wants a folder of
# mode 0700 of the user chronyd drops to.
chmod 755 "$dir"
mkdir -m 750 "$dir/run"
chgrp 65534 "$dir/run"
mkdir -m 700 "$dir/cmd"
chown daemon:daemon "$dir/cmd"

shm_unit=2
cat >"$dir/chrony.conf" <<EOF
refclock SOCK $dir/run/refclock.sock refid SOCK poll 2
refclock SHM $shm_unit refid SHM poll 2
port 0
cmdport 0
bindcmdaddress $dir/cmd/cmd.sock
pidfile $dir/chronyd.pid
EOF

# The fake modem lines' state, which refclock's user changes too.
export FAKE_MODEM_LINES=$dir/modem-lines
install -m 666 /dev/null "$FAKE_MODEM_LINES"
simulate ${pulse:+--modem-lines} "$dir/rx" "${receiver[@]}"

# The refclock command as the service runs it: an ordinary user in the dialout group, which owns
# serial ports, with the unit's rights alone; first, as the units order it, so that it makes the
# segment.
chgrp dialout "$(readlink -f "$dir/rx")"
chmod g+rw "$(readlink -f "$dir/rx")"
caps=$(sed -n 's/^AmbientCapabilities=//p' packaging/clockagent-refclock.service |
  tr 'A-Z ' 'a-z\n' | sed -n 's/^cap_\(.*\)/+\1/p' | paste -sd,)
caps=-all${caps:+,$caps}
background setpriv --reuid=65534 --regid=65534 --groups=dialout --inh-caps="$caps" \
  --ambient-caps="$caps" --bounding-set="$caps" --no-new-privs \
  "${lines[@]}" "$clockagent" refclock --port "$dir/rx" --sock "$dir/run/refclock.sock" \
  --shm "$shm_unit" "${refclock[@]}" >"$dir/refclock.log" 2>&1
key=$(printf '0x%08x' $((key_base + shm_unit)))
segment_made() { ipcs -m | grep -q "^$key "; }
wait_for "SHM segment $key from refclock" 10 segment_made

# chronyd with systemd's umask, 022, dropping root's rights once it has attached the segment and
# bound its socket, as Debian's does (to _chrony; here daemon); then the command of the package's
# drop-in for chrony.service, for this folder and user.
background bash -c 'umask 022 && exec "$@"' chronyd "$chrony/root/usr/sbin/chronyd" -x -u daemon \
  -f "$dir/chrony.conf" -d >"$dir/chronyd.log" 2>&1
wait_for "socket from chronyd" 10 test -S "$dir/run/refclock.sock"
handover=$(sed -n 's/^ExecStartPost=[-+]*//p' packaging/chrony-clockagent.conf)
handover=${handover//\/run\/clockagent/$dir/run}
${handover/ clockagent / 65534 }

echo "chronyd is fed for $seconds seconds through SOCK and SHM $shm_unit"
sleep "$seconds"

chronyc() { "$chrony/root/usr/bin/chronyc" -h "$dir/cmd/cmd.sock" -n -c "$@"; }
sources=$(chronyc sources)
stats=$(chronyc sourcestats)
echo "$sources" | sed 's/^/sources: /'
echo "$stats" | sed 's/^/sourcestats: /'

failed=0
for name in SOCK SHM; do
  # sources: mode,state,name,stratum,poll,reach,last rx,adjusted offset,measured offset,error
  # sourcestats: name,samples,runs,span,frequency,frequency skew,offset,deviation
  IFS=, read -r _ _ _ _ _ reach _ adjusted measured _ < <(echo "$sources" | grep "^#,.,$name,") ||
    true
  IFS=, read -r _ samples _ _ _ _ offset _ < <(echo "$stats" | grep "^$name,") || true
  if awk -v r="${reach:-0}" -v n="${samples:-0}" -v a="${adjusted:-1}" -v m="${measured:-1}" \
      -v o="${offset:-1}" -v w="$within" 'function abs(x) { return x < 0 ? -x : x }
      BEGIN { exit !(r != "0" && n >= 3 && abs(a) < w && abs(m) < w && abs(o) < w) }'
  then
    printf 'PASS %s: %s samples, last offset %.6f s (measured %.6f s), mean offset %.6f s\n' \
      "$name" "$samples" "$adjusted" "$measured" "$offset"
  else
    echo "FAIL $name: reach ${reach:-none}, samples ${samples:-none}, offsets ${adjusted:-none}" \
      "${measured:-none} ${offset:-none}; want samples, all offsets within $within s"
    failed=1
  fi
done
if ((failed)); then
  show_logs
  exit 1
fi
echo "chronyd took samples from both interfaces"
