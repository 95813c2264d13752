# Shared by the tools: one line for each step that takes a while, with how long it took. Source it from bash.

# Seconds as people read them: "42 s", "3 min 5 s".
progress_duration() {
  local seconds=$1
  if [ "$seconds" -ge 60 ]; then
    echo "$((seconds / 60)) min $((seconds % 60)) s"
  else
    echo "$seconds s"
  fi
}

# progress_step MESSAGE LOG COMMAND...
# Runs COMMAND with its output in LOG. Once it has run for a second, prints "MESSAGE... " and, when it
# ends, how long it took; a step with nothing to do ends before that and prints nothing. A failed step
# always says so and shows the end of LOG. Returns COMMAND's status; works under set -e too.
progress_step() {
  local message=$1 log=$2
  shift 2
  local start=$SECONDS status=0 shown=0
  # The timer ignores the kill once it has started printing, so the line is either whole or absent.
  (sleep 1 </dev/null >/dev/null 2>&1; trap '' TERM; printf '%s... ' "$message") &
  local timer=$!
  "$@" >"$log" 2>&1 || status=$?
  kill "$timer" 2>/dev/null || true
  wait "$timer" 2>/dev/null && shown=1
  local took
  took=$(progress_duration $((SECONDS - start)))
  if [ "$status" -ne 0 ]; then
    [ "$shown" -eq 1 ] || printf '%s... ' "$message"
    echo "failed after $took; the end of $log:"
    tail -n 40 "$log" | sed 's/^/    /'
  elif [ "$shown" -eq 1 ]; then
    echo "$took"
  fi
  return "$status"
}
