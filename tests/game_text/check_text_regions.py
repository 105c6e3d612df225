#!/usr/bin/env python3
"""Checks a capture (binary PPM) of the game's window on its title scene.

The capture is the 960 x 720 client area, or the window with a frame whose
left, right and bottom borders are alike and a caption bar at the top. Each
text the title scene draws must leave pixels of its colour inside the box
where the game places it, and an area where nothing is drawn stays black.
  check_text_regions.py <capture.ppm> title|play
  check_text_regions.py <capture.ppm> glyphs <reference.pgm>
The glyphs check takes the white menu text "GAME START": its glyphs must
differ where its letters differ, and its pixels must be those of the
reference, the same text drawn by GDI with the intended face (both cut to
the box their pixels span).
"""
import sys

CLIENT_W, CLIENT_H = 960, 720


def read_ppm(path):
    data = open(path, "rb").read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    assert fields[0] == b"P6", "not a binary PPM"
    width, height, maxval = int(fields[1]), int(fields[2]), int(fields[3])
    assert maxval == 255
    return width, height, data[pos + 1:]


def read_pgm(path):
    data = open(path, "rb").read()
    head = data.split(None, 4)
    assert head[0] == b"P5", "not a binary PGM"
    width, height = int(head[1]), int(head[2])
    return width, height, data[len(data) - width * height:]


def crop(mask):
    """The rows of a set of (x, y) pixels as strings, cut to their span."""
    if not mask:
        return []
    x0 = min(x for x, _ in mask)
    y0 = min(y for _, y in mask)
    x1 = max(x for x, _ in mask)
    y1 = max(y for _, y in mask)
    return ["".join("#" if (x, y) in mask else "." for x in range(x0, x1 + 1)) for y in range(y0, y1 + 1)]


def glyph_runs(mask):
    """The glyphs of a one-line text: runs of columns with pixels, each cut."""
    columns = sorted({x for x, _ in mask})
    runs, current = [], []
    for x in columns:
        if current and x != current[-1] + 1:
            runs.append(current)
            current = []
        current.append(x)
    if current:
        runs.append(current)
    return [crop({(x, y) for x, y in mask if run[0] <= x <= run[-1]}) for run in runs]


def check_glyphs(pixel, reference_path):
    text = "GAMESTART"  # "GAME START" without its space
    white = lambda p: min(p) >= 240
    got = {(x, y) for y in range(330, 400) for x in range(300, 660) if white(pixel(x, y))}
    rw, rh, rpixels = read_pgm(reference_path)
    want = {(x, y) for y in range(rh) for x in range(rw) if rpixels[y * rw + x]}
    failures = []
    runs = glyph_runs(got)
    print("menu GAME START: %d pixels in %d glyphs" % (len(got), len(runs)))
    if len(runs) == len(text):
        letters = {}
        for letter, glyph in zip(text, runs):
            letters.setdefault(tuple(glyph), set()).add(letter)
        for same in letters.values():
            if len(same) > 1:
                failures.append("the letters %s share one glyph" % ", ".join(sorted(same)))
    else:
        failures.append("%d glyphs where GAME START has %d" % (len(runs), len(text)))
    a, b = crop(got), crop(want)
    if a != b:
        differ = sum(1 for y in range(max(len(a), len(b))) for x in range(max(len(a[0]) if a else 0, len(b[0]) if b else 0))
                     if (a[y][x] if y < len(a) and x < len(a[y]) else ".") != (b[y][x] if y < len(b) and x < len(b[y]) else "."))
        failures.append("GAME START is not the reference's text: %d x %d against %d x %d, %d pixels differ"
                        % (len(a[0]) if a else 0, len(a), len(b[0]) if b else 0, len(b), differ))
        for row in a:
            print("  got  " + row)
        for row in b:
            print("  want " + row)
    else:
        print("GAME START: the reference's %d x %d glyphs" % (len(a[0]), len(a)))
    return failures


def main():
    scene = sys.argv[2] if len(sys.argv) > 2 else "title"
    width, height, pixels = read_ppm(sys.argv[1])
    border = (width - CLIENT_W) // 2
    top = height - CLIENT_H - border

    def pixel(x, y):
        i = ((top + y) * width + border + x) * 3
        return pixels[i], pixels[i + 1], pixels[i + 2]

    def count(box, match):
        x1, y1, x2, y2 = box
        return sum(1 for y in range(y1, y2) for x in range(x1, x2) if match(pixel(x, y)))

    def near(colour, tolerance=24):
        return lambda p: all(abs(a - b) <= tolerance for a, b in zip(p, colour))

    white = near((255, 255, 255), 8)
    title_red = near((0xFD, 0x28, 0x48))
    failures = []
    if scene == "glyphs":
        failures = check_glyphs(pixel, sys.argv[3])
        for f in failures:
            print("FAIL: " + f)
        return 1 if failures else 0
    if scene == "play":
        # The play scene: its caption in black on the left side panel.
        if max(pixel(20, 300)) < 64:
            print("FAIL: no side panel (still the title scene)")
            return 1
        panel = near(pixel(20, 300), 4)
        black = near((0, 0, 0), 8)
        got = count((45, 15, 200, 50), black)
        print("scene caption ストーリー画面: %d pixels" % got)
        if got < 100:
            failures.append("scene caption: %d black pixels, at least 100 expected" % got)
        stray = count((10, 60, 200, 700), lambda p: not panel(p))
        print("side panel: %d pixels not of its colour" % stray)
        if stray:
            failures.append("%d pixels on the side panel where no text is drawn" % stray)
        for f in failures:
            print("FAIL: " + f)
        return 1 if failures else 0
    # (what, box in client pixels, colour test, at least)
    checks = [
        ("scene caption TOP画面", (45, 15, 160, 50), white, 150),
        ("title くいんせる", (375, 165, 700, 260), title_red, 1500),
        ("menu GAME START", (380, 340, 580, 400), white, 250),
        ("high score ハイスコア", (405, 495, 600, 530), white, 150),
    ]
    for what, box, match, least in checks:
        got = count(box, match)
        print("%s: %d pixels" % (what, got))
        if got < least:
            failures.append("%s: %d pixels of its colour, at least %d expected" % (what, got, least))
    # Text spans: the caption is a run of characters, not a blot.
    xs = [x for y in range(15, 50) for x in range(45, 160) if white(pixel(x, y))]
    if xs and max(xs) - min(xs) < 50:
        failures.append("scene caption spans only %d pixels" % (max(xs) - min(xs)))
    # Nothing is drawn in the upper right.
    stray = count((700, 40, 940, 140), lambda p: max(p) > 16)
    print("empty area: %d lit pixels" % stray)
    if stray:
        failures.append("%d lit pixels where the title scene draws nothing" % stray)
    for f in failures:
        print("FAIL: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
