#!/usr/bin/env python3
"""Checks that each given frequency is heard as a tone in a capture WAV.

The ALSA file plug-in labels 32-bit float output as integer PCM; such data
is recognised by its values. For every frequency the best window's share of
energy at that frequency must pass 0.8. Exit status 0 when all are found.
"""
import array
import math
import struct
import sys


def read_capture(path):
    data = open(path, "rb").read()
    tag, channels, rate = struct.unpack("<HHI", data[20:28])
    bits = struct.unpack("<H", data[34:36])[0]
    body = data[44:]
    if bits == 32:
        floats = array.array("f")
        floats.frombytes(body[: len(body) // 4 * 4])
        peak = max((abs(v) for v in floats if v == v), default=0)
        if tag == 3 or 1e-3 < peak < 16:
            samples = floats
        else:
            ints = array.array("i")
            ints.frombytes(body[: len(body) // 4 * 4])
            samples = [v / 2147483648.0 for v in ints]
    else:
        ints = array.array("h")
        ints.frombytes(body[: len(body) // 2 * 2])
        samples = [v / 32768.0 for v in ints]
    mono = [sum(samples[i : i + channels]) / channels for i in range(0, len(samples) - channels + 1, channels)]
    return mono, rate


def tone_score(x, rate, frequency, window=2048):
    best = 0.0
    step = 2 * math.pi * frequency / rate
    cosines = [math.cos(step * i) for i in range(window)]
    sines = [math.sin(step * i) for i in range(window)]
    for start in range(0, len(x) - window, window // 2):
        seg = x[start : start + window]
        energy = sum(v * v for v in seg)
        if energy < 1e-6 * window:
            continue
        re = sum(a * b for a, b in zip(seg, cosines))
        im = sum(a * b for a, b in zip(seg, sines))
        best = max(best, (re * re + im * im) * 2 / window / energy)
    return best


def main():
    mono, rate = read_capture(sys.argv[1])
    ok = True
    for text in sys.argv[2:]:
        frequency = float(text)
        score = tone_score(mono, rate, frequency)
        print(f"{frequency:.0f} Hz: {score:.3f} ({len(mono) / rate:.1f} s captured at {rate} Hz)")
        ok = ok and score > 0.8
    sys.exit(0 if ok else 1)


main()
