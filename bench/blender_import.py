"""Times the Blender add-on against Blender's own OBJ importer on the same model, in one run:

    blender -b --factory-startup --python bench/blender_import.py -- \
        --zip build/blender/io_import_rok.zip --rokconv build/rokconv MODEL.rok [--runs 3]

(bench/blender_import.sh makes the 1,000,000-point grid and runs this.) Each round imports
MODEL.rok with File > Import > ROK, then the OBJ that `rokconv -f obj` wrote of it with
bpy.ops.wm.obj_import, each into an emptied scene; the add-on's time includes running rokconv.
Prints each round and the medians, and exits 1 when the add-on takes more than twice the OBJ
importer's median time.
"""
import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

import bpy

ap = argparse.ArgumentParser()
ap.add_argument("--zip", required=True)
ap.add_argument("--rokconv", required=True)
ap.add_argument("--runs", type=int, default=3)
ap.add_argument("model")
args = ap.parse_args(sys.argv[sys.argv.index("--") + 1:])

bpy.ops.preferences.addon_install(filepath=os.path.abspath(args.zip))
bpy.ops.preferences.addon_enable(module="io_import_rok")
bpy.context.preferences.addons["io_import_rok"].preferences.rokconv = os.path.abspath(args.rokconv)


def empty_scene():
    for ob in list(bpy.data.objects):
        bpy.data.objects.remove(ob)
    for coll in (bpy.data.meshes, bpy.data.materials):
        for item in list(coll):
            coll.remove(item)


def timed(call):
    empty_scene()
    start = time.perf_counter()
    call()
    took = time.perf_counter() - start
    polygons = sum(len(ob.data.polygons) for ob in bpy.data.objects if ob.type == "MESH")
    return took, polygons


with tempfile.TemporaryDirectory() as work:
    obj = os.path.join(work, "model.obj")
    subprocess.run([args.rokconv, "-f", "obj", "-o", obj, args.model], check=True)
    addon, native = [], []
    for round_ in range(args.runs):
        a, pa = timed(lambda: bpy.ops.import_scene.rok(filepath=os.path.abspath(args.model)))
        b, pb = timed(lambda: bpy.ops.wm.obj_import(filepath=obj))
        addon.append(a)
        native.append(b)
        print("round %d: add-on %.2f s (%d polygons), OBJ importer %.2f s (%d polygons)"
              % (round_ + 1, a, pa, b, pb), flush=True)
a, b = statistics.median(addon), statistics.median(native)
print("median: add-on %.2f s, Blender's OBJ importer %.2f s, ratio %.2f (goal at most 2)"
      % (a, b, a / b), flush=True)
sys.exit(0 if a <= 2 * b else 1)
