#!/usr/bin/env python3
"""Second, independent ROK -> LWOB converter, and a driver that compares it with rokconv.

The model below is written from the format description and the choices listed in the README
("Damaged files"); it shares no code with src/. It emulates the byte stream that the converter
reads (end-of-file flag set only by a read that finds nothing, one byte of push-back, the 79-byte
line split, the 128-byte preamble with its five-byte block read and relative seek) and writes the
whole LWOB file.

    tools/crosscheck.py --rokconv build/rokconv [--rokgen build/tools/rokgen]
                        [--count N] [--seed S] [--sweep] [--coverage] [--keep DIR] [--break RULE]

converts fuzz/corpus/*.rok, examples/*.rok and a list of hand-made edge cases, then N generated
inputs (rokgen grids, rings and damaged kinds in every line-end style, with and without preamble,
cut at random bytes; our own random models with odd numbers, tangled and broken faces, odd
palettes and blocks; line and byte mutations of both: deleted, repeated and swapped lines,
keywords, huge counts, long lines around the 79-byte split, zero bytes, CR/LF changes). `--sweep`
adds one small model cut at every byte in every line-end style. Each input is converted with
rokconv (exit status, silence, no stray files) and with the model here, and every input whose
output differs is reported: the saved input, the first differing offset and the chunk and record
it lies in. The output naming is checked too. The exit status is 1 when anything differs;
`--coverage` shows how often each damaged-file rule was exercised.

`--break RULE` changes one rule of the model on purpose, to show that the comparison catches it
(`--break list` names the rules). `tools/crosscheck.py FILE.rok -o OUT.LWO` just converts one
file with the model.
"""

import argparse
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

CR, LF = 13, 10
WS = b" \t\n\v\f\r"

# Rules that --break can change, to show that the comparison can fail.
BREAKS = {
    "none": "model as documented",
    "ring-first-wins": "ring search prefers an edge starting at the joint to a lower-listed "
                       "edge ending there",
    "ring-resume-last": "a broken ring resumes at the highest-listed unvisited edge",
    "specular-no-cap": "SPEC is 0 instead of 64 when there is no headroom",
    "crlf-no-extra": "a final CR LF pair sets the end-of-file flag at once (no extra empty line)",
    "split-80": "lines are split after 80 bytes instead of 79",
    "line-flag-32": "the line flag keeps 32 bits instead of 16",
    "colour-out-zero": "colours outside 0-15 get surface number 0",
    "no-d-exponent": "reals do not accept d/D exponents",
    "preamble-ignored": "the 128-byte preamble is not recognised",
}
BROKEN = "none"
SEEN = {}           # how often each rule was exercised, for --coverage


def seen(what):
    SEEN[what] = SEEN.get(what, 0) + 1


# ----------------------------------------------------------------------------------------------
# Input stream and line reader
# ----------------------------------------------------------------------------------------------

class Stream:
    """A buffered binary input stream as the reader sees it."""

    def __init__(self, data):
        self.data = data
        self.pos = 0
        self.eof = False
        self.back = -1

    def getc(self):
        if self.back >= 0:
            c, self.back = self.back, -1
            return c
        if self.pos >= len(self.data):
            self.eof = True
            return -1
        c = self.data[self.pos]
        self.pos += 1
        return c

    def ungetc(self, c):
        self.back = c

    def read(self, n):
        out = bytearray()
        if self.back >= 0 and n > 0:
            out.append(self.back)
            self.back = -1
        take = self.data[self.pos:self.pos + (n - len(out))]
        self.pos += len(take)
        out += take
        if len(out) < n:
            self.eof = True
        return bytes(out)

    def seek_cur(self, off):
        here = self.pos - (1 if self.back >= 0 else 0)
        self.back = -1
        self.pos = max(here + off, 0)
        self.eof = False


class LineReader:
    """The 80-byte line buffer and text_line."""

    def __init__(self, stream):
        self.s = stream
        self.buf = b""          # bytes stored by the last call that returned the buffer
        self.limit = 80 if BROKEN == "split-80" else 79

    def next(self):
        s = self.s
        if s.eof:
            return False
        out = bytearray()
        while len(out) < self.limit:
            c = s.getc()
            if c < 0:
                break
            if c == CR or c == LF:
                d = s.getc()
                if d < 0:
                    break
                if d == c or (d != CR and d != LF):
                    s.ungetc(d)
                elif BROKEN == "crlf-no-extra" and s.pos >= len(s.data) and s.back < 0:
                    s.eof = True
                break
            out.append(c)
        self.buf = bytes(out)
        if len(out) == self.limit:
            seen("line: split at 79 bytes")
        if b"\0" in self.buf:
            seen("line: zero byte")
        return True

    @property
    def text(self):
        """The line as a C string: up to its first zero byte."""
        i = self.buf.find(b"\0")
        return self.buf if i < 0 else self.buf[:i]


def to_int(line):
    """Decimal integer: white space, sign, digits; wraps modulo 2^32 to signed 32 bits."""
    i, n = 0, len(line)
    while i < n and line[i] in WS:
        i += 1
    neg = False
    if i < n and line[i] in b"+-":
        neg = line[i] == 0x2D
        i += 1
    v = 0
    while i < n and 0x30 <= line[i] <= 0x39:
        v = (v * 10 + line[i] - 0x30) & 0xFFFFFFFF
        i += 1
    if neg:
        v = (-v) & 0xFFFFFFFF
    return v - (1 << 32) if v >= (1 << 31) else v


