#!/usr/bin/env python3
"""Compares rokconv byte for byte with the independent converter in tests/support/rokref.py.

    tests/crosscheck/crosscheck.py --rokconv build/rokconv [--rokgen build/tests/support/rokgen]
        [--count N] [--seed S] [--sweep] [--keep DIR] [--break RULE]

Inputs: fuzz/corpus/*.rok, examples/*.rok, the hand-made FIXED, then N generated ones (rokgen's
grids, rings and damaged kinds, and synth's rough random models, in every line-end style, with
and without preamble, cut short, with lines and bytes mutated); `--sweep` adds a small model cut
at every byte. rokconv must exit 0, print nothing, leave no stray file and write what rokref
writes, under the right name (NAMES). Each differing input is saved in DIR with rokref's output
and reported; the exit status is then 1. `--break RULE` changes one of rokref's rules on purpose
(`--break list`): the comparison must then fail.
"""

import argparse
import collections
import glob
import math
import os
import random
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from fractions import Fraction

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import rokref  # noqa: E402

EOLS = [b"\n", b"\r\n", b"\n\r", b"\r"]
KEYWORDS = [b"POINT", b"LINE0", b"FACE0", b"END00", b"PALC0", b"ENDP0", b"LINE2", b"ENDL2"] + [
    k for pair in rokref.SKIPPED.items() for k in pair]
ODD_INTS = [b"0", b"-1", b"1", b"2", b"15", b"16", b"17", b"-0", b"+3", b" 4", b"\t5", b"\v6x",
            b"\r2", b"7 8", b"65535", b"65536", b"65537", b"-65536", b"2147483647",
            b"-2147483648", b"2147483648", b"4294967295", b"4294967296", b"4294967299",
            b"99999999999999999999", b"-99999999999999999998", b"x", b"", b"--1", b"+-1",
            b"1e3", b"0x10", b"\xa05", b"\x855", b"3\x009", b"- 1", b"+ 1", b" \t\r\v\f-3",
            b"000000000000000000000000000000000000000000000000000000000000000000000007",
            b"-00000000000000000000000000000000000000000000000000000000004294967295"]
ODD_REALS = [b"0", b"-0", b"-0.0", b"+.5", b".5", b"5.", b".", b"-.", b"-", b"+", b"1e", b"1e+",
             b"1d", b"1.5d2", b"-2.5D-1", b"3E+2", b"7e-3x", b"  \t1.25", b"1.25  ", b"inf",
             b"-inf", b"nan", b"infinity", b"0x1p3", b"0X10", b"1e400", b"-1e400", b"1e-400",
             b"-1e-400", b"4.9e-324", b"2.4703282292062328e-324", b"1e-46", b"-1.4e-45",
             b"1.401298464324817e-45", b"3.4028234663852886e38", b"3.4028235e38",
             b"4.2535295865117308e37", b"4.25352958651173e37", b"4.253529672e37",
             b"-4.253529672e37", b"1d308", b"2.2250738585072014e-308", b"1e99999999999999",
             b"1e-99999999999999", b"0e999999999999", b"1.7976931348623157e308", b"1.8e308",
             b"12345678901234567890123456789012345678901234567890",
             b"0.1000000000000000055511151231257827021181583404541015625",
             b"0.100000000000000005551115123125782702118158340454101562500001",
             b"9007199254740993", b"1.00000005960464477539062", b"1.0000000596046447753906",
             b"\xa01.5", b"1\x002", b"1,5", b"1_0", b"\x0c\x0b2.5d+01", b"1.5d", b"1.5e+d",
             b"1.5de3", b"1.5D+03", b".d5", b"5.d5", b"-.5d-1", b"1e0005", b"1e-0", b"00001.5",
             b"1.5dd2", b"1.5 d2", b"0d0", b"-0d5", b"1.7976931348623158e308",
             b"1.7976931348623159e308", b"-1.7976931348623159d308", b"2.4703282292062327e-324",
             b"2.4703282292062328d-324", b"4.2535296e37", b"4.25352958651173079e37",
             b"4.2535297e37", b"1e38", b"-5e38", b"1.17549435e-38", b"1.4e-45", b"7e-46",
             b"7.1e-46", b"1.401298464324817e-45d0", b"+0", b"+", b"e5", b"d5", b"1e+-5",
             b"1.e5", b"1.d-5", b"-1.E+5", b"1e" + b"0" * 60 + b"5", b"0." + b"0" * 60 + b"1e63",
             b"1" + b"0" * 60 + b"d-60", b"0" * 70 + b"2.5", b"." + b"0" * 70 + b"3d71",
             b"1e-" + b"0" * 70 + b"2", b"9" * 78, b"0." + b"9" * 76]

