// The rokconv library: read ROK models (and report what a damaged one lost), order their faces
// into rings, write LightWave objects, Wavefront OBJ, glTF 2.0 and STL.
#pragma once

#include "rokconv/format.hpp"
#include "rokconv/gltf.hpp"
#include "rokconv/lwob.hpp"
#include "rokconv/model.hpp"
#include "rokconv/obj.hpp"
#include "rokconv/output.hpp"
#include "rokconv/report.hpp"
#include "rokconv/ring.hpp"
#include "rokconv/rok.hpp"
#include "rokconv/stl.hpp"
