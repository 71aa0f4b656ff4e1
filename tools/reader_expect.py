#!/usr/bin/env python3
"""What a LightWave reader should find in the object that rokconv makes from a ROK file.

This is a second, independent reading of the ROK text, written for the reader checks
(tools/check_readers.sh). It does not look at rokconv's output at all: it reads the ROK
file the way the format is laid out and works out what the converted object must hold.

    tools/reader_expect.py FILE.rok      prints the expectations as JSON

Used as a module by tools/reader_compare.py (load_expectations).

The ROK text: magic "ROKU4" (optionally after a 128-byte preamble whose first byte is 0),
the rest of that line and every line up to "POINT" ignored, then
  points   8 lines each (1-5 ignored, 6-8 x y z)          up to "LINE0"
  edges    4 lines each (point a, point b, -, line flag)   up to "FACE0"
  faces    n, colour, -, then n edge numbers               up to "END00"
and then, in any order, "PALC0" (count, -, count x [6 components, -], ... "ENDP0"),
"LINE2" (records of edge, -, colour, - up to "ENDL2"; an edge whose line flag is 0 becomes
a two-point line polygon, any other flag gives nothing) and the skipped "BAKC0"/"ENDB0",
"LIT00"/"ENDL0", "VIEW0"/"ENDV0" blocks.

In the object every point is (8x, -8y, 8z) in single precision, every colour that a polygon
uses becomes a surface "ROK<index>" whose colour is the mean of the palette entry's two RGB
triples and whose specular level grows with how much brighter the first triple is.

Models that a reader cannot sensibly be checked on (edge or point numbers out of range,
faces that are not one closed ring, colours without a palette entry) are refused with a
message rather than guessed at: the examples are ours, so fix the example.
"""

import json
import re
import struct
import sys

MAGIC = b"ROKU4"
LINE_CAPACITY = 80  # 79 bytes of text and a terminating zero


class NotChecked(Exception):
    """The model is valid ROK but not something the reader check can judge."""


class Lines:
    """Line-at-a-time reading of the byte stream with the converter's line conventions.

    CR LF, LF CR, a lone CR or a lone LF ends a line; CR CR and LF LF leave an empty line
    between them; lines longer than 79 bytes are split. `eof` becomes true on the first read
    that finds no more input, so a file ending in a CR LF pair still gives one more (empty)
    line. Once `eof` is set, `line()` returns the previous line again.
    """

    def __init__(self, data, pos):
        self.data = data
        self.pos = pos
        self.eof = False
        self.last = b""

    def _byte(self):
        if self.pos >= len(self.data):
            self.eof = True
            return None
        b = self.data[self.pos]
        self.pos += 1
        return b

    def line(self):
        if self.eof:
            return self.last
        out = bytearray()
        while len(out) < LINE_CAPACITY - 1:
            b = self._byte()
            if b is None:
                break
            if b in (10, 13):
                nxt = self._byte()
                if nxt is not None and (nxt == b or nxt not in (10, 13)):
                    self.pos -= 1  # not the second half of a CR LF / LF CR pair
                break
            out.append(b)
        self.last = bytes(out)
        return self.last


_SPACE = b" \t\n\v\f\r"
_INT = re.compile(rb"[+-]?[0-9]*")
_REAL = re.compile(rb"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eEdD][+-]?[0-9]+)?")


def to_int(text):
    """Decimal integer with optional sign; no digits gives 0; wraps like a 32-bit int."""
    m = _INT.match(text.lstrip(_SPACE))
    digits = m.group(0)
    sign = -1 if digits.startswith(b"-") else 1
    digits = digits.lstrip(b"+-")
    value = sign * int(digits) if digits else 0
    value &= 0xFFFFFFFF
    return value - (1 << 32) if value & 0x80000000 else value


def to_int16(value):
    value &= 0xFFFF
    return value - 0x10000 if value & 0x8000 else value


