#!/usr/bin/env python3
"""Opens rokconv's objects in LightWave readers this project did not write, and checks that they
see what the ROK file holds; check_readers.sh installs what it needs and runs it:

    compare.py ROKCONV ASSIMPJS_DIR [READER...]      READER: osgconv, assimp (default both)

Every examples/*.rok is converted with ROKCONV and read with OpenSceneGraph's osgconv (to .osgt
text) and with the Open Asset Import Library (assimpjs under Node.js, assimp.js). Their reports
are compared with rokref's reading of the ROK file, never with rokconv's output: the points, each
face's vertex ring, the line polygons, one material per used colour named ROK<index> in colour
order, its colour and (assimp) its specular level. Then the negative controls: cube.LWO checked
against another example, and damaged on purpose (a colour, a point, a surface name, a face's
vertex order), must be caught. What the readers are known to do, and are checked for:
  osgconv (osgdb_lwo; OSG_OPTIMIZER=OFF keeps surfaces of one colour apart): one Geometry per
  surface with faces, in surface order, coloured as the surface and without its name; each face
  its own copy of its vertices; two-point polygons not drawn. Its y and z are LightWave's z and y.
  assimp (with assimpjs's post-processing): one material per surface, named as in SRFS, in
  surface order; $clr.diffuse is the colour times DIFF/255 (256/255 here), $mat.shinpercent is
  SPEC/255; faces come back as triangles, lines as meshes of their own; its z is negated.
"""

import glob
import json
import os
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import rokref  # noqa: E402

COLOUR_TOL = 2e-5   # the readers print 6 significant digits; one colour step is 1/255


class Failed(Exception):
    pass


def close(p, q):
    return all(abs(a - b) <= 1e-4 * max(1.0, abs(a), abs(b)) for a, b in zip(p, q))


def canon(ids):
    """A vertex ring whichever vertex it starts at and whichever way round it goes."""
    return min(tuple(r[i:] + r[:i]) for r in (list(ids), list(ids)[::-1]) for i in range(len(ids)))


def expect(path):
    """What the object made from the ROK file at `path` holds, by rokref's reading of it:
    {"points": distinct positions, "surfaces": [{name, rgb, spec, faces, lines}]}, each face a
    canon() ring and each line a sorted pair of indices into the points."""
    with open(path, "rb") as f:
        m = rokref.load_rok(f.read())
    if m is None:
        raise Failed("not a ROK file")
    points, surfaces = [], {}

    def ident(p):
        if not 1 <= p <= len(m.points):
            raise Failed("point %d does not exist: fix the example" % p)
        pos = rokref.position(m.points[p - 1])
        if pos not in points:
            points.append(pos)
        return points.index(pos)

    for colour, refs, _ in m.polys:
        if not 0 <= colour < min(len(m.pal), 16):
            raise Failed("colour %d has no palette entry: fix the example" % colour)
        s = surfaces.setdefault(colour, {"faces": [], "lines": []})
        ids = [ident(p) for p in rokref.polygon_points(m, refs)]
        pairs = {frozenset((ids[i - 1], ids[i])) for i in range(len(ids))}
        if len(ids) == 2:
            s["lines"].append(sorted(ids))
        elif len(ids) < 3 or len(set(ids)) != len(ids) or pairs != {
                frozenset(ident(p) for p in m.edges[k][:2]) for k in refs}:
            raise Failed("a face of colour %d is not one closed ring: fix the example" % colour)
        else:
            s["faces"].append(canon(ids))
    return {"points": points, "surfaces": [
        dict(zip(("rgb", "spec"), rokref.surface_look(m.pal[c])), name="ROK%d" % c, **surfaces[c])
        for c in sorted(surfaces)]}


def identify(exp, verts, face, err, name):
    """The indices into exp["points"] of a reported face's vertices, or None after err()."""
    try:
        ids = [next((i for i, p in enumerate(exp["points"]) if close(p, verts[v])), None)
               for v in face]
    except IndexError:
        return err("%s: a face uses vertices past the vertex array" % name)
    if None in ids:
        return err("%s: vertex %s is at no point of the model"
                   % (name, verts[face[ids.index(None)]]))
    return ids


