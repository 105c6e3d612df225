#!/usr/bin/env bash
# Scripted session with the real game on the harness's display: keys go
# through the X server (xdotool), the window's client area is read back as
# screenshots at chosen moments, a probe linked into the program reports
# the game's state each frame (session_probe.txt), and the log is read at
# the end.
#   run_session.sh <quinsel_session.exe> <window_shot.exe> <check_shot.py> <data folder>
# The data folder holds the archives the game reads (img.RVA, ...); the
# unpacked stage picture for the checks is read from <data folder>/../game-data.
# RIDOV_SESSION_SHOTS=<folder> keeps the screenshots there as PNG files.
set -euo pipefail
program="$1"
shooter="$2"
checker="$3"
data="$4"
unpacked="$(cd "$data/../game-data" && pwd)"
caption="quinsel ver0.1"
source "$(dirname "${BASH_SOURCE[0]}")/../game_run/common.sh"
python="${RIDOV_HOST_PYTHON:-python3}"

cp "$data"/*.RVA "$work/"
(cd "$work" && exec wine "$program") >"$work/output.txt" 2>&1 &
pid=$!
started=$(date +%s%N)
wait_for_window "the game"
echo "window $window open after $((($(date +%s%N) - started) / 1000000)) ms"

# The probe's last line as fields: F S P T M Y L H PX PY SHOTS E (enemy
# count) and ENEMIES (their "x y" pairs).
state() {
  local line
  line="$(tail -n 1 "$work/session_probe.txt" 2>/dev/null || true)"
  read -r _ F _ S _ P _ T _ M _ Y _ L _ H _ PX PY SHOTS _ E ENEMIES <<<"${line:-f 0 s 0 p 0 t -1 m 0 y 0 l 0 h 0 pl 0 0 0 e 0}"
  ENEMIES="${ENEMIES:-}"
}
# until <seconds> <bash condition over the fields>: waits for the state.
until_state() {
  local limit=$(($(date +%s) + $1)) what="$2"
  while :; do
    state
    eval "$what" && return 0
    kill -0 "$pid" 2>/dev/null || fail "the game ended while waiting for: $what"
    (($(date +%s) < limit)) || fail "not within $1 s: $what (last: $(tail -n 1 "$work/session_probe.txt" 2>/dev/null))"
    sleep 0.1
  done
}
# press <key> [<seconds held>]: the game polls once a frame, so the key is
# held for a few frames; the window gets the X focus first.
press() {
  xdotool windowfocus "$window" >/dev/null 2>&1 || true
  xdotool keydown "$1"
  sleep "${2:-0.15}"
  xdotool keyup "$1"
  sleep 0.15
}
# shot <name>: the client area now, as $work/<name>.ppm. The game is held
# still meanwhile and the state read again, so that the fields describe the
# frame shot: the screenshot program takes a while to start (seconds where
# the CPU is emulated), and enemies move.
shot() {
  kill -STOP "$pid" 2>/dev/null || true
  state
  if ! wine "$shooter" "$caption" "$work/$1.ppm" >/dev/null 2>&1; then
    kill -CONT "$pid" 2>/dev/null || true
    fail "no screenshot of the window ($1)"
  fi
  kill -CONT "$pid" 2>/dev/null || true
  if [[ -n "${RIDOV_SESSION_SHOTS:-}" ]]; then
    mkdir -p "$RIDOV_SESSION_SHOTS"
    pnmtopng <"$work/$1.ppm" >"$RIDOV_SESSION_SHOTS/$1.png" 2>/dev/null || true
  fi
}
check() { "$python" "$checker" "$@" || fail "screenshot check: $*"; }
# check_stage <shot> <stage top> [<x> <y>]...: sets OFFSET to the stage
# offset found in the shot.
check_stage() {
  local out
  out="$("$python" "$checker" stage "$1" "$unpacked" "${@:2}")" || { echo "$out"; fail "screenshot check: stage $*"; }
  echo "$out"
  OFFSET="$(sed -n 's/^stage: best offset \(-*[0-9]*\).*/\1/p' <<<"$out")"
}

# --- Title: its texts and the high score.
until_state 60 '((S == 1))'
echo "title after $((($(date +%s%N) - started) / 1000000)) ms"
sleep 1
shot title
check title "$work/title.ppm"

# --- GAME START: loading frames, then play with the stage scrolling.
for _ in $(seq 1 10); do
  press z
  state
  ((S == 2)) && break
  sleep 0.3
done
until_state 5 '((S == 2))'
# The fade-in lasts 60 play frames.
until_state 30 '((S == 2 && P == 0 && M > 75))'
shot play1
top1=$Y
echo "play: player at ($PX, $PY), $E enemies, stage top $top1"
check player "$work/play1.ppm" "$PX" "$PY"
check_stage "$work/play1.ppm" "$top1"
offset1=$OFFSET

# --- The arrows move the player, Z fires.
x0=$PX
press Right 0.6
state
((PX > x0)) || fail "Right did not move the player ($x0 -> $PX)"
y0=$PY
press Up 0.6
state
((PY < y0)) || fail "Up did not move the player ($y0 -> $PY)"
xdotool windowfocus "$window" >/dev/null 2>&1 || true
xdotool keydown z
until_state 5 '((SHOTS > 0))'
xdotool keyup z
echo "fired: $SHOTS shots in flight"
# Two seconds on: the stage has scrolled, enemies (if any) are drawn where
# the game has them, and the player too.
sleep 2
shot play2
points=("$PX" "$PY")
read -r -a pairs <<<"$ENEMIES"
for ((i = 0; i + 1 < ${#pairs[@]}; i += 2)); do
  ex=${pairs[i]} ey=${pairs[i + 1]}
  ((ex > 230 && ex < 730 && ey > 20 && ey < 700)) && points+=("$ex" "$ey")
done
check_stage "$work/play2.ppm" "$Y" "${points[@]}"
offset2=$OFFSET
((offset2 > offset1)) || fail "the stage did not scroll ($offset1 -> $offset2)"

# --- Pause menu: opens, resumes, then returns to the title.
press a
until_state 5 '((P == 1))'
m0=$M
shot pause
press z
until_state 5 '((P == 0))'
until_state 5 "((M > m0))"
press a
until_state 5 '((P == 1))'
press Down
press z
until_state 10 '((S == 1))'
echo "pause menu: resumed, then back to the title"

# --- A run without steering ends in GAME OVER, then the title.
for _ in $(seq 1 10); do
  press z
  state
  ((S == 2)) && break
  sleep 0.3
done
until_state 30 '((S == 2 && P == 0))'
until_state "${RIDOV_SESSION_GAME_OVER_S:-150}" '((T == 2))'
echo "game over after $M play frames"
shot gameover
until_state 60 '((S == 1))'

# --- QUIT ends the process with 0.
sleep 0.5
press Down
press z
for _ in $(seq 1 50); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "QUIT did not end the game"
status=0
wait "$pid" || status=$?
pid=
((status == 0)) || { cat "$work/output.txt"; fail "exit code $status, not 0"; }

# --- The log ends with shut-down and no live blocks.
iconv -f CP932 -t UTF-8 "$work/Log.txt" >"$work/log.utf8"
for line in "ソフトを終了する準備が整いました" "Alloc num:0"; do
  grep -q -F -- "$line" "$work/log.utf8" || { tail -n 30 "$work/log.utf8"; fail "log line missing: $line"; }
done
echo "PASS"
