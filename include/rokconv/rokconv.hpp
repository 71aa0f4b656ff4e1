// The rokconv library: read ROK models, order their faces into rings, write LightWave objects.
#pragma once

#include "rokconv/lwob.hpp"
#include "rokconv/model.hpp"
#include "rokconv/ring.hpp"
#include "rokconv/rok.hpp"
