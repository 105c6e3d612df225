# Shared by the end-to-end game runs (sourced): a scratch folder removed at
# the end together with a game still running, the failure line, and the
# wait for the game's window.
work="$(mktemp -d)"
pid=
# A program left running is ended and waited for: the next window test's
# program would otherwise find its window and refuse to start twice.
cleanup() {
  [[ -n "$pid" ]] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; } || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  exit 1
}

# wait_for_window <name>: waits up to 30 s for the window captioned
# "quinsel ver0.1" of the game running as $pid; sets window.
wait_for_window() {
  local i
  window=""
  for i in $(seq 1 300); do
    window="$(xdotool search --name '^quinsel ver0\.1$' 2>/dev/null | head -n 1 || true)"
    [[ -n "$window" ]] && return 0
    if ! kill -0 "$pid" 2>/dev/null; then
      local status=0
      wait "$pid" || status=$?
      pid=
      cat "$work/output.txt" 2>/dev/null
      fail "$1 ended before its window opened (exit code $status)"
    fi
    sleep 0.1
  done
  fail "no window captioned 'quinsel ver0.1' within 30 s"
}
