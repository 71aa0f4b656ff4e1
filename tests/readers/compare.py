#!/usr/bin/env python3
"""Opens rokconv's files in readers this project did not write and checks that they see what the
ROK file holds by rokref's reading of it, never by rokconv's output; check_readers.sh installs
what it needs and runs it:  compare.py ROKCONV NODE_MODULES_DIR [READER...]

READS says who reads what: "points" is the comparison here, point by point, of the files taken
apart by rokref.read_* (the STL against the GLB turned to Z up); osgconv (OSG_OPTIMIZER=OFF: one
Geometry per surface with faces, coloured as it, unnamed, each face with its own vertices, no
two-point polygons, y and z swapped) and assimp (assimp.js: diffuse COLR times DIFF/255 =
256/255, shinpercent SPEC/255, faces as triangles, lines as meshes of their own, z negated) read
the LWOB files; Blender (blender_import.py), assimp, the glTF-Validator (validate_gltf.js: no
error or warning) and admesh (no degenerate facet, no normal fixed) the others. Negative
controls, which some check must catch: cube's files damaged on purpose (DAMAGES), cube.LWO
checked against another example. Without `rokconv -f stl` the STL checks are left out, saying so.
"""

import glob
import json
import math
import os
import re
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import rokref  # noqa: E402

COLOUR_TOL = 2e-5   # the readers print 6 significant digits; one colour step is 1/255
READERS = ["osgconv", "assimp", "blender", "validator", "admesh"]
FILES = {"lwo": [".LWO"], "obj": [".obj", ".mtl"], "glb": [".glb"], "gltf": [".gltf", ".bin"],
         "stl": [".stl"]}
# the readers after "|" read the files of deep jobs only: the examples' and the controls'
READS = {"lwo": "osgconv assimp", "obj": "points | assimp blender", "gltf": "points validator",
         "glb": "points validator | assimp blender", "stl": "points admesh | assimp blender"}
DAMAGES = {"lwo": {"colour": "a changed colour", "point": "a moved point",
                   "name": "a renamed surface", "order": "a bow tie (2nd and 3rd vertex swapped)"},
           "obj": {"colour": "a changed colour", "ring": "a flipped ring", "z": "a wrong z sign",
                   "face": "a dropped face", "normal": "a reversed normal"}}
DAMAGES["glb"] = DAMAGES["obj"]
DAMAGES["stl"] = {k: v for k, v in DAMAGES["obj"].items() if k != "colour"}
FAULTS = (OSError, KeyError, IndexError, TypeError, ValueError, StopIteration, struct.error)


class Failed(Exception):
    pass


def run(args, what, **kw):
    """Runs `args`; Failed with what it said when it fails."""
    p = subprocess.run(args, capture_output=True, text=True, **kw)
    if p.returncode:
        raise Failed("%s failed: exit %d, %s" % (what, p.returncode, " ".join(
            (p.stdout + p.stderr).split())))
    return p


def close(p, q, tol=1e-4):
    return len(p) == len(q) and all(abs(a - b) <= tol * max(1.0, abs(a), abs(b))
                                    for a, b in zip(p, q))


def canon(ids):
    """A vertex ring whichever vertex it starts at and whichever way round it goes."""
    return min(tuple(r[i:] + r[:i]) for r in (list(ids), list(ids)[::-1]) for i in range(len(ids)))


def identify(points, verts, face, err):
    """The indices into `points` of a reported face's vertices, or None after err()."""
    ids = [next((i for i, p in enumerate(points) if close(p, verts[v])), None) for v in face]
    return ids if None not in ids else err("vertex %s is at no point of the model"
                                           % (verts[face[ids.index(None)]],))


