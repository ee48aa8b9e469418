// The WBEM layer: interfaces, schema and the layer's objects.
#pragma once

#include "Com.h"
#include "Schema.h"
#include "WbemInterfaces.h"
#include "WbemObjects.h"
#include "WbemTypes.h"
