#!/usr/bin/env bash
# A play-scene frame of the game on the harness's X display: the game's
# program with the player probe runs from a folder holding the packed
# images and schedule; Z starts the play scene; once the player stands
# still, its window is captured from the screen and the player's first tile
# of the sheet must appear where the probe reports the player.
#   run_game_draw.sh <quinsel_probe.exe> <window_colours.exe> <game-pack dir> <sheet png>
set -uo pipefail
program="$1"
capture="$2"
pack="$3"
sheet="$4"
caption="quinsel ver0.1"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work="$(mktemp -d)"
pid=
trap '[[ -n "$pid" ]] && { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; }; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; tail -5 "$work/player_probe.txt" 2>/dev/null; exit 1; }

cp "$pack/img.RVA" "$pack/data.RVA" "$work/" || fail "no packed game data in $pack"
pngtopnm "$sheet" >"$work/sheet.ppm" 2>/dev/null || fail "cannot read $sheet"
pngtopnm -alpha "$sheet" >"$work/alpha.pgm" 2>/dev/null || fail "cannot read the alpha of $sheet"
cd "$work" || exit 1
wine "$program" >run.out 2>&1 &
pid=$!
window=""
for _ in $(seq 1 120); do
  window="$(xdotool search --name "^$caption\$" 2>/dev/null | head -n 1)"
  [[ -n "$window" ]] && break
  sleep 0.25
done
[[ -n "$window" ]] || fail "no window captioned \"$caption\""
sleep 0.5
position() { grep '^[0-9]' player_probe.txt 2>/dev/null | tail -n 1 | cut -d' ' -f1,2; }
for _ in $(seq 1 20); do
  xdotool windowfocus "$window" >/dev/null 2>&1 || true
  xdotool keydown z; sleep 0.2; xdotool keyup z; sleep 0.3
  [[ -n "$(position)" ]] && break
done
[[ -n "$(position)" ]] || fail "the play scene did not start"

# The player stands still when two reads a second apart agree around the
# capture.
ok=0
for _ in $(seq 1 10); do
  sleep 1
  before="$(position)"
  wine "$capture" "$caption" frame.ppm >/dev/null 2>&1 || fail "window capture failed"
  after="$(position)"
  [[ "$before" == "$after" ]] || continue
  if python3 "$here/check_player_frame.py" frame.ppm sheet.ppm alpha.pgm $after; then
    ok=1
    break
  fi
done
[[ "$ok" == 1 ]] || fail "the player's tile is not where the game reports the player"
for _ in 1 2 3; do
  kill -0 "$pid" 2>/dev/null || break
  xdotool windowfocus "$window" >/dev/null 2>&1 || true
  xdotool keydown Escape; sleep 0.2; xdotool keyup Escape; sleep 0.5
done
echo PASS