REAL_RE = re.compile(rb"[ \t\n\v\f\r]*([+-]?)([0-9]*)(?:\.([0-9]*))?")
EXP_RE = re.compile(rb"[eEdD]([+-]?[0-9]+)")
EXP_RE_NO_D = re.compile(rb"[eE]([+-]?[0-9]+)")


def to_real(line):
    """Decimal real, correctly rounded; e, E, d or D for the exponent; 0.0 without a number."""
    m = REAL_RE.match(line)
    sign, ip, fp = m.group(1), m.group(2), m.group(3) or b""
    if not ip and not fp:
        return 0.0
    text = sign + (ip or b"0") + b"." + (fp or b"0")
    e = (EXP_RE_NO_D if BROKEN == "no-d-exponent" else EXP_RE).match(line, m.end())
    if e:
        text += b"e" + e.group(1)
        if e.group(0)[:1] in b"dD":
            seen("real: d exponent")
    return float(text.decode("ascii"))


# ----------------------------------------------------------------------------------------------
# ROK reader
# ----------------------------------------------------------------------------------------------

class Model:
    def __init__(self):
        self.points = []        # (x, y, z) doubles
        self.edges = []         # (first, second, flag16)
        self.polys = []         # (colour, [edge index, ...]); one index and line=True for LINE2
        self.pal_count = 0
        self.pal = []           # first min(count, 16) entries, each 6 ints


