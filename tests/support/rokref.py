"""An independent reading of ROK and LWOB, shared by the checks under tests/.

Written from the format description and the choices listed in the README ("Damaged files"); it
shares no code with src/. load_rok emulates the byte stream that the converter reads (end-of-file
flag set only by a read that finds nothing, one byte of push-back, the 79-byte line split, the
128-byte preamble) and gives the model; ring walks a face; save_lwob writes the whole LWOB file;
chunks and polygons take an LWOB file apart again. scene and corner_normals give what the OBJ and
glTF files made from a model hold; read_obj, read_glb, read_gltf and read_stl take them apart.

BROKEN names one rule of BREAKS that is changed on purpose, to show that a comparison catches it.
"""

import json
import math
import operator
import re
import struct
import types

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
CR, LF = 13, 10
SKIPPED = {b"BAKC0": b"ENDB0", b"LIT00": b"ENDL0", b"VIEW0": b"ENDV0"}


class Reader:
    """The buffered input stream as the converter reads it, and its 80-byte line buffer."""

    def __init__(self, data):
        self.data, self.pos, self.eof, self.back, self.buf = data, 0, False, -1, b""

    def getc(self):
        if self.back >= 0:
            c, self.back = self.back, -1
            return c
        if self.pos >= len(self.data):
            self.eof = True
            return -1
        self.pos += 1
        return self.data[self.pos - 1]

    def next(self):
        """Reads one line into the buffer; False, leaving the buffer as it was, after the end."""
        if self.eof:
            return False
        out = bytearray()
        limit = 80 if BROKEN == "split-80" else 79
        while len(out) < limit:
            c = self.getc()
            if c < 0:
                break
            if c in (CR, LF):
                d = self.getc()
                if d < 0:
                    break
                if d == c or d not in (CR, LF):
                    self.back = d
                elif BROKEN == "crlf-no-extra" and self.pos >= len(self.data) and self.back < 0:
                    self.eof = True
                break
            out.append(c)
        self.buf = bytes(out)
        return True

    @property
    def text(self):
        """The line as a C string: up to its first zero byte."""
        return self.buf.split(b"\0", 1)[0]


INT_RE = re.compile(rb"[ \t\n\v\f\r]*([+-]?)([0-9]*)")
REAL_RE = re.compile(rb"[ \t\n\v\f\r]*([+-]?)([0-9]*)(?:\.([0-9]*))?")
EXP_RE = {True: re.compile(rb"[eE]([+-]?[0-9]+)"), False: re.compile(rb"[eEdD]([+-]?[0-9]+)")}


def to_int(line):
    """Decimal integer: white space, sign, digits; wraps modulo 2^32 to signed 32 bits."""
    sign, digits = INT_RE.match(line).groups()
    v = int(digits or b"0") * (-1 if sign == b"-" else 1) & 0xFFFFFFFF
    return v - (1 << 32) if v >= 1 << 31 else v


def to_real(line):
    """Decimal real, correctly rounded; e, E, d or D for the exponent; 0.0 without a number."""
    m = REAL_RE.match(line)
    sign, ip, fp = m.group(1), m.group(2), m.group(3) or b""
    if not ip and not fp:
        return 0.0
    text = sign + (ip or b"0") + b"." + (fp or b"0")
    e = EXP_RE[BROKEN == "no-d-exponent"].match(line, m.end())
    return float(text + b"e" + e.group(1) if e else text)


