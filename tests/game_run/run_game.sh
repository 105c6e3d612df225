#!/usr/bin/env bash
# End-to-end run of the game on the harness's display: starts it under Wine
# from an empty folder (no assets: every load fails and is skipped), waits
# for its window, sends Escape through the X server and checks that it ends
# with 0 within a few seconds.
#   run_game.sh <quinsel.exe> <quinsel_logged.exe> <window_colours.exe>
# The program itself switches its log off and must write nothing; the build
# with the log kept on must log start-up and shut-down in order.
set -euo pipefail
game="$1"
logged="$2"
colours_probe="$3"
probe=
exit_limit_s=$((5 * ${RIDOV_TIME_SCALE:-1}))
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# run_game <exe>: runs it in $work until Escape ends it; sets game_status.
run_game() {
  local exe="$1" window="" i j
  (cd "$work" && exec wine "$exe") >"$work/output.txt" 2>&1 &
  pid=$!
  wait_for_window "$(basename "$exe")"
  echo "$(basename "$exe"): window $window open"
  if [[ -n "$probe" ]]; then
    sleep 1.5  # a few presented frames
    wine "$probe" "quinsel ver0.1" 2>/dev/null | tr -d "\r" >"$work/colours.txt" || true
  fi

  # The key is held for a few frames (the game reads the keyboard once per
  # frame) and sent again while the game runs, in case its frame loop had
  # not started yet. The window gets the X focus first.
  local start end
  start=$(date +%s%N)
  for i in $(seq 1 "$exit_limit_s"); do
    xdotool windowfocus "$window" >/dev/null 2>&1 || true
    xdotool keydown Escape
    sleep 0.2
    xdotool keyup Escape
    for j in $(seq 1 8); do
      kill -0 "$pid" 2>/dev/null || break 2
      sleep 0.1
    done
  done
  if kill -0 "$pid" 2>/dev/null; then
    fail "$(basename "$exe") still runs ${exit_limit_s} s after Escape"
  fi
  game_status=0
  wait "$pid" || game_status=$?
  pid=
  end=$(date +%s%N)
  echo "$(basename "$exe"): ended with $game_status, $(((end - start) / 1000000)) ms after the first Escape"
}

# The program: exit code 0, no log file.
run_game "$game"
[[ "$game_status" -eq 0 ]] || { cat "$work/output.txt"; fail "exit code $game_status, not 0"; }
[[ ! -e "$work/Log.txt" ]] || fail "the game wrote Log.txt with its log switched off"

# The build with the log kept on: start-up and shut-down in order; its
# window shows the presented frames: the middle of its client area, read
# from the screen, holds the screen's background (black) and at most the
# title scene's text colours (menu shadow, title red, white).
probe="$colours_probe"
run_game "$logged"
probe=
grep -q -E -x "client [0-9]*x[0-9]* colours: 000000( (303030|fd2848|ffffff))*" "$work/colours.txt" ||
  { cat "$work/colours.txt"; fail "the window does not show the presented frame"; }
echo "window: $(cat "$work/colours.txt")"
[[ "$game_status" -eq 0 ]] || { cat "$work/output.txt"; fail "exit code $game_status, not 0"; }
[[ -f "$work/Log.txt" ]] || fail "no Log.txt"
iconv -f CP932 -t UTF-8 "$work/Log.txt" >"$work/log.utf8"
last=0
for line in "システムの情報を出力します" "ＣＯＭの初期化... 成功しました" "ソフトの二重起動検査... 二重起動はされていませんでした" \
  "ウインドウの作成に成功しました" "ウインドウを表示します" "ウインドウを閉じようとしています" \
  "ウインドウが破棄されようとしています" "ソフトを終了する準備が整いました" "ＣＯＭを終了... 完了" \
  "Alloc memory dump" "Alloc num:0"; do
  at="$(grep -n -F -m 1 -- "$line" "$work/log.utf8" | cut -d: -f1 || true)"
  [[ -n "$at" ]] || { cat "$work/log.utf8"; fail "log line missing: $line"; }
  ((at > last)) || { cat "$work/log.utf8"; fail "log line out of order: $line"; }
  last=$at
done
echo "log: start-up and shut-down in order, no live blocks"
for line in "IDirect3DDevice9 オブジェクトを取得します.... " "画面のフォーマットは D3DFMT_" \
  "16bit Zバッファフォーマットは D3DFMT_D16 です" "描画用 32bit カラーフォーマットは D3DFMT_" \
  "Ｚバッファを作成します.... 成功" "Direct3DDevice9 の解放 2"; do
  grep -q -F -- "$line" "$work/log.utf8" || { cat "$work/log.utf8"; fail "device log line missing: $line"; }
done
echo "log: device and format lines"
echo "PASS"