EDGE1 = b"ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\n"
PAL3 = b"PALC0\n3\n0\n255\n255\n255\n0\n0\n0\n0\n255\n255\n255\n0\n0\n0\n0\n"
FIXED = [b"", b"R", b"ROKU", b"ROKU4", b"ROKU4\n", b"ROKU4\r", b"ROKU4\r\n", b"ROKU4\n\r",
         b"rOKU4\n", b"\0", b"\0ROKU4", b"\0" * 128 + b"ROKU4", b"\0" * 128 + b"ROKU",
         b"\0" * 127 + b"ROKU4", b"\0" * 129 + b"ROKU4", b"\x01" + b"\0" * 127 + b"ROKU4",
         b"\0" * 128 + b"ROKU4\r\nPOINT\r\n", b"ROKU4\r\nPOINT\r\n", b"ROKU4\nPOINT\n",
         b"ROKU4\nPOINT", b"ROKU4\nPOINT\r", b"ROKU4\nPOINT\n\r", b"ROKU4\nPOINT\n\n",
         b"ROKU4\nPOINT\n1\n2\n3\n4\n5\n6\n7\n8\nLINE0\n1\n1\n0\n0\nFACE0\n1\n0\n0\n1\n"
         b"END00\nLINE2\n1\n0\n3\n0\r\n",
         b"ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\n2\n3\n0\n0\n3\n1\n0\n0\nFACE0\n3\n5\n0\n1\n2\n3\n"
         b"3\n2\n0\n3\n2\n1\nEND00\nPALC0\n6\n0\n" + b"200\n100\n50\n100\n50\n25\n0\n" * 6
         + b"ENDP0\n",
         EDGE1 + b"FACE0\n3\n1\n0\n1\n1\n1\nEND00\n" + PAL3 + b"7\r\n",
         EDGE1 + b"FACE0\n3\n1\n0\n1\n1\n1\nEND00\n" + PAL3 + b"7\n",
         EDGE1 + b"FACE0\n1\n1\n0\n1\nEND00\n" + PAL3 + b"ENDP0\nPALC0",
         EDGE1 + b"FACE0\n1\n1\n0\n1\nEND00\n" + PAL3 + b"ENDP0\nPALC0\n",
         EDGE1 + b"FACE0\n1\n1\n0\n1\nEND00\n" + PAL3 + b"ENDP0\nPALC0\r\n",
         EDGE1 + b"FACE0\n1\n1\n0\n1\nEND00\nPALC0\n5\n0\n3\n4",
         EDGE1 + b"2\n5\n0\n0\n3\n4\n0\n0\nFACE0\n4\n0\n0\n1\n2\n1\n3\nEND00\n",
         EDGE1 + b"2\n3\n0\n0\nFACE0\n65535\n0\n0\n1\n2\n1\n",
         EDGE1 + b"2\n3\n0\n0\nFACE0\n65535\n0\n0\n1\n2\n2",
         b"ROKU4\nPOINT\nLINE0\n1\n1\n0\n0\n2\n3\n0\n0\nFACE0\n65535\n0\n0\n2\n1",
         EDGE1 + b"2\n3\n0\n0\nFACE0\n65536\n0\n0\n1\n2\n1\n",
         EDGE1 + b"FACE0\nEND00\nLINE2\n1\n0\n2\n0\r\n"]