def load_rok(data):
    """The model in `data`, or None when it is not a ROK file: its points [(x, y, z)], edges
    [(first point, second point, 16-bit line flag)], polys [(colour, [edge index from 0],
    from LINE2)], pal_count (the palette's count as read) and pal (its first entries, at most 16,
    each of 6 components)."""
    r = Reader(data)
    if BROKEN != "preamble-ignored" and data[:1] == b"\0":
        r.pos = 128     # the first five bytes are read, then the reader seeks 123 on
    if data[r.pos:r.pos + 5] != b"ROKU4":
        return None
    r.pos += 5
    m = types.SimpleNamespace(points=[], edges=[], polys=[], pal_count=0, pal=[])

    def line():
        r.next()
        return r.text

    def ints(count, take):
        """Reads `count` lines as integers and hands back the first `take`. After the end every
        further line repeats the buffer, so the rest of the count is settled without reading."""
        vals = []
        for i in range(count):
            if r.eof:
                return vals + [to_int(r.text)] * (min(count, take) - len(vals))
            r.next()
            if i < take:
                vals.append(to_int(r.text))
        return vals

    def block(end):
        """Records up to the keyword `end` or the end of the file: yields each first line."""
        while not r.eof:
            first = line()
            if first == end:
                return
            yield first

    line()                                  # the rest of the magic's line
    list(block(b"POINT"))
    for _ in block(b"LINE0"):
        for _ in range(4):
            line()
        m.points.append(tuple(to_real(line()) for _ in range(3)))
    for first in block(b"FACE0"):
        a, b = to_int(first), to_int(line())
        line()
        f = to_int(line())
        m.edges.append((a, b, f if BROKEN == "line-flag-32" else f & 0xFFFF))
    for first in block(b"END00"):
        n = to_int(first)
        colour = to_int(line())
        r.next()
        refs = ints(max(n, 0), n if 0 <= n <= 65535 else 0)
        if 0 <= n <= 65535 and all(1 <= e <= len(m.edges) for e in refs):
            m.polys.append((colour, [e - 1 for e in refs], False))
    for key in block(None):
        if key == b"PALC0":
            m.pal_count = n = to_int(line())
            r.next()
            flat = ints(7 * max(n, 0), 7 * 16)
            m.pal = [flat[i:i + 6] for i in range(0, len(flat), 7)]
            list(block(b"ENDP0"))
        elif key in SKIPPED:
            list(block(SKIPPED[key]))
        elif key == b"LINE2":
            for first in block(b"ENDL2"):
                e = to_int(first)
                line()
                colour = to_int(line())
                line()
                if 1 <= e <= len(m.edges) and m.edges[e - 1][2] == 0:
                    m.polys.append((colour, [e - 1], True))
    return m


def ring(edges):
    """Vertex ring of a face given as a list of (first point, second point)."""
    n = len(edges)
    firsts, seconds = {}, {}
    for k, (a, b) in enumerate(edges):
        firsts.setdefault(a, []).append(k)
        seconds.setdefault(b, []).append(k)

    def lowest(ks, cur):
        ks = [k for k in ks[:2] if k != cur]
        return ks[0] if ks else None

    out, visited, scan, cur, fwd = [], [False] * n, 0, 0, True
    while len(out) < n:
        visited[cur] = True
        a, b = edges[cur] if fwd else edges[cur][::-1]
        out.append(a)
        kf, ks = lowest(firsts.get(b, []), cur), lowest(seconds.get(b, []), cur)
        if kf is not None and (ks is None or kf <= ks or BROKEN == "ring-first-wins"):
            cur, fwd = kf, True
        elif ks is not None:
            cur, fwd = ks, False
        elif len(out) < n:
            if BROKEN == "ring-resume-last":
                cur = max(k for k in range(n) if not visited[k])
            else:
                while visited[scan]:
                    scan += 1
                cur = scan
            fwd = True
    return out


def polygon_points(m, refs):
    """The point numbers of a polygon of `m`, in the order they are written."""
    es = [m.edges[k][:2] for k in refs]
    return list(es[0]) if len(es) == 1 else ring(es)


def tdiv(a, b):
    q = abs(a) // abs(b)
    return q if (a >= 0) == (b >= 0) else -q


def surface_look(c):
    """Colour (low 8 bits of the means) and specular level of palette entry `c`."""
    rgb = [tdiv(c[i] + c[i + 3], 2) & 0xFF for i in range(3)]
    l1, l2 = 2 * c[0] + 4 * c[1] + c[2], 2 * c[3] + 4 * c[4] + c[5]
    a = tdiv(l1 + l2, 2)
    if l2 >= l1:
        return rgb, 0
    if 1785 - a <= 0:
        return rgb, 0 if BROKEN == "specular-no-cap" else 64
    return rgb, tdiv(tdiv((l1 - a) * 256, 1785 - a), 4)


def position(p):
    """A ROK point as written: scaled by 8, second axis reversed, in single precision (a double
    halfway between FLT_MAX and 2^128 or beyond rounds to infinity)."""
    out = []
    for v in (p[0] * 8.0, p[1] * -8.0, p[2] * 8.0):
        if abs(v) >= 2.0 ** 128 - 2.0 ** 103:
            v = v * float("inf")
        out.append(struct.unpack(">f", struct.pack(">f", v))[0])
    return tuple(out)


def u2(v):
    return (v & 0xFFFF).to_bytes(2, "big")


def name(i):
    b = b"ROK%d\0" % i
    return b + b"\0" * (len(b) % 2)


