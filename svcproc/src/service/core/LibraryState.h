// Library-wide state shared by the core's classes.
#pragma once

#include <string>

// The BIOS version text of the last initialisation; empty until then. Written
// only by the service manager inside the API critical section, before the
// polling thread runs; read by the service processor and the data cache.
extern std::string g_BiosVersion;
