#!/usr/bin/env python3
"""Compares what LightWave readers made of a converted object with what the ROK file holds.

    tools/reader_compare.py check FILE.rok [--osg OUT.osgt] [--assimp OUT.json]
        Reads the expectations from FILE.rok (tools/reader_expect.py) and the reports of
        OpenSceneGraph (osgconv's .osgt text) and/or assimp (assjson from
        tools/reader_assimp.js). Prints one summary line and exits 0 when everything agrees;
        otherwise prints every disagreement, naming the file and the reader, and exits 1.

    tools/reader_compare.py damage KIND IN.LWO OUT.LWO
        Writes a copy of IN.LWO with one deliberate fault, for the negative controls of
        tools/check_readers.sh. KIND is colour (red of the first surface), point (x of the
        first point), name (first surface renamed in SRFS and SURF) or order (two vertices
        of the first face of four or more points swapped, which makes it a bow tie).

What each reader is known to do with these objects, and is checked for:
  OpenSceneGraph (osgdb_lwo, its LWOB loader; run with OSG_OPTIMIZER=OFF so that surfaces of
  equal colour are not merged): one Geometry per surface that has faces, in surface order,
  with the surface colour as an overall colour (0..1, no name kept); every face gets its
  own copy of its vertices (TRIANGLES / QUADS draw arrays, larger faces as a fan);
  two-point line polygons are not drawn at all, so a surface with only lines has no
  Geometry. Its axes are LightWave's with the second and third swapped.
  assimp (LWO importer, with assimpjs's post-processing): one material per surface, named
  as in SRFS, listed in surface order; $clr.diffuse is the colour times the DIFF level read
  as a fraction of 255 (so 256/255 for our DIFF 256); $mat.shinpercent is SPEC / 255.
  Faces are triangulated, lines go to meshes of their own, vertices are joined within a
  mesh. Its third axis is negated.
"""

import argparse
import json
import os
import struct
import sys

sys.dont_write_bytecode = True  # keep the source tree clean of __pycache__
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reader_expect  # noqa: E402

COLOUR_TOL = 2e-5  # readers print 6 significant digits; one colour step is 1/255 ~ 0.0039
ASSIMP_DIFFUSE_SCALE = 256.0 / 255.0  # the object's DIFF level 256, read by assimp as /255


def close(a, b, rel=1e-4):
    return abs(a - b) <= rel * max(1.0, abs(a), abs(b))


class PointIndex:
    """Identifies the model points by their position in the object."""

    def __init__(self, exp):
        self.distinct = []  # positions
        self.of_number = {}  # ROK point number -> index into distinct
        for number, pos in exp["positions"].items():
            self.of_number[int(number)] = self._add(tuple(pos))

    def _add(self, pos):
        for i, p in enumerate(self.distinct):
            if all(close(a, b) for a, b in zip(p, pos)):
                return i
        self.distinct.append(pos)
        return len(self.distinct) - 1

    def find(self, pos):
        for i, p in enumerate(self.distinct):
            if all(close(a, b) for a, b in zip(p, pos)):
                return i
        return None


def fmt_pos(p):
    return "(" + ", ".join(f"{v:g}" for v in p) + ")"


# ---------------------------------------------------------------- OpenSceneGraph


class OsgNode:
    def __init__(self, header):
        self.header = header
        self.lines = []
        self.children = []

    def child(self, name):
        for c in self.children:
            if c.header and c.header[0] == name:
                return c
        return None

    def value(self, key, default=None):
        for ln in self.lines:
            if ln and ln[0] == key:
                return ln[1]
        return default

    def numbers(self, conv):
        return [conv(t) for ln in self.lines for t in ln]

    def walk(self):
        yield self
        for c in self.children:
            yield from c.walk()


def parse_osgt(text):
    root = OsgNode(["root"])
    stack = [root]
    for raw in text.splitlines():
        s = raw.strip()
        if not s or s.startswith("#"):
            continue
        if s.endswith("{"):
            node = OsgNode(s[:-1].split())
            stack[-1].children.append(node)
            stack.append(node)
        elif s == "}":
            if len(stack) == 1:
                raise ValueError("unbalanced braces in the .osgt text")
            stack.pop()
        else:
            stack[-1].lines.append(s.split())
    if len(stack) != 1:
        raise ValueError("unterminated block in the .osgt text")
    return root


def osg_array(geometry, name, kind):
    holder = geometry.child(name)
    if holder is None:
        return None, None
    arr = holder.child(kind)
    vec = arr.child("vector") if arr else None
    if vec is None:
        return None, None
    width = 3 if kind == "osg::Vec3Array" else 4
    nums = vec.numbers(float)
    items = [tuple(nums[i:i + width]) for i in range(0, len(nums), width)]
    if len(items) != int(vec.header[1]):
        raise ValueError(f"{name}: vector says {vec.header[1]} items, holds {len(items)}")
    return items, arr.value("Binding")