def osg_tree(text):
    """The blocks of an .osgt text as [header words, lines of words, child blocks]."""
    stack = [[["root"], [], []]]
    for s in (s.strip() for s in text.splitlines()):
        if s.endswith("{"):
            stack[-1][2].append([s[:-1].split(), [], []])
            stack.append(stack[-1][2][-1])
        elif s == "}":
            stack.pop()
        elif s and not s.startswith("#"):
            stack[-1][1].append(s.split())
    return stack[0]


def child(node, *names):
    for name in names:
        node = next((c for c in node[2] if c[0][0] == name), None) if node else None
    return node


def numbers(node, width=1, conv=float):
    v = [conv(t) for ln in (node[1] if node else []) for t in ln]
    return [tuple(v[i:i + width]) for i in range(0, len(v), width)] if width > 1 else v


def value(node, key, default=0):
    return next((ln[1] for ln in node[1] if ln[0] == key), default)


def walk(node):
    yield node
    for c in node[2]:
        yield from walk(c)


def check_osg(exp, text, err):
    geoms = []
    for g in (n for n in walk(osg_tree(text)) if n[0][0] == "osg::Geometry"):
        verts = numbers(child(g, "VertexArray", "osg::Vec3Array", "vector"), 3)
        faces, lines = [], []
        for ps in child(g, "PrimitiveSetList")[2]:
            mode, first = value(ps, "Mode"), int(value(ps, "First"))
            idx = (list(range(first, first + int(value(ps, "Count"))))
                   if ps[0][0] == "osg::DrawArrays" else numbers(child(ps, "vector"), conv=int))
            k = {"TRIANGLES": 3, "QUADS": 4, "LINES": 2}.get(mode, len(idx))   # else one polygon
            (lines if mode == "LINES" else faces).extend(idx[i:i + k]
                                                         for i in range(0, len(idx), k))
        geoms.append(([(x, z, y) for x, y, z in verts], faces, lines,
                      numbers(child(g, "ColorArray", "osg::Vec4Array", "vector"), 4)))
    surfaces = [s for s in exp["surfaces"] if s["faces"]]   # it draws no two-point polygons
    if len(geoms) != len(surfaces):
        return err("%d geometries, expected %d (one per surface with faces)"
                   % (len(geoms), len(surfaces)))
    for s, (verts, faces, lines, colours) in zip(surfaces, geoms):
        want = [c / 255 for c in s["rgb"]] + [1.0]
        if not colours or any(abs(a - b) > COLOUR_TOL for c in colours for a, b in zip(c, want)):
            err("%s: colours %s, expected %s" % (s["name"], colours, want))
        if lines:
            err("%s: %d lines drawn; this loader is known to draw none" % (s["name"], len(lines)))
        if len(verts) != sum(map(len, s["faces"])):
            err("%s: %d vertices, expected each face's own" % (s["name"], len(verts)))
        got = sorted(canon(ids) for ids in (identify(exp, verts, f, err, s["name"]) for f in faces)
                     if ids)
        if got != sorted(s["faces"]):
            err("%s: faces (vertex rings) %s, expected %s" % (s["name"], got, sorted(s["faces"])))
    return "osgconv %d geometries, %d faces" % (len(geoms), sum(len(g[1]) for g in geoms))


