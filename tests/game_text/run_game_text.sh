#!/usr/bin/env bash
# The game's texts end to end: the game runs on the harness's display from
# its packed data; a capture of its window on the title scene must show the
# scene caption, the coloured title, the menu and the high score where the
# game places them, in their colours, and nothing where it draws no text;
# the menu's "GAME START" in the glyphs GDI draws with the Japanese Gothic
# that the set-up gives the library's default face (whatever other fonts
# claim Japanese); after Z, the play scene's caption on its side panel.
#   run_game_text.sh <quinsel.exe> <window_colours.exe> <data folder> <check_text_regions.py> <python> <gdi_text.exe>
set -euo pipefail
game="$1"
capture_probe="$2"
data="$3"
check="$4"
python="$5"
gdi_text="$6"
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

# The menu's text in the face the set-up maps the default face to, drawn by
# GDI itself at the menu's size (20 pixels).
wine "$gdi_text" IPAGothic 20 "GAME START" "$(winepath -w "$work/reference.pgm")" 2>&1 ||
  fail "no reference text from GDI"
[[ -s "$work/reference.pgm" ]] || fail "no reference text from GDI"
matched=0
for _ in $(seq 1 10); do
  if "$python" "$check" "$work/title.ppm" glyphs "$work/reference.pgm" >"$work/glyphs.txt"; then
    matched=1
    break
  fi
  sleep 1
  capture "$work/title.ppm"
done
cat "$work/glyphs.txt"
[[ "$matched" == 1 ]] || fail "the menu's GAME START is not drawn in the Japanese Gothic's glyphs"

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
