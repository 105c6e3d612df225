#!/usr/bin/env bash
# Makes the movie fixtures the movie tests read, through ffmpeg's Theora and
# Vorbis encoders. Frame n of the grey clips has luma 16 + 6 n (flat), so a
# decoded frame tells its own number. Usage: make_fixtures.sh DIR
set -euo pipefail
out="$1"
mkdir -p "$out"
cd "$out"
enc=(-c:v libtheora -q:v 10)
grey() {  # name width height rate frames luma-expression
  ffmpeg -loglevel error -y -f lavfi -i "color=c=black:s=$2x$3:r=$4,format=yuv420p,geq=lum='$6':cb=128:cr=128" \
    -frames:v "$5" "${enc[@]}" -an "$1"
}
grey grey30.ogv 64 48 30 30 '16+6*N'
grey ntsc.ogv 32 32 30000/1001 5 '16+6*N'
grey f1000.ogv 32 32 30 1000 '16+mod(N*7,220)'
grey f1001.ogv 32 32 30 1001 '16+mod(N*7,220)'
# 50 x 30 (not a multiple of 16): four quadrants of their own luma.
grey odd50x30.ogv 50 30 30 3 'if(lt(X,25),if(lt(Y,15),40,160),if(lt(Y,15),100,220))'
# With a sound track, and a sound-only Ogg file.
ffmpeg -loglevel error -y -f lavfi -i "color=c=black:s=32x32:r=30,format=yuv420p,geq=lum='16+6*N':cb=128:cr=128" \
  -f lavfi -i "sine=frequency=440:sample_rate=22050:duration=1" -frames:v 30 -c:v libtheora -q:v 10 \
  -c:a libvorbis -shortest withsound.ogv
ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=440:sample_rate=22050:duration=0.5" -c:a libvorbis vorbis.ogg
# Damaged: the clip cut inside its first page.
head -c 200 grey30.ogv > damaged.ogv
printf 'RIFF\x24\x00\x00\x00WAVEfmt ' > notogg.bin
touch ready
