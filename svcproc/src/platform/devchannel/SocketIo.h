// Whole-buffer socket reads and writes shared by both ends of the channel.
#pragma once

#include <cstddef>
#include <string>

namespace svcproc::devchannel::detail {

// False when the peer went away or the call failed; EINTR is retried.
bool SendAll(int fd, const void* data, size_t size);
bool ReceiveAll(int fd, void* data, size_t size);

// "$SVCPROC_RUNTIME_DIR" or "/run/svcproc".
std::string RuntimeDirectory();

} // namespace svcproc::devchannel::detail
