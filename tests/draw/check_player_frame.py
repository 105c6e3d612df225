#!/usr/bin/env python3
"""Checks a captured play-scene frame: the player's first tile (55 x 80 from
the sheet) appears with its top-left at (x - 27, y - 40) for the player
position (x, y) the game reported. Compares the tile's opaque pixels (alpha 255,
not the transparent black) against the capture, each channel within 8 (the
game's screen has 5 and 6 bits per channel); prints the match and exits 1
when fewer than 95 % agree.
  check_player_frame.py <capture.ppm> <sheet.ppm> <sheet alpha.pgm> <x> <y>"""
import sys


def read_pnm(path, channels=3):
    data = open(path, "rb").read()
    fields = []
    pos = 0
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
    pos += 1
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[pos:pos + width * height * channels]


def main():
    capture, sheet, alpha, x, y = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
    cw, ch, cp = read_pnm(capture)
    sw, sh, sp = read_pnm(sheet)
    _, _, sa = read_pnm(alpha, 1)
    left, top = x - 55 // 2, y - 80 // 2
    total = matched = 0
    for ty in range(80):
        for tx in range(55):
            s = sp[(ty * sw + tx) * 3:(ty * sw + tx) * 3 + 3]
            if s == b"\0\0\0" or sa[ty * sw + tx] != 255:
                continue  # the transparent colour, edges blended with the stage
            px, py = left + tx, top + ty
            if not (0 <= px < cw and 0 <= py < ch):
                continue
            c = cp[(py * cw + px) * 3:(py * cw + px) * 3 + 3]
            total += 1
            if all(abs(a - b) <= 8 for a, b in zip(s, c)):
                matched += 1
    print(f"player tile at ({left},{top}): {matched} of {total} opaque pixels match")
    if total < 1000 or matched < total * 0.95:
        sys.exit(1)


main()
