// Access checks: the token's SIDs against the descriptor's DACL, in order.
#include "Log.h"
#include "SecurityInternal.h"

namespace svcproc::security {
namespace {

ACCESS_MASK Mapped(ACCESS_MASK mask, const GENERIC_MAPPING& mapping) {
    MapGenericMask(&mask, &mapping);
    return mask;
}

// What the DACL grants the token: with MAXIMUM_ALLOWED every allowed bit
// not denied before; otherwise the desired bits, or 0 once one is denied.
ACCESS_MASK Evaluate(const Descriptor& descriptor, const Token& token, ACCESS_MASK desired,
                     const GENERIC_MAPPING& mapping) {
    const bool maximum = (desired & MAXIMUM_ALLOWED) != 0;
    desired &= ~MAXIMUM_ALLOWED;
    if (!descriptor.daclPresent) {
        return maximum ? (desired | mapping.GenericAll) : desired;
    }
    ACCESS_MASK granted = 0;
    ACCESS_MASK denied = 0;
    for (const Ace& ace : descriptor.dacl) {
        if (!token.Holds(ace.sid)) {
            continue;
        }
        ACCESS_MASK mask = Mapped(ace.mask, mapping);
        if (ace.type == kAceAllow) {
            granted |= mask & ~denied;
        } else {
            denied |= mask & ~granted;
        }
        if (!maximum && (desired & denied) != 0) {
            return 0;
        }
        if (!maximum && desired != 0 && (granted & desired) == desired) {
            return desired;
        }
    }
    if (maximum) {
        return (granted & desired) == desired ? granted : 0;
    }
    return 0;
}

} // namespace
} // namespace svcproc::security

void MapGenericMask(DWORD* accessMask, const GENERIC_MAPPING* mapping) {
    if (accessMask == nullptr || mapping == nullptr) {
        return;
    }
    struct Bit {
        ACCESS_MASK generic;
        ACCESS_MASK specific;
    };
    const Bit bits[] = {{GENERIC_READ, mapping->GenericRead},
                        {GENERIC_WRITE, mapping->GenericWrite},
                        {GENERIC_EXECUTE, mapping->GenericExecute},
                        {GENERIC_ALL, mapping->GenericAll}};
    for (const Bit& bit : bits) {
        if (*accessMask & bit.generic) {
            *accessMask = (*accessMask & ~bit.generic) | bit.specific;
        }
    }
}

BOOL AccessCheck(PSECURITY_DESCRIPTOR descriptor, HANDLE clientToken, DWORD desiredAccess,
                 const GENERIC_MAPPING* mapping, PRIVILEGE_SET* privilegeSet,
                 DWORD* privilegeSetLength, DWORD* grantedAccess, BOOL* accessStatus) {
    using namespace svcproc::security;
    if (mapping == nullptr || privilegeSetLength == nullptr || grantedAccess == nullptr ||
        accessStatus == nullptr) {
        LogQuick(LOG_ERROR, "AccessCheck - invalid parameter");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const Token* token = TokenFromHandle(clientToken);
    if (token == nullptr) {
        LogQuick(LOG_ERROR, "AccessCheck - not a token, access refused");
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (privilegeSet == nullptr || *privilegeSetLength < sizeof(PRIVILEGE_SET)) {
        *privilegeSetLength = sizeof(PRIVILEGE_SET);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (token->level == SecurityAnonymous) {
        LogQuick(LOG_ERROR, "AccessCheck - anonymous token, access refused");
        SetLastError(ERROR_BAD_IMPERSONATION_LEVEL);
        return FALSE;
    }
    std::optional<Descriptor> parsed = ReadDescriptor(descriptor);
    if (!parsed) {
        LogQuick(LOG_ERROR, "AccessCheck - invalid security descriptor, access refused");
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    if (desiredAccess & (GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL)) {
        // Generic bits must be mapped by the caller before the check.
        LogQuick(LOG_ERROR, "AccessCheck - unmapped generic access, access refused");
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *privilegeSet = PRIVILEGE_SET{0, 0, {}};
    *grantedAccess = Evaluate(*parsed, *token, desiredAccess, *mapping);
    *accessStatus = *grantedAccess != 0 ? TRUE : FALSE;
    if (!*accessStatus) {
        WLog(LOG_ERROR, L"AccessCheck - access denied to %s, desired=0x%08x",
             token->user.ToString().c_str(), static_cast<unsigned>(desiredAccess));
        SetLastError(ERROR_ACCESS_DENIED);
    }
    return TRUE;
}
