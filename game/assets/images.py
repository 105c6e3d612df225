"""The game's pictures: sprite sheets, the stage and the status panel pieces.

Every sheet is a grid of tiles of the size the game cuts it into; tiles the
game shows are drawn to be told apart at a glance, the others repeat the
look with small changes. Transparent pixels have alpha 0; visible pixels are
never pure black, which the loader may treat as the transparent colour.
"""
import math

from canvas import Canvas, Rand, alpha, shade

CLEAR = (0, 0, 0, 0)
INK = (24, 18, 36, 255)
WHITE = (250, 250, 250, 255)


def sheet(across, down, w, h):
    return Canvas(across * w, down * h)


def tiles(c, across, down, w, h):
    """(index, left, top) of every tile, row by row."""
    for i in range(across * down):
        yield i, (i % across) * w, (i // across) * h


def glow_ball(c, cx, cy, r, col, core=WHITE):
    c.circle(cx, cy, r, alpha(col, 110))
    c.circle(cx, cy, r * 0.78, col)
    c.circle(cx, cy, r * 0.45, shade(col, 1.5))
    c.circle(cx, cy, r * 0.22, core)


# --- player -----------------------------------------------------------------
def player_tile(c, ox, oy, lean, frame):
    cx = ox + 27.5
    s = lean * 5.0
    flap = (0, 3, 5, 3)[frame % 4]
    # wings: the far side shrinks while leaning
    wing = (160, 225, 255, 190)
    left = 21 * (1.0 + 0.35 * lean)
    right = 21 * (1.0 - 0.35 * lean)
    c.polygon([(cx - 3 + s, oy + 36), (cx - 3 + s - left, oy + 22 - flap), (cx - 3 + s - left * 0.8, oy + 52 - flap)], wing)
    c.polygon([(cx + 3 + s, oy + 36), (cx + 3 + s + right, oy + 22 - flap), (cx + 3 + s + right * 0.8, oy + 52 - flap)], wing)
    # trail of sparks under the broom
    t = (6, 9, 7, 10)[frame % 4]
    c.ellipse(cx - s * 0.5, oy + 70 + t * 0.2, 5, t * 0.7, (255, 210, 80, 200))
    c.ellipse(cx - s * 0.5, oy + 69, 2.5, t * 0.4, (255, 250, 200, 255))
    # dress with an outline
    dress = [(cx - 8 + s * 0.6, oy + 31), (cx + 8 + s * 0.6, oy + 31), (cx + 15 + s, oy + 63), (cx - 15 + s, oy + 63)]
    c.polygon([(x + (1.5 if x > cx + s else -1.5), y + (1.5 if y > oy + 40 else -1.5)) for x, y in dress], INK)
    c.polygon(dress, (235, 80, 150, 255))
    c.polygon([(cx - 3 + s * 0.6, oy + 31), (cx + 3 + s * 0.6, oy + 31), (cx + 4 + s, oy + 62), (cx - 4 + s, oy + 62)], (255, 160, 200, 255))
    # legs
    c.rect(cx - 7 + s, oy + 63, cx - 3 + s, oy + 69, (255, 220, 190, 255))
    c.rect(cx + 3 + s, oy + 63, cx + 7 + s, oy + 69, (255, 220, 190, 255))
    # the broom she rides, under her feet
    c.line(cx - 17 + s * 1.2, oy + 68, cx + 17 + s * 0.8, oy + 64, 4, (150, 95, 45, 255))
    c.polygon([(cx - 17 + s * 1.2, oy + 64), (cx - 25 + s * 1.2, oy + 63), (cx - 25 + s * 1.2, oy + 72), (cx - 17 + s * 1.2, oy + 71)], (225, 190, 90, 255))
    # head and hair
    hx, hy = cx + s * 0.9, oy + 20
    c.circle(hx, hy, 11.5, INK)
    c.ellipse(hx, hy - 1, 11, 10.5, (250, 190, 50, 255))
    c.ellipse(hx, hy + 2, 8, 7.5, (255, 222, 192, 255))
    c.rect(hx - 5 + s * 0.4, hy + 1, hx - 3 + s * 0.4, hy + 4, (40, 60, 150, 255))
    c.rect(hx + 3 + s * 0.4, hy + 1, hx + 5 + s * 0.4, hy + 4, (40, 60, 150, 255))
    # hat
    c.polygon([(hx - 13, hy - 6), (hx + 13, hy - 6), (hx + 2 - s, hy - 19)], (120, 60, 180, 255))
    # the small core shows where the player can be hit
    c.circle(cx + s * 0.6, oy + 42, 3, (255, 255, 255, 255))


def make_player():
    c = sheet(4, 4, 55, 80)
    leans = {12: -0.75, 13: -0.35, 14: 0.35, 15: 0.75}
    for i, ox, oy in tiles(c, 4, 4, 55, 80):
        if i < 4:
            player_tile(c, ox, oy, 0.0, i)
        elif i < 8:
            player_tile(c, ox, oy, -1.0, i - 4)
        elif i < 12:
            player_tile(c, ox, oy, 1.0, i - 8)
        else:
            player_tile(c, ox, oy, leans[i], 0)
    return c


# --- enemies ----------------------------------------------------------------
def make_rubyrou():
    """A red gem that dives straight down."""
    c = sheet(4, 4, 50, 50)
    for i, ox, oy in tiles(c, 4, 4, 50, 50):
        cx, cy = ox + 25, oy + 25
        c.polygon([(cx, cy - 22), (cx + 19, cy - 4), (cx, cy + 23), (cx - 19, cy - 4)], (110, 10, 30, 255))
        c.polygon([(cx, cy - 19), (cx + 16, cy - 4), (cx, cy + 20), (cx - 16, cy - 4)], (220, 30, 60, 255))
        c.polygon([(cx - 9, cy - 9), (cx + 9, cy - 9), (cx + 12, cy - 4), (cx, cy + 14), (cx - 12, cy - 4)], (255, 90, 110, 255))
        c.polygon([(cx - 7, cy - 14), (cx - 2, cy - 14), (cx - 9, cy - 6)], (255, 220, 230, 255))
        # eyes
        c.rect(cx - 7, cy - 2, cx - 3, cy + 3, WHITE)
        c.rect(cx + 3, cy - 2, cx + 7, cy + 3, WHITE)
        c.rect(cx - 6, cy, cx - 4, cy + 3, INK)
        c.rect(cx + 4, cy, cx + 6, cy + 3, INK)
        c.star(cx + 12, cy - 14, 4, 1.5, 4, (255, 255, 255, 255), turn=i * 0.2)
    return c


def make_flamefly():
    """An orange firefly: tiles 0-3 flap, 4-7 glow brighter as it aims."""
    c = sheet(4, 4, 50, 50)
    for i, ox, oy in tiles(c, 4, 4, 50, 50):
        cx, cy = ox + 25, oy + 25
        flap = (0, 4, 7, 4)[i % 4] if i < 4 else 2
        heat = max(0, min(4, i - 3)) if i < 8 else 0
        wing = (255, 240, 150, 180)
        c.rotated_ellipse(cx - 11, cy - 6 + flap * 0.5, 12, 6 - flap * 0.5, -0.5, wing)
        c.rotated_ellipse(cx + 11, cy - 6 + flap * 0.5, 12, 6 - flap * 0.5, 0.5, wing)
        if heat:
            c.circle(cx, cy + 3, 11 + heat * 2.5, (255, 120, 20, 60 + heat * 30))
        c.ellipse(cx, cy + 4, 9, 14, (130, 40, 10, 255))
        c.ellipse(cx, cy + 4, 7, 12, (255, 110 + heat * 25, 20, 255))
        c.ellipse(cx, cy + 10, 4, 6, (255, 230, 100, 255))
        c.circle(cx, cy - 10, 6, (90, 30, 10, 255))
        c.rect(cx - 4, cy - 12, cx - 1, cy - 9, (255, 255, 120, 255))
        c.rect(cx + 1, cy - 12, cx + 4, cy - 9, (255, 255, 120, 255))
    return c


def make_agcat():
    """A grey cat-faced airship."""
    c = sheet(4, 4, 150, 120)
    for i, ox, oy in tiles(c, 4, 4, 150, 120):
        cx, cy = ox + 75, oy + 60
        c.polygon([(cx - 52, cy - 20), (cx - 44, cy - 56), (cx - 20, cy - 32)], (90, 80, 90, 255))
        c.polygon([(cx + 52, cy - 20), (cx + 44, cy - 56), (cx + 20, cy - 32)], (90, 80, 90, 255))
        c.polygon([(cx - 46, cy - 26), (cx - 42, cy - 48), (cx - 28, cy - 33)], (240, 160, 170, 255))
        c.polygon([(cx + 46, cy - 26), (cx + 42, cy - 48), (cx + 28, cy - 33)], (240, 160, 170, 255))
        c.ellipse(cx, cy + 2, 66, 46, INK)
        c.ellipse(cx, cy + 2, 64, 44, (150, 140, 150, 255))
        c.ellipse(cx, cy + 14, 40, 24, (200, 195, 200, 255))
        for ex in (-24, 24):
            c.ellipse(cx + ex, cy - 6, 12, 10, (250, 230, 80, 255))
            c.ellipse(cx + ex, cy - 6, 3 + (i % 2), 9, INK)
        c.polygon([(cx - 6, cy + 8), (cx + 6, cy + 8), (cx, cy + 14)], (230, 110, 130, 255))
        for k in (-1, 1):
            c.line(cx + k * 16, cy + 14, cx + k * 48, cy + 8, 2, INK)
            c.line(cx + k * 16, cy + 18, cx + k * 48, cy + 22, 2, INK)
        # gun pods
        c.rect(cx - 60, cy + 30, cx - 44, cy + 54, (80, 70, 80, 255))
        c.rect(cx + 44, cy + 30, cx + 60, cy + 54, (80, 70, 80, 255))
    return c


def make_cannon():
    """Ground turret: tile 1 is the base, tile 8 the barrel pointing up."""
    c = sheet(4, 4, 75, 75)
    for i, ox, oy in tiles(c, 4, 4, 75, 75):
        cx, cy = ox + 37.5, oy + 37.5
        if i in (8, 9, 10, 11):
            c.rect(cx - 6, cy - 34, cx + 6, cy + 2, INK)
            c.rect(cx - 4, cy - 33, cx + 4, cy + 1, (120, 130, 120, 255))
            c.rect(cx - 7, cy - 35, cx + 7, cy - 29, (70, 80, 70, 255))
            c.circle(cx, cy, 13, INK)
            c.circle(cx, cy, 11, (90, 120, 90, 255))
            c.circle(cx - 3, cy - 3, 4, (170, 200, 170, 255))
        else:
            c.rect(cx - 24, cy - 26, cx + 24, cy + 26, INK)
            c.rect(cx - 22, cy - 24, cx + 22, cy + 24, (110, 105, 80, 255))
            for k in range(6):
                c.rect(cx - 24, cy - 24 + k * 9, cx - 16, cy - 20 + k * 9, (60, 55, 40, 255))
                c.rect(cx + 16, cy - 24 + k * 9, cx + 24, cy - 20 + k * 9, (60, 55, 40, 255))
            c.circle(cx, cy, 14, (80, 90, 70, 255))
            c.polygon([(cx, cy - 22), (cx + 6, cy - 14), (cx - 6, cy - 14)], (230, 200, 60, 255))
    return c


def make_doradora():
    """A green dragon; tile 4 breathes fire."""
    c = sheet(4, 4, 150, 120)
    for i, ox, oy in tiles(c, 4, 4, 150, 120):
        cx, cy = ox + 75, oy + 55
        fire = i == 4
        body = (60, 160, 70, 255) if not fire else (110, 200, 90, 255)
        wing = (40, 110, 60, 230)
        c.polygon([(cx - 20, cy - 10), (cx - 72, cy - 40), (cx - 60, cy + 10), (cx - 72, cy + 20), (cx - 24, cy + 16)], wing)
        c.polygon([(cx + 20, cy - 10), (cx + 72, cy - 40), (cx + 60, cy + 10), (cx + 72, cy + 20), (cx + 24, cy + 16)], wing)
        c.line(cx, cy - 10, cx + 10, cy - 48, 10, body)  # tail, up
        c.ellipse(cx, cy, 26, 34, INK)
        c.ellipse(cx, cy, 24, 32, body)
        c.ellipse(cx, cy + 4, 13, 22, (220, 220, 140, 255))
        c.ellipse(cx, cy + 36, 17, 14, INK)
        c.ellipse(cx, cy + 36, 15, 12, body)
        c.rect(cx - 10, cy + 32, cx - 5, cy + 37, (255, 60, 40, 255))
        c.rect(cx + 5, cy + 32, cx + 10, cy + 37, (255, 60, 40, 255))
        c.polygon([(cx - 12, cy + 26), (cx - 18, cy + 16), (cx - 6, cy + 26)], (230, 230, 210, 255))
        c.polygon([(cx + 12, cy + 26), (cx + 18, cy + 16), (cx + 6, cy + 26)], (230, 230, 210, 255))
        if fire:
            c.ellipse(cx, cy + 56, 14, 9, (255, 140, 30, 255))
            c.ellipse(cx, cy + 55, 8, 5, (255, 240, 120, 255))
    return c


def knight_tile(c, ox, oy, pose):
    """pose 0 stands; 1-3 swing the lance further forward."""
    cx, cy = ox + 75, oy + 120
    armour = (150, 170, 210, 255)
    # cape
    c.polygon([(cx - 22, cy - 40), (cx + 22, cy - 40), (cx + 38, cy + 60), (cx - 38, cy + 60)], (60, 40, 140, 255))
    # wings of light
    c.rotated_ellipse(cx - 42, cy - 30, 30, 12, -0.6, (210, 240, 255, 170))
    c.rotated_ellipse(cx + 42, cy - 30, 30, 12, 0.6, (210, 240, 255, 170))
    # body
    c.rect(cx - 21, cy - 46, cx + 21, cy + 30, INK)
    c.rect(cx - 19, cy - 44, cx + 19, cy + 28, armour)
    c.rect(cx - 4, cy - 44, cx + 4, cy + 28, (200, 215, 240, 255))
    c.rect(cx - 17, cy + 28, cx - 5, cy + 70, (110, 120, 150, 255))
    c.rect(cx + 5, cy + 28, cx + 17, cy + 70, (110, 120, 150, 255))
    # helmet with a plume
    c.circle(cx, cy - 62, 17, INK)
    c.circle(cx, cy - 62, 15, armour)
    c.rect(cx - 11, cy - 64, cx + 11, cy - 59, (30, 30, 60, 255))
    c.polygon([(cx - 3, cy - 76), (cx + 3, cy - 76), (cx + 14, cy - 110), (cx + 6, cy - 112)], (220, 40, 60, 255))
    # shield
    c.polygon([(cx - 48, cy - 30), (cx - 22, cy - 30), (cx - 22, cy + 10), (cx - 35, cy + 26), (cx - 48, cy + 10)], INK)
    c.polygon([(cx - 46, cy - 28), (cx - 24, cy - 28), (cx - 24, cy + 9), (cx - 35, cy + 23), (cx - 46, cy + 9)], (220, 190, 60, 255))
    c.star(cx - 35, cy - 6, 8, 3.5, 5, (150, 40, 40, 255))
    # lance: from upright to pointing down at the player
    a = -math.pi / 2 + pose * (math.pi / 3.2)
    hx, hy = cx + 30, cy - 4
    tx, ty = hx + 100 * math.cos(a) * 0.9, hy + 100 * math.sin(a) + (0 if pose == 0 else 10)
    tx = min(ox + 147, max(ox + 3, tx))
    ty = min(oy + 237, max(oy + 3, ty))
    c.line(hx, hy, tx, ty, 6, (190, 190, 200, 255))
    c.circle(tx, ty, 5, (255, 255, 200, 255))
    c.circle(hx, hy, 7, armour)


def make_fairyknight():
    c = sheet(4, 4, 150, 240)
    poses = {4: 1, 5: 2, 6: 3}
    for i, ox, oy in tiles(c, 4, 4, 150, 240):
        knight_tile(c, ox, oy, poses.get(i, 0))
    return c


def make_kukuru():
    """The boss: a purple flower with one eye."""
    c = sheet(4, 4, 130, 130)
    for i, ox, oy in tiles(c, 4, 4, 130, 130):
        cx, cy = ox + 65, oy + 65
        for k in range(8):
            a = k * math.pi / 4 + i * 0.05
            c.rotated_ellipse(cx + 40 * math.cos(a), cy + 40 * math.sin(a), 24, 13, a, INK)
            c.rotated_ellipse(cx + 40 * math.cos(a), cy + 40 * math.sin(a), 22, 11, a, (170, 80, 210, 255))
            c.rotated_ellipse(cx + 44 * math.cos(a), cy + 44 * math.sin(a), 12, 5, a, (230, 170, 250, 255))
        c.circle(cx, cy, 32, INK)
        c.circle(cx, cy, 30, (250, 210, 60, 255))
        c.circle(cx, cy, 19, WHITE)
        c.circle(cx, cy + 3, 11, (200, 30, 60, 255))
        c.circle(cx, cy + 3, 5, INK)
        c.circle(cx - 4, cy - 1, 3, WHITE)
        for k in range(12):
            a = k * math.pi / 6
            c.circle(cx + 26 * math.cos(a), cy + 26 * math.sin(a), 2.5, (200, 120, 20, 255))
    return c


# --- bullets ----------------------------------------------------------------
def make_player_shot():
    """The player's shot points right; the game turns it to its flight."""
    c = sheet(4, 4, 32, 32)
    for i, ox, oy in tiles(c, 4, 4, 32, 32):
        cx, cy = ox + 16, oy + 16
        c.ellipse(cx, cy, 14, 6 + (i % 2), (120, 200, 255, 140))
        c.ellipse(cx + 2, cy, 10, 4, (170, 230, 255, 255))
        c.ellipse(cx + 4, cy, 6, 2.5, WHITE)
    return c


def make_bigfire():
    c = sheet(4, 4, 70, 70)
    for i, ox, oy in tiles(c, 4, 4, 70, 70):
        cx, cy = ox + 35, oy + 35
        c.star(cx, cy, 33, 22, 9, (255, 110, 20, 170), turn=i * 0.1)
        glow_ball(c, cx, cy, 24, (255, 150, 30, 255), (255, 255, 220, 255))
    return c


def make_fullfire():
    """The laser beam: 190-pixel pieces stacked upward; 8 frames shimmer."""
    c = sheet(4, 4, 155, 190)
    for i, ox, oy in tiles(c, 4, 4, 155, 190):
        cx = ox + 77
        ph = (i % 8) * 190 / 8.0  # one wave length over the 8 frames
        for y in range(190):
            wob = 4 * math.sin((y + ph) * 2 * math.pi / 190.0) + 2 * math.sin((y + ph) * 6 * math.pi / 190.0)
            c.span(oy + y, cx - 40 - wob, cx + 40 + wob, (90, 160, 255, 120))
            c.span(oy + y, cx - 26 - wob * 0.5, cx + 26 + wob * 0.5, (140, 210, 255, 220))
            c.span(oy + y, cx - 12, cx + 12, (235, 250, 255, 255))
        for k in range(3):
            y = (k * 190 / 3.0 + ph) % 190
            c.ellipse(cx + (k - 1) * 18, oy + y, 5, 9, WHITE)
    return c


def make_flower():
    c = sheet(4, 4, 51, 51)
    for i, ox, oy in tiles(c, 4, 4, 51, 51):
        cx, cy = ox + 25.5, oy + 25.5
        for k in range(5):
            a = -math.pi / 2 + k * 2 * math.pi / 5 + i * 0.1
            c.rotated_ellipse(cx + 13 * math.cos(a), cy + 13 * math.sin(a), 11, 7, a, (255, 140, 200, 230))
        c.circle(cx, cy, 8, (255, 235, 90, 255))
        c.circle(cx, cy, 4, WHITE)
    return c


def make_enemy_bullet():
    """Tile 0: the enemies' round shot; tile 3: a shot caught by the special."""
    c = sheet(4, 4, 38, 38)
    for i, ox, oy in tiles(c, 4, 4, 38, 38):
        cx, cy = ox + 19, oy + 19
        if i % 4 == 3:
            glow_ball(c, cx, cy, 10, (90, 230, 120, 255))
        else:
            c.circle(cx, cy, 9, (120, 0, 60, 255))
            glow_ball(c, cx, cy, 8, (255, 50, 140, 255))
    return c


def make_lazer():
    """The enemies' laser: a line 160 long, even from end to end."""
    c = sheet(4, 4, 32, 160)
    for i, ox, oy in tiles(c, 4, 4, 32, 160):
        for y in range(160):
            end = min(y, 159 - y)
            f = min(1.0, (end + 1) / 12.0)
            c.span(oy + y, ox + 16 - 12 * f, ox + 16 + 12 * f, (255, 60, 160, 110))
            c.span(oy + y, ox + 16 - 7 * f, ox + 16 + 7 * f, (255, 130, 200, 230))
            c.span(oy + y, ox + 16 - 3 * f, ox + 16 + 3 * f, WHITE)
    return c


def make_tornado():
    c = sheet(4, 4, 40, 40)
    for i, ox, oy in tiles(c, 4, 4, 40, 40):
        cx, cy = ox + 20, oy + 20
        c.circle(cx, cy, 17, (80, 220, 220, 80))
        for k in range(40):
            t = k / 40.0
            a = t * 4 * math.pi + i * 0.4
            r = 3 + 14 * t
            c.circle(cx + r * math.cos(a), cy + r * math.sin(a), 2.6 - t, (200, 255, 255, 255))
    return c


# --- items ------------------------------------------------------------------
def make_quinsel():
    """The point item: a golden star with a Q."""
    c = sheet(4, 4, 35, 35)
    for i, ox, oy in tiles(c, 4, 4, 35, 35):
        cx, cy = ox + 17.5, oy + 17.5
        c.star(cx, cy, 17, 8, 5, (150, 90, 10, 255), turn=i * 0.08)
        c.star(cx, cy, 15, 7, 5, (255, 205, 40, 255), turn=i * 0.08)
        c.text(cx - 2.5, cy - 3.5, "Q", 1, (140, 60, 10, 255))
    return c


def make_seed():
    """Seeds, read both as 40 x 40 and as 45 x 45 tiles: each seed sits
    inside the first 40 pixels of its 45-pixel cell, so tile 0 looks the
    same either way. Cells 0-3 turn and glow (the special's loop)."""
    c = Canvas(180, 180)
    for i in range(16):
        ox, oy = (i % 4) * 45, (i // 4) * 45
        cx, cy = ox + 20.5, oy + 20.5
        a = (i % 4) * math.pi / 8
        if i % 4:
            c.circle(cx, cy, 19, (120, 255, 140, 60 + 30 * (i % 4)))
        c.rotated_ellipse(cx, cy, 15, 11, a - 0.6, (30, 90, 30, 255))
        c.rotated_ellipse(cx, cy, 13, 9, a - 0.6, (110, 200, 70, 255))
        c.rotated_ellipse(cx - 3, cy - 2, 6, 3.5, a - 0.6, (210, 250, 170, 255))
        c.line(cx + 8 * math.cos(a - 0.6), cy + 8 * math.sin(a - 0.6), cx + 16 * math.cos(a - 1.4), cy + 16 * math.sin(a - 1.4), 2.5, (60, 140, 40, 255))
    return c


def make_magic():
    """Shot-type books: tiles 0, 4 and 8 are red, blue and green."""
    c = sheet(4, 4, 80, 80)
    looks = [((220, 60, 60, 255), "1"), ((60, 110, 230, 255), "2"), ((60, 180, 80, 255), "3")]
    for i, ox, oy in tiles(c, 4, 4, 80, 80):
        col, label = looks[(i // 4) % 3]
        cx, cy = ox + 40, oy + 40
        c.circle(cx, cy, 37, alpha(col, 70))
        c.rect(cx - 24, cy - 30, cx + 24, cy + 30, INK)
        c.rect(cx - 22, cy - 28, cx + 22, cy + 28, col)
        c.rect(cx + 16, cy - 28, cx + 22, cy + 28, (240, 235, 215, 255))
        c.text(cx - 11, cy - 14, label, 4, WHITE, outline=INK)
    return c


# --- stage ------------------------------------------------------------------
def make_stage():
    """540 x 4000 of country seen from above, scrolled from the bottom to the
    top: fields, woods, a winding river with bridges, roads and villages,
    and a castle at the top where the boss waits."""
    w, h = 540, 4000
    grass = (96, 160, 72, 255)
    c = Canvas(w, h, grass)
    r = Rand(0x57A6E1)
    # darker and lighter meadow patches
    for _ in range(260):
        x, y = r.below(w), r.below(h)
        c.ellipse(x, y, 20 + r.below(50), 10 + r.below(30), (84 + r.below(24), 146 + r.below(30), 64, 255))
    # ploughed fields with furrows
    for _ in range(45):
        x, y = r.below(w - 120), r.below(h - 100)
        fw, fh = 70 + r.below(60), 50 + r.below(60)
        base = ((190, 160, 90, 255), (170, 190, 80, 255), (150, 110, 70, 255))[r.below(3)]
        c.rect(x, y, x + fw, y + fh, base)
        for yy in range(y + 3, y + fh, 7):
            c.rect(x, yy, x + fw, yy + 2, shade(base, 0.8))
    # road: a straight line up the middle with a few turns
    road = (200, 185, 150, 255)
    for y in range(h):
        rx = 380 + int(60 * math.sin(y / 520.0))
        c.span(y, rx - 9, rx + 9, road)
        if (y // 14) % 2 == 0:
            c.span(y, rx - 1, rx + 1, (240, 235, 215, 255))
    # the river, with sandy banks, and bridges where the road crosses
    for y in range(h):
        mx = 200 + 110 * math.sin(y / 310.0) + 40 * math.sin(y / 97.0)
        half = 30 + 8 * math.sin(y / 150.0)
        c.span(y, mx - half - 5, mx + half + 5, (214, 200, 140, 255))
        c.span(y, mx - half, mx + half, (50, 110, 200, 255))
        c.span(y, mx - half * 0.4, mx - half * 0.4 + 3, (120, 180, 240, 255))
    for y in range(300, h - 300, 700):
        mx = 200 + 110 * math.sin(y / 310.0) + 40 * math.sin(y / 97.0)
        c.rect(mx - 55, y, mx + 55, y + 16, (130, 90, 50, 255))
        c.rect(mx - 55, y, mx + 55, y + 3, (90, 60, 35, 255))
        c.rect(mx - 55, y + 13, mx + 55, y + 16, (90, 60, 35, 255))
    # woods
    for _ in range(520):
        x, y = r.below(w), r.below(h - 500) + 450
        rad = 6 + r.below(8)
        c.circle(x + 2, y + 3, rad, (40, 80, 40, 255))
        c.circle(x, y, rad, (40 + r.below(30), 120 + r.below(40), 45, 255))
        c.circle(x - rad * 0.3, y - rad * 0.3, rad * 0.4, (110, 180, 90, 255))
    # villages: houses with red or blue roofs
    for _ in range(26):
        vx, vy = 30 + r.below(w - 90), 600 + r.below(h - 900)
        for _ in range(4 + r.below(5)):
            x, y = vx + r.below(70), vy + r.below(60)
            hw, hh = 14 + r.below(10), 12 + r.below(8)
            c.rect(x + 2, y + 2, x + hw + 2, y + hh + 2, (50, 60, 40, 255))
            c.rect(x, y, x + hw, y + hh, ((190, 60, 50, 255), (60, 90, 170, 255))[r.below(2)])
            c.rect(x, y + hh // 2, x + hw, y + hh // 2 + 2, (230, 220, 200, 255))
    # height marks along the left edge, every 500 px
    for y in range(250, h, 500):
        c.rect(4, y, 24, y + 3, (240, 240, 230, 255))
        c.text(4, y + 6, "%d" % ((h - y) // 100), 2, (240, 240, 230, 255), outline=INK)
    # the castle at the top
    c.rect(0, 0, w, 330, (120, 110, 100, 255))
    for x in range(0, w, 30):
        for y in range(0, 330, 16):
            c.rect(x + (8 if (y // 16) % 2 else 0), y, x + (8 if (y // 16) % 2 else 0) + 28, y + 14, (150, 140, 128, 255))
    c.rect(150, 60, 390, 260, (90, 80, 90, 255))
    c.rect(160, 70, 380, 250, (180, 160, 200, 255))
    c.star(270, 160, 70, 30, 8, (150, 90, 190, 255))
    c.circle(270, 160, 22, (250, 210, 60, 255))
    for tx, ty in ((60, 80), (480, 80), (60, 250), (480, 250)):
        c.circle(tx + 3, ty + 4, 34, (60, 55, 60, 255))
        c.circle(tx, ty, 34, (110, 100, 110, 255))
        c.circle(tx, ty, 22, (200, 70, 90, 255))
    c.rect(0, 330, w, 345, (70, 70, 80, 255))
    c.rect(240, 330, 300, 345, (150, 110, 60, 255))
    return c


# --- status panel -----------------------------------------------------------
# The panel's frame and gauge share one 154 x 155 picture space: the gauge
# tube fills rows 13-139 (the rows the game uncovers), the life signs turn
# about point (57, 74).
TUBE = (112, 145)


def make_status():
    """Tiles 0-9 the score digits (drawn 21 px apart), tile 20 the star
    that leads the item pop-up (drawn twice, 20 px apart)."""
    c = Canvas(400, 160)
    for i in range(10):
        c.text(i * 40 + 3, 8, str(i), 3, (255, 250, 235, 255), outline=(40, 30, 70, 255))
    ox, oy = 0, 80
    c.star(ox + 10, oy + 19, 10, 4.5, 5, (150, 90, 10, 255))
    c.star(ox + 10, oy + 19, 8.5, 3.8, 5, (255, 205, 40, 255))
    return c


def make_frame():
    c = Canvas(154, 155)
    edge = (70, 50, 110, 255)
    c.ring(57, 74, 52, 47, edge)
    c.ring(57, 74, 49, 48, (220, 200, 250, 255))
    x0, x1 = TUBE
    c.rect(x0 - 4, 8, x1 + 4, 13, edge)
    c.rect(x0 - 4, 139, x1 + 4, 145, edge)
    c.rect(x0 - 4, 13, x0, 139, edge)
    c.rect(x1, 13, x1 + 4, 139, edge)
    for y in range(13 + 21, 139, 21):
        c.rect(x1 - 6, y, x1, y + 1, (220, 200, 250, 255))
    c.text(x0 - 2, 147, "MP", 1, (255, 255, 255, 255), outline=edge)
    return c


def make_gauge(col, top):
    c = Canvas(154, 155)
    x0, x1 = TUBE
    for y in range(13, 139):
        f = (y - 13) / 126.0
        c.span(y, x0, x1, shade(col, top + (1.0 - top) * f) if top != 1.0 else col)
    return c


def make_hp_bar():
    """Two 53 x 46 petals, tip up, turned about their base (26, 46):
    tile 0 a life, tile 1 a lost one."""
    c = Canvas(106, 46)
    for i, col, inner in ((0, (230, 40, 90, 255), (255, 150, 180, 255)), (1, (80, 70, 90, 200), (120, 110, 130, 200))):
        ox = i * 53
        c.ellipse(ox + 26, 24, 15, 21, INK)
        c.ellipse(ox + 26, 24, 13, 19, col)
        c.ellipse(ox + 26, 18, 5, 9, inner)
        c.rect(ox + 24, 42, ox + 29, 46, INK)
    return c


def make_boss_gauge(frame):
    """1 x 300 strips turned about their middle: only the upper end is drawn,
    so 1440 strips make a ring 126-150 px from the boss."""
    c = Canvas(1, 300)
    if frame:
        for y in (0, 1, 22, 23):
            c.span(y, 0, 1, (40, 20, 40, 255))
    else:
        for y in range(2, 22):
            c.span(y, 0, 1, (255, 60 + y * 8, 40, 255))
    return c


def make_images():
    """(path, canvas) of every picture the game loads."""
    return [
        ("img/player/thiko.png", make_player),
        ("img/enemy/rubyrou.png", make_rubyrou),
        ("img/enemy/flamefly.png", make_flamefly),
        ("img/enemy/agcat.png", make_agcat),
        ("img/enemy/cannon.png", make_cannon),
        ("img/enemy/doradora.png", make_doradora),
        ("img/enemy/fairyknight.png", make_fairyknight),
        ("img/enemy/kukuru.png", make_kukuru),
        ("img/bullet/player.png", make_player_shot),
        ("img/bullet/bigfire.png", make_bigfire),
        ("img/bullet/fullfire.png", make_fullfire),
        ("img/bullet/flower.png", make_flower),
        ("img/bullet/bullet.png", make_enemy_bullet),
        ("img/bullet/lazer.png", make_lazer),
        ("img/bullet/tornado.png", make_tornado),
        ("img/item/quinsel.png", make_quinsel),
        ("img/item/seed.png", make_seed),
        ("img/item/magic.png", make_magic),
        ("img/stage/stage1.png", make_stage),
        ("img/status/status.png", make_status),
        ("img/status/frame3.png", make_frame),
        ("img/status/hp_bar.png", make_hp_bar),
        ("img/status/mp_on2.png", lambda: make_gauge((80, 200, 255, 255), 1.6)),
        ("img/status/mp_on2_white.png", lambda: make_gauge((255, 255, 255, 255), 1.0)),
        ("img/status/mp_off2.png", lambda: make_gauge((50, 50, 70, 200), 1.0)),
        ("img/status/enemy_hp.png", lambda: make_boss_gauge(False)),
        ("img/status/enemy_hp_frame.png", lambda: make_boss_gauge(True)),
    ]