def save_lwob(m):
    used = [any(c == i for c, _, _ in m.polys) for i in range(16)]
    number = [sum(used[:i + 1]) for i in range(16)]
    other = 0 if BROKEN == "colour-out-zero" else sum(used) + 1
    named = [i for i in range(min(m.pal_count, 16)) if used[i]]
    pols = bytearray()
    for colour, refs, _ in m.polys:
        pts = polygon_points(m, refs)
        pols += u2(len(pts)) + b"".join(u2(p - 1) for p in pts)
        pols += u2(number[colour] if 0 <= colour < 16 else other)
    out = [(b"SRFS", b"".join(name(i) for i in named)),
           (b"PNTS", b"".join(struct.pack(">3f", *position(p)) for p in m.points)),
           (b"POLS", bytes(pols))]
    for i in named:
        rgb, spec = surface_look(m.pal[i])
        out.append((b"SURF", name(i) + b"COLR\0\4" + bytes(rgb + [0]) + b"FLAG\0\2\1\4"
                    + b"SMAN\0\4\x3f\x46\xd3\xf2DIFF\0\2\1\0TRAN\0\2\0\0SPEC\0\2" + u2(spec)
                    + b"GLOS\0\2\0\0"))
    body = b"LWOB" + b"".join(t + len(d).to_bytes(4, "big") + d for t, d in out)
    return b"FORM" + len(body).to_bytes(4, "big") + body


def convert(data):
    m = load_rok(data)
    return None if m is None else save_lwob(m)


def chunks(data):
    """(tag, offset of the data, size) of each chunk of an LWOB file."""
    pos = 12
    while pos + 8 <= len(data):
        size = int.from_bytes(data[pos + 4:pos + 8], "big")
        yield bytes(data[pos:pos + 4]), pos + 8, size
        pos += 8 + size + (size & 1)


def polygons(data, body, size):
    """(offset, [vertex], surface) of each polygon in the POLS data at `body`."""
    pos = body
    while pos + 2 <= body + size:
        n = int.from_bytes(data[pos:pos + 2], "big")
        v = [int.from_bytes(data[pos + 2 * i:pos + 2 * i + 2], "big") for i in range(1, n + 2)]
        yield pos, v[:n], v[n] if len(v) > n else None
        pos += 4 + 2 * n


# Wavefront OBJ and glTF: the LWOB positions with z negated, each face's ring reversed, colours
# made linear.

def srgb_linear(c):
    """An 8-bit sRGB component as a linear one from 0 to 1."""
    c /= 255
    return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4


def newell(ps):
    """The area-weighted normal of the polygon through positions `ps` (twice its area long)."""
    return tuple(sum((ps[i - 1][(k + 1) % 3] - ps[i][(k + 1) % 3])
                     * (ps[i - 1][(k + 2) % 3] + ps[i][(k + 2) % 3]) for i in range(len(ps)))
                 for k in range(3))


def dot(a, b):
    return sum(map(operator.mul, a, b))


def unit(v):
    n = math.sqrt(dot(v, v))
    return tuple(c / n for c in v) if n else tuple(v)


def corner_normals(view):
    """The normal at each corner of each face of scene() `view`: the mean of the normals of the
    faces of the same material at that point that lie within 44.5 degrees of the face's own,
    each weighted by the face's interior angle there (measured round its normal, so more than
    half a turn at a concave corner). None for a face without area; None for a corner where a
    face that is not flat takes part (its angle is then a matter of choice) or one lies at 44.5."""
    cos, around, out = math.cos(math.radians(44.5)), {}, []
    rings = [[view["pos"][p] for p in pts] for _, pts in view["faces"]]
    normals = [unit(newell(r)) for r in rings]
    for (mat, pts), r, n in zip(view["faces"], rings, normals):
        flat = all(abs(dot(n, map(operator.sub, q, r[0]))) <= 1e-5 * max(1, *map(abs, q + r[0]))
                   for q in r)
        for j, p in enumerate(pts):
            a, b = [list(map(operator.sub, r[k % len(r)], r[j])) for k in (j - 1, j + 1)]
            turn = dot(n, (b[1] * a[2] - b[2] * a[1], b[2] * a[0] - b[0] * a[2],
                           b[0] * a[1] - b[1] * a[0]))
            angle = math.atan2(turn, dot(a, b)) % math.tau
            around.setdefault((mat, p), []).append((n, angle, flat))
    for (mat, pts), n in zip(view["faces"], normals):
        near = [[(m, w, f) for m, w, f in around[mat, p] if dot(m, n) >= cos - 1e-6] for p in pts]
        out.append([unit([sum(w * m[k] for m, w, _ in c) for k in range(3)]) if all(
            f and abs(dot(m, n) - cos) > 1e-6 for m, _, f in c) else None for c in near]
                   if any(n) else None)
    return out


