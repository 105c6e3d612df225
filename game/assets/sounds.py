"""The game's effects and music.

Effects are synthesised by sox; music loops are composed here from seeded
note patterns (lead, bass and drums as 16-bit stems), mixed and repeated by
sox and encoded by lame. sox runs in repeatable mode and without dither, so
the same inputs always give the same bytes.
"""
import array
import math
import os
import subprocess
import wave

from canvas import Rand

RATE = 22050  # synthesis rate of the music stems; sox resamples to 44100


def run(args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def sox(*args):
    run(["sox", "-R", "-D", "-V1"] + list(args))


def lame(src, dst, bitrate):
    # Constant bitrate MPEG-1 Layer III, no tag frame, no ID3 tag.
    run(["lame", "--quiet", "-t", "--cbr", "-b", str(bitrate), "--resample", "44.1", "-m", "m", "--noreplaygain", src, dst])


# --- effects ----------------------------------------------------------------
# (file, sox synth arguments after "-n <out>"); mono 16-bit 44.1 kHz.
EFFECTS = [
    ("sound/tm2_shoot000.wav", "synth 0.07 square 1500:700 vol 0.25 fade 0 0.07 0.04"),
    ("sound/gun13_c.wav", "synth 0.22 brownnoise synth 0.22 square amod 90 vol 0.6 fade 0 0.22 0.18"),
    ("sound/tm2_shoot001.wav", "synth 0.05 square 320:180 vol 0.3 fade 0 0.05 0.03"),
    ("sound/tm2_shoot003.wav", "synth 0.45 brownnoise lowpass 1800 vol 0.9 fade 0 0.45 0.4"),
    ("sound/one23.mp3", "synth 0.5 sine 1046.5 sine 1568 remix - vol 0.4 fade 0 0.5 0.45"),
    ("sound/button25.mp3", "synth 0.06 square 880 : synth 0.1 square 1320 vol 0.25 fade 0 0.1 0.06"),
    ("sound/status01.mp3", "synth 0.08 triangle 660 : synth 0.08 triangle 880 : synth 0.16 triangle 1320 vol 0.5 fade 0 0.16 0.1"),
    ("sound/explode.mp3", "synth 0.9 brownnoise lowpass 900 vol 1.0 fade 0 0.9 0.8"),
    ("sound/alarm1.mp3", "synth 0.6 square 700:1100 vol 0.25 tremolo 8 60 fade 0 0.6 0.1"),
    ("sound/tm2_death001.wav", "synth 1.0 sawtooth 600:80 vol 0.3 : synth 0.4 brownnoise vol 0.5 fade 0 0.4 0.35"),
]


def make_effect(out_dir, tmp_dir, name, synth):
    dst = os.path.join(out_dir, name)
    os.makedirs(os.path.dirname(dst), exist_ok=True)
    # Each chain after ":" starts again from "-n"; sox joins the parts.
    parts = [p.strip() for p in synth.split(" : ")]
    if name.endswith(".wav"):
        target = dst
    else:
        target = os.path.join(tmp_dir, os.path.basename(name) + ".wav")
    if len(parts) == 1:
        sox("-n", "-r", "44100", "-c", "1", "-b", "16", target, *parts[0].split())
    else:
        pieces = []
        for k, part in enumerate(parts):
            piece = os.path.join(tmp_dir, "%s.%d.wav" % (os.path.basename(name), k))
            sox("-n", "-r", "44100", "-c", "1", "-b", "16", piece, *part.split())
            pieces.append(piece)
        sox(*pieces, "-b", "16", target)
    if name.endswith(".mp3"):
        lame(target, dst, 96)


# --- music ------------------------------------------------------------------
SCALES = {"major": (0, 2, 4, 5, 7, 9, 11), "minor": (0, 2, 3, 5, 7, 8, 10), "dorian": (0, 2, 3, 5, 7, 9, 10)}


def midi_freq(n):
    return 440.0 * 2 ** ((n - 69) / 12.0)


class Stems:
    def __init__(self, samples):
        self.lead = array.array("h", bytes(samples * 2))
        self.bass = array.array("h", bytes(samples * 2))
        self.drum = array.array("h", bytes(samples * 2))
        self.cache = {}

    def note(self, key, make):
        buf = self.cache.get(key)
        if buf is None:
            buf = self.cache[key] = array.array("h", make())
        return buf

    @staticmethod
    def put(stem, at, buf):
        end = min(len(stem), at + len(buf))
        stem[at:end] = buf[:end - at]


def tone(wave_kind, freq, n, vol, decay):
    out = []
    attack = int(RATE * 0.004)
    release = int(RATE * 0.01)
    step = freq / RATE
    for i in range(n):
        ph = (i * step) % 1.0
        if wave_kind == "square":
            v = 1.0 if ph < 0.5 else -1.0
        elif wave_kind == "pulse":
            v = 1.0 if ph < 0.25 else -1.0
        elif wave_kind == "saw":
            v = 2.0 * ph - 1.0
        else:
            v = 4.0 * abs(ph - 0.5) - 1.0
        env = math.exp(-i * decay / RATE)
        if i < attack:
            env *= i / attack
        if n - i < release:
            env *= (n - i) / release
        out.append(int(v * env * vol * 32767))
    return out


def drum(kind, seed):
    r = Rand(seed)
    if kind == "kick":
        n = int(RATE * 0.14)
        out, ph = [], 0.0
        for i in range(n):
            f = 50 + 110 * math.exp(-i / (RATE * 0.03))
            ph += f / RATE
            out.append(int(math.sin(2 * math.pi * ph) * math.exp(-i / (RATE * 0.06)) * 0.9 * 32767))
        return out
    if kind == "snare":
        n = int(RATE * 0.12)
        return [int(((r.unit() * 2 - 1) * 0.7 + 0.3 * math.sin(2 * math.pi * 190 * i / RATE))
                    * math.exp(-i / (RATE * 0.04)) * 0.6 * 32767) for i in range(n)]
    n = int(RATE * 0.04)
    return [int((r.unit() * 2 - 1) * math.exp(-i / (RATE * 0.01)) * 0.35 * 32767) for i in range(n)]


# name, bpm, root note, scale, chord degrees (one per bar), lead wave, seed,
# drum style (0 none, 1 soft, 2 driving), total seconds
MUSIC = [
    ("music/top.mp3", 96, 60, "major", (0, 5, 3, 4), "triangle", 11, 1, 40),
    ("music/stage1/cirrus.mp3", 150, 62, "dorian", (0, 0, 5, 6, 0, 3, 4, 4), "square", 23, 2, 48),
    ("music/world_2.mp3", 128, 57, "minor", (0, 5, 2, 6), "pulse", 31, 2, 32),
    ("music/world_3.mp3", 110, 64, "major", (0, 3, 4, 0), "triangle", 37, 1, 32),
    ("music/world_4.mp3", 140, 55, "minor", (0, 6, 5, 4), "square", 41, 2, 32),
    ("music/world_5.mp3", 120, 65, "dorian", (0, 3, 0, 4), "pulse", 43, 1, 32),
    ("music/world_6.mp3", 100, 59, "minor", (0, 3, 5, 4), "triangle", 47, 0, 32),
    ("music/normal_boss/alarm.mp3", 172, 57, "minor", (0, 0, 6, 5, 0, 0, 6, 4), "saw", 53, 2, 40),
    ("music/hageshii17-090228-karakurinobousou-wav.wav", 160, 52, "minor", (0, 6, 5, 6), "square", 59, 2, 30),
]


def compose_loop(bpm, root, scale_name, chords, lead_wave, seed, drums):
    """One loop of two passes over the chord list (one bar per chord)."""
    scale = SCALES[scale_name]
    r = Rand(seed * 7919)
    beat = int(RATE * 60.0 / bpm)
    eighth = beat // 2
    bars = len(chords) * 2
    stems = Stems(bars * 4 * beat)

    def degree_note(deg, octave):
        return root + 12 * octave + scale[deg % 7] + 12 * (deg // 7)

    motif = []
    pos = 4
    for k in range(16):  # one bar-pair motif, varied per chord
        if r.below(5) == 0:
            motif.append(None)
        else:
            pos = max(0, min(11, pos + (-2, -1, -1, 0, 1, 1, 2, 3)[r.below(8)]))
            motif.append(pos)
    for bar in range(bars):
        deg = chords[bar % len(chords)]
        at = bar * 4 * beat
        # bass: root on the beat, fifth on the off-beat of beats 2 and 4
        for b in range(4):
            n = degree_note(deg, -1) if b % 2 == 0 else degree_note(deg + 4, -1)
            buf = stems.note(("bass", n, beat), lambda n=n: tone("triangle", midi_freq(n), beat, 0.55, 2.0))
            stems.put(stems.bass, at + b * beat, buf)
        # lead: the motif moved onto the bar's chord; the second pass climbs
        half = (bar // len(chords)) % 2
        for e in range(8):
            m = motif[(bar % 2) * 8 + e]
            if m is None:
                continue
            n = degree_note(deg + m + (2 if half and e % 4 == 0 else 0), 1)
            length = eighth * (2 if e % 4 == 3 else 1)
            buf = stems.note(("lead", n, length),
                             lambda n=n, length=length: tone(lead_wave, midi_freq(n), length, 0.3, 3.0))
            stems.put(stems.lead, at + e * eighth, buf)
        # drums
        if drums:
            for e in range(8):
                if e % 4 == 0:
                    stems.put(stems.drum, at + e * eighth, stems.note("kick", lambda: drum("kick", 1)))
                elif e % 4 == 2 and drums == 2:
                    stems.put(stems.drum, at + e * eighth, stems.note("snare", lambda: drum("snare", 2)))
                else:
                    stems.put(stems.drum, at + e * eighth, stems.note("hat", lambda: drum("hat", 3)))
    return stems


def write_wav(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(samples.tobytes())


def make_music(out_dir, tmp_dir, name, bpm, root, scale, chords, lead_wave, seed, drums, seconds):
    stems = compose_loop(bpm, root, scale, chords, lead_wave, seed, drums)
    base = os.path.join(tmp_dir, os.path.basename(name))
    paths = []
    for k, stem in enumerate((stems.lead, stems.bass, stems.drum)):
        p = "%s.stem%d.wav" % (base, k)
        write_wav(p, stem)
        paths.append(p)
    loop_seconds = len(stems.lead) / float(RATE)
    repeats = max(0, int(math.ceil(seconds / loop_seconds)) - 1)
    dst = os.path.join(out_dir, name)
    os.makedirs(os.path.dirname(dst), exist_ok=True)
    mixed = dst if name.endswith(".wav") else base + ".mix.wav"
    # The WAV music is left at the synthesis rate; MP3s are resampled by lame.
    sox("-m", *paths, "-b", "16", mixed, "gain", "-n", "-2", "repeat", str(repeats))
    if name.endswith(".mp3"):
        lame(mixed, dst, 64)