def check_assimp(exp, doc, err):
    mats = [{p["key"]: p["value"] for p in m["properties"]} for m in doc["materials"]]
    names = [m.get("?mat.name") for m in mats]
    by_name = {s["name"]: s for s in exp["surfaces"]}
    if names != list(by_name):
        err("materials %s, expected %s" % (names, list(by_name)))
    for m, s in ((m, by_name[m["?mat.name"]]) for m in mats if m["?mat.name"] in by_name):
        want = [c / 255 * 256 / 255 for c in s["rgb"]]
        if any(abs(a - b) > COLOUR_TOL for a, b in zip(m["$clr.diffuse"], want)):
            err("%s: diffuse %s, expected %s" % (s["name"], m["$clr.diffuse"], want))
        if abs(m["$mat.shinpercent"] - s["spec"] / 255) > COLOUR_TOL:
            err("%s: shinpercent %s, expected %d/255"
                % (s["name"], m["$mat.shinpercent"], s["spec"]))
    got = {n: ([], []) for n in by_name}     # lines, triangles
    for mesh in doc["meshes"]:
        name = names[mesh["materialindex"]]
        if name not in got:
            err("a mesh uses material %s, which is no surface of the model" % name)
            continue
        v = mesh["vertices"]
        verts = [(v[i], v[i + 1], -v[i + 2]) for i in range(0, len(v) - 2, 3)]
        for ids in (identify(exp, verts, face, err, name) for face in mesh["faces"]):
            if ids and not 2 <= len(ids) <= 3:
                err("%s: a face of %d vertices, neither a triangle nor a line" % (name, len(ids)))
            elif ids:
                got[name][len(ids) - 2].append(sorted(ids))
    for name, s in by_name.items():
        lines, tris = got[name]
        if sorted(lines) != sorted(s["lines"]):
            err("%s: lines %s, expected %s" % (name, sorted(lines), sorted(s["lines"])))
        # every triangle lies in one face, and a face of n points gives n - 2 that cover it
        home = [[t for t in tris if len(set(t)) == 3 and set(t) <= set(f)] for f in s["faces"]]
        if [len(h) for h in home] != [len(f) - 2 for f in s["faces"]] or \
                len(tris) != sum(map(len, home)) or \
                any(set().union(*h) != set(f) for h, f in zip(home, s["faces"])):
            err("%s: triangles %s, expected n - 2 covering each of the faces %s"
                % (name, sorted(tris), s["faces"]))
    return "assimp %d materials, %d triangles + %d lines" % (
        len(mats), sum(len(t) for _, t in got.values()), sum(len(ln) for ln, _ in got.values()))