def load_rok(data):
    """Return a Model, or None when the data is not a ROK file."""
    s = Stream(data)
    magic = s.read(5)
    if BROKEN != "preamble-ignored" and len(magic) >= 1 and magic[0] == 0:
        s.seek_cur(123)
        magic = s.read(5)
        seen("magic: preamble" + (" accepted" if magic == b"ROKU4" else " rejected"))
    if magic != b"ROKU4":
        return None
    r = LineReader(s)
    m = Model()

    def ints(count, take):
        """Read `count` lines as integers, handing each of the first `take` values back.
        After the end of the file every further line repeats the buffer, so the rest of the
        count is settled without reading."""
        vals = []
        for i in range(count):
            if s.eof:
                v = to_int(r.text)
                vals.extend([v] * (min(count, take) - len(vals)))
                return vals
            r.next()
            if i < take:
                vals.append(to_int(r.text))
        return vals

    r.next()                                         # the rest of the magic's line
    while not s.eof:                                 # up to POINT
        r.next()
        if r.text == b"POINT":
            break
    while not s.eof:                                 # points
        r.next()
        if r.text == b"LINE0":
            break
        if s.eof and not r.buf:
            seen("reader: record opened by the empty line at the end")
        for _ in range(4):
            r.next()
        xyz = []
        for _ in range(3):
            r.next()
            xyz.append(to_real(r.text))
        m.points.append(tuple(xyz))
    while not s.eof:                                 # edges
        r.next()
        if r.text == b"FACE0":
            break
        a = to_int(r.text)
        r.next()
        b = to_int(r.text)
        r.next()
        r.next()
        f = to_int(r.text)
        if BROKEN != "line-flag-32":
            f &= 0xFFFF
        m.edges.append((a, b, f))
    while not s.eof:                                 # faces
        r.next()
        if r.text == b"END00":
            break
        n = to_int(r.text)
        r.next()
        colour = to_int(r.text)
        r.next()
        count = max(n, 0)
        refs = ints(count, count if n <= 65535 else 0)
        if n < 0 or n > 65535:
            seen("face: dropped for its count")
            continue
        if all(1 <= e <= len(m.edges) for e in refs):
            m.polys.append((colour, [e - 1 for e in refs], False))
            seen("face: kept, %s edges" % ("0" if n == 0 else "1" if n == 1 else "2+"))
        else:
            seen("face: dropped for an edge number")
    while not s.eof:                                 # trailing blocks
        r.next()
        key = r.text
        if key == b"PALC0":
            r.next()
            n = to_int(r.text)
            m.pal_count = n
            seen("palette: count %s" % ("< 0" if n < 0 else "> 16" if n > 16 else "0-16"))
            r.next()
            flat = ints(7 * max(n, 0), 7 * 16)
            m.pal = [flat[7 * i:7 * i + 6] for i in range(len(flat) // 7)]
            while not s.eof:
                r.next()
                if r.text == b"ENDP0":
                    break
        elif key in (b"BAKC0", b"LIT00", b"VIEW0"):
            end = {b"BAKC0": b"ENDB0", b"LIT00": b"ENDL0", b"VIEW0": b"ENDV0"}[key]
            while not s.eof:
                r.next()
                if r.text == end:
                    break
        elif key == b"LINE2":
            while not s.eof:
                r.next()
                if r.text == b"ENDL2":
                    break
                e = to_int(r.text)
                r.next()
                r.next()
                colour = to_int(r.text)
                r.next()
                if 1 <= e <= len(m.edges) and m.edges[e - 1][2] == 0:
                    m.polys.append((colour, [e - 1], True))
                    seen("line2: kept")
                else:
                    seen("line2: left out")
    return m


# ----------------------------------------------------------------------------------------------
# LWOB writer
# ----------------------------------------------------------------------------------------------

def u2(v):
    return (v & 0xFFFF).to_bytes(2, "big")


def u4(v):
    return (v & 0xFFFFFFFF).to_bytes(4, "big")


FLT_EDGE = 2.0 ** 128 - 2.0 ** 103      # halfway between FLT_MAX and 2^128: rounds to infinity


def f4(v):
    if v != v:
        return struct.pack(">f", v)
    if abs(v) >= FLT_EDGE:
        return struct.pack(">f", float("inf") if v > 0 else float("-inf"))
    return struct.pack(">f", v)


def tdiv(a, b):
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def name(i):
    b = b"ROK%d\0" % i
    return b + b"\0" if len(b) % 2 else b


def ring(edges):
    """Vertex ring of a face given as a list of (first, second)."""
    n = len(edges)
    firsts, seconds = {}, {}
    for k, (a, b) in enumerate(edges):
        firsts.setdefault(a, []).append(k)
        seconds.setdefault(b, []).append(k)

    def lowest(lst, cur):
        if not lst:
            return None
        return lst[0] if lst[0] != cur else (lst[1] if len(lst) > 1 else None)

    out = []
    visited = [False] * n
    scan = 0
    cur, fwd = 0, True
    while len(out) < n:
        visited[cur] = True
        a, b = edges[cur]
        if fwd:
            out.append(a)
            joint = b
        else:
            out.append(b)
            joint = a
        kf = lowest(firsts.get(joint), cur)
        ks = lowest(seconds.get(joint), cur)
        if kf is not None and ks is not None:
            seen("ring: an edge starts and another ends at the joint")
        if BROKEN == "ring-first-wins" and kf is not None:
            cur, fwd = kf, True
        elif kf is not None and (ks is None or kf <= ks):
            cur, fwd = kf, True
        elif ks is not None:
            cur, fwd = ks, False
        elif len(out) < n:
            seen("ring: resumed")
            if BROKEN == "ring-resume-last":
                cur = max(k for k in range(n) if not visited[k])
            else:
                while visited[scan]:
                    scan += 1
                cur = scan
            fwd = True
        else:
            break
    return out


def surf(i, c):
    d = bytearray(name(i))
    r, g, b = (tdiv(c[0] + c[3], 2), tdiv(c[1] + c[4], 2), tdiv(c[2] + c[5], 2))
    d += b"COLR" + u2(4) + bytes([r & 0xFF, g & 0xFF, b & 0xFF, 0])
    d += b"FLAG" + u2(2) + u2(0x0104)
    d += b"SMAN" + u2(4) + bytes.fromhex("3F46D3F2")
    d += b"DIFF" + u2(2) + u2(256)
    d += b"TRAN" + u2(2) + u2(0)
    l1 = 2 * c[0] + 4 * c[1] + c[2]
    l2 = 2 * c[3] + 4 * c[4] + c[5]
    if l2 < l1:
        a = tdiv(l1 + l2, 2)
        if 1785 - a <= 0:
            seen("surf: no headroom")
            level = 0 if BROKEN == "specular-no-cap" else 64
        else:
            level = tdiv(tdiv((l1 - a) * 256, 1785 - a), 4)
    else:
        level = 0
    d += b"SPEC" + u2(2) + u2(level)
    d += b"GLOS" + u2(2) + u2(0)
    return bytes(d)


def save_lwob(m):
    used = [False] * 16
    for colour, _, _ in m.polys:
        if 0 <= colour < 16:
            used[colour] = True
    number, counter = [0] * 16, 0
    for i in range(16):
        if used[i]:
            counter += 1
            number[i] = counter
    other = 0 if BROKEN == "colour-out-zero" else counter + 1

    def surface(colour):
        if not 0 <= colour < 16:
            seen("surface: colour outside 0-15")
        return number[colour] if 0 <= colour < 16 else other

    named = [i for i in range(min(m.pal_count, 16)) if used[i]]
    srfs = b"".join(name(i) for i in named)
    pnts = b"".join(f4(x * 8.0) + f4(y * -8.0) + f4(z * 8.0) for x, y, z in m.points)
    if any(abs(v) >= FLT_EDGE / 8 for p in m.points for v in p):
        seen("pnts: beyond single precision")
    pols = bytearray()
    for colour, refs, _ in m.polys:
        es = [m.edges[k] for k in refs]
        if len(es) == 1:
            pols += u2(2) + u2(es[0][0] - 1) + u2(es[0][1] - 1)
        else:
            pols += u2(len(es))
            for p in ring([(a, b) for a, b, _ in es]):
                pols += u2(p - 1)
        pols += u2(surface(colour))
    body = bytearray(b"LWOB")
    for tag, data in ((b"SRFS", srfs), (b"PNTS", pnts), (b"POLS", bytes(pols))):
        body += tag + u4(len(data)) + data
    for i in named:
        data = surf(i, m.pal[i])
        body += b"SURF" + u4(len(data)) + data
    return b"FORM" + u4(len(body)) + bytes(body)


def convert(data):
    m = load_rok(data)
    return None if m is None else save_lwob(m)


# ----------------------------------------------------------------------------------------------
# Describing a difference
# ----------------------------------------------------------------------------------------------

def locate(out, off):
    """Name the chunk (and record) of `out` that holds byte offset `off`."""
    if off < 12:
        return "FORM header"
    p = 12
    while p + 8 <= len(out):
        tag = out[p:p + 4].decode("latin-1")
        ln = int.from_bytes(out[p + 4:p + 8], "big")
        end = p + 8 + ln
        if off < end:
            rel = off - p - 8
            if rel < 0:
                return "%s chunk header" % tag
            extra = ""
            if tag == "PNTS":
                extra = ", point %d coordinate %d" % (rel // 12 + 1, rel % 12 // 4)
            elif tag == "POLS":
                q, k = p + 8, 0
                while q < end:
                    n = int.from_bytes(out[q:q + 2], "big")
                    if off < q + 4 + 2 * n:
                        extra = ", polygon %d (%d vertices)" % (k + 1, n)
                        break
                    q += 4 + 2 * n
                    k += 1
            elif tag == "SURF":
                nm = out[p + 8:end].split(b"\0")[0].decode("latin-1")
                extra = " %s" % nm
                body = out[p + 8:end]
                q = len(nm) + 1 + ((len(nm) + 1) & 1)
                while q + 6 <= len(body):
                    sl = int.from_bytes(body[q + 4:q + 6], "big")
                    if rel < q + 6 + sl:
                        extra += ", sub-chunk %s" % body[q:q + 4].decode("latin-1")
                        break
                    q += 6 + sl
            return "%s chunk, byte %d of its data%s" % (tag, rel, extra)
        p = end
    return "after the last chunk"


def describe(exp, got):
    if exp is None and got is None:
        return None
    if exp is None:
        return "model: not a ROK file (no output); rokconv wrote %d bytes" % len(got)
    if got is None:
        return "model: %d bytes of output; rokconv wrote no file" % len(exp)
    if exp == got:
        return None
    off = next((i for i in range(min(len(exp), len(got))) if exp[i] != got[i]),
               min(len(exp), len(got)))
    lo = max(off - 8, 0)
    return ("first difference at byte %d (%s); sizes %d (model) vs %d (rokconv)\n"
            "      model:   %s\n      rokconv: %s"
            % (off, locate(exp, off), len(exp), len(got),
               exp[lo:off + 16].hex(" "), got[lo:off + 16].hex(" ")))


# ----------------------------------------------------------------------------------------------
# Inputs
# ----------------------------------------------------------------------------------------------

EOLS = {"lf": b"\n", "crlf": b"\r\n", "lfcr": b"\n\r", "cr": b"\r"}
KEYWORDS = [b"POINT", b"LINE0", b"FACE0", b"END00", b"PALC0", b"ENDP0", b"BAKC0", b"ENDB0",
            b"LIT00", b"ENDL0", b"VIEW0", b"ENDV0", b"LINE2", b"ENDL2"]
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
         b"ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\nFACE0\n3\n1\n0\n1\n1\n1\nEND00\nPALC0\n3\n0\n"
         b"255\n255\n255\n0\n0\n0\n0\n255\n255\n255\n0\n0\n0\n0\n7\r\n",
         b"ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\nFACE0\n3\n1\n0\n1\n1\n1\nEND00\nPALC0\n3\n0\n"
         b"255\n255\n255\n0\n0\n0\n0\n255\n255\n255\n0\n0\n0\n0\n7\n",
         b"ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\nFACE0\n1\n1\n0\n1\nEND00\nPALC0\n3\n0\n"
         b"255\n255\n255\n0\n0\n0\n0\n255\n255\n255\n0\n0\n0\n0\nENDP0\nPALC0",
         b"ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\nFACE0\n1\n1\n0\n1\nEND00\nPALC0\n3\n0\n"
         b"255\n255\n255\n0\n0\n0\n0\n255\n255\n255\n0\n0\n0\n0\nENDP0\nPALC0\n",
         b"ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\nFACE0\n1\n1\n0\n1\nEND00\nPALC0\n3\n0\n"
         b"255\n255\n255\n0\n0\n0\n0\n255\n255\n255\n0\n0\n0\n0\nENDP0\nPALC0\r\n",
         b"ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\nFACE0\n1\n1\n0\n1\nEND00\nPALC0\n5\n0\n3\n4",
         b"ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\n2\n5\n0\n0\n3\n4\n0\n0\nFACE0\n"
         b"4\n0\n0\n1\n2\n1\n3\nEND00\n",
         b"ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\n2\n3\n0\n0\nFACE0\n65535\n0\n0\n1\n2\n1\n",
         b"ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\n2\n3\n0\n0\nFACE0\n65535\n0\n0\n1\n2\n2",
         b"ROKU4\nPOINT\nLINE0\n1\n1\n0\n0\n2\n3\n0\n0\nFACE0\n65535\n0\n0\n2\n1",
         b"ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\n2\n3\n0\n0\nFACE0\n65536\n0\n0\n1\n2\n1\n",
         b"ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\nFACE0\nEND00\nLINE2\n1\n0\n2\n0\r\n"]


def decimal_text(x, digits=80):
    """Decimal text of the rational x, exact when it terminates within `digits` places."""
    sign = "-" if x < 0 else ""
    x = abs(x)
    ip = x.numerator // x.denominator
    rest = x - ip
    out = []
    while rest and len(out) < digits:
        rest *= 10
        d = rest.numerator // rest.denominator
        out.append(str(d))
        rest -= d
    return "%s%d.%s" % (sign, ip, "".join(out) or "0")


SWEEP_LINES = [b"ROKU4 sweep", b"comment", b"POINT",
               b"0", b"1", b"2", b"3", b"4", b"1.5", b"-2.25d1", b"3e-1",
               b"0", b"1", b"2", b"3", b"4", b"-1", b"2", b"0.125",
               b"0", b"1", b"2", b"3", b"4", b"7", b"7", b"7",
               b"LINE0", b"1", b"2", b"0", b"0", b"3", b"2", b"0", b"1", b"3", b"1", b"0", b"65536",
               b"FACE0", b"3", b"1", b"0", b"2", b"1", b"3", b"2", b"4", b"0", b"1", b"2",
               b"END00", b"BAKC0", b"9", b"ENDB0", b"PALC0", b"2", b"0",
               b"200", b"100", b"50", b"100", b"50", b"25", b"0",
               b"255", b"255", b"255", b"0", b"0", b"0", b"0", b"ENDP0",
               b"LINE2", b"1", b"0", b"1", b"0", b"3", b"0", b"0", b"0", b"ENDL2", b"VIEW0", b"1"]


def sweep_inputs():
    """The same small model in every line-end style, with and without preamble, cut at every
    byte."""
    for eol in (b"\n", b"\r\n", b"\n\r", b"\r"):
        for pre in (b"", b"\0" + b"p" * 127):
            full = pre + eol.join(SWEEP_LINES) + eol
            for cut in range(len(pre), len(full) + 1):
                yield full[:cut], "sweep eol=%r preamble=%d cut at %d" % (eol, bool(pre), cut)


def rand_int(rng, lo=-2, hi=20):
    r = rng.random()
    if r < 0.75:
        return b"%d" % rng.randint(lo, hi)
    return rng.choice(ODD_INTS)


def rand_real(rng):
    r = rng.random()
    if r < 0.35:
        return b"%.6f" % rng.uniform(-3, 3)
    if r < 0.5:
        return repr(rng.uniform(-1e6, 1e6)).encode()
    if r < 0.6:
        # a double between two floats: x*8 rounds to one of them
        f = struct.unpack(">f", struct.pack(">f", rng.uniform(-100, 100)))[0]
        nxt = struct.unpack(">f", (int.from_bytes(struct.pack(">f", f), "big") + 1)
                            .to_bytes(4, "big"))[0]
        mid = (f + nxt) / 2 + rng.choice([0.0, 0.0, 1e-15 * abs(f), -1e-15 * abs(f)])
        return repr(mid / 8).encode()
    if r < 0.65:
        # exactly halfway between two doubles, at a single-precision midpoint once times 8:
        # only a correctly rounded reading lands on the right float
        f = struct.unpack(">f", struct.pack(">f", rng.uniform(-100, 100)))[0]
        bits = int.from_bytes(struct.pack(">f", f), "big")
        nxt = struct.unpack(">f", (bits + 1).to_bytes(4, "big"))[0]
        x = Fraction((f + nxt) / 2) / 8
        ulp = Fraction(math.ulp(float(x)))
        x += ulp / 2 * rng.choice([1, -1, 1 - Fraction(1, 10 ** 6), -1 + Fraction(1, 10 ** 6)])
        text = decimal_text(x)
        if len(text) <= 79:
            return text.encode()
    if r < 0.7:
        mant = b"%d.%d" % (rng.randint(0, 999), rng.randint(0, 10 ** 9))
        return mant + rng.choice([b"d", b"D", b"e", b"E"]) + b"%+d" % rng.randint(-50, 50)
    if r < 0.75:
        digits = "".join(rng.choice("0123456789") for _ in range(rng.randint(20, 70)))
        e = rng.choice(["", "", "d-330", "e-310", "D+300", "e-40", "d-44", "e38"])
        return ("%s.%s%s" % (digits[:rng.randint(1, 4)], digits[4:], e)).encode()
    if r < 0.8:
        # single-precision subnormals and the overflow edge, where rounding x or x*8 differs
        v = rng.choice([rng.uniform(2.0 ** -152, 2.0 ** -120),
                        rng.uniform(3.3e38 / 8, 3.5e38 / 8)]) * rng.choice([1, -1])
        return (repr(v) if rng.random() < 0.7 else "%.9e" % v).encode().replace(
            b"e", rng.choice([b"e", b"d", b"E", b"D"]))
    return rng.choice(ODD_REALS)


def junk_line(rng):
    r = rng.random()
    if r < 0.5:
        return rand_int(rng)
    if r < 0.7:
        return rng.choice([b"abc", b"# comment", b"POINT ", b" POINT", b"point", b"END0",
                           b"PALC", b"ROKU4", b"\x00", b"\xff\xfe"])
    if r < 0.8:
        return rng.choice(KEYWORDS)
    return rand_real(rng)


def synth(rng):
    """A random ROK model as a list of lines, rough around the edges."""
    L = []
    L.append(rng.choice([b"ROKU4", b"ROKU4", b"ROKU4 1.0", b"ROKU41", b"ROKU4" + b"x" * 80,
                         b"ROKU4POINT", b"ROKU4" + b"x" * 79 + b"POINT", b"ROKU4" + b"x" * 74,
                         b"ROKU4" + b"x" * 73]))
    for _ in range(rng.choice([0, 0, 1, 3])):
        L.append(junk_line(rng))
    L.append(b"POINT")
    npts = rng.choice([0, 1, 2, 3, 4, 5, 6, 8])
    for _ in range(npts):
        for _ in range(5):
            L.append(junk_line(rng) if rng.random() < 0.3 else rand_int(rng))
        for _ in range(3):
            L.append(rand_real(rng))
    L.append(b"LINE0")
    # edges: a few closed rings over a small pool of point numbers, plus odd edges
    pool = [1, 2, 3, 4, 5, 6] + rng.sample([0, -1, 7, 8, 65537, 65536, 131073, 2147483647,
                                            -2147483648, 100000], 3)
    edges, rings = [], []
    for _ in range(rng.choice([0, 1, 1, 2, 3])):
        k = rng.randint(2, 6)
        pts = rng.sample(pool, k)
        idx = []
        for j in range(k):
            a, b = pts[j], pts[(j + 1) % k]
            if rng.random() < 0.5:
                a, b = b, a
            edges.append((a, b))
            idx.append(len(edges))
        rings.append(idx)
    for _ in range(rng.choice([0, 0, 1, 2, 4])):
        a = rng.choice(pool)
        edges.append((a, a if rng.random() < 0.3 else rng.choice(pool)))
    tangle = []                 # edges over three points only: many edges meet at each joint
    for _ in range(rng.choice([0, 0, 3, 6])):
        edges.append((rng.randint(1, 3), rng.randint(1, 3)))
        tangle.append(len(edges))
    tangle = tangle or list(range(1, len(edges) + 1))
    for a, b in edges:
        flag = rng.choice([b"0", b"0", b"1", b"65536", b"-65536", b"2", b"131072", b"x"])
        L += [b"%d" % a, b"%d" % b, rand_int(rng), flag]
    L.append(b"FACE0")
    ne = len(edges)
    for _ in range(rng.choice([0, 1, 2, 3, 4, 6])):
        r = rng.random()
        if rings and r < 0.5:
            refs = list(rng.choice(rings))
            rng.shuffle(refs)
        elif r < 0.8:
            refs = [rng.randint(1, max(ne, 1)) for _ in range(rng.randint(0, 6))]
        elif r < 0.85 and ne:
            # a broken chain that lists an edge twice: the walk must resume
            refs = [rng.randint(1, ne) for _ in range(rng.randint(2, 5))]
            refs.insert(rng.randint(0, len(refs)), rng.choice(refs))
        elif r < 0.9 or not ne:
            refs = [rng.choice([0, -1, ne, ne + 1, 1, 65536 + 1]) for _ in range(rng.randint(1, 3))]
        else:
            refs = [rng.choice(tangle) for _ in range(rng.randint(1, 8))]
        n = b"%d" % len(refs)
        if rng.random() < 0.05:
            n = rng.choice([b"%d" % (len(refs) + (1 << 32)), b" +%d" % len(refs),
                            b"%dz" % len(refs), b"\t%d\0 9" % len(refs)])
        if rng.random() < 0.08:
            n = rng.choice([b"-1", b"-3", b"65535", b"65536", b"70000", b"2000000000", b"0"])
        colour = rand_int(rng, 0, 17) if rng.random() < 0.9 else rng.choice(
            [b"-1", b"16", b"4294967297", b"2147483647"])
        L += [n, colour, rand_int(rng)] + [b"%d" % e if rng.random() < 0.95 else
                                           b"%d" % (e - (1 << 32)) for e in refs]
    if rng.random() < 0.03:     # a face that runs into the end of the file
        L += [rng.choice([b"65535", b"65536", b"%d" % rng.randint(2, 70000), b"2000000000"]),
              rand_int(rng, 0, 3), b"0"] + [b"%d" % rng.randint(1, ne or 1)
                                            for _ in range(rng.randint(0, 3))]
        return L
    L.append(b"END00")
    for _ in range(rng.choice([0, 1, 2, 3, 4])):
        r = rng.random()
        if r < 0.35:
            n = rng.choice([0, 1, 2, 3, 5, 16, 17, 18, -1, -2])
            L += [b"PALC0", b"%d" % n, rand_int(rng)]
            for _ in range(max(n, 0)):
                for _ in range(6):
                    L.append(b"%d" % rng.randint(0, 255) if rng.random() < 0.8 else rng.choice(
                        [b"-1", b"256", b"1000", b"-1000", b"2147483647", b"-2147483648",
                         b"300", b"511", b"x", b"-255", b"1785", b"2000", b"600", b"-3",
                         b"%d" % rng.randint(-3000, 3000), b"%d" % rng.randint(-2**31, 2**31 - 1)]))
                L.append(rand_int(rng))
            if rng.random() < 0.3:
                L.append(junk_line(rng))
            if rng.random() < 0.9:
                L.append(b"ENDP0")
        elif r < 0.55:
            L.append(b"LINE2")
            for _ in range(rng.randint(0, 4)):
                L += [b"%d" % rng.randint(0, ne + 1), rand_int(rng), rand_int(rng, -1, 17),
                      rand_int(rng)]
            if rng.random() < 0.8:
                L.append(b"ENDL2")
        elif r < 0.8:
            k = rng.choice([b"BAKC0", b"LIT00", b"VIEW0"])
            e = {b"BAKC0": b"ENDB0", b"LIT00": b"ENDL0", b"VIEW0": b"ENDV0"}[k]
            L.append(k)
            for _ in range(rng.randint(0, 5)):
                L.append(junk_line(rng))
            if rng.random() < 0.85:
                L.append(e)
        else:
            L.append(junk_line(rng))
    return L


def mutate_lines(rng, L):
    for _ in range(rng.choice([0, 0, 1, 1, 2, 3])):
        if not L:
            break
        i = rng.randrange(len(L))
        op = rng.randrange(10)
        if op == 0:
            del L[i]
        elif op == 1:
            L.insert(i, L[i])
        elif op == 2:
            L.insert(i, rng.choice(KEYWORDS))
        elif op == 3:
            L[i] = rng.choice(ODD_INTS)
        elif op == 4:
            L[i] = rand_real(rng)
        elif op == 5:   # lines around the 79-byte split, sometimes ending in a keyword
            k = rng.choice([77, 78, 79, 80, 81, 100, 157, 158, 159, 200])
            tail = rng.choice([b"", b"", rng.choice(KEYWORDS)])
            L.insert(i, b"".join(bytes([rng.choice(b"0123456789 ab")]) for _ in range(k)) + tail)
        elif op == 6:
            j = rng.randrange(len(L[i]) + 1)
            L[i] = L[i][:j] + b"\0" + L[i][j:]
        elif op == 7:
            L.insert(i, b"")
        elif op == 8 and i + 1 < len(L):
            L[i], L[i + 1] = L[i + 1], L[i]
        elif op == 9:
            L[i] = b"2000000000" if rng.random() < 0.5 else b"-2000000000"
    return L


def join_lines(rng, L):
    style = rng.choice(["lf", "crlf", "lfcr", "cr", "mixed"])
    if style == "mixed":
        eols = [rng.choice([b"\n", b"\r\n", b"\n\r", b"\r", b"\n\n", b"\r\r", b"\r\n\r\n",
                            b"\n\r\n"]) for _ in L]
    else:
        eols = [EOLS[style]] * len(L)
    out = bytearray()
    for line, e in zip(L, eols):
        out += line + e
    if L and rng.random() < 0.25:           # last line without its terminator
        out = out[:len(out) - len(eols[-1])]
    return bytes(out)


def preamble(rng, data):
    r = rng.random()
    if r < 0.7:
        return data
    if r < 0.9:
        return b"\0" + bytes(rng.randrange(256) for _ in range(127)) + data
    return rng.choice([b"\0" * 127, b"\0" * 129, b"\x01" + b"\0" * 127, b"\0"]) + data


def mutate_bytes(rng, data):
    d = bytearray(data)
    for _ in range(rng.choice([0, 0, 0, 1, 1, 2, 4])):
        if not d:
            break
        i = rng.randrange(len(d))
        op = rng.randrange(6)
        if op == 0:
            d[i] ^= 1 << rng.randrange(8)
        elif op == 1:
            d[i:i] = rng.choice([b"\r", b"\n", b"\r\n", b"\n\r", b"\r\r", b"\n\n"])
        elif op == 2 and d[i] in (CR, LF):
            d[i] = LF if d[i] == CR else CR
        elif op == 3:
            d[i:i] = b"\0"
        elif op == 4:
            del d[i]
        elif op == 5:
            d[i] = rng.choice(b"0123456789-+.dDeE \t\r\n\0")
    return bytes(d)


def truncate(rng, data):
    if data and rng.random() < 0.2:
        return data[:rng.randrange(len(data) + 1)]
    return data


def rokgen_input(rng, rokgen, tmp):
    kind = rng.random()
    eol = rng.choice(["lf", "crlf", "lfcr", "cr"])
    args = [rokgen]
    if kind < 0.35:
        args += ["grid", str(rng.choice([1, 2, 3, 4, 6, 9, 12, 20, 40] * 40 + [2000]))]
    elif kind < 0.55:
        args += ["ring", str(rng.choice([3, 4, 5, 7, 12, 30, 100] * 60 + [65535]))]
    else:
        dk = rng.choice(["truncated", "huge-face", "huge-palette", "negative-count", "edge-range"])
        args += ["damaged", dk]
        if dk == "truncated" and rng.random() < 0.8:
            args += ["--at", str(rng.randrange(1, 3000))]
    args += ["--seed", str(rng.randrange(1, 1 << 30)), "--eol", eol]
    if rng.random() < 0.4:
        args.append("--preamble")
    path = os.path.join(tmp, "gen.rok")
    args += ["-o", path]
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    with open(path, "rb") as f:
        data = f.read()
    label = "rokgen " + " ".join(args[1:-2])
    r = rng.random()
    if r < 0.25:
        data = data[:rng.randrange(len(data) + 1)]
        label += " | cut at %d" % len(data)
    elif r < 0.45:
        data = mutate_bytes(rng, data)
        label += " | byte mutations"
    elif r < 0.6:
        start = 128 if data[:1] == b"\0" else 0
        lines = re.split(rb"\r\n|\n\r|\r|\n", data[start:])
        data = data[:start] + join_lines(rng, mutate_lines(rng, lines))
        label += " | line mutations, new line ends"
    return data, label


def own_input(rng):
    L = mutate_lines(rng, synth(rng))
    data = truncate(rng, mutate_bytes(rng, preamble(rng, join_lines(rng, L))))
    return data, "synthetic"


# ----------------------------------------------------------------------------------------------
# Driver
# ----------------------------------------------------------------------------------------------

def lwo_name(path):
    """Output name: the file name after the last / \\ or :, its extension replaced by .LWO."""
    base = re.split(rb"[/\\:]", path)[-1]
    dot = base.rfind(b".")
    return (base[:dot] if dot >= 0 else base) + b".LWO"


NAMES = [b"car.rok", b"a.b.rok", b"car", b".rok", b"Model.Rok", b"x.ROK", b"a:b.rok",
         b"a\\b.rok", b"dir/sub/Model.Rok", b"d.x/car", b"a.b\\c", b"a..", b"a.", b"--help.rok",
         b"\xc3\xa9t\xc3\xa9.rok", b"x:y:z", b"sub/.hidden.rok"]


def check_names(rokconv, tmp, data):
    """Convert one model under several names; the output must appear under the right name."""
    problems = []
    for nm in NAMES:
        work = os.path.join(tmp, "names")
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(os.path.join(work, b"dir/sub".decode()))
        for d in (b"d.x", b"sub"):
            os.makedirs(os.path.join(work.encode(), d), exist_ok=True)
        with open(os.path.join(work.encode(), nm), "wb") as f:
            f.write(data)
        before = set(os.listdir(work.encode()))
        p = subprocess.run([rokconv, nm], cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        new = set(os.listdir(work.encode())) - before
        want = lwo_name(nm)
        if p.returncode or p.stdout or p.stderr or new != {want}:
            problems.append("name %r: exit %d, output %r, new files %r (expected %r)"
                            % (nm, p.returncode, p.stdout + p.stderr, sorted(new), want))
        elif open(os.path.join(work.encode(), want), "rb").read() != convert(data):
            problems.append("name %r: contents differ" % nm)
    shutil.rmtree(os.path.join(tmp, "names"), ignore_errors=True)
    return problems


def run_rokconv(rokconv, data, work):
    src = os.path.join(work, "in.rok")
    out = os.path.join(work, "in.LWO")
    with open(src, "wb") as f:
        f.write(data)
    if os.path.exists(out):
        os.remove(out)
    p = subprocess.run([rokconv, "in.rok"], cwd=work, stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=20)
    if p.returncode != 0 or p.stderr or p.stdout:
        return ("exit %d, stdout %r, stderr %r" % (p.returncode, p.stdout, p.stderr)), None
    left = sorted(set(os.listdir(work)) - {"in.rok", "in.LWO"})
    if left:
        return "files left behind: %r" % left, None
    if not os.path.exists(out):
        return None, None
    with open(out, "rb") as f:
        return None, f.read()


def main():
    global BROKEN
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("file", nargs="?", help="convert this one file with the model")
    ap.add_argument("-o", dest="out", help="output for FILE (default: NAME.LWO here)")
    ap.add_argument("--rokconv", help="the rokconv program to compare with")
    ap.add_argument("--rokgen", help="rokgen (default: tools/rokgen next to rokconv)")
    ap.add_argument("--count", type=int, default=2000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--keep", help="directory for the inputs that differ (default: a temp dir)")
    ap.add_argument("--extra", nargs="*", default=None,
                    help="more input files (default: fuzz/corpus/* and examples/*.rok)")
    ap.add_argument("--break", dest="brk", default="none",
                    help="change one model rule on purpose ('list' names them)")
    ap.add_argument("--max-report", type=int, default=20)
    ap.add_argument("--sweep", action="store_true",
                    help="also cut one small model at every byte, in every line-end style")
    ap.add_argument("--coverage", action="store_true",
                    help="print how often each rule of the model was exercised")
    a = ap.parse_args()
    if a.brk == "list":
        for k, v in BREAKS.items():
            print("%-20s %s" % (k, v))
        return 0
    if a.brk not in BREAKS:
        ap.error("unknown rule %r" % a.brk)
    BROKEN = a.brk

    if a.file and not a.rokconv:
        with open(a.file, "rb") as f:
            out = convert(f.read())
        if out is None:
            return 0
        base = re.split(r"[/\\:]", a.file)[-1]
        target = a.out or (base[:base.rfind(".")] if "." in base else base) + ".LWO"
        with open(target, "wb") as f:
            f.write(out)
        return 0
    if not a.rokconv:
        ap.error("--rokconv is needed")
    rokconv = os.path.abspath(a.rokconv)
    rokgen = a.rokgen or os.path.join(os.path.dirname(rokconv), "tools", "rokgen")
    here = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    extra = a.extra
    if extra is None:
        extra = []
        for d in ("fuzz/corpus", "examples"):
            p = os.path.join(here, d)
            if os.path.isdir(p):
                extra += sorted(os.path.join(p, f) for f in os.listdir(p) if f.endswith(".rok"))

    tmp = tempfile.mkdtemp(prefix="crosscheck-")
    keep = a.keep or os.path.join(tmp, "mismatch")
    os.makedirs(keep, exist_ok=True)
    work = os.path.join(tmp, "work")
    os.makedirs(work)
    rng = random.Random(a.seed)
    stats = {"compared": 0, "mismatch": 0, "no output": 0, "rokgen": 0, "synthetic": 0,
             "files": 0, "sweep": 0}
    reported = 0

    def inputs():
        for p in extra:
            with open(p, "rb") as f:
                yield f.read(), "file " + os.path.relpath(p, here)
        for i, data in enumerate(FIXED):
            yield data, "file fixed-%d" % i
        if a.sweep:
            yield from sweep_inputs()
        for _ in range(a.count):
            if os.path.exists(rokgen) and rng.random() < 0.4:
                yield rokgen_input(rng, rokgen, tmp)
            else:
                yield own_input(rng)

    with open(os.path.join(here, "examples", "cube.rok"), "rb") as f:
        for problem in check_names(rokconv, tmp, f.read()):
            stats["mismatch"] += 1
            print("MISMATCH output naming: " + problem)
    for data, label in inputs():
        kind = label.split()[0]
        stats["files" if kind == "file" else kind] += 1
        exp = convert(data)
        err, got = run_rokconv(rokconv, data, work)
        stats["compared"] += 1
        if exp is None:
            stats["no output"] += 1
        diff = err or describe(exp, got)
        if diff:
            stats["mismatch"] += 1
            path = os.path.join(keep, "mismatch-%04d.rok" % stats["mismatch"])
            with open(path, "wb") as f:
                f.write(data)
            if exp is not None:
                with open(path[:-4] + ".expected.LWO", "wb") as f:
                    f.write(exp)
            if reported < a.max_report:
                reported += 1
                print("MISMATCH %s (%s, %d bytes)\n    %s" % (path, label, len(data), diff))
    print("compared %d inputs (%d rokgen-based, %d synthetic, %d files, %d cut-short sweeps; "
          "%d not ROK files): %d mismatches%s"
          % (stats["compared"], stats["rokgen"], stats["synthetic"], stats["files"],
             stats["sweep"], stats["no output"], stats["mismatch"],
                               ", inputs in " + keep if stats["mismatch"] else ""))
    if a.coverage:
        for k in sorted(SEEN):
            print("  %7d  %s" % (SEEN[k], k))
    if stats["mismatch"] and not a.keep:
        shutil.rmtree(work)
    else:
        shutil.rmtree(tmp)
        if a.keep and not os.listdir(keep):
            os.rmdir(keep)
    return 1 if stats["mismatch"] else 0


if __name__ == "__main__":
    sys.exit(main())
