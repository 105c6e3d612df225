#!/usr/bin/env bash
# Builds the game and runs it under Wine.
#   tools/play.sh [data folder]
# The data folder holds img/, sound/, music/ and data/, or the archives that
# stand for them (default: the build's generated data packed into archives,
# build/game-pack/). With a display (DISPLAY set and reachable) the game opens its
# window there; Escape ends it. Without one it runs on a private Xvfb for
# RIDOV_PLAY_SECONDS seconds (default 10, times RIDOV_TIME_SCALE where the
# CPU is emulated), takes a screenshot each second, then presses Escape and
# reports how it ended.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/tools/setup/build.sh"
ridov_build quinsel
game="$build/game/quinsel.exe"

data="${1:-$build/game-pack}"
[[ -d "$data" ]] || { echo "play: no data folder $data" >&2; exit 1; }

if [[ -n "${DISPLAY:-}" ]] && xdotool getdisplaygeometry >/dev/null 2>&1; then
  echo "play: the game opens its window on $DISPLAY; Escape ends it"
  cd "$data"
  status=0
  wine "$game" || status=$?
  echo "play: the game ended with exit code $status"
  exit "$status"
fi

# No display: a private Xvfb, screenshots, then Escape.
source "$root/tools/harness.sh"
harness_start
shots="$build/screenshots"
rm -rf "$shots"
mkdir -p "$shots"
pid=
finish() {
  [[ -n "$pid" ]] && kill "$pid" 2>/dev/null || true
  harness_stop
}
trap finish EXIT
echo "play: no display; running on a private Xvfb ($DISPLAY), screenshots go to $shots"

(cd "$data" && exec wine "$game") &
pid=$!
window=""
for _ in $(seq 1 300); do
  window="$(xdotool search --name '^quinsel ver0\.1$' 2>/dev/null | head -n 1 || true)"
  [[ -n "$window" ]] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [[ -z "$window" ]]; then
  echo "play: the game's window did not open" >&2
  exit 1
fi
echo "play: window open"

seconds="${RIDOV_PLAY_SECONDS:-$((10 * RIDOV_TIME_SCALE))}"
for i in $(seq 1 "$seconds"); do
  sleep 1
  kill -0 "$pid" 2>/dev/null || break
  # The capture can meet a window being changed (BadDrawable): try again.
  shot="$(printf '%s/shot-%03d.png' "$shots" "$i")"
  for _ in 1 2 3; do
    xwd -root -silent 2>/dev/null | xwdtopnm 2>/dev/null | pnmtopng >"$shot" 2>/dev/null && [[ -s "$shot" ]] && break
    rm -f "$shot"
    sleep 0.1
  done
done

echo "play: pressing Escape"
for _ in $(seq 1 $((5 * RIDOV_TIME_SCALE))); do
  kill -0 "$pid" 2>/dev/null || break
  xdotool windowfocus "$window" >/dev/null 2>&1 || true
  xdotool keydown Escape
  sleep 0.2
  xdotool keyup Escape
  sleep 0.8
done
status=0
if kill -0 "$pid" 2>/dev/null; then
  echo "play: the game did not end on Escape" >&2
  exit 1
fi
wait "$pid" || status=$?
pid=
echo "play: the game ended with exit code $status; $(ls "$shots" | wc -l) screenshots in $shots"
exit "$status"
