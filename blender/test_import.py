"""The Blender add-on, installed from its zip and run headless:

    blender -b --factory-startup --python blender/test_import.py -- \
        --zip build/blender/io_import_rok.zip --rokconv build/rokconv \
        --rokgen build/tests/support/rokgen --examples examples

Imports every example, generated models of every kind (the damaged ones too) and a file that is
not ROK, and checks each against what rokconv itself says of it: `--info --json`, the OBJ it
writes (polygons, materials, lines, normals) and Blender's glTF import of its .glb (where the
model lies, which side of each face is the front). One line per check, then "N passed, N failed";
exit status 1 when any failed.
"""
import argparse
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import traceback

import numpy as np

np.bool = bool      # Blender 3.4's glTF importer still uses np.bool, which numpy 1.24 removed
import bpy  # noqa: E402
from mathutils import Vector  # noqa: E402

ap = argparse.ArgumentParser()
for a in ("--zip", "--rokconv", "--rokgen", "--examples"):
    ap.add_argument(a, required=True)
args = ap.parse_args(sys.argv[sys.argv.index("--") + 1:])
rokconv = os.path.abspath(args.rokconv)
work = tempfile.mkdtemp(prefix="rok-addon-test-")
# the add-on's temporary folders go here, so that what it leaves behind can be seen
scratch = os.path.join(work, "tmp")
os.mkdir(scratch)
tempfile.tempdir = scratch
counts = [0, 0]


def check(ok, what, detail=""):
    counts[not ok] += 1
    print("%s %s%s" % ("ok  " if ok else "FAIL", what, "" if ok else ": " + str(detail)), flush=True)
    return ok


def clear():
    for ob in list(bpy.data.objects):
        bpy.data.objects.remove(ob)
    for coll in (bpy.data.meshes, bpy.data.materials):
        for item in list(coll):
            coll.remove(item)


def run(*argv):
    return subprocess.run(argv, capture_output=True, text=True, check=True).stdout


def turned(p):
    """An OBJ (Y-up) position in Blender's Z-up frame, as glTF's importer turns it."""
    return (p[0], -p[2], p[1])


def key(p, size):
    return tuple(round(c / size, 4) for c in p)


def read_obj(path):
    """Positions, faces [(vertex, normal) corners], lines [[vertex..]], materials used, MTL Kd/Ks."""
    pos, nrm, faces, lines, used, current = [], [], [], [], set(), None
    with open(path) as f:
        for line in f:
            w = line.split()
            if not w:
                continue
            if w[0] == "v":
                pos.append(turned([float(c) for c in w[1:4]]))
            elif w[0] == "vn":
                nrm.append(turned([float(c) for c in w[1:4]]))
            elif w[0] == "usemtl":
                current = w[1]
            elif w[0] in ("f", "l"):
                corners = [[int(n) - 1 if n else None for n in c.split("/")] + [None] * 2
                           for c in w[1:]]
                (faces if w[0] == "f" else lines).append(
                    [(c[0], c[2]) for c in corners] if w[0] == "f" else [c[0] for c in corners])
                used.add(current)
    mtl, name = {}, None
    with open(path[:-4] + ".mtl") as f:
        for line in f:
            w = line.split()
            if w and w[0] == "newmtl":
                name = w[1]
                mtl[name] = {}
            elif w and w[0] in ("Kd", "Ks"):
                mtl[name][w[0]] = [float(c) for c in w[1:4]]
    return pos, nrm, faces, lines, used, mtl


def world_points(obs):
    """World positions of the vertices in an edge or polygon (loose vertices are no geometry)."""
    out = []
    for ob in obs:
        me = ob.data
        used = {v for e in me.edges for v in e.vertices}
        out += [ob.matrix_world @ me.vertices[v].co for v in used]
    return out


def bounds(points):
    if not points:
        return None
    return [min(p[i] for p in points) for i in range(3)] + [max(p[i] for p in points) for i in range(3)]


def gltf_import(glb):
    before = set(bpy.data.objects)
    bpy.ops.import_scene.gltf(filepath=glb)
    return [ob for ob in bpy.data.objects if ob not in before and ob.type == "MESH"]


