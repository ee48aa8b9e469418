#include "VersionMarker.h"
