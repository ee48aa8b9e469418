// The files behind the service database and the status reports.
#pragma once

#include <optional>
#include <string>

#include "Scm.h"

namespace svcproc::scm {

std::string Narrow(const wchar_t* text);
std::wstring Widen(const std::string& text);

// Service names become file names: letters, digits and "_-.@", 1 to 256.
bool IsValidServiceName(const std::wstring& name);

std::string UnitDirectory();
std::string UnitPath(const std::string& unitDir, const std::wstring& name);
std::string WantsLinkPath(const std::string& unitDir, const std::wstring& name);
std::string StatusPath(const std::wstring& name);

struct StoredStatus {
    SERVICE_STATUS status{};
    long pid = 0;
};

// Writes the status atomically (temporary file, then rename); false with
// errno set on failure.
bool WriteStatusFile(const std::wstring& name, const SERVICE_STATUS& status);
std::optional<StoredStatus> ReadStatusFile(const std::wstring& name);
bool ProcessIsAlive(long pid);

// Errno of a failed file call as the platform's error code.
DWORD ErrorFromErrno(int error);

} // namespace svcproc::scm