def osg_geometries(text):
    """(vertices in scene's axes, [polygon], [line], colours) of each osg::Geometry of an .osgt
    text, its blocks taken apart as [header words, lines of words, child blocks]."""
    stack = [[["root"], [], []]]
    for s in (s.strip() for s in text.splitlines()):
        if s.endswith("{"):
            stack[-1][2].append([s[:-1].split(), [], []])
            stack.append(stack[-1][2][-1])
        elif s == "}":
            stack.pop()
        elif s and not s.startswith("#"):
            stack[-1][1].append(s.split())

    def walk(node):
        return [node] + [d for c in node[2] for d in walk(c)]

    def numbers(node, path, width=1, conv=float):
        for name in path.split():
            node = next((c for c in node[2] if c[0][0] == name), None) if node else None
        v = [conv(t) for ln in (node[1] if node else []) for t in ln]
        return [tuple(v[i:i + width]) for i in range(0, len(v), width)] if width > 1 else v

    for g in (n for n in walk(stack[0]) if n[0][0] == "osg::Geometry"):
        faces, lines = [], []
        for ps in next(c for c in g[2] if c[0][0] == "PrimitiveSetList")[2]:
            at = {ln[0]: ln[1] for ln in ps[1] if len(ln) > 1}
            mode, first = at.get("Mode"), int(at.get("First", 0))
            idx = (list(range(first, first + int(at["Count"]))) if ps[0][0] == "osg::DrawArrays"
                   else numbers(ps, "vector", conv=int))
            k = {"TRIANGLES": 3, "QUADS": 4, "LINES": 2}.get(mode, len(idx))  # else one polygon
            (lines if mode == "LINES" else faces).extend(idx[i:i + k]
                                                         for i in range(0, len(idx), k))
        yield ([(x, z, -y) for x, y, z in numbers(g, "VertexArray osg::Vec3Array vector", 3)],
               faces, lines, numbers(g, "ColorArray osg::Vec4Array vector", 4))


def check_osg(exp, text, err):
    geoms = list(osg_geometries(text))
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
        got = sorted(canon(ids) for ids in (identify(exp["points"], verts, f, err) for f in faces)
                     if ids)
        if got != sorted(s["faces"]):
            err("%s: faces (vertex rings) %s, expected %s" % (s["name"], got, sorted(s["faces"])))
    return "osgconv %d geometries, %d faces" % (len(geoms), sum(len(g[1]) for g in geoms))


def check_assimp(exp, doc, err, lwob):
    """assimp's report of an LWOB file (diffuse and shininess from COLR, DIFF and SPEC), or of
    an OBJ or glTF file (diffuse the linear colour)."""
    mats = [{p["key"]: p["value"] for p in m["properties"]} for m in doc["materials"]]
    names = [m.get("?mat.name") for m in mats]
    by_name = {s["name"]: s for s in exp["surfaces"]}
    if (names if lwob else set(names) - {"DefaultMaterial", None}) != (list if lwob else set)(
            by_name):
        err("materials %s, expected %s" % (names, list(by_name)))
    for m, s in ((m, by_name[m["?mat.name"]]) for m in mats if m.get("?mat.name") in by_name):
        want = [c / 255 * 256 / 255 for c in s["rgb"]] if lwob else s["linear"]
        if any(abs(a - b) > COLOUR_TOL for a, b in zip(m["$clr.diffuse"], want)):
            err("%s: diffuse %s, expected %s" % (s["name"], m["$clr.diffuse"], want))
        if lwob and abs(m["$mat.shinpercent"] - s["spec"] / 255) > COLOUR_TOL:
            err("%s: shinpercent %s, expected %d/255"
                % (s["name"], m["$mat.shinpercent"], s["spec"]))
    got = {n: ([], []) for n in by_name}     # lines, triangles
    for mesh in doc["meshes"]:
        name, v = names[mesh["materialindex"]], mesh["vertices"]
        if name not in got:
            err("a mesh uses material %s, which is no surface of the model" % name)
            continue
        verts = [tuple(v[i:i + 3]) for i in range(0, len(v) - 2, 3)]
        for ids in (identify(exp["points"], verts, face, err) for face in mesh["faces"]):
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


def expected(view, number, gltf):
    """The faces [(material, ring, corner normals)] and the sorted lines [(material, pair)] of
    `view`, its points named by `number`. OBJ draws a face of two points as a line; glTF leaves
    it out."""
    faces = [(m or "default", [number[p] for p in r], ns)
             for (m, r), ns in zip(view["faces"], view["normals"]) if len(r) > 2]
    pairs = view["lines"] + [f for f in view["faces"] if len(f[1]) == 2 and not gltf]
    return faces, sorted((m or "default", sorted(number[p] for p in r)) for m, r in pairs)