def damage(data, kind):
    """A copy of the LWOB file `data` with one fault of `kind`, for the negative controls."""
    d = bytearray(data)
    at = {}
    for tag, body, size in rokref.chunks(d):
        at.setdefault(tag, (body, size))
    if kind == "point":         # the first point's x
        x = at[b"PNTS"][0]
        d[x:x + 4] = struct.pack(">f", struct.unpack_from(">f", d, x)[0] + 1)
    elif kind == "order":       # a bow tie: the 2nd and 3rd vertex of a face of 4 or more swapped
        pos = next(p for p, v, _ in rokref.polygons(d, *at[b"POLS"]) if len(v) >= 4)
        d[pos + 4:pos + 8] = d[pos + 6:pos + 8] + d[pos + 4:pos + 6]
    elif kind == "name":        # ROKn -> RQKn in SRFS and in the first SURF
        d[at[b"SRFS"][0] + 1] = d[at[b"SURF"][0] + 1] = ord("Q")
    elif kind == "colour":      # the red of the first surface
        body, size = at[b"SURF"]
        subs = rokref.chunks(d, body + (d.index(0, body) - body + 2) // 2 * 2, body + size, 6)
        colr = next(b for t, b, _ in subs if t == b"COLR")
        d[colr] = (d[colr] + 40) & 0xFF
    return bytes(d)


class Checker:
    def __init__(self, rokconv, assimpjs, readers, work):
        self.rokconv, self.assimpjs, self.readers, self.work = rokconv, assimpjs, readers, work
        self.passed = self.failed = 0

    def report(self, ok, line):
        self.passed, self.failed = self.passed + ok, self.failed + (not ok)
        print(("ok    " if ok else "FAIL  ") + line.replace("\n", "\n        "))

    def read(self, lwo):
        """What the readers made of the object at `lwo`; Failed when one cannot read it."""
        out = {}
        if "osgconv" in self.readers:
            p = subprocess.run(["osgconv", lwo, lwo + ".osgt"], capture_output=True, text=True,
                               env=dict(os.environ, OSG_OPTIMIZER="OFF"))
            if p.returncode or not os.path.exists(lwo + ".osgt"):
                raise Failed("osgconv could not read it: "
                             + " ".join((p.stdout + p.stderr).split()))
            with open(lwo + ".osgt", encoding="utf-8", errors="replace") as f:
                out["osgconv"] = f.read()
        if "assimp" in self.readers:
            js = os.path.join(ROOT, "tests", "readers", "assimp.js")
            p = subprocess.run(["node", js, self.assimpjs, lwo, lwo + ".json"],
                               capture_output=True, text=True)
            if p.returncode:
                raise Failed("assimp could not read it: " + " ".join(p.stderr.split()))
            with open(lwo + ".json", encoding="utf-8") as f:
                out["assimp"] = json.load(f)
        return out

    def compare(self, exp, lwo):
        """What the readers saw of `lwo`, and every way in which it differs from `exp`."""
        errors, seen = [], []
        for reader, report in self.read(lwo).items():
            def err(msg, reader=reader):
                errors.append("%s: %s" % (reader, msg))
            try:
                seen.append((check_osg if reader == "osgconv" else check_assimp)(exp, report, err))
            except (KeyError, IndexError, TypeError, ValueError, StopIteration) as e:
                err("cannot make sense of its report: %r" % e)
        return " | ".join(filter(None, seen)), list(dict.fromkeys(errors))

    def example(self, rok):
        """Converts and checks one example; gives its object, if rokconv made one."""
        name = os.path.basename(rok)
        lwo = os.path.join(self.work, name[:name.rfind(".")] + ".LWO")
        p = subprocess.run([self.rokconv, rok], cwd=self.work, capture_output=True, text=True)
        try:
            if p.returncode or p.stdout or p.stderr or not os.path.exists(lwo):
                raise Failed("rokconv failed: exit %d, %r" % (p.returncode, p.stdout + p.stderr))
            exp = expect(rok)
            seen, errors = self.compare(exp, lwo)
            if errors:
                raise Failed("the readers disagree with the ROK file:\n" + "\n".join(errors))
            s = exp["surfaces"]
            self.report(True, "%s: %d points, %d faces, %d lines, surfaces %s | %s" % (
                name, len(exp["points"]), sum(len(x["faces"]) for x in s),
                sum(len(x["lines"]) for x in s), " ".join(x["name"] for x in s), seen))
        except Failed as e:
            self.report(False, "%s: %s" % (name, e))
        return lwo if os.path.exists(lwo) else None

    def control(self, what, rok, lwo):
        """Passes when a reader or the comparison finds something wrong."""
        exp = expect(rok)
        try:
            errors = self.compare(exp, lwo)[1]
        except Failed as e:
            errors = [str(e)]
        self.report(bool(errors), "control: %s %s"
                    % (what, "is caught (%s)" % errors[0] if errors else "went unnoticed"))


def main(argv):
    rokconv, assimpjs, readers = argv[1], argv[2], argv[3:] or ["osgconv", "assimp"]
    start = time.time()
    examples = sorted(glob.glob(os.path.join(ROOT, "examples", "*.rok")))
    cube = os.path.join(ROOT, "examples", "cube.rok")
    if cube not in examples:
        print("check_readers: error: no examples/cube.rok", file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory(prefix="check_readers.") as work:
        c = Checker(rokconv, assimpjs, readers, work)
        lwos = [c.example(rok) for rok in examples]
        # negative controls: the comparison must notice a wrong model and damaged objects
        good = lwos[examples.index(cube)]
        other = examples[(examples.index(cube) + 1) % len(examples)]
        if good and other != cube:
            c.control("cube.LWO checked against " + os.path.basename(other), other, good)
        # osgconv keeps no surface names, and assimp triangulates, losing the vertex order
        kinds = ["colour", "point"] + ["name"] * ("assimp" in readers) + ["order"] * (
            "osgconv" in readers)
        for kind in kinds if good else []:
            bad = os.path.join(work, "bad-%s.LWO" % kind)
            with open(good, "rb") as f, open(bad, "wb") as g:
                g.write(damage(f.read(), kind))
            c.control("cube.LWO with a damaged " + kind, cube, bad)
    print("readers: %s; %d s" % (" ".join(readers), time.time() - start))
    print("check_readers: %d passed, %d failed" % (c.passed, c.failed))
    return 1 if c.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