def to_real(text):
    """Decimal real; the exponent may be written with e, E, d or D; no number gives 0.0."""
    m = _REAL.match(text.lstrip(_SPACE))
    if not m:
        return 0.0
    return float(m.group(0).replace(b"d", b"e").replace(b"D", b"e"))


def read_rok(data):
    """Returns the model as a dict, or None when the bytes are not a ROK file."""
    pos = 5
    magic = data[0:5]
    if len(magic) == 5 and magic[0] == 0:
        magic = data[128:133]
        pos = 133
    if magic != MAGIC:
        return None
    rd = Lines(data, min(pos, len(data)))
    rd.line()  # the rest of the magic's line

    while not rd.eof:
        if rd.line() == b"POINT":
            break

    points = []
    while not rd.eof:
        first = rd.line()
        if first == b"LINE0":
            break
        rec = [first] + [rd.line() for _ in range(7)]
        points.append(tuple(to_real(v) for v in rec[5:8]))

    edges = []  # (point a, point b, line flag)
    while not rd.eof:
        first = rd.line()
        if first == b"FACE0":
            break
        a = to_int(first)
        b = to_int(rd.line())
        rd.line()
        flag = to_int16(to_int(rd.line()))
        edges.append((a, b, flag))

    polygons = []  # {"colour": c, "edges": [edge numbers], "line": bool}
    while not rd.eof:
        first = rd.line()
        if first == b"END00":
            break
        n = to_int(first)
        colour = to_int(rd.line())
        rd.line()
        polygons.append({"colour": colour, "edges": [to_int(rd.line()) for _ in range(max(n, 0))],
                         "count": n, "from_line_block": False})

    palette = []
    while not rd.eof:
        key = rd.line()
        if key == b"PALC0":
            n = to_int(rd.line())
            if n < 0 or n > 65536:
                raise NotChecked(f"palette count {n} is out of what the check handles")
            rd.line()
            palette = []
            for _ in range(n):
                palette.append(tuple(to_int(rd.line()) for _ in range(6)))
                rd.line()
            while not rd.eof:
                if rd.line() == b"ENDP0":
                    break
        elif key in (b"BAKC0", b"LIT00", b"VIEW0"):
            end = {b"BAKC0": b"ENDB0", b"LIT00": b"ENDL0", b"VIEW0": b"ENDV0"}[key]
            while not rd.eof:
                if rd.line() == end:
                    break
        elif key == b"LINE2":
            while not rd.eof:
                first = rd.line()
                if first == b"ENDL2":
                    break
                e = to_int(first)
                rd.line()
                colour = to_int(rd.line())
                rd.line()
                if not 1 <= e <= len(edges):
                    raise NotChecked(f"LINE2 names edge {e}, but there are {len(edges)} edges")
                if edges[e - 1][2] == 0:
                    polygons.append({"colour": colour, "edges": [e], "count": 1,
                                     "from_line_block": True})
    return {"points": points, "edges": edges, "polygons": polygons, "palette": palette}


def f32(v):
    return struct.unpack(">f", struct.pack(">f", v))[0]


def lwo_position(p):
    """Where a ROK point lands in the object: scaled by 8, second axis reversed."""
    x, y, z = p
    return (f32(x * 8.0), f32(y * -8.0), f32(z * 8.0))


def tdiv(a, b):
    """Integer division truncating toward zero."""
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def surface_colour(c):
    return [tdiv(c[i] + c[i + 3], 2) & 0xFF for i in range(3)]


def specular_level(c):
    l1 = 2 * c[0] + 4 * c[1] + c[2]
    l2 = 2 * c[3] + 4 * c[4] + c[5]
    if l2 >= l1:
        return 0
    a = tdiv(l1 + l2, 2)
    if 1785 - a <= 0:
        raise NotChecked("palette components outside 0-255")
    return tdiv(tdiv((l1 - a) * 256, 1785 - a), 4)