def normals_fit(got, want, ring):
    """Whether the corner normals `got` of the face through `ring` are unit vectors within 44.5
    degrees of its own normal, and equal to corner_normals' `want` where that is known."""
    own = rokref.newell(ring)
    size = math.sqrt(rokref.dot(own, own)) * (math.cos(math.radians(44.5)) - 1e-4)
    return all(g is not None and abs(math.hypot(*g) - 1) < 1e-4 and rokref.dot(g, own) >= size
               and (w is None or close(g, w)) for g, w in zip(got, want))


def flat(ring):
    """Whether a ring has fewer than 3 distinct points or all of them on one line."""
    d = list(dict.fromkeys(ring))
    return len(d) < 3 or not any(any(rokref.newell([d[0], d[1], q])) for q in d[2:])


def check_obj(view, obj, mtl, err):
    faces, lines = expected(view, {p: k for k, p in enumerate(view["pos"])}, False)
    got = sorted((m, [v for v, _ in c]) for m, k, c in obj["elems"] if k == "f")
    got_l = sorted((m, sorted((a[0], b[0]))) for m, k, c in obj["elems"] if k == "l"
                   for a, b in zip(c, c[1:]))
    if len(obj["v"]) != len(view["points"]) or not all(map(close, obj["v"], view["points"])):
        err("positions %s, expected %s" % (obj["v"][:8], view["points"][:8]))
    if got != sorted(f[:2] for f in faces) or got_l != lines:
        err("faces (material, ring) %s, lines %s, expected %s, %s"
            % (got[:6], got_l[:6], sorted(f[:2] for f in faces)[:6], lines[:6]))
    normals = {(m, tuple(r)): ns for m, r, ns in faces}
    for m, c in ((m, c) for m, k, c in obj["elems"] if k == "f"):
        want = normals.get((m, tuple(v for v, _ in c)), ())
        ns = [n if n is None else obj["vn"][n] for _, n in c]
        if ns != [None] * len(c) if want is None else want and not normals_fit(
                ns, want, [obj["v"][v] for v, _ in c]):
            err("face %s: normals %s, expected %s" % ([v for v, _ in c], ns, want))
    for name in {m for m, _, _ in obj["elems"]}:
        rgb, spec, _ = view["materials"].get(name, ([0.8] * 3, 0, None))
        want = dict(Kd=rgb, Ks=[spec / 256] * 3, Ns=[4], d=[1], illum=[2])
        if any(not close(mtl.get(name, {}).get(k, []), w, 1e-5) for k, w in want.items()):
            err("material %s: %s, expected %s" % (name, mtl.get(name), want))
    return "obj %d points, %d faces, %d lines" % (len(obj["v"]), len(got), len(got_l))


def check_gltf(view, doc, prims, err):
    """Each triangle must lie in a face of its material and run round as its ring does; a face
    of n points gives n - 2 that cover it (their areas add up to its area), none when flat."""
    faces, lines = expected(view, view["pos"], True)
    at, tris, got_l, kinds = {}, [[] for _ in faces], [], []
    for i, (_, r, _) in enumerate(faces):
        for q in r:
            at.setdefault(q, set()).add(i)
    for p in prims:
        pos, idx, mat = p["POSITION"], p["indices"], p["material"] or "default"
        kinds.append((p["mode"], mat))
        if p["mode"] == 1 and "NORMAL" not in p:
            got_l += [(mat, sorted((pos[a], pos[b]))) for a, b in zip(idx[::2], idx[1::2])]
        elif p["mode"] != 4 or "NORMAL" not in p:
            err("a primitive of mode %d, normals %s" % (p["mode"], "NORMAL" in p))
    if len(set(kinds)) != len(kinds):
        err("more than one primitive of a mode and material: %s" % kinds)
    for mat, qs, ns in rokref.triangles(prims):
        home = sorted(i for i in at.get(qs[0], ()) if faces[i][0] == (mat or "default")
                      and set(qs) <= set(faces[i][1]))
        if not home:
            err("a triangle of %s at %s lies in no face of it" % (mat, qs))
            continue
        tris[next((i for i in home if len(tris[i]) < len(faces[i][1]) - 2), home[0])].append(
            (qs, ns))
    for (_, r, ns), ts in zip(faces, tris):
        n, k = len(r), [[r.index(q) for q in qs] for qs, _ in ts]
        want = 0 if flat(r) else n - 2 if len(set(r)) == n else len(ts)
        if len(ts) != want or any((b - a) % n > (c - a) % n for a, b, c in k) or ts and not close(
                [sum(v) for v in zip(*(rokref.newell(qs) for qs, _ in ts))], rokref.newell(r)):
            err("face %s: triangles %s, expected %d in its ring's order" % (r, k, want))
        if ns and not normals_fit([g for _, gs in ts for g in gs], [ns[j] for j in sum(k, [])], r):
            err("face %s: normals %s, expected %s" % (r, [g for _, gs in ts for g in gs], ns))
    if sorted(got_l) != lines:
        err("lines %s, expected %s" % (sorted(got_l)[:6], lines[:6]))
    named, used = [m.get("name") for m in doc.get("materials", [])], {p["material"] for p in prims}
    if not used - {None} <= set(named) <= set(view["materials"]):
        err("materials %s, used %s, expected some of %s" % (named, used, list(view["materials"])))
    for m in (m for m in doc.get("materials", []) if m.get("name") in view["materials"]):
        rgb, spec, _ = view["materials"][m["name"]]
        pbr = m.get("pbrMetallicRoughness", {})
        got = (pbr.get("baseColorFactor"), pbr.get("metallicFactor"), m.get("doubleSided"),
               m.get("extensions", {}).get("KHR_materials_specular", {}).get("specularFactor"))
        if got[1:3] != (0, True) or not close(got[0] or [], rgb + [1], 1e-6) or not close(
                [-1 if got[3] is None else got[3]], [min(1, spec / 64)], 1e-6):
            err("material %s: (colour, metallic, double-sided, specular) %s, expected %s"
                % (m["name"], got, (rgb + [1], 0, True, min(1, spec / 64))))
    return "%d triangles, %d lines" % (sum(map(len, tris)), len(got_l))