def bsdf_of(material):
    return next(n for n in material.node_tree.nodes if n.type == "BSDF_PRINCIPLED")


def rok_import(**kw):
    addon = sys.modules["io_import_rok"]
    before = set(bpy.data.objects)
    try:
        result = bpy.ops.import_scene.rok(**kw)
    except RuntimeError:        # what a script sees of an operator's error report
        result = {"ERROR"}
    return result, [ob for ob in bpy.data.objects if ob not in before], list(addon.last_reports)


def check_model(label, path, normals=True):
    """Imports PATH with the add-on and checks it against rokconv's own outputs of it."""
    clear()
    ref = os.path.join(work, "ref")
    shutil.rmtree(ref, ignore_errors=True)
    os.mkdir(ref)
    info = json.loads(run(rokconv, "--info", "--json", path))
    info_text = run(rokconv, "--info", "-f", "obj", path).splitlines()
    run(rokconv, "-f", "obj", "-d", ref, path)
    run(rokconv, "-f", "glb", "-d", ref, path)
    stem = os.path.splitext(os.path.basename(path))[0]
    pos, nrm, faces, lines, used, mtl = read_obj(os.path.join(ref, stem + ".obj"))

    result, made, reports = rok_import(filepath=path)
    if not check(result == {"FINISHED"} and len(made) == 1, label + ": one object", (result, made)):
        return
    ob = made[0]
    me = ob.data
    check(ob.name == stem and tuple(ob.rotation_euler) == (0, 0, 0)
          and tuple(ob.scale) == (1, 1, 1) and ob.select_get()
          and bpy.context.view_layer.objects.active == ob,
          label + ": named after the file, unturned, selected and active",
          (ob.name, tuple(ob.rotation_euler), tuple(ob.scale), ob.select_get(),
           bpy.context.view_layer.objects.active))

    # polygons: each OBJ face one polygon of as many corners; --info counts at least as many
    check(len(me.polygons) == len(faces) <= info["faces"]
          and sorted(len(p.vertices) for p in me.polygons) == sorted(len(f) for f in faces),
          label + ": %d polygons, none triangulated" % len(faces),
          (len(me.polygons), len(faces), info["faces"]))

    # materials: those the OBJ uses, with rokconv's glTF values; their numbers colours in use
    mats = {m.name: m for m in me.materials if m}
    names_ok = set(mats) == used and all(
        n == "default" or int(n[3:]) in info["colours"] for n in mats)
    bad = []
    for n, m in mats.items():
        b = bsdf_of(m)
        want = mtl.get(n, {})
        kd = want.get("Kd", list(b.inputs["Base Color"].default_value[:3]))
        specular = min(1.0, 4 * want.get("Ks", [0])[0])
        got = list(b.inputs["Base Color"].default_value[:3]) + [
            b.inputs["Roughness"].default_value, b.inputs["Specular"].default_value]
        if any(abs(a - e) > 1e-5 for a, e in zip(got, kd + [math.sqrt(2 / 6), specular])):
            bad.append((n, got, kd, specular))
    check(names_ok and not bad, label + ": materials %s, colours as the MTL's Kd"
          % sorted(mats), (sorted(mats), sorted(used), bad))

    # lines: the distinct point pairs of the l elements that are no polygon's edge
    size = max(1.0, max((abs(c) for p in pos for c in p), default=1.0))
    face_edges = {frozenset((key(pos[f[i][0]], size), key(pos[f[i - 1][0]], size)))
                  for f in faces for i in range(len(f))}
    want_lines = {frozenset((key(pos[a], size), key(pos[b], size)))
                  for ln in lines for a, b in zip(ln, ln[1:]) if a != b} - face_edges
    poly_edges = {k for p in me.polygons for k in p.edge_keys}
    got_lines = {frozenset(key(ob.matrix_world @ me.vertices[v].co, size) for v in e.vertices)
                 for e in me.edges if e.key not in poly_edges}
    check(got_lines == want_lines and len(got_lines) == sum(e.key not in poly_edges for e in me.edges),
          label + ": %d loose edges, where the OBJ's lines are" % len(want_lines),
          (len(got_lines), len(want_lines)))

    # where the model lies and which side is in front: as Blender's glTF importer has the .glb
    ours = world_points([ob])
    gl = gltf_import(os.path.join(ref, stem + ".glb"))
    theirs = world_points(gl)
    a, b = bounds(ours), bounds(theirs)
    check((a is None and b is None) or (a and b and all(abs(x - y) <= 1e-4 * size for x, y in zip(a, b))),
          label + ": bounding box as the glb's", (a, b))
    at = {}
    for i, p in enumerate(me.polygons):
        for v in p.vertices:
            at.setdefault(key(ob.matrix_world @ me.vertices[v].co, size), set()).add(i)
    turn = [Vector() for _ in me.polygons]
    for g in gl:
        for p in g.data.polygons:
            c = [g.matrix_world @ g.data.vertices[v].co for v in p.vertices]
            owners = set.intersection(*(at.get(key(q, size), set()) for q in c))
            for i in owners:
                turn[i] += (c[1] - c[0]).cross(c[2] - c[0])
    newell = []
    for i, p in enumerate(me.polygons):
        c = [ob.matrix_world @ me.vertices[v].co for v in p.vertices]
        newell.append(sum(((c[j - 1]).cross(c[j]) for j in range(len(c))), Vector()))
    compared = [i for i in range(len(newell)) if turn[i].length > 1e-9 and newell[i].length > 1e-9]
    backwards = [i for i in compared if newell[i].dot(turn[i]) <= 0]
    check(not backwards and (compared or not gl or not me.polygons),
          label + ": front faces as the glb's, %d compared" % len(compared), backwards[:5])

    if normals and nrm:
        # custom split normals: the OBJ's vn at every corner, the polygons and their corners in
        # the file's order. Blender keeps a custom normal to about 0.2 degrees (0.004), so
        # 0.01 is allowed; flat shading would be off by far more at a grid's smoothed corners
        me.calc_normals_split()
        wrong = 0
        for p, f in zip(me.polygons, faces):
            for li, (v, n) in zip(p.loop_indices, f):
                loop = me.loops[li]
                wrong += (Vector(nrm[n]) - loop.normal).length > 0.01 or (
                    ob.matrix_world @ me.vertices[loop.vertex_index].co - Vector(pos[v])).length \
                    > 1e-4 * size
        check(wrong == 0, label + ": smooth shading, each corner's normal the OBJ's vn",
              "%d corners differ" % wrong)

    # the repairs reported: --info's, one warning each, no error
    found = sum(r["count"] > 0 for r in info["repairs"].values()) + bool(info["cut_short"]) \
        + sum(r["count"] > 0 for r in info["left_out"]["obj"].values())
    warned = [t for level, t in reports if level == "WARNING"]
    texts = {line.split(": ", 1)[1] for line in info_text}
    check(len(warned) == found and all(w.split(": ", 1)[1] in texts for w in warned)
          and all(level == "WARNING" for level, _ in reports),
          label + ": %d repairs reported, as --info finds them" % found, (reports, found))


