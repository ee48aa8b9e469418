// The flat security descriptor: one allocation, freed with LocalFree.
#include <cstdlib>
#include <cstring>

#include "SecurityInternal.h"

namespace svcproc::security {
namespace {

void AppendBytes(std::vector<uint8_t>& out, const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    out.insert(out.end(), p, p + size);
}

uint32_t AppendSid(std::vector<uint8_t>& out, const std::optional<Sid>& sid) {
    if (!sid) {
        return 0;
    }
    auto offset = static_cast<uint32_t>(out.size());
    std::vector<uint8_t> bytes = sid->ToBytes();
    AppendBytes(out, bytes.data(), bytes.size());
    return offset;
}

uint32_t AppendAcl(std::vector<uint8_t>& out, const std::vector<Ace>& aces) {
    auto offset = static_cast<uint32_t>(out.size());
    AclHeader acl{static_cast<uint32_t>(aces.size()), sizeof(AclHeader)};
    out.resize(out.size() + sizeof(AclHeader));
    for (const Ace& ace : aces) {
        std::vector<uint8_t> sid = ace.sid.ToBytes();
        AceHeader header{ace.type, 0, static_cast<uint16_t>(sizeof(AceHeader) + sid.size()),
                         ace.mask};
        AppendBytes(out, &header, sizeof(header));
        AppendBytes(out, sid.data(), sid.size());
        acl.size += header.size;
    }
    std::memcpy(out.data() + offset, &acl, sizeof(acl));
    return offset;
}

std::optional<Sid> SidAt(const uint8_t* base, uint32_t size, uint32_t offset) {
    if (offset == 0) {
        return std::nullopt;
    }
    return offset < size ? ReadSid(base + offset, size - offset) : std::nullopt;
}

bool ReadAcl(const uint8_t* base, uint32_t size, uint32_t offset, std::vector<Ace>* aces) {
    if (offset >= size || size - offset < sizeof(AclHeader)) {
        return false;
    }
    AclHeader acl;
    std::memcpy(&acl, base + offset, sizeof(acl));
    if (acl.size > size - offset) {
        return false;
    }
    uint32_t pos = offset + sizeof(AclHeader);
    const uint32_t end = offset + acl.size;
    for (uint32_t i = 0; i < acl.aceCount; ++i) {
        AceHeader header;
        if (end - pos < sizeof(AceHeader)) {
            return false;
        }
        std::memcpy(&header, base + pos, sizeof(header));
        if (header.size < sizeof(AceHeader) || header.size > end - pos ||
            (header.type != kAceAllow && header.type != kAceDeny)) {
            return false;
        }
        auto sid = ReadSid(base + pos + sizeof(AceHeader), header.size - sizeof(AceHeader));
        if (!sid) {
            return false;
        }
        aces->push_back(Ace{header.type, header.mask, *sid});
        pos += header.size;
    }
    return true;
}

} // namespace

void* BuildDescriptor(const Descriptor& descriptor, uint32_t* size) {
    std::vector<uint8_t> out(sizeof(DescriptorHeader));
    DescriptorHeader header{kDescriptorMagic, 0, 0, 0, 0};
    header.ownerOffset = AppendSid(out, descriptor.owner);
    header.groupOffset = AppendSid(out, descriptor.group);
    if (descriptor.daclPresent) {
        header.daclOffset = AppendAcl(out, descriptor.dacl);
    }
    header.size = static_cast<uint32_t>(out.size());
    std::memcpy(out.data(), &header, sizeof(header));
    void* memory = std::malloc(out.size());
    if (memory != nullptr) {
        std::memcpy(memory, out.data(), out.size());
        *size = header.size;
    }
    return memory;
}

std::optional<Descriptor> ReadDescriptor(const void* memory) {
    if (memory == nullptr) {
        return std::nullopt;
    }
    DescriptorHeader header;
    std::memcpy(&header, memory, sizeof(header));
    if (header.magic != kDescriptorMagic || header.size < sizeof(header)) {
        return std::nullopt;
    }
    const auto* base = static_cast<const uint8_t*>(memory);
    Descriptor descriptor;
    descriptor.owner = SidAt(base, header.size, header.ownerOffset);
    descriptor.group = SidAt(base, header.size, header.groupOffset);
    if ((header.ownerOffset != 0 && !descriptor.owner) ||
        (header.groupOffset != 0 && !descriptor.group)) {
        return std::nullopt;
    }
    descriptor.daclPresent = header.daclOffset != 0;
    if (descriptor.daclPresent &&
        !ReadAcl(base, header.size, header.daclOffset, &descriptor.dacl)) {
        return std::nullopt;
    }
    return descriptor;
}

} // namespace svcproc::security

HLOCAL LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}
