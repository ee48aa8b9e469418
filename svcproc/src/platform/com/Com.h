// The COM layer: results, identifiers, IUnknown, values and the runtime.
#pragma once

#include "ComApi.h"
#include "Guid.h"
#include "HResult.h"
#include "OleAuto.h"
#include "Unknown.h"
