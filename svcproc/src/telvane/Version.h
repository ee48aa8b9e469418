// The version of the service and the marker that identifies its build.
#pragma once

namespace telvane {

inline constexpr const char* kVersionMajor = "2";
inline constexpr const char* kVersionMinor = "2";
inline constexpr const char* kVersionBuild = "000b";

} // namespace telvane
