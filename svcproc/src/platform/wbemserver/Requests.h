// Running one client request on a layer thread.
#pragma once

#include "Connection.h"
#include "Providers.h"

namespace svcproc::wbemserver {

// Runs `request` for the client of `connection` and answers it. Returns the
// provider the connection now watches (Watch that succeeded), else null.
ProviderPtr RunRequest(const ConnectionPtr& connection, const wbemwire::Request& request);

} // namespace svcproc::wbemserver
