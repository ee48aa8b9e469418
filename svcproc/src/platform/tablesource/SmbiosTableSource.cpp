#include "SmbiosTableSource.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace svcproc::tablesource {

namespace {

constexpr size_t kHeaderBytes = 4;
constexpr size_t kSm2EntryBytes = 0x1F;
constexpr size_t kSm3EntryBytes = 0x18;

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(Le16(p)) | (static_cast<uint32_t>(Le16(p + 2)) << 16);
}

uint64_t Le64(const uint8_t* p) {
    return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}

bool StartsWith(const uint8_t* image, size_t count, const char* anchor) {
    size_t n = std::strlen(anchor);
    return count >= n && std::memcmp(image, anchor, n) == 0;
}

bool ChecksumOk(const uint8_t* p, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i) {
        sum = static_cast<uint8_t>(sum + p[i]);
    }
    return sum == 0;
}

// The entry point's own length byte, checked against the least it must hold
// and the image.
bool EntryPointFits(const uint8_t* image, size_t count, size_t lengthAt, size_t minimum,
                    std::string* reason) {
    if (count <= lengthAt || image[lengthAt] < minimum || image[lengthAt] > count) {
        *reason = "entry point truncated";
        return false;
    }
    if (!ChecksumOk(image, image[lengthAt])) {
        *reason = "entry point checksum mismatch";
        return false;
    }
    return true;
}

bool CopyTable(const uint8_t* image, size_t count, uint64_t offset, uint64_t length,
               std::vector<uint8_t>* table, std::string* reason) {
    if (offset >= count) {
        *reason = "table offset " + std::to_string(offset) + " beyond the file";
        return false;
    }
    uint64_t available = count - offset;
    size_t take = static_cast<size_t>(length < available ? length : available);
    if (take < kHeaderBytes) {
        *reason = "table shorter than one structure header";
        return false;
    }
    table->assign(image + offset, image + offset + take);
    return true;
}

bool ExtractFromSm2(const uint8_t* image, size_t count, std::vector<uint8_t>* table,
                    std::string* reason) {
    if (!EntryPointFits(image, count, 0x05, kSm2EntryBytes, reason)) {
        return false;
    }
    if (std::memcmp(image + 0x10, "_DMI_", 5) != 0) {
        *reason = "entry point without _DMI_ anchor";
        return false;
    }
    return CopyTable(image, count, Le32(image + 0x18), Le16(image + 0x16), table, reason);
}

bool ExtractFromSm3(const uint8_t* image, size_t count, std::vector<uint8_t>* table,
                    std::string* reason) {
    if (!EntryPointFits(image, count, 0x06, kSm3EntryBytes, reason)) {
        return false;
    }
    return CopyTable(image, count, Le64(image + 0x10), Le32(image + 0x0C), table, reason);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* reason) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *reason = std::strerror(errno);
        return false;
    }
    // Files under /sys report a size that need not match their content, so
    // read to the end in chunks rather than trusting st_size.
    bool ok = true;
    uint8_t chunk[8192];
    for (;;) {
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            *reason = std::string("read failed: ") + std::strerror(errno);
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
        if (bytes->size() + static_cast<size_t>(got) > kMaxTableFileBytes) {
            *reason = "file larger than " + std::to_string(kMaxTableFileBytes) + " bytes";
            ok = false;
            break;
        }
        bytes->insert(bytes->end(), chunk, chunk + got);
    }
    ::close(fd);
    return ok;
}

} // namespace

std::string RawTablePath() {
    const char* path = std::getenv(kTablePathVariable);
    return (path && *path) ? std::string(path) : std::string(kDefaultTablePath);
}

bool ExtractRawTable(const uint8_t* image, size_t count, std::vector<uint8_t>* table,
                     std::string* reason) {
    table->clear();
    if (!image || count == 0) {
        *reason = "empty table";
        return false;
    }
    if (StartsWith(image, count, "_SM3_")) {
        return ExtractFromSm3(image, count, table, reason);
    }
    if (StartsWith(image, count, "_SM_")) {
        return ExtractFromSm2(image, count, table, reason);
    }
    return CopyTable(image, count, 0, count, table, reason);
}

bool ReadRawTableFile(const std::string& path, std::vector<uint8_t>* table, std::string* reason) {
    table->clear();
    try {
        std::vector<uint8_t> image;
        if (!ReadWholeFile(path, &image, reason)) {
            return false;
        }
        return ExtractRawTable(image.data(), image.size(), table, reason);
    } catch (const std::bad_alloc&) {
        table->clear();
        *reason = "out of memory";
        return false;
    }
}

bool ReadRawTable(std::vector<uint8_t>* table, std::string* path, std::string* reason) {
    *path = RawTablePath();
    return ReadRawTableFile(*path, table, reason);
}

} // namespace svcproc::tablesource