def glb_triangles(stl_path):
    """The triangles with area of the GLB file beside an STL file, turned to Z up as STL has it."""
    with open(stl_path[:-4] + ".glb", "rb") as f:
        doc, buf = rokref.read_glb(f.read())
    return [tuple((x, -z, y) for x, y, z in qs) for _, qs, _ in rokref.triangles(
        rokref.read_gltf(doc, [buf])) if any(rokref.newell(qs))]


def check_stl(data, want, err):
    """The STL file holds `want`, the GLB's triangles, in their order, with their own normals."""
    head, tris = rokref.read_stl(data)
    got = [vs for _, vs in tris]
    if b"rokconv" not in head.lower() or head.startswith(b"solid"):
        err("header %r does not name rokconv, or begins with solid" % head)
    if got != want:
        i = next((i for i, (a, b) in enumerate(zip(got, want)) if a != b), min(len(got), len(want)))
        err("%d triangles, expected the glb's %d turned to Z up; triangle %d is %s, expected %s"
            % (len(got), len(want), i, got[i:i + 1], want[i:i + 1]))
    bad = [(i, n, rokref.unit(rokref.newell(vs))) for i, (n, vs) in enumerate(tris)
           if not close(n, rokref.unit(rokref.newell(vs)), 1e-5)]
    return err("%d triangles with a normal not their own, first (number, normal, own) %s"
               % (len(bad), bad[0])) if bad else "stl %d triangles" % len(tris)


def check_admesh(text, err):
    said = dict(re.findall(r"^(Number of facets|Degenerate facets|Normals fixed)\s*:\s*(\d+)",
                           text, re.M))
    if len(said) != 3 or said["Degenerate facets"] != "0" or said["Normals fixed"] != "0":
        err("reports %s, expected 0 degenerate facets and 0 normals fixed" % (said or text[-300:]))
    return "admesh %s facets" % said.get("Number of facets")


def reader_expect(view, glb):
    """What osgconv and assimp (points by position, surfaces in colour order) and Blender
    (counts and colours) should see."""
    points = list(dict.fromkeys(view["pos"].values()))
    faces, lines = expected(view, {p: points.index(q) for p, q in view["pos"].items()}, glb)
    edges = set() if glb else {frozenset(e) for _, r, _ in faces for e in zip(r, r[1:] + r[:1])}
    looks = {m: view["materials"].get(m, ([0.8] * 3, 0, None)) for m, *_ in faces + lines}
    surfaces = [dict(zip(("linear", "spec", "rgb"), looks[n]), name=n, lines=[
        r for m, r in lines if m == n], faces=[canon(r) for m, r, _ in faces if m == n])
                for n in sorted(looks, key=lambda n: (len(n), n))]
    return {"points": points, "surfaces": surfaces}, {
        "faces": sum(0 if flat([points[i] for i in r]) else len(r) - 2 for _, r, _ in faces)
        if glb else len(faces),
        "lines": len({(m * glb, frozenset(r)) for m, r in lines if frozenset(r) not in edges}),
        "materials": {m: c[0] for m, c in looks.items() if m != "default" or not glb}}


