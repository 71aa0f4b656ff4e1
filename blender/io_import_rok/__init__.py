"""File > Import > ROK (.rok): ROK models in Blender, converted by the rokconv program.

rokconv (2.0.0 or later, on PATH or named in the add-on's preferences) writes each model as
Wavefront OBJ into a temporary folder, and Blender's own OBJ importer reads it; this add-on
then puts the model where Blender's glTF importer puts the same model's .glb, and gives its
materials the glTF material's values. It reads no ROK itself.
"""
import os
import re
import shutil
import subprocess
import tempfile
import time

import bpy
from bpy.props import CollectionProperty, FloatProperty, StringProperty
from bpy.types import AddonPreferences, Operator, OperatorFileListElement
from bpy_extras.io_utils import ImportHelper

bl_info = {
    "name": "ROK format",
    "author": "rokconv",
    "version": (2, 0, 0),
    "blender": (3, 4, 0),
    "location": "File > Import > ROK (.rok)",
    "description": "Import ROK models, converted by the rokconv program",
    "category": "Import-Export",
}

NEEDED = (2, 0, 0)
INSTALL_HINT = ("install rokconv 2.0.0 or later and put it on PATH, or name it in this "
                "add-on's preferences (Edit > Preferences > Add-ons > ROK format)")
NAME_BYTES = 63         # Blender's longest ID name, in bytes
ROUGHNESS = (2 / (4 + 2)) ** 0.5    # glossiness 0, a Phong exponent of 4, as rokconv's glTF has it

# what the last import reported, (level, text) in order: for scripts and the tests, which
# see no status bar
last_reports = []


class RokPreferences(AddonPreferences):
    bl_idname = __package__

    rokconv: StringProperty(
        name="rokconv program",
        description="The rokconv program to convert with; empty: the one found on PATH",
        subtype="FILE_PATH",
    )

    def draw(self, context):
        self.layout.prop(self, "rokconv")


class ConverterMissing(Exception):
    pass


def find_rokconv(context):
    """The rokconv program to use, checked to be 2.0.0 or later; ConverterMissing if none."""
    addon = context.preferences.addons.get(__package__)
    named = addon.preferences.rokconv.strip() if addon else ""
    program = bpy.path.abspath(named) if named else shutil.which("rokconv")
    if not program:
        raise ConverterMissing("rokconv was not found on PATH: " + INSTALL_HINT)
    try:
        out = subprocess.run([program, "--version"], capture_output=True, text=True,
                             timeout=30).stdout
    except (OSError, subprocess.SubprocessError) as e:
        raise ConverterMissing("cannot run %s (%s): %s" % (program, e, INSTALL_HINT))
    found = re.search(r"rokconv (\d+)\.(\d+)\.(\d+)", out)
    if not found:
        raise ConverterMissing("%s is not rokconv: %s" % (program, INSTALL_HINT))
    version = tuple(int(n) for n in found.groups())
    if version < NEEDED:
        raise ConverterMissing("%s is rokconv %d.%d.%d, too old: %s"
                               % ((program,) + version + (INSTALL_HINT,)))
    return program


def cut(name, limit=NAME_BYTES):
    """NAME cut to LIMIT bytes of UTF-8 at a character's end."""
    return name.encode("utf-8", "surrogateescape")[:limit].decode("utf-8", "ignore")


def object_name(path, taken):
    """The file's name without its extension, cut to Blender's 63 bytes at a character's end;
    NAME.001 and on where TAKEN has it already (a rename to a taken name would otherwise rename
    the object that has it)."""
    name = cut(os.path.splitext(os.path.basename(path))[0] or "ROK")
    number = 0
    while name in taken:
        number += 1
        name = "%s.%03d" % (cut(name.rsplit(".", 1)[0] if number > 1 else name,
                                NAME_BYTES - 4), number)
    return name


def repairs(messages, path):
    """What rokconv -v said it repaired in the model or left out of the OBJ: the lines of
    --info's report that tell of a repair, without the file's name."""
    return [line[len(path) + 2:] for line in messages.splitlines()
            if line.startswith(path + ": ")]


def read_mtl(path):
    """{material: {"Kd": (r, g, b), "Ks": (r, g, b)}} from rokconv's MTL file."""
    materials, current = {}, None
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            words = line.split()
            if len(words) >= 2 and words[0] == "newmtl":
                current = materials.setdefault(line.strip()[7:].strip(), {})
            elif current is not None and len(words) == 4 and words[0] in ("Kd", "Ks"):
                current[words[0]] = tuple(float(w) for w in words[1:])
    return materials


def set_material(material, values):
    """The glTF material's values: base colour Kd, roughness 0.577, specular min(1, 4 Ks)."""
    if not material.use_nodes or material.node_tree is None:
        material.use_nodes = True
    bsdf = next((n for n in material.node_tree.nodes if n.type == "BSDF_PRINCIPLED"), None)
    if bsdf is None:
        return
    kd = values.get("Kd", (0.8, 0.8, 0.8))
    # the specular level as a fraction, 256 being 100 %; glTF's specularFactor is 1 at 64
    specular = min(1.0, 4.0 * values.get("Ks", (0.0,))[0])
    bsdf.inputs["Base Color"].default_value = (kd[0], kd[1], kd[2], 1.0)
    bsdf.inputs["Roughness"].default_value = ROUGHNESS
    bsdf.inputs["Metallic"].default_value = 0.0
    # Blender 4.0 renamed Principled BSDF's Specular
    key = "Specular" if "Specular" in bsdf.inputs else "Specular IOR Level"
    bsdf.inputs[key].default_value = specular
    material.diffuse_color = (kd[0], kd[1], kd[2], 1.0)
    material.use_backface_culling = False      # every surface is double-sided


