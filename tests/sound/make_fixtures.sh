#!/usr/bin/env bash
# Makes the sound fixtures the sound tests read: tone WAVs through sox in
# ACM formats (plain wavpcm-style headers), MP3s through lame with and
# without ID3 tags, and lame's own decode lengths; an Ogg Vorbis tone and
# oggdec's raw decode of it. Usage: make_fixtures.sh DIR
set -euo pipefail
out="$1"
mkdir -p "$out"
cd "$out"
# 0.5 s of 440 Hz, 22050 Hz mono 16-bit: the PCM source of the ACM fixtures.
sox -q -n -r 22050 -c 1 -b 16 -e signed-integer -t wavpcm src_mono22.wav synth 0.5 sine 440 gain -3
sox -q src_mono22.wav -t wavpcm -e ima-adpcm ima.wav
sox -q src_mono22.wav -t wavpcm -e ms-adpcm msadpcm.wav
sox -q src_mono22.wav -t wavpcm -e a-law alaw.wav
sox -q src_mono22.wav -t wavpcm -e u-law ulaw.wav
# 2 s of 44100 Hz stereo for MP3 (MPEG-1 Layer III, 128 kbit/s).
sox -q -n -r 44100 -c 2 -b 16 -e signed-integer -t wavpcm src_st44.wav synth 2 sine 440 sine 660 gain -6
lame --quiet -t -b 128 src_st44.wav plain.mp3
lame --quiet -t -b 128 --id3v2-only --tt "Tone" --ta "Test" src_st44.wav id3v2.mp3
lame --quiet -t -b 128 --id3v1-only --tt "Tone" --ta "Test" src_st44.wav id3v1.mp3
lame --quiet -t -b 128 --add-id3v2 --tt "Tone" --ta "Test" src_st44.wav id3both.mp3
# MPEG-2 Layer III at 22050 Hz mono.
lame --quiet -t -b 64 -m m src_mono22.wav mpeg2.mp3
for f in plain id3v2 id3v1 id3both mpeg2; do
  lame --quiet --decode "$f.mp3" "$f.dec.wav"
done
# Ogg Vorbis: 44,100 frames of stereo 44100 Hz, and the host decoder's raw
# output (16-bit signed and 8-bit unsigned) to compare with.
sox -q -r 44100 -c 2 -n -b 16 -e signed-integer -t wavpcm src_ogg.wav synth 44100s sine 440 sine 660 gain -6
oggenc -Q -q 4 -o tone.ogg src_ogg.wav
oggdec -Q -R -b 16 -e 0 -s 1 -o tone.s16 tone.ogg
oggdec -Q -R -b 8 -s 0 -o tone.u8 tone.ogg
touch ready