def left_out_model():
    """A ROK file with what OBJ and glTF leave out or set apart: faces and lines over a missing
    point and over a point at 1e39 (infinite once scaled by 8), a face of one edge, one of none, a
    flat one (three points on a line), colours past the palette and outside 0-15. Its colour 0
    has faces that are smoothed together (17 degrees apart) and one that is not (50 degrees)."""
    points = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0), ("1e39", 0, 0), (2, 0, 0), (0, 0, 1),
              (2, 0, 0.3), (1.5, 1.5, 0.15), (-1, 0, 1.2), (-1, 1, 1.2)]
    edges = [(1, 2), (2, 3), (3, 4), (4, 1), (1, 5), (5, 2), (2, 99), (99, 1), (2, 6), (6, 1),
             (1, 7), (3, 99), (2, 8), (8, 9), (9, 3), (1, 4), (4, 11), (11, 10), (10, 1)]
    faces = [(0, [1, 2, 3, 4]), (1, [1, 5, 6]), (0, [1, 7, 8]), (2, [1, 9, 10]), (3, [11]),
             (0, []), (20, [4, 3, 2, 1]), (5, [2, 3, 4, 1]), (0, [13, 14, 15, 2]),
             (0, [16, 17, 18, 19])]
    rows = ["ROKU4 made by compare.py", "POINT"] + [v for x in points for v in (0,) * 5 + x]
    rows += ["LINE0"] + [v for a, b in edges for v in (a, b, 0, 0)] + ["FACE0"]
    rows += [v for c, es in faces for v in [len(es), c, 0] + es] + ["END00", "LINE2"]
    rows += [v for e, c in ((11, 1), (12, 1), (11, 7)) for v in (e, 0, c, 0)] + ["ENDL2"]
    rows += ["PALC0", 4, 0, 200, 40, 40, 100, 20, 20, 0, 0, 0, 255, 0, 0, 255, 0, 10, 250, 10,
             10, 200, 10, 0, 255, 255, 255, 0, 0, 0, 0, "ENDP0", ""]
    return "\n".join(map(str, rows)).encode()


