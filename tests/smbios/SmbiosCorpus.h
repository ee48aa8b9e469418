// The real firmware tables of the SMBIOS corpus, for any suite that wants to
// run them through the library. The directory comes from the build
// (SVCPROC_CORPUS_DIR); an absent directory gives an empty list.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace smbiostest {

inline std::vector<std::string> SmbiosCorpusFiles(const std::string& dir) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        if (entry.is_regular_file() && entry.path().extension() == ".bin") {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace smbiostest
