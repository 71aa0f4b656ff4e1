"""Renders a glTF file as Blender imports it, as a small PNG picture:

    blender -b --factory-startup --python docs/render_glb.py -- MODEL.glb PICTURE.png

The model is framed by a camera looking down on it from the front right, lit by the sun and
a grey sky, and rendered with Cycles on the processor.
"""
import math
import sys

import numpy as np

np.bool = bool  # Blender 3.4's glTF importer still uses np.bool, which numpy 1.24 removed
import bpy  # noqa: E402
from mathutils import Vector  # noqa: E402

glb, png = sys.argv[sys.argv.index("--") + 1:][:2]
bpy.ops.wm.read_factory_settings(use_empty=True)
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