def damage(path, kind):
    """Puts one fault of `kind` into rokconv's LWOB, OBJ (or its MTL), GLB or STL file `path`."""
    with open(path, "rb") as f:
        d = bytearray(f.read())
    if path.endswith(".LWO"):
        at = {}
        for tag, body, size in rokref.chunks(d):
            at.setdefault(tag, (body, size))
        if kind == "point":         # the first point's x
            d[at[b"PNTS"][0]:at[b"PNTS"][0] + 4] = struct.pack(">f", struct.unpack_from(
                ">f", d, at[b"PNTS"][0])[0] + 1)
        elif kind == "order":
            pos = next(p for p, v, _ in rokref.polygons(d, *at[b"POLS"]) if len(v) >= 4)
            d[pos + 4:pos + 8] = d[pos + 6:pos + 8] + d[pos + 4:pos + 6]
        elif kind == "name":        # ROKn -> RQKn in SRFS and in the first SURF
            d[at[b"SRFS"][0] + 1] = d[at[b"SURF"][0] + 1] = ord("Q")
        else:                       # the red of the first surface
            colr = d.index(b"COLR\0\4", at[b"SURF"][0]) + 6
            d[colr] = (d[colr] + 40) & 0xFF
    elif path.endswith(".stl"):     # the first triangle's normal or corners, the last one, every z
        head, tris = rokref.read_stl(d)
        n, vs = tris[0]
        tris[0] = {"normal": ((-n[0], -n[1], -n[2]), vs), "ring": (n, (vs[0], vs[2], vs[1]))}.get(
            kind, tris[0])
        tris = tris[:-1] if kind == "face" else [(n, [(x, -y, z) for x, y, z in vs]) for n, vs in
                                                 tris] if kind == "z" else tris
        d = head + struct.pack("<I", len(tris)) + b"".join(
            struct.pack("<12fH", *n, *sum(map(tuple, vs), ()), 0) for n, vs in tris)
    elif path.endswith(".glb"):
        doc, buf = rokref.read_glb(d)
        buf = bytearray(buf)
        prim = next(p for m in doc["meshes"] for p in m["primitives"] if p.get("mode", 4) == 4)
        acc = doc["accessors"][prim["attributes"].get({"z": "POSITION", "normal": "NORMAL"}.get(
            kind), prim["indices"])]
        view = doc["bufferViews"][acc["bufferView"]]
        at, w = view.get("byteOffset", 0) + acc.get("byteOffset", 0), view.get("byteStride", 12)
        if kind == "colour":
            rgba = doc["materials"][0]["pbrMetallicRoughness"]["baseColorFactor"]
            rgba[0] = (rgba[0] + 0.5) % 1
        elif kind == "ring":    # the first triangle's second and third corner swapped
            w = {5121: 1, 5123: 2, 5125: 4}[acc["componentType"]]
            buf[at + w:at + 3 * w] = buf[at + 2 * w:at + 3 * w] + buf[at + w:at + 2 * w]
        elif kind == "face":    # the last triangle
            acc["count"] -= 3
        for k in range(acc["count"] if kind == "z" else kind == "normal"):  # every z, one normal
            x, y, z = struct.unpack_from("<3f", buf, at + w * k)
            struct.pack_into("<3f", buf, at + w * k, *((x, y, -z) if kind == "z" else
                                                       (-x, -y, -z)))
        js = json.dumps(doc).encode()
        js += b" " * (-len(js) % 4)
        d = struct.pack("<4sIII4s", b"glTF", 2, 28 + len(js) + len(buf), len(js), b"JSON") + js \
            + struct.pack("<I4s", len(buf), b"BIN\0") + buf
    else:
        lines = d.decode().splitlines()
        key = {"colour": "Kd", "normal": "vn", "z": "v"}.get(kind, "f")
        i = next(i for i, ln in enumerate(lines) if ln.split()[:1] == [key])
        w = lines[i].split()
        if kind == "colour":
            lines[i] = "Kd %.6f %s %s" % ((float(w[1]) + 0.5) % 1, w[2], w[3])
        elif kind in ("ring", "normal"):
            lines[i] = " ".join(w[:1] + (w[:0:-1] if kind == "ring" else
                                         [repr(-float(x)) for x in w[1:]]))
        elif kind == "face":
            del lines[i]
        else:                       # every z
            lines = [" ".join(w[:3] + [repr(-float(w[3]))]) if w[:1] == ["v"] else ln
                     for ln, w in ((ln, ln.split()) for ln in lines)]
        d = ("\n".join(lines) + "\n").encode()
    with open(path, "wb") as f:
        f.write(d)


def readers_of(path, deep, readers):
    shallow, _, more = READS[path[path.rfind(".") + 1:].lower()].partition("|")
    return [r for r in (shallow + more * deep).split() if r in readers + ["points"]]


def convert(rokconv, rok, fmts, into):
    """[[file, files it refers to...]] that `rokconv -f FMT rok` makes in `into` for each of
    `fmts`, making an STL's GLB too; Failed when it fails, says something, or leaves one out."""
    os.makedirs(into, exist_ok=True)
    base, out = os.path.join(into, os.path.basename(rok).rsplit(".", 1)[0]), []
    for fmt in fmts + ["glb"] * ("stl" in fmts and "glb" not in fmts):
        files = [base + e for e in FILES[fmt]]
        p = run([rokconv, "-f", fmt, rok], "rokconv -f " + fmt, cwd=into)
        if p.stdout or p.stderr or not all(map(os.path.exists, files)):
            raise Failed("rokconv -f %s said %r" % (fmt, p.stdout + p.stderr))
        out += [files] if fmt in fmts else []
    return out


