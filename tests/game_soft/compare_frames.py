#!/usr/bin/env python3
"""Compares the frames one scripted run of the game gave on the Direct3D road
and on the software road (binary PPMs of 960 x 720 and the state lines of
"shots.txt" that the frame probe wrote beside them). Standard library only.

    compare_frames.py <direct3d folder> <software folder> <picture folder>

The software screen is 16-bit (5-6-5); the Direct3D back buffer follows the
32-bit desktop. Both frames are compared in the 16-bit screen's levels (5
bits of red and blue, 6 of green; the Direct3D frame's top bits): a pixel
agrees when each channel is within 2 levels, and is exact when all are equal.
Blending in 16 bits rounds at every step (a fade over the field is a level
off in many pixels), and the software renderer samples rotated and scaled
sprites at the nearest texel where Direct3D filters them bilinearly.

For every frame: the state lines of both runs must be the same (the same
logical frame), and the share of agreeing pixels must reach the frame's bar.
Where pixels differ, a picture of the difference is written to the picture
folder as <name>_diff.png (the Direct3D frame darkened, differing pixels
red, brighter for larger differences), with both frames as PNG.
Exit 0 when all frames pass, 1 when not, 2 on bad use.
"""
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "game_session"))
import check_shot  # noqa: E402  (its PPM reader)

# Share of pixels within 2 levels per channel, per frame, as the two roads
# give it.
BARS = {
    "title": 0.999,
    "play_fade": 0.97,
    "play_busy": 0.97,
    "boss": 0.97,
    "pause": 0.97,
}
AGREE = 2


def load_ppm(path):
    picture = check_shot.load_ppm(path)
    return picture.w, picture.h, picture.px


def write_png(path, w, h, rgb):
    raw = bytearray()
    for y in range(h):
        raw.append(0)
        raw += rgb[y * w * 3:(y + 1) * w * 3]

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 6)))
        f.write(chunk(b"IEND", b""))


def to_levels(px):
    """Each channel to the 16-bit screen's level: red and blue keep 5 bits,
    green 6."""
    five = bytes(v >> 3 for v in range(256))
    six = bytes(v >> 2 for v in range(256))
    out = bytearray(px)
    out[0::3] = bytes(px[0::3]).translate(five)
    out[1::3] = bytes(px[1::3]).translate(six)
    out[2::3] = bytes(px[2::3]).translate(five)
    return bytes(out)


def compare(hw, sw):
    """(agreeing share, exact share, largest difference in levels, per-pixel
    largest channel difference)."""
    n = len(hw) // 3
    worst = bytearray(n)
    for c in range(3):
        a, b = hw[c::3], sw[c::3]
        for i in range(n):
            d = a[i] - b[i]
            if d < 0:
                d = -d
            if d > worst[i]:
                worst[i] = d
    agree = sum(1 for d in worst if d <= AGREE)
    exact = worst.count(0)
    return agree / n, exact / n, max(worst), worst


def diff_picture(hw, worst):
    out = bytearray(len(hw))
    for i, d in enumerate(worst):
        if d <= AGREE:
            g = (hw[i * 3] + hw[i * 3 + 1] + hw[i * 3 + 2]) // 9
            out[i * 3] = out[i * 3 + 1] = out[i * 3 + 2] = g
        else:
            out[i * 3] = 128 + min(127, d * 4)
    return out


def read_states(folder):
    states = {}
    with open(os.path.join(folder, "shots.txt")) as f:
        for line in f:
            name, _, rest = line.strip().partition(" ")
            states[name] = rest
    return states


def identity(state):
    """A state line without its live bullet count ("b <n>"): the frame is
    the same frame when present, scene, move counter, player, enemies,
    items, score, lives and the boss's hit points are."""
    fields = state.split()
    if "b" in fields:
        i = fields.index("b")
        del fields[i:i + 2]
    return fields


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    hw_dir, sw_dir, pictures = argv[1:]
    os.makedirs(pictures, exist_ok=True)
    try:
        hw_states, sw_states = read_states(hw_dir), read_states(sw_dir)
    except OSError as e:
        print("FAIL: no shots: %s" % e)
        return 1
    failed = False
    for name, bar in BARS.items():
        if name not in hw_states or name not in sw_states:
            print("FAIL: %s: no shot (Direct3D: %s; software: %s)" % (name, hw_states.get(name, "none"),
                                                                     sw_states.get(name, "none")))
            failed = True
            continue
        if identity(hw_states[name]) != identity(sw_states[name]):
            print("FAIL: %s: the runs differ: Direct3D %s; software %s" % (name, hw_states[name], sw_states[name]))
            failed = True
        elif hw_states[name] != sw_states[name]:
            print("note: %s: live bullet counts differ: Direct3D %s; software %s" % (name, hw_states[name],
                                                                                   sw_states[name]))
        w, h, hw_px = load_ppm(os.path.join(hw_dir, name + ".ppm"))
        sw_w, sw_h, sw_px = load_ppm(os.path.join(sw_dir, name + ".ppm"))
        if (w, h) != (sw_w, sw_h):
            print("FAIL: %s: sizes differ" % name)
            failed = True
            continue
        agree, exact, largest, worst = compare(to_levels(hw_px), to_levels(sw_px))
        verdict = "ok" if agree >= bar else "FAIL:"
        print("%s %s: %.4f of pixels within %d levels per channel (bar %.3f), %.4f the same colour, "
              "largest difference %d levels; state %s" % (verdict, name, agree, AGREE, bar, exact, largest,
                                                           hw_states[name]))
        if agree < bar:
            failed = True
        if largest > AGREE:
            write_png(os.path.join(pictures, name + "_diff.png"), w, h, diff_picture(hw_px, worst))
        write_png(os.path.join(pictures, name + "_direct3d.png"), w, h, hw_px)
        write_png(os.path.join(pictures, name + "_software.png"), w, h, sw_px)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