def import_one(context, program, path, scale):
    """Imports one ROK file as one object; returns (object, repair lines). Raises ValueError
    for a file that is not ROK and RuntimeError when rokconv fails."""
    with tempfile.TemporaryDirectory(prefix="rok-import-") as work:
        obj = os.path.join(work, "model.obj")
        # -v: the repairs, as --info reports them; -q: no progress line
        convert = subprocess.run([program, "-v", "-q", "-f", "obj", "-o", obj, "--", path],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                 errors="replace")
        if convert.returncode != 0:
            raise RuntimeError("rokconv could not convert it: "
                               + (convert.stdout.strip() or "exit status %d" % convert.returncode))
        if not os.path.exists(obj):
            # rokconv writes nothing, and says so in its report, for a file that is not ROK
            raise ValueError("not a ROK file, nothing imported")

        before = set(bpy.data.objects)
        before_materials = set(bpy.data.materials)
        bpy.ops.wm.obj_import(filepath=obj, global_scale=scale, forward_axis="NEGATIVE_Z",
                              up_axis="Y", validate_meshes=False)
        made = [ob for ob in bpy.data.objects if ob not in before]
        mtl = read_mtl(os.path.join(work, "model.mtl")) \
            if os.path.exists(os.path.join(work, "model.mtl")) else {}

    if not made:
        # an empty model: OBJ's importer makes no object for a file without geometry
        ob = bpy.data.objects.new("ROK", bpy.data.meshes.new("ROK"))
        context.collection.objects.link(ob)
        made = [ob]
    ob = made[0]
    ob.name = ob.data.name = "rok import"    # out of the way of the name it is to have
    # the importer turns Y-up to Z-up in the object's matrix; glTF's importer turns the mesh
    # itself, (x, y, z) -> (x, -z, y), and leaves the object unturned: do the same
    ob.data.transform(ob.matrix_basis)
    ob.matrix_basis.identity()
    ob.name = object_name(path, bpy.data.objects)
    ob.data.name = object_name(path, bpy.data.meshes)
    if bpy.app.version < (4, 1):
        # custom normals (the OBJ's vn) show only with auto smooth before 4.1
        ob.data.use_auto_smooth = True
    for material in bpy.data.materials:
        if material not in before_materials:
            base = re.sub(r"\.\d{3}$", "", material.name)
            set_material(material, mtl.get(base, {}))
    return ob, repairs(convert.stdout, path)


class ImportRok(Operator, ImportHelper):
    """Import ROK models, converted by the rokconv program"""
    bl_idname = "import_scene.rok"
    bl_label = "Import ROK"
    bl_options = {"REGISTER", "UNDO"}

    filename_ext = ".rok"
    filter_glob: StringProperty(default="*.rok;*.ROK", options={"HIDDEN"})
    files: CollectionProperty(type=OperatorFileListElement, options={"HIDDEN", "SKIP_SAVE"})
    directory: StringProperty(subtype="DIR_PATH", options={"HIDDEN", "SKIP_SAVE"})
    scale: FloatProperty(name="Scale", description="Scale the imported models by this",
                         default=1.0, min=1e-6, max=1e6, soft_min=0.001, soft_max=1000)

    def note(self, level, text):
        last_reports.append((level, text))
        self.report({level}, text)

    def execute(self, context):
        last_reports.clear()
        paths = [os.path.join(self.directory, f.name) for f in self.files if f.name] \
            if self.directory and len(self.files) and self.files[0].name else [self.filepath]
        try:
            program = find_rokconv(context)
        except ConverterMissing as e:
            self.note("ERROR", str(e))
            return {"CANCELLED"}
        if context.view_layer.objects.active and context.mode != "OBJECT":
            bpy.ops.object.mode_set(mode="OBJECT")
        started = time.perf_counter()
        made = []
        for path in paths:
            name = os.path.basename(path)
            try:
                ob, found = import_one(context, program, path, self.scale)
            except (ValueError, RuntimeError, OSError) as e:
                self.note("ERROR", "%s: %s" % (name, e))
                continue
            made.append(ob)
            for line in found:
                self.note("WARNING", "%s: %s" % (name, line))
        if not made:
            return {"CANCELLED"}
        for ob in context.view_layer.objects:
            ob.select_set(False)
        for ob in made:
            ob.select_set(True)
        context.view_layer.objects.active = made[-1]
        print("ROK import of %d file(s) took %.1f s" % (len(made), time.perf_counter() - started))
        return {"FINISHED"}


def menu_import(self, context):
    self.layout.operator(ImportRok.bl_idname, text="ROK (.rok)")


classes = (RokPreferences, ImportRok)


def register():
    for c in classes:
        bpy.utils.register_class(c)
    bpy.types.TOPBAR_MT_file_import.append(menu_import)


def unregister():
    bpy.types.TOPBAR_MT_file_import.remove(menu_import)
    for c in reversed(classes):
        bpy.utils.unregister_class(c)
