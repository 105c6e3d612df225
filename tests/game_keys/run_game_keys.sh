#!/usr/bin/env bash
# Keyboard end-to-end run: starts the game's program (with the player
# probe) on the harness's X display, selects the title menu with Z, steers
# right and up with the arrow keys, fires with Z, ends with Escape, and
# checks from the probe's lines that the player appeared, moved right and
# up, and fired, and that the program ended with 0.
set -uo pipefail
program="$1"
caption="quinsel ver0.1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

fail() { echo "FAILED: $*"; echo "--- probe:"; cat player_probe.txt 2>/dev/null | tail -20; exit 1; }

wine "$program" >run.out 2>&1 &
pid=$!
window=""
for _ in $(seq 1 120); do
  window="$(xdotool search --name "$caption" 2>/dev/null | head -n 1)"
  [[ -n "$window" ]] && break
  sleep 0.25
done
[[ -n "$window" ]] || { kill "$pid" 2>/dev/null; fail "no window captioned \"$caption\""; }
xdotool windowfocus --sync "$window" >/dev/null 2>&1 || true
sleep 0.5

# Holds a key long enough for the game, which polls once a frame, to see it.
hold() { xdotool keydown "$1"; sleep "$2"; xdotool keyup "$1"; sleep 0.2; }

hold z 0.3          # title menu: start
for _ in $(seq 1 40); do
  grep -q '^[0-9]' player_probe.txt 2>/dev/null && break
  sleep 0.25
done
grep -q '^[0-9]' player_probe.txt 2>/dev/null || fail "the play scene did not start"
# The scene's opening lets the keys act only after a moment.
sleep 1.5
first="$(grep '^[0-9]' player_probe.txt | tail -n 1)"
hold Right 0.8
afterRight="$(grep '^[0-9]' player_probe.txt | tail -n 1)"
hold Up 0.8
afterUp="$(grep '^[0-9]' player_probe.txt | tail -n 1)"
hold z 0.8
fired="$(awk '/^[0-9]/ && $3 + 0 >= 1 { print; exit }' player_probe.txt)"
hold Escape 0.3

status=""
for _ in $(seq 1 40); do
  if ! kill -0 "$pid" 2>/dev/null; then wait "$pid"; status=$?; break; fi
  sleep 0.25
done
[[ -n "$status" ]] || { kill "$pid" 2>/dev/null; fail "the program did not end on Escape"; }

read -r x0 y0 _ <<<"$first"
read -r x1 y1 _ <<<"$afterRight"
read -r x2 y2 _ <<<"$afterUp"
echo "start $x0,$y0; after Right $x1,$y1; after Up $x2,$y2; first shot line: ${fired:-none}; exit $status"
(( x1 > x0 )) || fail "Right did not move the player right"
(( y2 < y1 )) || fail "Up did not move the player up"
[[ -n "$fired" ]] || fail "Z did not fire"
[[ "$status" == 0 ]] || fail "exit code $status"
echo "PASSED"