SWEEP_LINES = (b"ROKU4 sweep|comment|POINT|0|1|2|3|4|1.5|-2.25d1|3e-1|0|1|2|3|4|-1|2|0.125|"
               b"0|1|2|3|4|7|7|7|LINE0|1|2|0|0|3|2|0|1|3|1|0|65536|FACE0|3|1|0|2|1|3|2|4|0|1|2|"
               b"END00|BAKC0|9|ENDB0|PALC0|2|0|200|100|50|100|50|25|0|255|255|255|0|0|0|0|ENDP0|"
               b"LINE2|1|0|1|0|3|0|0|0|ENDL2|VIEW0|1").split(b"|")


SWEEP_LINES = (b"ROKU4 sweep|comment|POINT|0|1|2|3|4|1.5|-2.25d1|3e-1|0|1|2|3|4|-1|2|0.125|"
               b"0|1|2|3|4|7|7|7|LINE0|1|2|0|0|3|2|0|1|3|1|0|65536|FACE0|3|1|0|2|1|3|2|4|0|1|2|"
               b"END00|BAKC0|9|ENDB0|PALC0|2|0|200|100|50|100|50|25|0|255|255|255|0|0|0|0|ENDP0|"
               b"LINE2|1|0|1|0|3|0|0|0|ENDL2|VIEW0|1").split(b"|")


def sweep_inputs():
    """One small model in every line-end style, with and without preamble, cut at every byte."""
    for eol in EOLS:
        for pre in (b"", b"\0" + b"p" * 127):
            full = pre + eol.join(SWEEP_LINES) + eol
            for cut in range(len(pre), len(full) + 1):
                yield full[:cut], "sweep eol=%r preamble=%d cut at %d" % (eol, bool(pre), cut)


def rand_int(rng, lo=-2, hi=20):
    return b"%d" % rng.randint(lo, hi) if rng.random() < 0.75 else rng.choice(ODD_INTS)


