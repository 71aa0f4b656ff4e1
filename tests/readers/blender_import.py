"""blender -b --factory-startup --python blender_import.py -- FILE EXPECT.json [FILE EXPECT.json..]

Imports OBJ, glTF and STL files and checks them against EXPECT.json: {"faces": polygons
(triangles for glTF), "lines": edges in no polygon, "materials": {name: base colour}}, or for an
STL {"like": GLB}: the same distinct triangles, in world positions to 1e-4, as that GLB's. Prints
"blender: ok FILE WHAT-IT-SAW" or "blender: FAIL FILE ..." for each; exits 1 when any failed.
"""
import json
import sys

import numpy as np

np.bool = bool      # Blender 3.4's glTF importer still uses np.bool, which numpy 1.24 removed
import bpy  # noqa: E402


def meshes(path):
    bpy.ops.wm.read_factory_settings(use_empty=True)
    {"obj": bpy.ops.wm.obj_import, "stl": bpy.ops.import_mesh.stl}.get(
        path[-3:], bpy.ops.import_scene.gltf)(filepath=path)
    return [ob for ob in bpy.data.objects if ob.type == "MESH"]


def triangles(path):
    return {frozenset(tuple(round(c, 4) for c in ob.matrix_world @ ob.data.vertices[v].co)
                      for v in p.vertices) for ob in meshes(path) for p in ob.data.polygons}


def seen(path):
    out = {"faces": 0, "lines": 0, "materials": {}}
    for mesh in (ob.data for ob in meshes(path)):
        used = {k for p in mesh.polygons for k in p.edge_keys}
        out["faces"] += len(mesh.polygons)
        out["lines"] += sum(e.key not in used for e in mesh.edges)
    for m in bpy.data.materials:
        bsdf = next(n for n in m.node_tree.nodes if n.type == "BSDF_PRINCIPLED")
        out["materials"][m.name] = list(bsdf.inputs["Base Color"].default_value[:3])
    return out


failed = 0
args = sys.argv[sys.argv.index("--") + 1:]
for path, expect in zip(args[::2], args[1::2]):
    with open(expect) as f:
        want = json.load(f)
    try:
        if "like" in want:
            got, like = triangles(path), triangles(want["like"])
            got, want = {"triangles": len(got), "missing": len(like - got)}, {
                "triangles": len(like), "missing": 0}
        else:
            got = seen(path)
    except Exception as e:      # an importer's failure is a finding, not the end of the run
        got = {"error": repr(e)}
    ok = got.keys() == want.keys() and all(got[k] == want[k] for k in want if k != "materials") \
        and got.get("materials", {}).keys() == want.get("materials", {}).keys() and all(
            abs(a - b) <= 1e-4 for m, c in want.get("materials", {}).items()
            for a, b in zip(got["materials"][m], c))
    failed += not ok
    print("blender: %s %s %s" % ("ok" if ok else "FAIL", path, json.dumps(got))
          + ("" if ok else " expected %s" % json.dumps(want)), flush=True)
sys.exit(1 if failed or not args else 0)