def scene(m):
    """{"points": the positions of the finite points in order (OBJ numbers them from 1), "pos":
    point number -> its position, "faces": [(material, [point number])] rings reversed (two
    points for a face of one edge), "lines": [(material, [point number] * 2)] from LINE2,
    "materials": {name: (linear rgb, SPEC, 8-bit rgb)} of every polygon's colour}; material is
    ROK<colour> for colours 0-15 below the palette count, else None."""
    pos = {i + 1: (x, y, -z) for i, (x, y, z) in enumerate(map(position, m.points))}
    pos = {i: p for i, p in pos.items() if all(abs(v) < float("inf") for v in p)}
    out = {"points": list(pos.values()), "pos": pos, "faces": [], "lines": [], "materials": {}}
    for colour, refs, line2 in m.polys:
        pts = polygon_points(m, refs)
        mat = "ROK%d" % colour if 0 <= colour < min(16, m.pal_count) else None
        if mat:
            rgb, spec = surface_look(m.pal[colour])
            out["materials"][mat] = ([srgb_linear(c) for c in rgb], spec, rgb)
        if pts and all(p in pos for p in pts):
            out["lines" if line2 else "faces"].append((mat, pts[::-1]))
    return out


def read_obj(text):
    """{"v": [xyz], "vn": [xyz], "mtllib": name, "elems": [(material, "f" or "l", [(v, vn)])],
    "mtl": {material: {key: [number]}}} of an OBJ or MTL text; v and vn count from 0 (vn None
    where a corner has none)."""
    out, mat = {"v": [], "vn": [], "mtllib": None, "elems": [], "mtl": {}}, None
    for key, *args in (ln.split() or [""] for ln in text.splitlines()):
        if key in ("v", "vn"):
            out[key].append(tuple(map(float, args[:3])))
        elif key in ("f", "l"):
            out["elems"].append((mat, key, [(int(c[0]) - 1, int(c[2]) - 1 if c[2:] else None)
                                            for c in (a.split("/") for a in args)]))
        elif key in ("usemtl", "mtllib", "newmtl"):
            mat, out["mtllib"] = (args[0], out["mtllib"]) if key != "mtllib" else (mat, args[0])
        elif key in ("Kd", "Ks", "Ns", "d", "illum"):
            out["mtl"].setdefault(mat, {})[key] = [float(a) for a in args]
    return out


def read_glb(data):
    """The JSON and the binary chunk of a GLB file."""
    size = int.from_bytes(data[12:16], "little")
    doc = json.loads(data[20:20 + size])
    return doc, data[28 + size:28 + size + int.from_bytes(data[20 + size:24 + size], "little")]


def read_gltf(doc, buffers):
    """[{"mode", "material" (name or None), attribute name: [tuple], "indices": [int]}] for each
    primitive of each mesh; `buffers` are the bytes of doc's buffers."""
    def accessor(a):
        view = doc["bufferViews"][a["bufferView"]]
        width = {"SCALAR": 1, "VEC2": 2, "VEC3": 3, "VEC4": 4}[a["type"]]
        fmt = "<%d%s" % (width, {5126: "f", 5125: "I", 5123: "H", 5121: "B"}[a["componentType"]])
        at, step = view.get("byteOffset", 0) + a.get("byteOffset", 0), view.get("byteStride")
        vals = [struct.unpack_from(fmt, buffers[view["buffer"]], at + k * (
            step or struct.calcsize(fmt))) for k in range(a["count"])]
        return [v[0] for v in vals] if width == 1 else vals
    out = []
    for p in (p for mesh in doc.get("meshes", []) for p in mesh["primitives"]):
        out.append({k: accessor(doc["accessors"][v]) for k, v in p["attributes"].items()})
        out[-1].update(indices=accessor(doc["accessors"][p["indices"]]) if "indices" in p else
                       list(range(len(out[-1]["POSITION"]))), mode=p.get("mode", 4),
                       material=doc["materials"][p["material"]]["name"] if "material" in p
                       else None)
    return out


def triangles(prims):
    """[(material, [3 positions], [3 normals or None])] of read_gltf's triangle primitives."""
    return [(p["material"], [p["POSITION"][k] for k in t], [p["NORMAL"][k] for k in t]
             if "NORMAL" in p else None) for p in prims if p["mode"] == 4
            for t in zip(*[iter(p["indices"])] * 3)]


def read_stl(data):
    """The header and [(normal, (3 vertices))] of a binary STL file; ValueError when its size
    does not fit its count or a triangle's attribute is not 0."""
    n = int.from_bytes(data[80:84], "little")
    if len(data) != 84 + 50 * n:
        raise ValueError("%d bytes for %d triangles" % (len(data), n))
    tris = [struct.unpack_from("<12fH", data, 84 + 50 * i) for i in range(n)]
    if any(t[12] for t in tris):
        raise ValueError("an attribute other than 0")
    return data[:80], [(t[:3], (t[3:6], t[6:9], t[9:12])) for t in tris]