def expectations(model):
    points, edges, palette = model["points"], model["edges"], model["palette"]
    positions = [lwo_position(p) for p in points]

    def point_of(number, where):
        if not 1 <= number <= len(points):
            raise NotChecked(f"{where} uses point {number}, but there are {len(points)} points")
        return number

    def edge_of(number, where):
        if not 1 <= number <= len(edges):
            raise NotChecked(f"{where} uses edge {number}, but there are {len(edges)} edges")
        a, b, _ = edges[number - 1]
        return (point_of(a, f"edge {number}"), point_of(b, f"edge {number}"))

    surfaces = {}
    for idx, poly in enumerate(model["polygons"], 1):
        where = f"polygon {idx}"
        colour = poly["colour"]
        if not 0 <= colour < min(len(palette), 16):
            raise NotChecked(f"{where} has colour {colour} without a palette entry")
        surf = surfaces.setdefault(colour, {"faces": [], "lines": []})
        if poly["count"] == 1:
            a, b = edge_of(poly["edges"][0], where)
            surf["lines"].append(sorted((a, b)))
            continue
        if poly["count"] < 3:
            raise NotChecked(f"{where} has {poly['count']} edges")
        ring = [edge_of(e, where) for e in poly["edges"]]
        uses = {}
        for a, b in ring:
            if a == b:
                raise NotChecked(f"{where} has an edge from point {a} to itself")
            uses[a] = uses.get(a, 0) + 1
            uses[b] = uses.get(b, 0) + 1
        if any(u != 2 for u in uses.values()) or len(uses) != len(ring):
            raise NotChecked(f"{where} is not one closed ring of edges")
        # one closed ring: check it is connected, not two smaller rings
        seen, todo = set(), [ring[0][0]]
        while todo:
            p = todo.pop()
            if p not in seen:
                seen.add(p)
                todo += [b if a == p else a for a, b in ring if p in (a, b)]
        if len(seen) != len(uses):
            raise NotChecked(f"{where} is made of more than one ring")
        surf["faces"].append({"points": sorted(uses), "edges": sorted(sorted(e) for e in ring)})

    used = sorted({p for s in surfaces.values() for f in s["faces"] for p in f["points"]} |
                  {p for s in surfaces.values() for ln in s["lines"] for p in ln})
    used_by_faces = sorted({p for s in surfaces.values() for f in s["faces"] for p in f["points"]})

    out_surfaces = []
    for colour in sorted(surfaces):
        s = surfaces[colour]
        entry = palette[colour]
        out_surfaces.append({
            "name": f"ROK{colour}",
            "colour_index": colour,
            "rgb": surface_colour(entry),
            "specular": specular_level(entry),
            "faces": s["faces"],
            "lines": s["lines"],
        })
    faces = sum(len(s["faces"]) for s in out_surfaces)
    lines = sum(len(s["lines"]) for s in out_surfaces)
    return {
        "points": len(points),
        # point number -> position in the object, for the points that polygons use
        "positions": {str(p): positions[p - 1] for p in used},
        "used_points": len({positions[p - 1] for p in used}),
        "used_points_faces": len({positions[p - 1] for p in used_by_faces}),
        "faces": faces,
        "lines": lines,
        "polygons": faces + lines,
        "triangles": sum(len(f["points"]) - 2 for s in out_surfaces for f in s["faces"]),
        "face_vertices": sum(len(f["points"]) for s in out_surfaces for f in s["faces"]),
        "surfaces": out_surfaces,
    }


def load_expectations(path):
    with open(path, "rb") as fh:
        model = read_rok(fh.read())
    if model is None:
        raise NotChecked(f"{path} does not start with the ROKU4 magic")
    return expectations(model)


def main(argv):
    if len(argv) != 2:
        print(f"usage: {argv[0]} FILE.rok", file=sys.stderr)
        return 2
    try:
        exp = load_expectations(argv[1])
    except (OSError, NotChecked) as err:
        print(f"reader_expect: {argv[1]}: {err}", file=sys.stderr)
        return 1
    json.dump(exp, sys.stdout, indent=1)
    print()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
