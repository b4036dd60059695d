#!/usr/bin/env bash
# Runs the Windows test programs under wine: a private wine prefix, an Xvfb display, and COM ports
# mapped to simulated receivers on ptys. Needs the linux and windows-mingw builds.
#   scripts/wine-test.sh                 every test
#   scripts/wine-test.sh --clock-error   instead, the clock error of 50 updates by clockagent.com
# WINEDEBUG_OVERRIDE=+channel,... turns wine's debug channels on for a diagnosis;
# WINE_TEST_ONLY=clockagent_service_tests (say) runs one test program alone.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh wine

clockagent=build/linux/clockagent
tests=build/windows-mingw/tests
for f in "$clockagent" build/linux/tests/port_holder build/linux/tests/libfake_modem_lines.so \
    "$tests/clockagent_tests.exe" "$tests/clockagent_win32_tests.exe" \
    "$tests/clockagent_service_tests.exe" "$tests/clockagent_ui_tests.exe" \
    "$tests/clockagent_w32time_tests.exe"; do
  [[ -x "$f" || -f "$f" ]] || { echo "wine-test: $f is missing; build the linux and windows-mingw presets" >&2; exit 2; }
done

. scripts/lib.sh wine
export WINEPREFIX="$dir/prefix" WINEDEBUG=${WINEDEBUG_OVERRIDE:--all} WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
at_end wineserver -k

background Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log"
wait_for "display from Xvfb" 10 test -s "$dir/display"
export DISPLAY=":$(cat "$dir/display")"

echo "wine-test: preparing a wine prefix"
wine wineboot -i >/dev/null 2>&1
# Faces of the same metrics for the Windows fonts the windows are designed in.
for font in "MS Sans Serif=Liberation Sans" "Times New Roman=Liberation Serif"; do
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "${font%%=*}" /t REG_SZ \
    /d "${font#*=}" /f >/dev/null 2>&1
done
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
wineserver -w

com() {  # [--modem-lines] NUMBER, then simulator options: a simulated receiver on COMn
  local lines=()
  if [[ $1 == --modem-lines ]]; then
    lines=(--modem-lines)
    shift
  fi
  local number=$1
  shift
  simulate "${lines[@]}" "$dir/com$number" "$@"
  wine reg add 'HKLM\Software\Wine\Ports' /v "COM$number" /t REG_SZ /d "$dir/com$number" /f \
    >/dev/null 2>&1
}
fixed=(--time 2003-01-08T11:59:47Z --offset 13)
com 3 "${fixed[@]}"
com 5 "${fixed[@]}" --baud 38400 --parity odd --stop-bits 2
com 7 "${fixed[@]}" --garbage 30 --split 5
com 8 "${fixed[@]}" --baud 2400 --parity odd
com 9 "${fixed[@]}"
com 11 --silent
com 12 --broadcast
com 13 --tow nan
com 14 --silent --hangup-after 3
com 15 "${fixed[@]}" --flood --baud 38400
com 16 "${fixed[@]}" --dle-storm 1000 --oversize 600
com 17 --broadcast --offset 2
com 18 --offset 2
com 21 --protocol nmea --nmea-delay 100  # an NMEA receiver, 0.1 s after each second
# COM20 broadcasts 20-80 ms after a pulse on its DTR, which reaches the program's DCD through the
# tests' fake modem lines (a pty has none): preloaded into the simulator here, and into the
# programs that read the pulse.
export FAKE_MODEM_LINES="$dir/modem-lines"
com --modem-lines 20 --broadcast --pulse dcd
# COM22 is an NMEA receiver whose sentences begin 0.7 s after its pulse, on lines of its own.
nmea_lines=(env "FAKE_MODEM_LINES=$dir/modem-lines-22" "${with_modem_lines[@]:1}")
FAKE_MODEM_LINES="$dir/modem-lines-22" com --modem-lines 22 --protocol nmea --nmea-delay 700 \
  --pulse dcd
# COM9 is in use by another program. (Wine itself does not keep a COM port to one opener, as
# Windows does; the other program's exclusive hold on the tty is what refuses the open.)
background build/linux/tests/port_holder "$dir/com9" >"$dir/holder" 2>"$dir/holder.log"
wait_for "hold on COM9" 10 test -s "$dir/holder"
wineserver -w  # the port mapping is read when the wine server starts

