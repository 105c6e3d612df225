"""The stage's enemy schedule, "data/enemy_ptn.csv".

Two header lines, then one record per line of twelve cells: move counter,
kind, x, y, extra, the four drop flags (-1 none; item kinds 0 point star,
1 option seed, 2 seed, 3 shot book) and three unused cells. Lines starting
with "//" are comments. The play field spans x 210-750; the boss music
starts at move counter 6000 and the boss enters just after it.
"""
RUBYROU, FLAMEFLY, AGCAT, CANNON, DORADORA, KNIGHT, BOSS = range(7)
NONE = (-1, -1, -1, -1)
STAR = (1, -1, -1, -1)
SEED = (-1, 1, -1, -1)
SEED2 = (1, -1, 1, -1)
BOOK = (1, -1, -1, 1)
BOSS_FRAME = 6050


class Schedule:
    """Rows in order of their frame; each wave's comment comes before its
    first row."""

    def __init__(self):
        self.rows = []  # (frame, order, wave, text)
        self.waves = []

    def comment(self, text):
        self.waves.append(text)

    def add(self, frame, kind, x, y, extra=0, drops=NONE):
        cells = (frame, kind, x, y, extra) + tuple(drops) + (0, 0, 0)
        self.rows.append((frame, len(self.rows), len(self.waves) - 1, ",".join(str(v) for v in cells)))

    def text(self):
        lines = ["Quinsel stage 1 enemy schedule",
                 "frame,kind,x,y,extra,drop_star,drop_seed,drop_seed2,drop_book,unused,unused,unused"]
        told = set()
        for _, _, wave, row in sorted(self.rows):
            if wave not in told:
                told.add(wave)
                lines.append("// " + self.waves[wave])
            lines.append(row)
        return "\n".join(lines) + "\n"


def line_of_divers(s, frame, xs, gap, star_every=4):
    for k, x in enumerate(xs):
        s.add(frame + k * gap, RUBYROU, x, -30, 0, STAR if k % star_every == star_every - 1 else NONE)


def make_schedule():
    s = Schedule()
    s.comment("opening: rows of ruby divers, left to right and back")
    line_of_divers(s, 60, range(270, 700, 60), 18)
    line_of_divers(s, 300, range(690, 260, -60), 18)
    line_of_divers(s, 560, (330, 630, 360, 600, 390, 570, 420, 540, 450, 510), 12, 2)

    s.comment("fireflies swoop down, hover, then dash at the player")
    for k, x in enumerate((300, 660, 360, 600, 420, 540)):
        s.add(800 + k * 40, FLAMEFLY, x, -150, 0, STAR if k % 2 else NONE)
    s.add(1000, FLAMEFLY, 480, -150, 0, SEED)

    s.comment("ground cannons roll in with the road; divers cover them")
    for k, (x, extra) in enumerate(((300, 18), (660, 18), (420, 16), (540, 20))):
        s.add(1150 + k * 90, CANNON, x, -40, extra, STAR)
    line_of_divers(s, 1250, (240, 720, 270, 690, 300, 660), 30, 3)

    s.comment("first big one: the cat airship")
    s.add(1500, AGCAT, 480, -70, 0, BOOK)
    line_of_divers(s, 1700, (250, 710, 250, 710), 40, 2)
    for k, x in enumerate((330, 630)):
        s.add(1900 + k * 30, FLAMEFLY, x, -150, 0, STAR)

    s.comment("mixed wave")
    line_of_divers(s, 2150, range(250, 720, 45), 10, 3)
    for k, x in enumerate((280, 680, 380, 580)):
        s.add(2300 + k * 25, FLAMEFLY, x, -150, 0, STAR if k == 3 else NONE)
    s.add(2450, CANNON, 260, -40, 14, STAR)
    s.add(2450, CANNON, 700, -40, 22, STAR)

    s.comment("dragons from both sides")
    s.add(2650, DORADORA, 330, -70, 0, SEED)
    s.add(2750, DORADORA, 630, -70, 0, STAR)
    line_of_divers(s, 2900, (480, 450, 510, 420, 540), 16, 5)

    s.comment("the knight chases the player until it falls")
    s.add(3300, KNIGHT, 480, -130, 0, SEED2)
    line_of_divers(s, 3400, (260, 700, 290, 670), 50, 2)
    for k, x in enumerate((300, 480, 660)):
        s.add(3600 + k * 20, FLAMEFLY, x, -150, 0, STAR)

    s.comment("middle rush: streams of divers and a second cat")
    line_of_divers(s, 3850, range(240, 740, 50), 8, 5)
    line_of_divers(s, 4000, range(720, 230, -50), 8, 5)
    s.add(4100, AGCAT, 360, -70, 0, (1, 1, -1, -1))
    s.add(4150, AGCAT, 600, -70, 0, BOOK)
    for k, (x, extra) in enumerate(((280, 18), (480, 18), (680, 18))):
        s.add(4250 + k * 60, CANNON, x, -40, extra, STAR)
    for k, x in enumerate((260, 700, 320, 640, 380, 580)):
        s.add(4450 + k * 30, FLAMEFLY, x, -150, 0, STAR if k % 3 == 2 else NONE)

    s.comment("the last guard: dragons and two knights")
    s.add(4700, DORADORA, 480, -70, 0, STAR)
    s.add(4900, KNIGHT, 330, -130, 0, STAR)
    s.add(5000, KNIGHT, 630, -130, 0, SEED)
    line_of_divers(s, 5100, (250, 710, 280, 680, 310, 650, 340, 620), 20, 4)
    s.add(5250, DORADORA, 300, -70, 0, BOOK)
    s.add(5250, DORADORA, 660, -70, 0, STAR)
    for k, (x, extra) in enumerate(((240, 20), (720, 16))):
        s.add(5300 + k * 40, CANNON, x, -40, extra, STAR)

    s.comment("calm before the boss: a few stars to collect")
    line_of_divers(s, 5600, (360, 600, 420, 540, 480), 25, 1)

    s.comment("boss")
    s.add(BOSS_FRAME, BOSS, 480, -70, 0, NONE)
    return s.text()
