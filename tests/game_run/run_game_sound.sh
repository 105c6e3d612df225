#!/usr/bin/env bash
# The game's sounds end to end: makes its 19 sound and music files as tones
# (sox, lame), runs the game with the log kept on and the harness's ALSA
# device capturing to a file, waits for the title, starts play with Z,
# holds Z to fire, leaves with Escape; then checks the log (every file
# loaded, XAudio2 started) and the capture: the stage music's tone and the
# shot effect's tone are heard.
#   run_game_sound.sh <quinsel_logged.exe> <analyse_capture.py> <window_colours.exe>
set -euo pipefail
logged="$1"
analyse="$2"
colours_probe="$3"
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# Effects: 0.15 s tones from 1500 Hz up in steps of 100 Hz; music: 4 s
# tones from 200 Hz up in steps of 40 Hz. The shot is effect 0 (1500 Hz),
# the stage music is music 1 (240 Hz).
effects=(sound/tm2_shoot000.wav sound/gun13_c.wav sound/tm2_shoot001.wav sound/tm2_shoot003.wav
  sound/one23.mp3 sound/button25.mp3 sound/status01.mp3 sound/explode.mp3 sound/alarm1.mp3
  sound/tm2_death001.wav)
music=(music/top.mp3 music/stage1/cirrus.mp3 music/world_2.mp3 music/world_3.mp3 music/world_4.mp3
  music/world_5.mp3 music/world_6.mp3 music/normal_boss/alarm.mp3
  music/hageshii17-090228-karakurinobousou-wav.wav)
# The music is 17 dB below the effects, so that a shot over the music still
# stands out as a tone of its own.
make_tone() {  # path seconds frequency gain
  local path="$work/$1"
  mkdir -p "$(dirname "$path")"
  if [[ "$path" == *.mp3 ]]; then
    sox -q -n -r 44100 -c 2 -b 16 -t wavpcm "$work/tone.wav" synth "$2" sine "$3" gain "$4"
    lame --quiet -b 128 "$work/tone.wav" "$path"
  else
    sox -q -n -r 22050 -c 1 -b 16 -t wavpcm "$path" synth "$2" sine "$3" gain "$4"
  fi
}
for i in "${!effects[@]}"; do make_tone "${effects[$i]}" 0.15 $((1500 + 100 * i)) -3; done
for i in "${!music[@]}"; do make_tone "${music[$i]}" 4 $((200 + 40 * i)) -20; done
rm -f "$work/tone.wav"

(cd "$work" && RIDOV_SOUND_CAPTURE="$work/capture.wav" exec wine "$logged") >"$work/output.txt" 2>&1 &
pid=$!
wait_for_window "the game"
# The title is drawn once every file has loaded (the keys act from then
# on): its red text in the window tells.
deadline=$((SECONDS + 30 * ${RIDOV_TIME_SCALE:-1}))
until wine "$colours_probe" "quinsel ver0.1" 2>/dev/null | grep -q fd2848; do
  ((SECONDS < deadline)) || fail "the title did not show"
  sleep 0.5
done
key() {  # key seconds
  xdotool windowfocus "$window" >/dev/null 2>&1 || true
  xdotool keydown "$1"
  sleep "$2"
  xdotool keyup "$1"
}
key z 0.4   # GAME START
sleep 3
key z 4     # fire
sleep 1     # the music alone again
for i in $(seq 1 $((5 * ${RIDOV_TIME_SCALE:-1}))); do
  kill -0 "$pid" 2>/dev/null || break
  key Escape 0.2
  sleep 0.8
done
kill -0 "$pid" 2>/dev/null && fail "the game still runs after Escape"
status=0
wait "$pid" || status=$?
pid=
[[ "$status" -eq 0 ]] || { cat "$work/output.txt"; fail "exit code $status"; }

iconv -f CP932 -t UTF-8 "$work/Log.txt" >"$work/log.utf8"
grep -q -F "XAudio2 の初期化は正常に終了しました" "$work/log.utf8" || { cat "$work/log.utf8"; fail "XAudio2 did not start"; }
# The pictures are not in this run's folder: their failures are expected.
if grep -v -F "画像ファイル" "$work/log.utf8" | grep -F -e "ロードに失敗しました" -e "変換に失敗しました"; then
  fail "a sound file failed to load"
fi
echo "log: XAudio2 started, all 19 sound files loaded"
[[ -n "${RIDOV_KEEP_CAPTURE:-}" ]] && cp "$work/capture.wav" "$RIDOV_KEEP_CAPTURE"
python3 "$analyse" "$work/capture.wav" 240 1500 || fail "the capture lacks the stage music or the shot"
# A tone nothing plays is not found: the check tells tones apart.
if python3 "$analyse" "$work/capture.wav" 3100; then fail "a tone nobody played was found"; fi
echo "PASS"