# The programs, and the wine server that opens files for them, run without the rights to set this
# machine's clock or to pass another program's exclusive hold on a port.
norights=(setpriv --bounding-set -sys_time,-sys_admin --inh-caps -sys_time,-sys_admin)
"${norights[@]}" wineserver -p >/dev/null 2>&1  # quiet; stopped by the clean-up

# summarize PROGRAM WHAT ERRORS...: the median and extremes of clock errors in milliseconds.
summarize() {
  local program=$1 what=$2
  shift 2
  local sorted
  sorted=$(printf '%s\n' "$@" | sort -n)
  echo "clock error of $program under wine, $# updates from $what:" \
    "median $(sed -n "$((($# + 1) / 2))p" <<<"$sorted") ms," \
    "lowest $(head -1 <<<"$sorted") ms, highest $(tail -1 <<<"$sorted") ms"
}

if [[ "${1:-}" == "--clock-error" ]]; then
  # Wine never changes the clock: a time within half a second of its own is answered with
  # success, any other refused with a message saying by how much it differs. COM17 broadcasts
  # and COM18 answers with a GPS-UTC offset of 2 s, taken as GPS time, so each update asks for
  # the true time plus 2 s plus its error, and the message tells the error.
  # The printed offset is the error of the time set on this right clock: COM20's broadcasts,
  # timed by the pulse on DCD and by themselves; COM22's NMEA sentences timed by its pulse, and
  # COM21's by themselves with the right latency.
  for run in "COM20 --pulse dcd" "COM20 --pulse none" "COM22 --protocol nmea --pulse dcd" \
      "COM21 --protocol nmea --latency 100"; do
    read -r -a options <<<"$run"
    lines=("${with_modem_lines[@]}")
    [[ ${options[0]} == COM22 ]] && lines=("${nmea_lines[@]}")
    errors=()
    for _ in $(seq 50); do
      "${lines[@]}" "${norights[@]}" wine build/windows-mingw/clockagent.com sync \
        --port "${options[@]}" --dry-run >"$dir/sync" 2>&1 || true
      said=$(tr -d '\r' <"$dir/sync" | sed -n 's/^clock was \([0-9.]*\) s \(ahead\|behind\)$/\2 \1/p')
      [[ -n "$said" ]] && errors+=($(awk '{printf "%.3f", ($1 == "ahead" ? -1 : 1) * $2 * 1000}' <<<"$said"))
    done
    summarize "clockagent.com" "$run" "${errors[@]}"
  done
  # The window program with the pulse on DCD, started with an update a minute on COM20 and left
  # for ten minutes: its processor time (ten updates and the time between them), and the offsets
  # its record holds.
  for setting in Comm=COM20 Pulse=DCD AutoStart=ON Interval=60; do
    wine reg add 'HKLM\Software\Velmora\ClockAgent' /v "${setting%=*}" /t REG_SZ \
      /d "${setting#*=}" /f >/dev/null 2>&1
  done
  background "${with_modem_lines[@]}" "${norights[@]}" wine build/windows-mingw/ClockAgent.exe \
    >/dev/null 2>&1
  sleep 5
  ticks() {  # the user and system clock ticks of the processes running ClockAgent.exe
    local total=0 pid
    for pid in $(pgrep -f 'ClockAgent\.exe'); do
      total=$((total + $(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0)))
    done
    echo "$total"
  }
  before=$(ticks)
  sleep 600
  used=$(($(ticks) - before))
  echo "processor time of ClockAgent.exe under wine with the pulse on DCD, an update a minute:" \
    "$((used * 1000 / $(getconf CLK_TCK))) ms in 600 s" \
    "($(awk -v u="$used" -v hz="$(getconf CLK_TCK)" 'BEGIN {printf "%.2f", u / hz / 600 * 100}') %)"
  mapfile -t errors < <(tr -d '\r' <"$WINEPREFIX/drive_c/ProgramData/Velmora/ClockAgent/updates.csv" |
    awk -F, '$8 == "pulse" {printf "%.3f\n", $5 * 1000}')
  summarize "ClockAgent.exe" "COM20 with the pulse on DCD" "${errors[@]}"
  for port in COM17:0x8F-AB:broadcasts COM18:0x41:answers; do
    IFS=: read -r com packet kind <<<"$port"
    errors=()
    for _ in $(seq 50); do
      # Into a file: wine's helper processes keep a pipe open long after the program has ended.
      WINEDEBUG=-all,err+sync "${norights[@]}" wine build/windows-mingw/clockagent.com sync \
        --port "$com" --time-type gps >"$dir/sync" 2>&1 || true
      said=$(sed -n 's/.*difference \(-\?[0-9]*\) ms.*/\1/p' "$dir/sync")
      [[ -n "$said" ]] && errors+=($((said - 2000)))
    done
    summarize "clockagent.com" "$packet $kind" "${errors[@]}"
  done
  exit 0
fi

export CLOCKAGENT_WINE_HARNESS=1
shots="$dir/screenshots"
mkdir -p "$shots"
export CLOCKAGENT_SCREENSHOTS="$shots"
# Wine writes its debug channels to the standard error that every process a test program starts
# inherits, so the relay channel that a test turns on for the program it starts lands there: kept
# in a file that the test reads, and shown afterwards without the relay's lines.
export CLOCKAGENT_WINE_STDERR="$dir/stderr"
status=0
for program in clockagent_tests clockagent_no_allocation_test clockagent_win32_tests \
    clockagent_service_tests clockagent_ui_tests clockagent_w32time_tests; do
  # WINE_TEST_ONLY=PROGRAM runs that one alone, for a quicker look.
  [[ -n "${WINE_TEST_ONLY:-}" && "$program" != "$WINE_TEST_ONLY" ]] && continue
  echo "wine-test: $program.exe"
  # The window's test reads COM20's pulse.
  lines=()
  [[ "$program" == clockagent_ui_tests || "$program" == clockagent_w32time_tests ]] &&
    lines=("${with_modem_lines[@]}")
  "${lines[@]}" "${norights[@]}" wine "$tests/$program.exe" 2>"$CLOCKAGENT_WINE_STDERR" || status=1
  grep -v -E '^[0-9a-f]+:(Call|Ret|Starting|trace:relay)' "$CLOCKAGENT_WINE_STDERR" >&2 || true
done

# The console tool of the same build, against COM3.
echo "wine-test: clockagent.com sync --port COM3 --dry-run"
# COM3's 2003 lies 2048 weeks before this version's release: a week rollover. A correction that
# large is made from a second answer that confirms the first.
expected=$'^Success\ntime of week: Wed 12:00:0[0-9]\\.[0-9]{2}\nclock was [0-9]+\\.[0-9]{6} s behind\nweek rollover: moved forward 2048 weeks\nwould set the clock to 2042-04-09T11:59:4[0-9]\\.[0-9]{3}Z \\(dry run\\)$'
got=$("${norights[@]}" wine build/windows-mingw/clockagent.com sync --port COM3 --dry-run | tr -d '\r')
compare clockagent.com "$expected" "$got" || status=1

# The console tool timed by COM20's pulse on DCD: an error of a few milliseconds at most, where
# its packets alone would be 20-80 ms late.
echo "wine-test: clockagent.com sync --port COM20 --pulse dcd --dry-run"
expected=$'^Success\ntime of week: [A-Z][a-z]{2} [0-9:]{8}\\.00\nclock was 0\\.00[0-4][0-9]{3} s (ahead|behind)\nwould set the clock to [-0-9T:]{19}\\.[0-9]{3}Z \\(dry run\\)$'
got=$("${with_modem_lines[@]}" "${norights[@]}" wine build/windows-mingw/clockagent.com sync \
  --port COM20 --pulse dcd --dry-run | tr -d '\r')
compare "clockagent.com with the pulse" "$expected" "$got" || status=1

# The console tool reading COM21's NMEA sentences, its latency told: within a few milliseconds.
echo "wine-test: clockagent.com sync --port COM21 --protocol nmea --latency 100 --dry-run"
expected=$'^Success\ntime of week: [A-Z][a-z]{2} [0-9:]{8}\\.00\nclock was 0\\.00[0-9]{4} s (ahead|behind)\nwould set the clock to [-0-9T:]{19}\\.[0-9]{3}Z \\(dry run\\)$'
got=$("${norights[@]}" wine build/windows-mingw/clockagent.com sync --port COM21 --protocol nmea \
  --latency 100 --dry-run | tr -d '\r')
compare "clockagent.com with an NMEA receiver" "$expected" "$got" || status=1

# The console tool timed by COM22's pulse, its NMEA sentences 0.7 s after the pulse naming the
# second of that pulse: within a few milliseconds, and never a second off.
echo "wine-test: clockagent.com sync --port COM22 --protocol nmea --pulse dcd --dry-run"
expected=$'^Success\ntime of week: [A-Z][a-z]{2} [0-9:]{8}\\.00\nclock was 0\\.00[0-4][0-9]{3} s (ahead|behind)\nwould set the clock to [-0-9T:]{19}\\.[0-9]{3}Z \\(dry run\\)$'
got=$("${nmea_lines[@]}" "${norights[@]}" wine build/windows-mingw/clockagent.com sync \
  --port COM22 --protocol nmea --pulse dcd --dry-run | tr -d '\r')
compare "clockagent.com with an NMEA receiver and its pulse" "$expected" "$got" || status=1

# The discipline under wine, which keeps no time adjustment: it stops at the first update and
# says so, and the update steps the clock as before (here refused, without the right to).
echo "wine-test: clockagent.com run --port COM12 --discipline"
got=$( (timeout 12 "${norights[@]}" wine build/windows-mingw/clockagent.com run --port COM12 \
  --interval "00 00:01" --discipline || true) | tr -d '\r' | head -n 2)
expected=$'^discipline off: the system did not keep the rate set\n[-0-9T:]{19}Z [A-Za-z -]+ [01]/1( .*)?$'
compare "clockagent.com with the discipline" "$expected" "$got" || status=1

# The console tool's search: COM5 speaks 38400 8-O-1 (two stop bits, heard with one), COM8 2400
# 8-O-1 (after trials with parity, which wine makes harder to leave), COM9 is held by another
# program, COM19 is not mapped. The search's threads finish in any order.
echo "wine-test: clockagent.com find --port COM5 --port COM8 --port COM9 --port COM19"
got=$("${norights[@]}" wine build/windows-mingw/clockagent.com find --port COM5 --port COM8 \
  --port COM9 --port COM19 2>&1 | tr -d '\r' | grep -v ' trying ' | LC_ALL=C sort)
expected=$'^COM5: 38400 baud, 8-O-1, answering with 0x41\nCOM8: 2400 baud, 8-O-1, answering with 0x41\nclockagent find: COM19: no such serial port\nclockagent find: COM9: in use by another program, skipped$'
compare "clockagent.com find" "$expected" "$got" || status=1

# The installer, silently, and its uninstaller, with and without removing the settings.
setup=build/package/ClockAgent-$(cat build/windows-mingw/version.txt)-setup.exe
if [[ -f "$setup" ]]; then
  echo "wine-test: installer"
  folder="$WINEPREFIX/drive_c/Program Files/Velmora/ClockAgent"
  uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ClockAgent'
  records="$WINEPREFIX/drive_c/ProgramData/Velmora/ClockAgent"
  installer_failed() { echo "wine-test: installer: $*"; status=1; }
  for removal in "" /REMOVESETTINGS; do
    "${norights[@]}" wine "$setup" /S
    for f in ClockAgent.exe clockagent.com Uninstall.exe; do
      [[ -f "$folder/$f" ]] || installer_failed "$f was not installed"
    done
    cmp -s "$folder/ClockAgent.exe" build/windows-mingw/ClockAgent.exe ||
      installer_failed "the installed ClockAgent.exe is not the one built"
    wine reg query "$uninstall_key" >/dev/null 2>&1 || installer_failed "no uninstall entry"
    wine reg add 'HKLM\Software\Velmora\ClockAgent' /v Comm /d COM3 /f >/dev/null 2>&1
    mkdir -p "$records" && touch "$records/updates.csv"
    "${norights[@]}" wine "C:\\Program Files\\Velmora\\ClockAgent\\Uninstall.exe" /S $removal
    # The uninstaller runs on from a copy of itself and removes Uninstall.exe before the settings
    # and the record: done when both are gone, or, keeping them, the first.
    for _ in $(seq 40); do
      [[ -e "$folder/Uninstall.exe" || ( -n "$removal" && -e "$records/updates.csv" ) ]] || break
      sleep 0.25
    done
    [[ ! -e "$folder" ]] || installer_failed "the uninstaller left $(ls "$folder")"
    # The record goes with the settings, and stays with them.
    if [[ -e "$records/updates.csv" ]]; then
      [[ -z "$removal" ]] || installer_failed "/REMOVESETTINGS kept the record"
    else
      [[ -n "$removal" ]] || installer_failed "the record was removed unasked"
    fi
    wine reg query "$uninstall_key" >/dev/null 2>&1 && installer_failed "the uninstall entry stayed"
    if wine reg query 'HKLM\Software\Velmora\ClockAgent' >/dev/null 2>&1; then
      [[ -z "$removal" ]] || installer_failed "/REMOVESETTINGS kept the settings"
    else
      [[ -n "$removal" ]] || installer_failed "the settings were removed unasked"
    fi
  done
  # A service that cannot be installed (a stand-in of its name whose program is missing never
  # starts) fails the installation, with an exit code.
  wine sc create ClockAgent binpath= 'C:\nowhere\missing.exe' >/dev/null 2>&1
  code=0
  "${norights[@]}" wine "$setup" /S /SERVICE || code=$?
  [[ $code -ne 0 ]] || installer_failed "/SERVICE: a service that did not start passed"
  wine sc delete ClockAgent >/dev/null 2>&1
  "${norights[@]}" wine "C:\\Program Files\\Velmora\\ClockAgent\\Uninstall.exe" /S
  for _ in $(seq 40); do [[ -e "$folder/Uninstall.exe" ]] || break; sleep 0.25; done
  # As a service, with Windows Time stopped from resetting the clock (its Type a stand-in here),
  # and all of it undone by the uninstaller.
  w32time='HKLM\SYSTEM\CurrentControlSet\Services\W32Time\Parameters'
  value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
  wine reg add "$w32time" /v Type /t REG_SZ /d NTP /f >/dev/null 2>&1
  "${norights[@]}" wine "$setup" /S /SERVICE /NOSYNC
  "${norights[@]}" wine "$folder/clockagent.com" service status >/dev/null 2>&1 ||
    installer_failed "/SERVICE: the service does not run"
  [[ -n "$(value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' ClockAgent)" ]] ||
    installer_failed "/SERVICE: no Run entry for the front end"
  [[ "$(value "$w32time" Type)" == NoSync ]] || installer_failed "/NOSYNC: Windows Time's Type is $(value "$w32time" Type)"
  [[ "$(value 'HKLM\Software\Velmora\ClockAgent' WindowsTimeType)" == NTP ]] ||
    installer_failed "/NOSYNC: the Type before was not kept"
  [[ -n "$(value 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\ClockAgent' EventMessageFile)" ]] ||
    installer_failed "no Event Log source"
  "${norights[@]}" wine "C:\\Program Files\\Velmora\\ClockAgent\\Uninstall.exe" /S
  for _ in $(seq 40); do [[ -e "$folder/Uninstall.exe" ]] || break; sleep 0.25; done
  code=0
  "${norights[@]}" wine build/windows-mingw/clockagent.com service status >/dev/null 2>&1 || code=$?
  [[ $code -eq 3 ]] || installer_failed "the uninstaller left the service"
  [[ "$(value "$w32time" Type)" == NTP ]] || installer_failed "Windows Time's Type was not put back"
  [[ -z "$(value 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' ClockAgent)" ]] ||
    installer_failed "the Run entry stayed"
  wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\ClockAgent' >/dev/null 2>&1 &&
    installer_failed "the Event Log source stayed"
  # As Windows Time's provider: its key names the installed DLL, and the uninstaller takes it away.
  provider='HKLM\SYSTEM\CurrentControlSet\Services\W32Time\TimeProviders\ClockAgent'
  "${norights[@]}" wine "$setup" /S /W32TIME || installer_failed "/W32TIME failed"
  [[ "$(value "$provider" DllName)" == 'C:\Program Files\Velmora\ClockAgent\ClockAgentTimeProvider.dll' ]] ||
    installer_failed "/W32TIME: the provider's DllName is '$(value "$provider" DllName)'"
  [[ "$(value "$provider" Enabled)" == 0x1 ]] || installer_failed "/W32TIME: the provider is not enabled"
  "${norights[@]}" wine "C:\\Program Files\\Velmora\\ClockAgent\\Uninstall.exe" /S
  for _ in $(seq 40); do [[ -e "$folder/Uninstall.exe" ]] || break; sleep 0.25; done
  wine reg query "$provider" >/dev/null 2>&1 && installer_failed "the uninstaller left the provider's key"
  [[ $status -ne 0 ]] || echo "wine-test: installer passed"
else
  echo "wine-test: $setup is missing; run scripts/package.sh"
  status=1
fi

# Screenshots of the main window, stopped and running, for a person to look at.
mkdir -p build/screenshots
for bmp in "$shots"/*.bmp; do
  [[ -e "$bmp" ]] || continue
  convert "$bmp" "build/screenshots/$(basename "${bmp%.bmp}").png"
  echo "wine-test: screenshot build/screenshots/$(basename "${bmp%.bmp}").png"
done
exit $status