def osg_primitives(geometry):
    """Yields (mode, [vertex indices]) for every primitive set."""
    psl = geometry.child("PrimitiveSetList")
    if psl is None:
        return
    for ps in psl.children:
        mode = ps.value("Mode")
        if ps.header[0] == "osg::DrawArrays":
            first = int(ps.value("First", 0))
            yield mode, list(range(first, first + int(ps.value("Count", 0))))
        elif ps.header[0].startswith("osg::DrawElements"):
            vec = ps.child("vector")
            yield mode, vec.numbers(int) if vec else []
        else:
            raise ValueError(f"primitive set {ps.header[0]} is not handled")


def split_primitive(mode, idx):
    """Faces (lists of vertex indices, in drawing order) and lines of one primitive set."""
    if mode == "TRIANGLES":
        return [idx[i:i + 3] for i in range(0, len(idx), 3)], []
    if mode == "QUADS":
        return [idx[i:i + 4] for i in range(0, len(idx), 4)], []
    if mode in ("POLYGON", "TRIANGLE_FAN"):
        return [idx], []
    if mode == "LINES":
        return [], [idx[i:i + 2] for i in range(0, len(idx), 2)]
    raise ValueError(f"primitive mode {mode} is not handled")


def face_points(pts, verts, face, err, to_object):
    """The model's point for each vertex of a reported face, or None after saying what is wrong.
    to_object maps a reader's position back to object coordinates for the message, if needed."""
    try:
        ids = [pts.find(verts[i]) for i in face]
    except IndexError:
        err("a face uses vertex indices past the vertex array")
        return None
    if None in ids:
        bad = verts[face[ids.index(None)]]
        where = f" (object coordinates {fmt_pos(to_object(bad))})" if to_object else ""
        err(f"vertex {fmt_pos(bad)} is at no point of the model{where}")
        return None
    return ids


def check_osg(exp, pts, text, errors):
    def err(msg):
        errors.append(f"osgconv: {msg}")

    try:
        root = parse_osgt(text)
        geoms = [n for n in root.walk() if n.header[0] == "osg::Geometry"]
        reported = []
        for g in geoms:
            verts, _ = osg_array(g, "VertexArray", "osg::Vec3Array")
            colours, binding = osg_array(g, "ColorArray", "osg::Vec4Array")
            faces, lines = [], []
            for mode, idx in osg_primitives(g):
                f, ln = split_primitive(mode, idx)
                faces += f
                lines += ln
            reported.append((verts or [], colours, binding, faces, lines))
    except (ValueError, IndexError, AttributeError) as e:
        err(f"cannot read its output: {e}")
        return None

    # OSG's LWOB loader draws no two-point polygons: surfaces with faces only
    surfaces = [s for s in exp["surfaces"] if s["faces"]]
    if len(reported) != len(surfaces):
        err(f"{len(reported)} geometries, expected {len(surfaces)} "
            f"(one per surface with faces: {' '.join(s['name'] for s in surfaces) or 'none'})")
        return None

    n_faces = n_vertices = 0
    seen_points = set()
    for s, (verts, colours, binding, faces, lines) in zip(surfaces, reported):
        name = s["name"]
        want = [v / 255.0 for v in s["rgb"]] + [1.0]
        if not colours:
            err(f"{name}: no colour")
        elif binding == "BIND_OVERALL" and len(colours) != 1:
            err(f"{name}: {len(colours)} overall colours")
        else:
            for c in colours:
                if any(abs(a - b) > COLOUR_TOL for a, b in zip(c, want)):
                    err(f"{name}: colour {fmt_pos(c)}, expected {fmt_pos(want)} "
                        f"(RGB {s['rgb']} / 255)")
                    break
        if lines:
            err(f"{name}: {len(lines)} lines drawn; this loader is known to draw none")
        n_faces += len(faces)
        n_vertices += len(verts)
        want_vertices = sum(len(f["points"]) for f in s["faces"])
        if len(verts) != want_vertices:
            err(f"{name}: {len(verts)} vertices, expected {want_vertices} "
                f"(each face's points once per face)")
        if len(faces) != len(s["faces"]):
            err(f"{name}: {len(faces)} faces, expected {len(s['faces'])}")
        # each reported face must be one of the surface's faces, its vertices in ring order
        todo = [({pts.of_number[p] for p in f["points"]},
                 {frozenset((pts.of_number[a], pts.of_number[b])) for a, b in f["edges"]})
                for f in s["faces"]]
        for face in faces:
            ids = face_points(pts, verts, face, lambda msg: err(f"{name}: {msg}"), osg_to_lwo)
            if ids is None:
                continue
            seen_points.update(ids)
            match = next((t for t in todo if t[0] == set(ids) and len(ids) == len(t[0])), None)
            if match is None:
                err(f"{name}: a face through {len(ids)} vertices matches none of the surface's "
                    f"remaining faces")
                continue
            todo.remove(match)
            ring = {frozenset((ids[i], ids[(i + 1) % len(ids)])) for i in range(len(ids))}
            if ring != match[1]:
                err(f"{name}: a face's vertices are not in the order of its edges")
    want_points = exp["used_points_faces"]
    if len(seen_points) != want_points:
        err(f"{len(seen_points)} distinct points, expected {want_points}")
    return (f"osgconv {len(reported)} surfaces, {n_faces} faces, {n_vertices} vertices, "
            f"{len(seen_points)} points")


