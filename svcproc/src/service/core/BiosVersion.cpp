#include "core/LibraryState.h"

// Built before the service manager and destroyed after it (see ServiceApi.cpp).
std::string g_BiosVersion __attribute__((init_priority(1000)));
