// The version marker each user-mode deliverable carries: four consecutive
// strings in initialised data, found in the binary by whoever needs to know
// which build runs. No code reads them; `used` keeps them through the linker.
// Include this header in exactly one source file of a module.
#pragma once

namespace {

struct VersionMarker {
    char open[4];
    char version[29];
    char built[sizeof("Built at " __TIME__ " on " __DATE__)];
    char close[4];
};

[[gnu::used]] VersionMarker g_VersionMarker = {
    "~~~",
    "YARVO SP Version 2.2.000b / ",
    "Built at " __TIME__ " on " __DATE__,
    "~~~",
};

} // namespace