def osg_to_lwo(p):
    # osgdb_lwo swaps LightWave's second and third axes
    return (p[0], p[2], p[1])


def osg_positions(pts):
    """A PointIndex that finds OSG coordinates."""
    idx = PointIndex.__new__(PointIndex)
    idx.distinct = [osg_to_lwo(p) for p in pts.distinct]  # the swap is its own inverse
    idx.of_number = pts.of_number
    return idx


# ---------------------------------------------------------------- assimp


def check_assimp(exp, pts, doc, errors):
    def err(msg):
        errors.append(f"assimp: {msg}")

    try:
        materials = []
        for m in doc["materials"]:
            props = {p["key"]: p["value"] for p in m["properties"]}
            materials.append(props)
        meshes = doc["meshes"]
    except (KeyError, TypeError) as e:
        err(f"cannot read its output: missing {e}")
        return None

    names = [m.get("?mat.name") for m in materials]
    want_names = [s["name"] for s in exp["surfaces"]]
    if names != want_names:
        err(f"materials {names}, expected {want_names}")
    by_name = {s["name"]: s for s in exp["surfaces"]}
    for m in materials:
        s = by_name.get(m.get("?mat.name"))
        if s is None:
            continue
        want = [v / 255.0 * ASSIMP_DIFFUSE_SCALE for v in s["rgb"]]
        got = m.get("$clr.diffuse")
        if not isinstance(got, list) or len(got) < 3 or \
                any(abs(a - b) > COLOUR_TOL for a, b in zip(got, want)):
            err(f"{s['name']}: diffuse {got}, expected {[round(v, 6) for v in want]} "
                f"(RGB {s['rgb']} / 255 x 256/255)")
        want_shine = s["specular"] / 255.0
        got_shine = m.get("$mat.shinpercent")
        if not isinstance(got_shine, (int, float)) or abs(got_shine - want_shine) > COLOUR_TOL:
            err(f"{s['name']}: shinpercent {got_shine}, expected {want_shine:.6f} "
                f"(SPEC {s['specular']} / 255)")

    got_lines = {s["name"]: [] for s in exp["surfaces"]}
    got_tris = {s["name"]: [] for s in exp["surfaces"]}
    seen_points = set()
    n_tris = n_lines = 0
    for k, mesh in enumerate(meshes):
        mi = mesh.get("materialindex")
        if not isinstance(mi, int) or not 0 <= mi < len(names) or names[mi] not in got_lines:
            err(f"mesh {k} uses material {mi}, which is no surface of the model")
            continue
        name = names[mi]
        v = mesh.get("vertices", [])
        verts = [(v[i], v[i + 1], -v[i + 2]) for i in range(0, len(v) - 2, 3)]  # 3rd axis back
        for face in mesh.get("faces", []):
            ids = face_points(pts, verts, face, lambda msg: err(f"{name}: {msg}"), None)
            if ids is None:
                continue
            seen_points.update(ids)
            if len(ids) == 2:
                got_lines[name].append(sorted(ids))
                n_lines += 1
            elif len(ids) == 3:
                got_tris[name].append(set(ids))
                n_tris += 1
            else:
                err(f"{name}: a face of {len(ids)} vertices after triangulation")

    for s in exp["surfaces"]:
        name = s["name"]
        want_lines = sorted(sorted((pts.of_number[a], pts.of_number[b])) for a, b in s["lines"])
        if sorted(got_lines[name]) != want_lines:
            err(f"{name}: {len(got_lines[name])} lines, expected {len(want_lines)}"
                + ("" if len(got_lines[name]) != len(want_lines) else " (other end points)"))
        # every triangle lies in one face; each face of n points gives n - 2 of them
        faces = [{pts.of_number[p] for p in f["points"]} for f in s["faces"]]
        count = [0] * len(faces)
        for tri in got_tris[name]:
            home = next((i for i, f in enumerate(faces) if tri <= f), None)
            if home is None:
                err(f"{name}: a triangle lies in none of the surface's faces")
            else:
                count[home] += 1
        want = [len(f) - 2 for f in faces]
        if count != want:
            err(f"{name}: triangles per face {count}, expected {want}")

    want_points = exp["used_points"]
    if len(seen_points) != want_points:
        err(f"{len(seen_points)} distinct points, expected {want_points}")
    return (f"assimp {len(materials)} materials, {n_tris} triangles + {n_lines} lines, "
            f"{len(seen_points)} points")