def look(who, path, beside, view, modules, err):
    """What `who`, a reader that runs once a file, makes of `path`, checked against `view`."""
    fmt = path[path.rfind(".") + 1:].lower()
    if who == "osgconv":
        run(["osgconv", path, path + ".osgt"], who, env=dict(os.environ, OSG_OPTIMIZER="OFF"))
        with open(path + ".osgt", encoding="utf-8", errors="replace") as f:
            return check_osg(reader_expect(view, False)[0], f.read(), err)
    if who == "admesh":     # it takes a file of fewer than 4 facets for an empty one
        return os.path.getsize(path) >= 84 + 4 * 50 and check_admesh(
            run(["admesh", "-e", "-v", path], who).stdout, err)
    if who == "assimp":
        run(["node", os.path.join(HERE, "assimp.js"), os.path.join(modules, "assimpjs"), path,
             path + ".json", *beside], who)
        with open(path + ".json", encoding="utf-8") as f:
            doc = json.load(f)
        if fmt != "stl":
            return check_assimp(reader_expect(view, fmt == "glb")[0], doc, err, fmt == "lwo")
        got, want = sum(len(m["faces"]) for m in doc["meshes"]), len(glb_triangles(path))
        return "assimp %d triangles" % got if got == want else err(
            "%d triangles, expected the glb's %d" % (got, want))
    with open(path, "rb") as f:
        data = f.read()
    if fmt == "obj":
        with open(beside[0]) as f:
            obj, mtl = rokref.read_obj(data.decode()), rokref.read_obj(f.read())["mtl"]
        if obj["mtllib"] != os.path.basename(beside[0]):
            err("mtllib %s" % obj["mtllib"])
        return check_obj(view, obj, mtl, err)
    if fmt == "stl":
        return check_stl(data, glb_triangles(path), err)
    doc, buf = rokref.read_glb(data) if fmt == "glb" else (json.loads(data), None)
    bufs = [buf] if fmt == "glb" else [open(os.path.join(os.path.dirname(path), b["uri"]),
                                            "rb").read() for b in doc["buffers"]]
    return fmt + " " + check_gltf(view, doc, rokref.read_gltf(doc, bufs), err)


def batch(jobs, readers, modules, work):
    """{(reader, file): (ok, what it said)} from one run of Blender on the files it is to read,
    and one of the validator."""
    said, args, gltf = {}, [], []
    for i, (_, _, view, files, deep) in enumerate(jobs):
        for j, f in enumerate(f[0] for f in files):
            gltf += [f] if "validator" in readers_of(f, deep, readers) else []
            if "blender" in readers_of(f, deep, readers):
                args += [f, os.path.join(work, "expect-%d-%d.json" % (i, j))]
                with open(args[-1], "w") as g:
                    json.dump({"like": f[:-4] + ".glb"} if f.endswith(".stl") else
                              reader_expect(view, f.endswith(".glb"))[1], g)
    if args:
        # Blender takes its Python's home from the first python3 on PATH: Debian's, whose
        # numpy it needs, not one of pyenv's that may have started this script
        p = subprocess.run(["blender", "-b", "--factory-startup", "--python-exit-code", "3",
                            "--python", os.path.join(HERE, "blender_import.py"), "--"] + args,
                           capture_output=True, text=True,
                           env=dict(os.environ, PATH="/usr/bin:" + os.environ["PATH"]))
        said.update((("blender", path), (ok == "ok", text)) for _, ok, path, text in (
            ln.split(" ", 3) for ln in p.stdout.splitlines() if ln.startswith("blender: ")))
    if gltf:
        p = subprocess.run(["node", os.path.join(HERE, "validate_gltf.js"), modules] + gltf,
                           capture_output=True, text=True)
        said.update((("validator", path.rstrip(":")), (ok == "ok", text)) for ok, path, text in (
            (ln + "  ").split(" ", 2) for ln in p.stdout.splitlines()))
    return said