def main():
    bpy.ops.preferences.addon_install(filepath=os.path.abspath(args.zip))
    bpy.ops.preferences.addon_enable(module="io_import_rok")
    check("io_import_rok" in bpy.context.preferences.addons and hasattr(bpy.ops.import_scene, "rok")
          and any(getattr(f, "__name__", "") == "menu_import"
                  for f in getattr(bpy.types.TOPBAR_MT_file_import.draw, "_draw_funcs", ())),
          "the add-on installs from its zip and adds File > Import > ROK (.rok)")
    prefs = bpy.context.preferences.addons["io_import_rok"].preferences

    # no converter, and one too old: a clear message, nothing imported
    fake = os.path.join(work, "old-rokconv")
    with open(fake, "w") as f:
        f.write("#!/bin/sh\necho 'rokconv 1.9.3'\n")
    os.chmod(fake, 0o755)
    for program, says in ((os.path.join(work, "none"), "install rokconv 2.0.0"),
                          (fake, "too old")):
        prefs.rokconv = program
        result, made, reports = rok_import(filepath=os.path.join(args.examples, "cube.rok"))
        check(result == {"ERROR"} and not made and says in reports[0][1],
              "converter %s: '%s'" % (os.path.basename(program), says), reports)
    prefs.rokconv = rokconv

    models = os.path.join(work, "models")
    os.mkdir(models)
    gen = [("grid", "grid", "300"), ("grid-crlf", "grid", "120", "--eol", "crlf", "--preamble"),
           ("grid-cr", "grid", "100", "--eol", "cr", "--seed", "7"), ("ring", "ring", "40"),
           ("empty", "damaged", "truncated", "--at", "10")]     # cut short before any point
    gen += [("damaged-" + k, "damaged", k) for k in run(args.rokgen, "damaged", "--list").split()]
    for name, *how in gen:
        run(args.rokgen, *how, "-o", os.path.join(models, name + ".rok"))
    # a long name: cut to Blender's 63 bytes, at a character's end
    long_name = "maison-\u00e9t\u00e9-" * 6 + ".rok"
    shutil.copy(os.path.join(args.examples, "house.rok"), os.path.join(models, long_name))

    for name in sorted(os.listdir(args.examples)):
        if name.endswith(".rok"):
            check_model("examples/" + name, os.path.join(args.examples, name))
    for name, *how in gen:
        check_model(name, os.path.join(models, name + ".rok"), normals=not name.startswith("damaged"))

    clear()
    _, made, _ = rok_import(filepath=os.path.join(models, long_name))
    want = os.path.splitext(long_name)[0].encode()[:63].decode("utf-8", "ignore")
    check(len(made) == 1 and made[0].name == want and len(want.encode()) in (62, 63),
          "a long name cut to %d bytes at a character's end" % len(want.encode()),
          [o.name for o in made])

    # not ROK: an error, nothing imported; among others, the others still come in
    notrok = os.path.join(models, "notes.rok")
    with open(notrok, "w") as f:
        f.write("these are notes, not a model\n")
    clear()
    result, made, reports = rok_import(filepath=notrok)
    check(result == {"ERROR"} and not made and not bpy.data.meshes
          and reports and reports[0][0] == "ERROR" and "not a ROK file" in reports[0][1],
          "a file that is not ROK: an error, nothing imported", (result, reports))
    result, made, reports = rok_import(filepath=os.path.join(models, "missing.rok"))
    check(result == {"ERROR"} and not made and "could not open" in reports[0][1],
          "a file that cannot be read: rokconv's message, nothing imported", reports)
    clear()
    result, made, reports = rok_import(directory=models, files=[
        {"name": "ring.rok"}, {"name": "notes.rok"}, {"name": "grid-cr.rok"}])
    check(result == {"ERROR"} and sorted(o.name for o in made) == ["grid-cr", "ring"]
          and all(o.select_get() for o in made)
          and bpy.context.view_layer.objects.active.name == "grid-cr"
          and [lv for lv, _ in reports] == ["ERROR"],
          "three files at once, one not ROK: the other two imported, selected, the last active",
          ([o.name for o in made], reports))

    # the Scale option scales the model about the origin
    clear()
    _, one, _ = rok_import(filepath=os.path.join(args.examples, "house.rok"))
    _, two, _ = rok_import(filepath=os.path.join(args.examples, "house.rok"), scale=2.5)
    a, b = bounds(world_points(one)), bounds(world_points(two))
    check(all(abs(2.5 * x - y) < 1e-4 for x, y in zip(a, b)) and tuple(two[0].scale) == (1, 1, 1),
          "Scale 2.5: the model 2.5 times as large", (a, b))
    check([one[0].name, two[0].name] == ["house", "house.001"]
          and [one[0].data.name, two[0].data.name] == ["house", "house.001"],
          "imported again: the new object is house.001, the first keeps its name",
          [one[0].name, two[0].name])

    left = [os.path.join(d, f) for d, dirs, files in os.walk(scratch) for f in dirs + files]
    check(not left, "no temporary file left behind", left[:5])


try:
    main()
except Exception:
    traceback.print_exc()
    counts[1] += 1
finally:
    shutil.rmtree(work, ignore_errors=True)
print("%d passed, %d failed" % tuple(counts), flush=True)
sys.exit(1 if counts[1] else 0)
