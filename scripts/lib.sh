# shellcheck shell=bash
# Sourced by the scripts that run the programs against simulated receivers:
#   . scripts/lib.sh NAME
# $dir, a scratch folder (mode 0700) removed at the end; `background CMD...`, a program stopped at
# the end however the script ends; `at_end CMD...`, a command run at the end once those are
# stopped; waits with a limit that end the script loudly; the simulator started on a pty; and the
# comparison of a program's output with what it should print. Run from the source folder.
script=${0##*/}
dir=$(mktemp -d "/tmp/clockagent-${1:-test}-XXXXXX")
pids=()
end_commands=()
background() {
  "$@" &
  pids+=($!)
}
at_end() {
  end_commands+=("$(printf '%q ' "$@")")
}
finish() {
  local pid command
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  for command in "${end_commands[@]}"; do eval "$command" >/dev/null 2>&1 || true; done
  rm -rf "$dir"
}
trap finish EXIT

# The programs' logs in $dir (FILE.log), for a look at why something failed.
show_logs() {
  local log
  for log in "$dir"/*.log; do
    [[ -e $log ]] || continue
    echo "--- ${log##*/}"
    cat "$log"
  done
}

# wait_for WHAT SECONDS CMD...: runs CMD every tenth of a second until it succeeds; after SECONDS
# (whole seconds) without, says what it waited for, shows the logs and ends the script.
wait_for() {
  local what=$1 seconds=$2 try
  shift 2
  for ((try = 0; try < seconds * 10; ++try)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "$script: FAIL: no $what after $seconds s" >&2
  show_logs >&2
  exit 1
}
wait_for_file() {  # PATH SECONDS
  wait_for "$1" "$2" test -e "$1"
}
wait_for_line() {  # FILE TEXT SECONDS: a line of FILE holding TEXT
  wait_for "line '$2' in ${1##*/}" "$3" grep -qF -- "$2" "$1"
}

# The tests' fake modem lines (a pty has none), preloaded into one program alone:
# `"${with_modem_lines[@]}" CMD...`. The programs of one test share the state file
# $FAKE_MODEM_LINES.
with_modem_lines=(env "LD_PRELOAD=$PWD/build/linux/tests/libfake_modem_lines.so")

# simulate [--modem-lines] LINK [OPTIONS...]: `$clockagent simulate` in the background, the
# receiver's end of its pty at LINK, its messages in $dir/simulate-NAME.log; returns once LINK is
# there. With --modem-lines the simulator drives the fake modem lines.
simulate() {
  local lines=()
  if [[ $1 == --modem-lines ]]; then
    lines=("${with_modem_lines[@]}")
    shift
  fi
  local link=$1
  shift
  background "${lines[@]}" "${clockagent:?the program to simulate with}" simulate --link "$link" \
    "$@" >/dev/null 2>"$dir/simulate-${link##*/}.log"
  wait_for_file "$link" 10
}

# compare WHAT EXPECTED GOT: whether GOT matches EXPECTED, an extended regular expression (with ^
# and $ for the whole of it); says so, or else what WHAT printed, and then returns 1.
compare() {
  if [[ $3 =~ $2 ]]; then
    echo "$script: $1 passed"
  else
    printf '%s: FAIL: %s printed:\n%s\n--- instead of:\n%s\n' "$script" "$1" "$3" "$2"
    return 1
  fi
}
