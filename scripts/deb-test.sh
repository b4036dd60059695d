#!/usr/bin/env bash
# The Debian package as a machine takes it: the tool, the service unit and its options file (a
# conffile), chrony.service's drop-in and the socket's folder, the maintainer scripts and the
# dependencies; the unit's confinement as systemd-analyze scores it (3.0 at most, and no right of
# root's); then the unit's command line, its variables filled from the packaged options file as
# systemd fills them (the port put to a simulated receiver, the socket to a private folder), runs
# the packaged tool until it receives.
#   deb-test.sh [PACKAGE]   (default: the one in build/package/)
set -euo pipefail
cd "$(dirname "$0")/.."
deb=${1:-$(ls build/package/clockagent_*_amd64.deb)}
. scripts/lib.sh deb
fail() {
  echo "FAIL $deb: $*" >&2
  exit 1
}

dpkg-deb -x "$deb" "$dir/root"
dpkg-deb -e "$deb" "$dir/control"
unit=$dir/root/usr/lib/systemd/system/clockagent-refclock.service
defaults=$dir/root/etc/default/clockagent

[[ -x $dir/root/usr/bin/clockagent ]] || fail "no /usr/bin/clockagent"
[[ -f $unit ]] || fail "no clockagent-refclock.service"
[[ -f $defaults ]] || fail "no /etc/default/clockagent"
[[ -f $dir/root/usr/lib/systemd/system/chrony.service.d/clockagent.conf ]] ||
  fail "no drop-in for chrony.service"
tmpfiles=$dir/root/usr/lib/tmpfiles.d/clockagent.conf
grep -qx 'd /run/clockagent 0750 root clockagent -' "$tmpfiles" ||
  fail "no folder for chronyd's socket"
grep -qx /etc/default/clockagent "$dir/control/conffiles" || fail "the options file is no conffile"
for script in postinst prerm postrm; do
  [[ -x $dir/control/$script ]] || fail "no $script"
  sh -n "$dir/control/$script" || fail "$script does not parse"
done
grep -q "^Depends:.*adduser" "$dir/control/control" || fail "no dependency on adduser"
for line in EnvironmentFile=/etc/default/clockagent User=clockagent SupplementaryGroups=dialout \
    Restart=on-failure WantedBy=multi-user.target CapabilityBoundingSet= Type=notify; do
  grep -qx "$line" "$unit" || fail "the unit lacks $line"
done
! grep -q '^AmbientCapabilities=.' "$unit" || fail "the unit grants rights of root's"
grep -q 'adduser --system --group' "$dir/control/postinst" || fail "postinst: no user of its own"
! grep -q 'adduser [^-]*clockagent dialout' "$dir/control/postinst" ||
  fail "postinst: the user itself in dialout"
grep -q 'deluser .*clockagent' "$dir/control/postrm" || fail "postrm: the user stays on purge"
scripts/install-deps.sh package
score=$(systemd-analyze security --offline=true "$unit" 2>/dev/null |
  sed -n 's/^.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
echo "systemd-analyze security: ${score:-none}"
awk -v s="${score:-99}" 'BEGIN { exit !(s <= 3.0) }' || fail "exposure ${score:-none}, above 3.0"
"$dir/root/usr/bin/clockagent" --version | grep -qx "clockagent $(cat build/linux-app/version.txt)" ||
  fail "the packaged tool is not this version"

# The unit's command line as systemd runs it: ${NAME} one word, $NAME split at blanks.
clockagent=build/linux-app/clockagent
simulate "$dir/rx"
set -a
# shellcheck disable=SC1090
. "$defaults"
set +a
CLOCKAGENT_PORT=$dir/rx
# No sample for a chronyd that this machine may run.
CLOCKAGENT_OUTPUTS=${CLOCKAGENT_OUTPUTS//\/run\/clockagent\/refclock.sock/$dir\/chrony.sock}
exec_start=$(sed -n 's/^ExecStart=//p' "$unit")
eval "set -- ${exec_start/#\/usr\/bin\/clockagent/\"\$dir/root/usr/bin/clockagent\"}"
echo "the unit runs: $*"
background "$@" >"$dir/refclock.log" 2>&1
wait_for_line "$dir/refclock.log" "receiving 0x41 answers from $dir/rx" 5
echo "PASS $deb: tool, unit (exposure $score), drop-in, socket folder, options file," \
  "maintainer scripts; the unit's command receives"
