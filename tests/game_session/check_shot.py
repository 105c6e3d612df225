#!/usr/bin/env python3
"""Checks a screenshot of the game's window (a binary PPM of its 960 x 720
client area) against what the game must draw there. Standard library only.

    check_shot.py title <shot.ppm>
        the title's name and high-score texts are drawn (coloured pixels in
        their boxes) over a screen that is otherwise the background
    check_shot.py stage <shot.ppm> <data folder> <stage top> [<x> <y>]...
        the play field shows the stage picture scrolled to about <stage top>
        (the offset found is printed), and at each listed position (the
        player's and enemies' centres) a sprite covers the stage
    check_shot.py player <shot.ppm> <x> <y>
        the player's dress colour is drawn around (x, y), not elsewhere
    check_shot.py changed <a.ppm> <b.ppm> <left> <top> <right> <bottom>
        the box differs between the two shots
Exit 0 when the check holds, 1 when not (with the reason), 2 on bad use.
"""
import struct
import sys
import zlib

FIELD_LEFT, FIELD_RIGHT, SCREEN_H = 210, 750, 720
TITLE_COLOR = (0xFD, 0x28, 0x48)
PANEL_COLOR = (0xCC, 0xFF, 0xCC)
DRESS = (235, 80, 150)
# The screen is 16-bit (5-6-5): channels come back within a few steps.
TOLERANCE = 12


class Picture:
    def __init__(self, w, h, px, channels):
        self.w, self.h, self.px, self.ch = w, h, px, channels

    def rgb(self, x, y):
        i = (y * self.w + x) * self.ch
        return self.px[i], self.px[i + 1], self.px[i + 2]


def load_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError("%s: not an 8-bit binary PPM" % path)
    w, h = int(fields[1]), int(fields[2])
    px = data[pos + 1:pos + 1 + w * h * 3]
    if len(px) != w * h * 3:
        raise ValueError("%s: short pixel data" % path)
    return Picture(w, h, px, 3)


def load_png_rgba(path):
    """8-bit RGBA, not interlaced (what the asset generator writes)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("%s: not a PNG" % path)
    pos, idat, w, h = 8, bytearray(), 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            w, h, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or colour != 6 or interlace != 0:
                raise ValueError("%s: not 8-bit RGBA" % path)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(bytes(idat))
    stride = w * 4
    out = bytearray(stride * h)
    prev = bytearray(stride)
    for y in range(h):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride if f != 0 else 0):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 255
        out[y * stride:(y + 1) * stride] = line
        prev = line
    return Picture(w, h, out, 4)


def near(c, ref, tol=TOLERANCE):
    return all(abs(a - b) <= tol for a, b in zip(c, ref))


def count_near(pic, box, ref, tol=TOLERANCE, step=1):
    left, top, right, bottom = box
    n = 0
    for y in range(max(0, top), min(pic.h, bottom), step):
        for x in range(max(0, left), min(pic.w, right), step):
            if near(pic.rgb(x, y), ref, tol):
                n += 1
    return n


def check_title(shot):
    name = count_near(shot, (300, 140, 760, 300), TITLE_COLOR, 24)
    score = count_near(shot, (400, 490, 760, 540), (255, 255, 255), 24)
    print("title: %d pixels of the name's colour, %d white pixels in the high score's box" % (name, score))
    if name < 300:
        return "the game's name is not drawn in its colour at (380, 170)"
    if score < 40:
        return "the high score text is not drawn at (410, 500)"
    return None


def stage_match(shot, stage, top, samples):
    hits = 0
    for sx, sy in samples:
        ty = sy - top
        if 0 <= ty < stage.h and near(shot.rgb(sx, sy), stage.rgb(sx - FIELD_LEFT, ty)):
            hits += 1
    return hits / len(samples)


def check_stage(shot, data_dir, top, points):
    stage = load_png_rgba(data_dir + "/img/stage/stage1.png")
    samples = [(x, y) for y in range(3, SCREEN_H, 9) for x in range(FIELD_LEFT + 2, FIELD_RIGHT, 9)]
    best, best_top = -1.0, None
    for t in range(top - 60, top + 61):
        m = stage_match(shot, stage, t, samples)
        if m > best:
            best, best_top = m, t
    print("stage: best offset %d (probe said %d), %.0f%% of samples match" % (best_top, top, best * 100))
    if best < 0.55:
        return "the play field does not show the stage picture near offset %d" % top
    # Sprites: at each centre, a good part of a small box differs from the
    # stage under it.
    for x, y in points:
        box = [(bx, by) for by in range(y - 12, y + 13, 2) for bx in range(x - 12, x + 13, 2)
               if FIELD_LEFT <= bx < FIELD_RIGHT and 0 <= by < SCREEN_H and 0 <= by - best_top < stage.h]
        if not box:
            continue
        covered = sum(1 for bx, by in box
                      if not near(shot.rgb(bx, by), stage.rgb(bx - FIELD_LEFT, by - best_top), 20))
        print("sprite at (%d, %d): %d of %d pixels differ from the stage" % (x, y, covered, len(box)))
        if covered * 4 < len(box):
            return "no sprite drawn at (%d, %d)" % (x, y)
    return None


def check_player(shot, x, y):
    around = count_near(shot, (x - 45, y - 55, x + 45, y + 55), DRESS, 20)
    total = count_near(shot, (FIELD_LEFT, 0, FIELD_RIGHT, SCREEN_H), DRESS, 20, 2) * 4
    print("player: %d dress pixels around (%d, %d), about %d in the whole field" % (around, x, y, total))
    if around < 60:
        return "the player is not drawn at (%d, %d)" % (x, y)
    if total > around * 3:
        return "the player's colours are drawn away from (%d, %d)" % (x, y)
    return None


def check_changed(a, b, box):
    left, top, right, bottom = box
    diff = sum(1 for y in range(top, bottom) for x in range(left, right)
               if not near(a.rgb(x, y), b.rgb(x, y), 8))
    print("changed: %d pixels differ in (%d, %d)-(%d, %d)" % (diff, left, top, right, bottom))
    return None if diff > 0 else "the box did not change"


def main(argv):
    try:
        if len(argv) == 3 and argv[1] == "title":
            problem = check_title(load_ppm(argv[2]))
        elif len(argv) >= 5 and argv[1] == "stage" and len(argv) % 2 == 1:
            nums = [int(v) for v in argv[5:]]
            problem = check_stage(load_ppm(argv[2]), argv[3], int(argv[4]),
                                  list(zip(nums[0::2], nums[1::2])))
        elif len(argv) == 5 and argv[1] == "player":
            problem = check_player(load_ppm(argv[2]), int(argv[3]), int(argv[4]))
        elif len(argv) == 8 and argv[1] == "changed":
            problem = check_changed(load_ppm(argv[2]), load_ppm(argv[3]), [int(v) for v in argv[4:]])
        else:
            sys.stderr.write(__doc__)
            return 2
    except (OSError, ValueError) as e:
        print("check_shot: %s" % e)
        return 1
    if problem:
        print("check_shot: %s" % problem)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
