#!/usr/bin/env python3
"""Host-side checks of the generated game data (run by ctest, not under Wine).

    check_assets.py <generator> <data folder the build made>

- The generator is deterministic: a fresh run gives the same files, byte
  for byte, as the build's run.
- Every effect and music file is what its name says: a 16-bit PCM RIFF
  WAVE, or an MPEG-1 Layer III stream at 44.1 kHz whose frames chain from
  the first byte to the last (no tags) -- the form the game's MP3 reader
  walks; sox decodes each whole, it is not silent, and its length suits
  its use (effects short, music long enough to loop).
"""
import os
import re
import subprocess
import sys
import tempfile
import wave

EFFECT_SECONDS = (0.03, 3.0)
MUSIC_SECONDS = (30.0, 120.0)
# MPEG-1 Layer III bitrates (kbit/s) by index.
BITRATES = (0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320)

failures = []


def fail(msg):
    failures.append(msg)
    print("FAIL: " + msg)


def files_below(root):
    out = []
    for d, _, names in os.walk(root):
        for n in names:
            out.append(os.path.relpath(os.path.join(d, n), root).replace(os.sep, "/"))
    return sorted(out)


def check_wav(path, rel):
    try:
        with wave.open(path, "rb") as w:
            if w.getsampwidth() != 2 or w.getnchannels() not in (1, 2) or w.getcomptype() != "NONE":
                fail("%s: not 16-bit PCM mono or stereo" % rel)
    except wave.Error as e:
        fail("%s: not a RIFF WAVE (%s)" % (rel, e))


def check_mp3(path, rel):
    data = open(path, "rb").read()
    pos, frames = 0, 0
    while pos < len(data):
        if len(data) - pos < 4:
            fail("%s: %d stray bytes at the end" % (rel, len(data) - pos))
            return
        b1, b2, b3 = data[pos + 1], data[pos + 2], data[pos + 3]
        if data[pos] != 0xFF or (b1 & 0xF0) != 0xF0:
            fail("%s: no frame header at byte %d" % (rel, pos))
            return
        version1 = b1 & 0x08
        layer = (b1 >> 1) & 3
        rate_index = (b2 >> 2) & 3
        bitrate_index = b2 >> 4
        if not version1 or layer != 1 or rate_index != 0 or bitrate_index in (0, 15):
            fail("%s: frame at byte %d is not MPEG-1 Layer III at 44.1 kHz" % (rel, pos))
            return
        pos += 144000 * BITRATES[bitrate_index] // 44100 + ((b2 >> 1) & 1)
        frames += 1
    if frames < 2:
        fail("%s: %d frames" % (rel, frames))


def sox_stat(path):
    """(seconds, RMS amplitude) as sox decodes the whole file."""
    r = subprocess.run(["sox", path, "-n", "stat"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if r.returncode != 0:
        return None
    length = re.search(r"Length \(seconds\):\s+([0-9.]+)", r.stderr)
    rms = re.search(r"RMS\s+amplitude:\s+([0-9.]+)", r.stderr)
    return float(length.group(1)), float(rms.group(1))


def main(argv):
    generator, data = argv[1], argv[2]
    built = files_below(data)
    if len(built) != 47:
        fail("%d files in %s, expected 47" % (len(built), data))

    with tempfile.TemporaryDirectory(prefix="quinsel_assets_check_") as fresh:
        subprocess.run([sys.executable, generator, fresh], check=True)
        again = files_below(fresh)
        if again != built:
            fail("a fresh run makes other files: %s" % sorted(set(again) ^ set(built)))
        for rel in sorted(set(again) & set(built)):
            with open(os.path.join(fresh, rel), "rb") as a, open(os.path.join(data, rel), "rb") as b:
                if a.read() != b.read():
                    fail("%s: differs between two runs" % rel)

    for rel in built:
        top = rel.split("/")[0]
        if top not in ("sound", "music"):
            continue
        path = os.path.join(data, rel)
        if rel.endswith(".wav"):
            check_wav(path, rel)
        elif rel.endswith(".mp3"):
            check_mp3(path, rel)
        else:
            fail("%s: neither WAV nor MP3" % rel)
        stat = sox_stat(path)
        if stat is None:
            fail("%s: sox cannot decode it" % rel)
            continue
        seconds, rms = stat
        low, high = EFFECT_SECONDS if top == "sound" else MUSIC_SECONDS
        if not low <= seconds <= high:
            fail("%s: %.2f s, expected %.2f-%.2f s" % (rel, seconds, low, high))
        if rms < 0.01:
            fail("%s: silent (RMS %.4f)" % (rel, rms))
        print("%-55s %7.2f s  RMS %.3f" % (rel, seconds, rms))

    if failures:
        print("%d failures" % len(failures))
        return 1
    print("all %d files checked" % len(built))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