def rand_real(rng):
    r, f = rng.random(), struct.unpack(">f", struct.pack(">f", rng.uniform(-100, 100)))[0]
    mid = (f + struct.unpack(">f", (int.from_bytes(struct.pack(">f", f), "big") + 1).to_bytes(
        4, "big"))[0]) / 2      # halfway to the next float away from 0
    if r < 0.35:
        return b"%.6f" % rng.uniform(-3, 3)
    if r < 0.5:
        return repr(rng.uniform(-1e6, 1e6)).encode()
    if r < 0.6:     # x*8 rounds to one of the two floats
        return repr((mid + rng.choice([0.0, 0.0, 1e-15 * abs(f), -1e-15 * abs(f)])) / 8).encode()
    if r < 0.65:
        # exactly halfway between two doubles, at a single-precision midpoint once times 8:
        # only a correctly rounded reading lands on the right float; its exact decimal text
        x = Fraction(mid) / 8
        x += Fraction(math.ulp(float(x))) / 2 * rng.choice(
            [1, -1, 1 - Fraction(1, 10 ** 6), -1 + Fraction(1, 10 ** 6)])
        ip, fp = divmod(abs(x).numerator * 10 ** 80 // abs(x).denominator, 10 ** 80)
        text = "%s%d.%s" % ("-" * (x < 0), ip, ("%080d" % fp).rstrip("0") or "0")
        if len(text) <= 79:
            return text.encode()
    if r < 0.7:
        mant = b"%d.%d" % (rng.randint(0, 999), rng.randint(0, 10 ** 9))
        return mant + rng.choice([b"d", b"D", b"e", b"E"]) + b"%+d" % rng.randint(-50, 50)
    if r < 0.75:
        digits = "".join(rng.choice("0123456789") for _ in range(rng.randint(20, 70)))
        e = rng.choice(["", "", "d-330", "e-310", "D+300", "e-40", "d-44", "e38"])
        return ("%s.%s%s" % (digits[:rng.randint(1, 4)], digits[4:], e)).encode()
    if r < 0.8:     # single-precision subnormals and the overflow edge, where x and x*8 round apart
        v = rng.choice([rng.uniform(2.0 ** -152, 2.0 ** -120),
                        rng.uniform(3.3e38 / 8, 3.5e38 / 8)]) * rng.choice([1, -1])
        return (repr(v) if rng.random() < 0.7 else "%.9e" % v).encode().replace(
            b"e", rng.choice([b"e", b"d", b"E", b"D"]))
    return rng.choice(ODD_REALS)


def junk_line(rng):
    r = rng.random()
    return rand_int(rng) if r < 0.5 else rng.choice(
        [b"abc", b"# comment", b"POINT ", b" POINT", b"point", b"END0", b"PALC", b"ROKU4", b"\x00",
         b"\xff\xfe"]) if r < 0.7 else rng.choice(KEYWORDS) if r < 0.8 else rand_real(rng)


def synth(rng):
    """A random ROK model as a list of lines, rough around the edges."""
    pick = rng.choice
    L = [pick([b"ROKU4", b"ROKU4", b"ROKU4 1.0", b"ROKU41", b"ROKU4" + b"x" * 80, b"ROKU4POINT",
               b"ROKU4" + b"x" * 79 + b"POINT", b"ROKU4" + b"x" * 74, b"ROKU4" + b"x" * 73])]
    L += [junk_line(rng) for _ in range(pick([0, 0, 1, 3]))] + [b"POINT"]
    for _ in range(pick([0, 1, 2, 3, 4, 5, 6, 8])):
        L += [junk_line(rng) if rng.random() < 0.3 else rand_int(rng) for _ in range(5)]
        L += [rand_real(rng) for _ in range(3)]
    # edges: a few closed rings over a small pool of point numbers, odd edges, and a tangle of
    # edges over three points only, where many edges meet at each joint
    pool = [1, 2, 3, 4, 5, 6] + rng.sample([0, -1, 7, 8, 65537, 65536, 131073, 2147483647,
                                            -2147483648, 100000], 3)
    edges, rings = [], []
    for k in (rng.randint(2, 6) for _ in range(pick([0, 1, 1, 2, 3]))):
        pts = rng.sample(pool, k)
        edges += [e[::pick([1, -1])] for e in zip(pts, pts[1:] + pts[:1])]
        rings.append(list(range(len(edges) - k + 1, len(edges) + 1)))
    for a in (pick(pool) for _ in range(pick([0, 0, 1, 2, 4]))):
        edges.append((a, a if rng.random() < 0.3 else pick(pool)))
    k = pick([0, 0, 3, 6])
    edges += [(rng.randint(1, 3), rng.randint(1, 3)) for _ in range(k)]
    tangle = list(range(len(edges) - k + 1, len(edges) + 1)) or list(range(1, len(edges) + 1))
    L.append(b"LINE0")
    for a, b in edges:
        L += [b"%d" % a, b"%d" % b, rand_int(rng),
              pick([b"0", b"0", b"1", b"65536", b"-65536", b"2", b"131072", b"x"])]
    L.append(b"FACE0")
    ne = len(edges)
    for _ in range(pick([0, 1, 2, 3, 4, 6])):
        r = rng.random()
        if rings and r < 0.5:
            refs = list(pick(rings))
            rng.shuffle(refs)
        elif r < 0.8:
            refs = [rng.randint(1, max(ne, 1)) for _ in range(rng.randint(0, 6))]
        elif r < 0.85 and ne:   # a broken chain that lists an edge twice: the walk must resume
            refs = [rng.randint(1, ne) for _ in range(rng.randint(2, 5))]
            refs.insert(rng.randint(0, len(refs)), pick(refs))
        elif r < 0.9 or not ne:
            refs = [pick([0, -1, ne, ne + 1, 1, 65536 + 1]) for _ in range(rng.randint(1, 3))]
        else:
            refs = [pick(tangle) for _ in range(rng.randint(1, 8))]
        n = b"%d" % len(refs)
        if rng.random() < 0.05:
            n = pick([b"%d" % (len(refs) + (1 << 32)), b" +" + n, n + b"z", b"\t" + n + b"\0 9"])
        if rng.random() < 0.08:
            n = pick([b"-1", b"-3", b"65535", b"65536", b"70000", b"2000000000", b"0"])
        colour = rand_int(rng, 0, 17) if rng.random() < 0.9 else pick(
            [b"-1", b"16", b"4294967297", b"2147483647"])
        L += [n, colour, rand_int(rng)] + [b"%d" % (e - (1 << 32) * (rng.random() < 0.05))
                                           for e in refs]
    if rng.random() < 0.03:     # a face that runs into the end of the file
        return L + [pick([b"65535", b"65536", b"%d" % rng.randint(2, 70000), b"2000000000"]),
                    rand_int(rng, 0, 3), b"0"] + [b"%d" % rng.randint(1, ne or 1)
                                                  for _ in range(rng.randint(0, 3))]
    L.append(b"END00")
    for r in (rng.random() for _ in range(pick([0, 1, 2, 3, 4]))):
        if r < 0.35:
            n = pick([0, 1, 2, 3, 5, 16, 17, 18, -1, -2])
            L += [b"PALC0", b"%d" % n, rand_int(rng)]
            for _ in range(max(n, 0)):
                L += [b"%d" % rng.randint(0, 255) if rng.random() < 0.8 else pick(
                      [b"-1", b"256", b"1000", b"-1000", b"2147483647", b"-2147483648", b"300",
                       b"511", b"x", b"-255", b"1785", b"2000", b"600", b"-3",
                       b"%d" % rng.randint(-3000, 3000), b"%d" % rng.randint(-2**31, 2**31 - 1)])
                      for _ in range(6)] + [rand_int(rng)]
            L += [junk_line(rng)] * (rng.random() < 0.3) + [b"ENDP0"] * (rng.random() < 0.9)
        elif r < 0.55:
            L.append(b"LINE2")
            for _ in range(rng.randint(0, 4)):
                L += [b"%d" % rng.randint(0, ne + 1), rand_int(rng), rand_int(rng, -1, 17),
                      rand_int(rng)]
            L += [b"ENDL2"] * (rng.random() < 0.8)
        elif r < 0.8:
            k = pick(list(rokref.SKIPPED))
            L += [k] + [junk_line(rng) for _ in range(rng.randint(0, 5))]
            L += [rokref.SKIPPED[k]] * (rng.random() < 0.85)
        else:
            L.append(junk_line(rng))
    return L


def mutate_lines(rng, L):
    for _ in range(rng.choice([0, 0, 1, 1, 2, 3])):
        if not L:
            break
        i = rng.randrange(len(L))
        x, j, tail = L[i], rng.randrange(len(L[i]) + 1), L[i + 1:i + 2]
        # a line around the 79-byte split, sometimes ending in a keyword
        long = bytes(rng.choice(b"0123456789 ab") for _ in range(rng.choice(
            [77, 78, 79, 80, 81, 100, 157, 158, 159, 200]))) + rng.choice(
                [b"", b"", rng.choice(KEYWORDS)])
        L[i:i + 2] = rng.choice([
            [], [x, x], [rng.choice(KEYWORDS), x], [b"", x], [rng.choice(ODD_INTS)],
            [rand_real(rng)], [long, x], [x[:j] + b"\0" + x[j:]],
            [rng.choice([b"2000000000", b"-2000000000"])]]) + tail if rng.random() < 0.9 else \
            tail + [x]
    return L


def join_lines(rng, L):
    style = rng.randrange(5)     # one line end for all, or mixed
    eols = [EOLS[style] if style < 4 else rng.choice(
        EOLS + [b"\n\n", b"\r\r", b"\r\n\r\n", b"\n\r\n"]) for _ in L]
    out = b"".join(map(bytes.__add__, L, eols))
    # sometimes the last line without its terminator
    return out[:len(out) - len(eols[-1])] if L and rng.random() < 0.25 else out


def preamble(rng, data):
    r = rng.random()
    return data if r < 0.7 else (b"\0" + bytes(rng.randrange(256) for _ in range(127)) if r < 0.9
                                 else rng.choice([b"\0" * 127, b"\0" * 129, b"\x01" + b"\0" * 127,
                                                  b"\0"])) + data


def mutate_bytes(rng, data):
    d = bytearray(data)
    for _ in range(rng.choice([0, 0, 0, 1, 1, 2, 4])):
        if d:
            i = rng.randrange(len(d))
            c = d[i]
            d[i:i + 1] = rng.choice([
                [c ^ 1 << rng.randrange(8)], b"", b"\0" + bytes([c]), [{13: 10, 10: 13}.get(c, c)],
                rng.choice([b"\r", b"\n", b"\r\n", b"\n\r", b"\r\r", b"\n\n"]) + bytes([c]),
                [rng.choice(b"0123456789-+.dDeE \t\r\n\0")]])
    return bytes(d)


def generated(rng, rokgen):
    """(input, label): synth's model or one of rokgen's, mangled."""
    if rng.random() >= 0.4:
        data = mutate_bytes(rng, preamble(rng, join_lines(rng, mutate_lines(rng, synth(rng)))))
        return data[:rng.randrange(len(data) + 1)] if data and rng.random() < 0.2 else data, \
            "synthetic"
    kind = rng.random()
    args = ["grid", str(rng.choice([1, 2, 3, 4, 6, 9, 12, 20, 40] * 40 + [2000]))] \
        if kind < 0.35 else ["ring", str(rng.choice([3, 4, 5, 7, 12, 30, 100] * 60 + [65535]))] \
        if kind < 0.55 else ["damaged", rng.choice(
            ["truncated", "huge-face", "huge-palette", "negative-count", "edge-range"])]
    args += ["--at", str(rng.randrange(1, 3000))] * (args[1] == "truncated" and rng.random() < 0.8)
    args += ["--seed", str(rng.randrange(1, 1 << 30)), "--eol",
             rng.choice(["lf", "crlf", "lfcr", "cr"])] + ["--preamble"] * (rng.random() < 0.4)
    data = subprocess.run([rokgen] + args, check=True, stdout=subprocess.PIPE).stdout
    label, r = "rokgen " + " ".join(args), rng.random()
    if r < 0.25:
        data = data[:rng.randrange(len(data) + 1)]
        label += " | cut at %d" % len(data)
    elif r < 0.45:
        data, label = mutate_bytes(rng, data), label + " | byte mutations"
    elif r < 0.6:
        start = 128 if data[:1] == b"\0" else 0
        data = data[:start] + join_lines(rng, mutate_lines(
            rng, re.split(rb"\r\n|\n\r|\r|\n", data[start:])))
        label += " | line mutations, new line ends"
    return data, label


# input name -> output name: after the last / \ or :, the extension replaced by .LWO
NAMES = {b"car.rok": b"car.LWO", b"a.b.rok": b"a.b.LWO", b"car": b"car.LWO", b".rok": b".LWO",
         b"Model.Rok": b"Model.LWO", b"x.ROK": b"x.LWO", b"a:b.rok": b"b.LWO",
         b"a\\b.rok": b"b.LWO", b"dir/sub/Model.Rok": b"Model.LWO", b"d.x/car": b"car.LWO",
         b"a.b\\c": b"c.LWO", b"a..": b"a..LWO", b"a.": b"a.LWO", b"./--help.rok": b"--help.LWO",
         b"\xc3\xa9t\xc3\xa9.rok": b"\xc3\xa9t\xc3\xa9.LWO", b"x:y:z": b"z.LWO",
         b"sub/.hidden.rok": b".hidden.LWO", b"in.rok": b"in.LWO"}


def run_rokconv(rokconv, data, work, name):
    """(problem, output or None) of converting `data` saved as `name` in the empty folder `work`."""
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(os.path.join(work, os.path.dirname(name)))
    with open(os.path.join(work, name), "wb") as f:
        f.write(data)
    before = set(os.listdir(work))
    # a name that begins with "-" would be an option: such files are given as ./-name
    p = subprocess.run([rokconv, name], cwd=work, capture_output=True, timeout=20)
    new = set(os.listdir(work)) - before
    if p.returncode or p.stderr or p.stdout or new - {NAMES[name]}:
        return "exit %d, stdout %r, stderr %r, files %r written, expected at most %r" % (
            p.returncode, p.stdout, p.stderr, sorted(new), NAMES[name]), None
    if not new:
        return None, None
    with open(os.path.join(work, NAMES[name]), "rb") as f:
        return None, f.read()


def describe(exp, got):
    """Where the output `got` first differs from `exp`: the chunk, and the bytes around it."""
    if exp is None or got is None:
        return "%s wrote no file" % ("rokref" if exp is None else "rokconv")
    off = next((i for i, (a, b) in enumerate(zip(exp, got)) if a != b), min(len(exp), len(got)))
    tag = next((t.decode("latin-1") for t, body, size in rokref.chunks(exp)
                if body - 8 <= off < body + size), "FORM")
    return "first difference at byte %d (%s); sizes %d (rokref) vs %d (rokconv)\n      rokref:  " \
        "%s\n      rokconv: %s" % (off, tag, len(exp), len(got), exp[max(off - 8, 0):off + 16].hex(
            " "), got[max(off - 8, 0):off + 16].hex(" "))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--rokconv", help="the rokconv program to compare with")
    ap.add_argument("--rokgen", help="rokgen (default: next to rokconv in tests/support/)")
    ap.add_argument("--count", type=int, default=2000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--keep", help="directory for the inputs that differ (default: a temp dir)")
    ap.add_argument("--break", dest="brk", default="none", choices=["list"] + list(rokref.BREAKS))
    ap.add_argument("--sweep", action="store_true", help="also cut a small model at every byte")
    a = ap.parse_args()
    if a.brk == "list":
        return print("\n".join("%-20s %s" % rule for rule in rokref.BREAKS.items()))
    rokref.BROKEN = a.brk
    rokconv = os.path.abspath(a.rokconv or ap.error("--rokconv is needed"))
    rokgen = a.rokgen or os.path.join(os.path.dirname(rokconv), "tests", "support", "rokgen")
    if not os.path.exists(rokgen):
        ap.error("no rokgen at %s (--rokgen)" % rokgen)
    tmp = tempfile.mkdtemp(prefix="crosscheck-")
    keep, work = a.keep or os.path.join(tmp, "mismatch"), os.path.join(tmp, "work").encode()
    os.makedirs(keep, exist_ok=True)
    rng = random.Random(a.seed)

    def inputs():
        with open(os.path.join(ROOT, "examples", "cube.rok"), "rb") as f:
            cube = f.read()
        yield from ((cube, "name %r" % n, n) for n in NAMES)
        for p in sorted(glob.glob(os.path.join(ROOT, "fuzz", "corpus", "*.rok"))) + sorted(
                glob.glob(os.path.join(ROOT, "examples", "*.rok"))):
            with open(p, "rb") as f:
                yield f.read(), "file " + os.path.relpath(p, ROOT), b"in.rok"
        yield from ((data, "file fixed-%d" % i, b"in.rok") for i, data in enumerate(FIXED))
        yield from ((data, label, b"in.rok") for data, label in sweep_inputs() if a.sweep)
        yield from (generated(rng, rokgen) + (b"in.rok",) for _ in range(a.count))

    stats, mismatches = collections.Counter(), 0
    for data, label, name in inputs():
        exp = rokref.convert(data)
        stats.update([label.split()[0]] + ["no output"] * (exp is None))
        err, got = run_rokconv(rokconv, data, work, name)
        diff = err or (exp != got and describe(exp, got))
        if diff:
            mismatches += 1
            path = os.path.join(keep, "mismatch-%04d.rok" % mismatches)
            with open(path, "wb") as f:
                f.write(data)
            if exp is not None:
                with open(path[:-4] + ".expected.LWO", "wb") as f:
                    f.write(exp)
            if mismatches <= 20:
                print("MISMATCH %s (%s, %d bytes)\n    %s" % (path, label, len(data), diff))
    print("compared %d inputs (%d rokgen-based, %d synthetic, %d files, %d cut-short sweeps, "
          "%d output names; %d not ROK files): %d mismatches%s"
          % (sum(stats.values()) - stats["no output"], stats["rokgen"], stats["synthetic"],
             stats["file"], stats["sweep"], stats["name"], stats["no output"], mismatches,
             ", inputs in " + keep if mismatches else ""))
    shutil.rmtree(work if mismatches and not a.keep else tmp)
    if a.keep and not os.listdir(keep):
        os.rmdir(keep)
    return 1 if mismatches else 0


if __name__ == "__main__":
    sys.exit(main())