# ---------------------------------------------------------------- commands


def cmd_check(args):
    label = os.path.basename(args.rok)
    try:
        exp = reader_expect.load_expectations(args.rok)
    except (OSError, reader_expect.NotChecked) as e:
        print(f"{label}: FAIL: cannot take expectations: {e}", file=sys.stderr)
        return 1
    pts = PointIndex(exp)
    errors, parts = [], []
    if args.osg:
        try:
            with open(args.osg, encoding="utf-8", errors="replace") as fh:
                text = fh.read()
        except OSError as e:
            errors.append(f"osgconv: no output: {e}")
        else:
            parts.append(check_osg(exp, osg_positions(pts), text, errors))
    if args.assimp:
        try:
            with open(args.assimp, encoding="utf-8") as fh:
                doc = json.load(fh)
        except (OSError, ValueError) as e:
            errors.append(f"assimp: no readable output: {e}")
        else:
            parts.append(check_assimp(exp, pts, doc, errors))
    if not args.osg and not args.assimp:
        errors.append("no reader output given")
    if errors:
        for e in dict.fromkeys(errors):  # each distinct message once, in order
            print(f"{label}: MISMATCH: {e}", file=sys.stderr)
        return 1
    names = " ".join(s["name"] for s in exp["surfaces"])
    print(f"{label}: {exp['points']} points, {exp['polygons']} polygons "
          f"({exp['faces']} faces, {exp['lines']} lines), surfaces {names} | "
          + " | ".join(parts))
    return 0


def iff_chunks(data, start, end, header=8):
    pos = start
    while pos + header <= end:
        tag = bytes(data[pos:pos + 4])
        size = int.from_bytes(data[pos + 4:pos + header], "big")
        yield tag, pos + header, size
        pos += header + size + (size & 1)


def cmd_damage(args):
    data = bytearray(open(args.input, "rb").read())
    if data[0:4] != b"FORM" or data[8:12] != b"LWOB":
        print(f"{args.input}: not an LWOB file", file=sys.stderr)
        return 1
    chunks = list(iff_chunks(data, 12, len(data)))
    done = False
    renamed = set()
    for tag, body, size in chunks:
        if args.kind == "point" and tag == b"PNTS" and size >= 12:
            x = struct.unpack(">f", data[body:body + 4])[0]
            data[body:body + 4] = struct.pack(">f", x + 1.0)
            done = True
        elif args.kind == "order" and tag == b"POLS":
            pos = body
            while pos < body + size and not done:
                n = int.from_bytes(data[pos:pos + 2], "big")
                if n >= 4:  # swap the 2nd and 3rd vertex of the first face with 4 or more
                    a, b = pos + 4, pos + 6
                    data[a:a + 2], data[b:b + 2] = data[b:b + 2], data[a:a + 2]
                    done = True
                pos += 2 + 2 * n + 2
        elif args.kind == "name" and tag in (b"SRFS", b"SURF") and tag not in renamed \
                and data[body:body + 3] == b"ROK":
            data[body + 1] = ord("Q")  # "ROKn" -> "RQKn" in SRFS and in the first SURF
            renamed.add(tag)
            done = True
        elif args.kind == "colour" and tag == b"SURF" and not done:
            name_end = data.index(0, body) + 1
            name_end += (name_end - body) & 1
            for sub, sbody, _ in iff_chunks(data, name_end, body + size, header=6):
                if sub == b"COLR":
                    data[sbody] = (data[sbody] + 40) & 0xFF
                    done = True
    if not done:
        print(f"{args.input}: nothing to damage for {args.kind}", file=sys.stderr)
        return 1
    open(args.output, "wb").write(data)
    return 0


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = ap.add_subparsers(dest="cmd", required=True)
    c = sub.add_parser("check")
    c.add_argument("rok")
    c.add_argument("--osg")
    c.add_argument("--assimp")
    d = sub.add_parser("damage")
    d.add_argument("kind", choices=["colour", "point", "name", "order"])
    d.add_argument("input")
    d.add_argument("output")
    args = ap.parse_args()
    return cmd_check(args) if args.cmd == "check" else cmd_damage(args)


if __name__ == "__main__":
    sys.exit(main())
