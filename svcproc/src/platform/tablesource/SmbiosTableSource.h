// Where the raw SMBIOS structure table comes from on this host: the
// firmware's table under /sys, or a file named by SVCPROC_SMBIOS_TABLE. The
// file holds either the structure table itself or a dump of entry point and
// table (`dmidecode --dump-bin`).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#define SVCP_TABLESOURCE_EXPORT __attribute__((visibility("default")))

namespace svcproc::tablesource {

inline constexpr const char* kDefaultTablePath = "/sys/firmware/dmi/tables/DMI";
inline constexpr const char* kTablePathVariable = "SVCPROC_SMBIOS_TABLE";
// Files larger than this are refused; real tables are a few KiB.
inline constexpr size_t kMaxTableFileBytes = 16u * 1024u * 1024u;

// $SVCPROC_SMBIOS_TABLE when set and not empty, else the firmware's table.
SVCP_TABLESOURCE_EXPORT std::string RawTablePath();

// Reads the structure table from RawTablePath(). On failure returns false,
// leaves `table` empty and says why in `reason`; `path` is set either way.
SVCP_TABLESOURCE_EXPORT bool ReadRawTable(std::vector<uint8_t>* table, std::string* path,
                                          std::string* reason);

// The same for a given file.
SVCP_TABLESOURCE_EXPORT bool ReadRawTableFile(const std::string& path, std::vector<uint8_t>* table,
                                              std::string* reason);

// Takes the structure table out of a file image: with an SMBIOS 2 ("_SM_")
// or SMBIOS 3 ("_SM3_") entry point at offset 0 the table at the offset and
// length the entry point gives, cut at the end of the image; otherwise the
// whole image. Fails for an empty image, a damaged entry point or a table of
// fewer than 4 bytes (not even one structure header).
SVCP_TABLESOURCE_EXPORT bool ExtractRawTable(const uint8_t* image, size_t count,
                                             std::vector<uint8_t>* table, std::string* reason);

} // namespace svcproc::tablesource
