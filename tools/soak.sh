#!/usr/bin/env bash
# Soak run (not part of the tests): the game's session build plays on a
# private Xvfb with random keys (arrows, Z, X, C, the pause key A; never
# Escape) for RIDOV_SOAK_MINUTES (30) minutes, going back to play from the
# title whenever a run ends. Every minute it prints the process's private
# memory, peak working set, kernel handles, the allocator's blocks and
# bytes and the library's live handles, as the game itself reports them;
# at the end the first and last rows and whether anything grew.
#   tools/soak.sh            (builds first, like tools/test.sh)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
minutes="${RIDOV_SOAK_MINUTES:-30}"
build="${RIDOV_BUILD_DIR:-$root/build}"
source "$root/tools/setup/env.sh"
cmake --build "$build" -j"$(nproc)" --target quinsel_session window_shot >/dev/null
source "$root/tools/harness.sh"
harness_start
work="$(mktemp -d)"
pid=
finish() {
  [[ -n "$pid" ]] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; } || true
  harness_stop || true
  rm -rf "$work"
}
trap finish EXIT
cp "$build"/game-pack/*.RVA "$work/"
(cd "$work" && exec wine "$build/tests/quinsel_session.exe") >"$work/output.txt" 2>&1 &
pid=$!
window=""
for _ in $(seq 1 300); do
  window="$(xdotool search --name '^quinsel ver0\.1$' 2>/dev/null | head -n 1 || true)"
  [[ -n "$window" ]] && break
  sleep 0.1
done
[[ -n "$window" ]] || { echo "soak: the game's window did not open"; exit 1; }

# The game polls once a frame: a key is held for a few frames.
tap() { xdotool keydown "$1"; sleep 0.15; xdotool keyup "$1"; }
keys=(Left Right Up Down z z z x c)
end=$(($(date +%s) + minutes * 60))
shown=0
printf '%6s %12s %12s %8s %8s %12s %6s\n' seconds private peak handles blocks bytes live
while (($(date +%s) < end)); do
  kill -0 "$pid" 2>/dev/null || { status=0; wait "$pid" || status=$?; pid=; echo "soak: the game ended early with $status"; tail -n 3 "$work/session_probe.txt"; tail -n 20 "$work/output.txt"; exit 1; }
  read -r scene stage <<<"$( (tail -n 1 "$work/session_probe.txt" 2>/dev/null || true) | awk '{print $4, $8}')"
  xdotool windowfocus "$window" >/dev/null 2>&1 || true
  if [[ "$scene" == 1 ]]; then
    # The title: its menu starts on GAME START; no key in the second before.
    sleep 1.5
    tap z
  elif [[ "$scene" == 2 && "$stage" == 0 ]]; then
    # Play: random keys, now and then the pause menu (left with Z, continue).
    if ((RANDOM % 200 == 0)); then
      tap a
      sleep 0.5
      tap z
    else
      key=${keys[RANDOM % ${#keys[@]}]}
      xdotool keydown "$key"
      sleep "0.$((RANDOM % 5 + 1))"
      xdotool keyup "$key"
    fi
  else
    sleep 0.3  # loading, GAME OVER or STAGE CLEAR: no keys, so none reach the next title
  fi
  rows=$( (wc -l <"$work/session_stats.txt") 2>/dev/null || echo 0)
  while ((shown < rows)); do
    shown=$((shown + 1))
    sed -n "${shown}p" "$work/session_stats.txt" |
      awk '{printf "%6d %12d %12d %8d %8d %12d %6d\n", $1, $3, $5, $7, $9, $11, $13}'
  done
done
for _ in $(seq 1 10); do
  kill -0 "$pid" 2>/dev/null || break
  xdotool windowfocus "$window" >/dev/null 2>&1 || true
  xdotool keydown Escape
  sleep 0.3
  xdotool keyup Escape
  sleep 0.7
done
kill -0 "$pid" 2>/dev/null && { echo "soak: Escape did not end the game"; exit 1; }
status=0
wait "$pid" || status=$?
pid=
echo "soak: the game ended with $status after $minutes minutes"
# Growth: the last row against the second (the first is taken before play
# has loaded anything).
awk 'NR == 2 {for (i = 1; i <= NF; i++) a[i] = $i} END {
  if (NR < 3) {print "soak: too few rows to compare"; exit}
  printf "soak: from minute 1 to the end: private %+d bytes, handles %+d, blocks %+d, bytes %+d, live %+d\n",
    $3 - a[3], $7 - a[7], $9 - a[9], $11 - a[11], $13 - a[13]}' "$work/session_stats.txt"
