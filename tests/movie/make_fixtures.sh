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
# For the DirectShow road: raw BGR24 and Motion JPEG in AVI, 30 frames of
# 64 x 48 whose grey level tells the frame (luma 16 + 6 n as above), and a
# raw AVI of about 2.5 MB (280 frames) for the archive copy.
raw() {  # name frames codec-arguments
  ffmpeg -loglevel error -y -f lavfi -i "color=c=black:s=64x48:r=30,format=yuv420p,geq=lum='16+6*mod(N,30)':cb=128:cr=128" \
    -frames:v "$2" "${@:3}" -an "$1"
}
raw raw30.avi 30 -c:v rawvideo -pix_fmt bgr24
raw mjpeg30.avi 30 -c:v mjpeg -q:v 2 -pix_fmt yuvj420p
raw raw280.avi 280 -c:v rawvideo -pix_fmt bgr24
# Other containers for the container check: MPEG-4 video in MP4 (ftyp,
# free, mdat, moov), MPEG-1 video in an MPEG-1 system stream and MPEG-2
# video in an MPEG-2 program stream (two 2048-byte packs each).
raw clip.mp4 30 -c:v mpeg4 -q:v 2
raw clip.mpg 30 -c:v mpeg1video -q:v 2 -f mpeg
raw clip.vob 30 -c:v mpeg2video -q:v 2 -f vob
# Their frames decoded by ffmpeg, top row first, 4 bytes a pixel (B, G, R, 0).
for f in raw30 mjpeg30; do ffmpeg -loglevel error -y -i $f.avi -f rawvideo -pix_fmt bgr0 $f.bgr0; done
# Damaged: the clip cut inside its first page.
head -c 200 grey30.ogv > damaged.ogv
printf 'RIFF\x24\x00\x00\x00WAVEfmt ' > notogg.bin
touch ready
