// The WBEM endpoint and the decoupled registrar behind
// CoCreateInstance(CLSID_WbemDecoupledRegistrar). Loading this library
// installs the registrar's class factory; the first Register starts the
// endpoint on $SVCPROC_RUNTIME_DIR/wbem/endpoint.sock (mode 0666: every local
// user may connect, the providers' access checks decide who may read).
#pragma once

#include <string>

#include "Wbem.h"

#define SVCP_WBEMSERVER_EXPORT __attribute__((visibility("default")))

namespace svcproc::wbemserver {

// Installs the registrar's class factory (done at load; harmless again).
SVCP_WBEMSERVER_EXPORT void EnsureRegistered();

// Starts serving, if not yet; false when the socket cannot be served.
SVCP_WBEMSERVER_EXPORT bool StartEndpoint();
// Stops serving: closes every connection, waits for the layer threads and
// removes the socket. Registrations stay; the next Register starts again.
SVCP_WBEMSERVER_EXPORT void StopEndpoint();
// The socket being served, or empty.
SVCP_WBEMSERVER_EXPORT std::string EndpointPath();

} // namespace svcproc::wbemserver