def main(argv):
    rokconv, modules, readers = argv[1], argv[2], argv[3:] or READERS
    start, counts = time.time(), [0, 0]     # failed, passed
    examples = sorted(glob.glob(os.path.join(ROOT, "examples", "*.rok")))
    cube = os.path.join(ROOT, "examples", "cube.rok")
    if cube not in examples:
        print("check_readers: error: no examples/cube.rok", file=sys.stderr)
        return 2
    other = examples[(examples.index(cube) + 1) % len(examples)]
    rokgen = os.path.join(os.path.dirname(rokconv), "tests", "support", "rokgen")
    made = [["left", "out"], ["grid", "2000"], ["ring", "500"]] + [
        ["damaged", k, "--eol", e] for k in run([rokgen, "damaged", "--list"], "rokgen").stdout
        .split() for e in ("lf", "crlf", "cr")]
    # the fuzz corpus, less the files that are not ROK files, which give no output
    corpus = [r for r in sorted(glob.glob(os.path.join(ROOT, "fuzz", "corpus", "*.rok")))
              if rokref.load_rok(open(r, "rb").read()) is not None]
    # the LWOB checks need osgconv or assimp: osgconv keeps no surface names, and assimp
    # triangulates, losing the vertex order
    lwob = {"osgconv", "assimp"} & set(readers)
    kinds = [k for k in ("other", "colour", "point", "name", "order") if lwob and {
        "other": other != cube, "name": "assimp" in lwob, "order": "osgconv" in lwob}.get(k, 1)]

    def report(ok, line):
        counts[ok] += 1
        print(("ok    " if ok else "FAIL  ") + line.replace("\n", "\n        "))

    with tempfile.TemporaryDirectory(prefix="check_readers.") as work:
        p = subprocess.run([rokconv, "-f", "stl", cube], cwd=work, capture_output=True, text=True)
        said = (p.stdout + p.stderr).strip()
        stl = [] if p.returncode == 1 and said.startswith("unknown format: stl") else ["stl"]
        if not stl:
            print("skipped: every STL check, this rokconv writes no STL (%s)" % said.split("\n")[0])
        models = [(os.path.basename(r), r, ["lwo"], None) for r in examples if lwob]
        models += [("cube.LWO " + ("checked against " + os.path.basename(other) if k == "other"
                                   else "with " + DAMAGES["lwo"][k]), cube, ["lwo"], k)
                   for k in kinds]
        models += [(os.path.basename(r) + (" as OBJ, glTF and STL" if stl else " as OBJ and glTF"),
                    r, ["obj", "glb", "gltf"] + stl, None) for r in examples]
        models += [(os.path.basename(r) + " of the fuzz corpus", r, ["obj", "glb"] + stl, None)
                   for r in corpus]
        models += [(" ".join(a), os.path.join(work, "-".join(a) + ".rok"), ["obj", "glb"] + stl,
                    None) for a in made]
        models += [("cube.%s with %s" % (f, DAMAGES[f][k]), cube, [f], k)
                   for f in ["obj", "glb"] + stl for k in DAMAGES[f]]
        with open(os.path.join(work, "left-out.rok"), "wb") as f:
            f.write(left_out_model())
        jobs = []
        for label, rok, fmts, kind in models:
            try:
                if not os.path.exists(rok):
                    run([rokgen] + label.split() + ["-o", rok], "rokgen " + label)
                files = convert(rokconv, rok, fmts, os.path.join(work, "-".join(label.split())))
                if kind in DAMAGES.get(fmts[0], {}):
                    damage(files[0][(fmts[0], kind) == ("obj", "colour")], kind)
            except (Failed,) + FAULTS as e:
                report(False, "%s: %s" % (label, e))
                continue
            with open(other if kind == "other" else rok, "rb") as f:
                view = rokref.scene(rokref.load_rok(f.read()))
            jobs.append((label, bool(kind), dict(view, normals=rokref.corner_normals(view)), files,
                         bool(kind) or "gltf" in fmts or "lwo" in fmts))
        said = batch(jobs, readers, modules, work)
        for label, control, view, files, deep in jobs:
            seen, errors = [], []
            for (path, *beside), who in ((f, w) for f in files
                                         for w in readers_of(f[0], deep, readers)):
                def err(msg, who=who, path=path):
                    errors.append("%s %s: %s" % (os.path.basename(path), who, msg))
                try:
                    ok, text = said.get((who, path), (False, "said nothing"))
                    seen.append(look(who, path, beside, view, modules, err) if who not in (
                        "blender", "validator") else ok and who or err(text))
                except (Failed,) + FAULTS as e:
                    err("cannot make sense of it: %r" % e)
            if control:
                caught = sorted({e.split(" ")[1].rstrip(":") for e in errors})
                report(bool(errors), "control: %s %s" % (label, "is caught by %s (%s)" % (
                    ", ".join(caught), errors[0][:300]) if errors else "went unnoticed"))
            else:
                report(not errors, "%s: %s" % (label, "\n".join(
                    [e[:300] for e in errors[:6]] + ["..."] * (len(errors) > 6)) if errors
                    else " | ".join(filter(None, seen))))
    print("readers: %s; %d s" % (" ".join(readers), time.time() - start))
    print("check_readers: %d passed, %d failed" % (counts[1], counts[0]))
    return 1 if counts[0] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
