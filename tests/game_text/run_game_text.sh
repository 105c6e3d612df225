#!/usr/bin/env bash
# The game's texts end to end: the game runs on the harness's display from
# its packed data; a capture of its window on the title scene must show the
# scene caption, the coloured title, the menu and the high score where the
# game places them, in their colours, and nothing where it draws no text;
# after Z, the play scene's caption on its side panel.
#   run_game_text.sh <quinsel.exe> <window_colours.exe> <data folder> <check_text_regions.py> <python>
set -euo pipefail
game="$1"
capture_probe="$2"
data="$3"
check="$4"
python="$5"
source "$(dirname "${BASH_SOURCE[0]}")/../game_run/common.sh"

(cd "$data" && exec wine "$game") >"$work/output.txt" 2>&1 &
pid=$!
wait_for_window quinsel.exe

# capture <file>: the window's client area as a binary PPM.
capture() {
  local i
  for i in 1 2 3; do
    wine "$capture_probe" "quinsel ver0.1" "$(winepath -w "$1")" >/dev/null 2>&1 && [[ -s "$1" ]] && return 0
    sleep 0.3
  done
  fail "no capture of the window"
}
# The title scene fades in (slowly on a busy machine): capture until it shows.
shown=0
for _ in $(seq 1 30); do
  sleep 1
  capture "$work/title.ppm"
  if "$python" "$check" "$work/title.ppm" title >"$work/title.txt"; then
    shown=1
    break
  fi
done
cat "$work/title.txt"
[[ "$shown" == 1 ]] || fail "the title scene's texts are not where the game puts them"

# Z starts the play scene; its side panels replace the title's black.
played=0
for _ in $(seq 1 20); do
  xdotool windowfocus "$window" >/dev/null 2>&1 || true
  xdotool keydown z
  sleep 0.2
  xdotool keyup z
  sleep 0.5
  capture "$work/play.ppm"
  if "$python" "$check" "$work/play.ppm" play >"$work/play.txt"; then
    played=1
    break
  fi
done
cat "$work/play.txt"
[[ "$played" == 1 ]] || fail "the play scene's caption is not where the game puts it"

xdotool windowfocus "$window" >/dev/null 2>&1 || true
xdotool keydown Escape
sleep 0.3
xdotool keyup Escape
for _ in $(seq 1 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
echo "PASS"
