"""Renders a model as Blender imports it, as a small PNG picture: a glTF file through Blender's
own importer, or a ROK file through the add-on, installed from its zip, with the rokconv named:

    blender -b --factory-startup --python docs/render.py -- MODEL.glb PICTURE.png
    blender -b --factory-startup --python docs/render.py -- --addon \
        build/blender/io_import_rok.zip build/rokconv examples/house.rok docs/house-addon.png

The model is framed by a camera looking down on it from the front right, lit by the sun and
a grey sky, and rendered with Cycles on the processor.
"""
import math
import os
import sys

import numpy as np

np.bool = bool  # Blender 3.4's glTF importer still uses np.bool, which numpy 1.24 removed
import bpy  # noqa: E402
from mathutils import Vector  # noqa: E402

args = sys.argv[sys.argv.index("--") + 1:]
bpy.ops.wm.read_factory_settings(use_empty=True)
if args[0] == "--addon":
    addon_zip, rokconv, rok, png = (os.path.abspath(a) for a in args[1:5])
    bpy.ops.preferences.addon_install(filepath=addon_zip)
    bpy.ops.preferences.addon_enable(module="io_import_rok")
    bpy.context.preferences.addons["io_import_rok"].preferences.rokconv = rokconv
    bpy.ops.import_scene.rok(filepath=rok)
else:
    glb, png = args[:2]
    bpy.ops.import_scene.gltf(filepath=glb)
scene = bpy.context.scene

corners = [ob.matrix_world @ Vector(c) for ob in scene.objects if ob.type == "MESH"
           for c in ob.bound_box]
low = Vector(tuple(min(c[i] for c in corners) for i in range(3)))
high = Vector(tuple(max(c[i] for c in corners) for i in range(3)))
centre, size = (low + high) / 2, (high - low).length

camera = bpy.data.objects.new("camera", bpy.data.cameras.new("camera"))
scene.collection.objects.link(camera)
camera.location = centre + Vector((1.1, -1.4, 0.9)) * size  # Blender's Z is up
camera.rotation_euler = (centre - camera.location).to_track_quat("-Z", "Y").to_euler()
scene.camera = camera
sun = bpy.data.objects.new("sun", bpy.data.lights.new("sun", "SUN"))
sun.rotation_euler = (math.radians(40), math.radians(10), math.radians(30))
sun.data.energy = 4
scene.collection.objects.link(sun)
scene.world = bpy.data.worlds.new("sky")
scene.world.color = (0.35, 0.35, 0.38)

scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = 32
scene.cycles.use_denoising = False  # Debian builds Blender without OpenImageDenoise
scene.render.resolution_x, scene.render.resolution_y = 480, 360
scene.render.filepath = png
bpy.ops.render.render(write_still=True)
