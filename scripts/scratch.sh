# Sourced by test scripts: a scratch folder $dir (mode 0700), and `background CMD...`, which starts
# a program that is stopped, like the folder is removed, however the script ends.
#   . scripts/scratch.sh NAME
dir=$(mktemp -d "/tmp/clockagent-${1:-test}-XXXXXX")
pids=()
background() {
  "$@" &
  pids+=($!)
}
finish_scratch() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap finish_scratch EXIT
