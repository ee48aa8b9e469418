// Tokens: built from a peer's credentials, handed out as layer handles.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

#include "Log.h"
#include "SecurityInternal.h"

namespace svcproc::security {
namespace {

void CloseToken(void* context) {
    delete static_cast<Token*>(context);
}

bool IsAdministratorsGroup(uint32_t gid) {
    struct group entry;
    struct group* found = nullptr;
    std::vector<char> buffer(16384);
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return false;
    }
    for (const char* name : {"sudo", "wheel", "adm"}) {
        if (std::strcmp(found->gr_name, name) == 0) {
            return true;
        }
    }
    return false;
}

bool ReadProcGroups(int32_t pid, std::vector<uint32_t>* groups) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Groups:", 0) == 0) {
            std::istringstream values(line.substr(7));
            uint32_t gid = 0;
            while (values >> gid) {
                groups->push_back(gid);
            }
            return true;
        }
    }
    return false;
}

void ReadUserGroups(uint32_t uid, uint32_t gid, std::vector<uint32_t>* groups) {
    struct passwd entry;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return;
    }
    int count = 64;
    std::vector<gid_t> list(count);
    if (getgrouplist(found->pw_name, gid, list.data(), &count) < 0) {
        list.resize(count);
        if (getgrouplist(found->pw_name, gid, list.data(), &count) < 0) {
            return;
        }
    }
    groups->assign(list.begin(), list.begin() + count);
}

} // namespace

bool Token::Holds(const Sid& sid) const {
    if (sid == user) {
        return true;
    }
    for (const Sid& group : groups) {
        if (sid == group) {
            return true;
        }
    }
    return false;
}

const Token* TokenFromHandle(HANDLE handle) {
    return static_cast<const Token*>(platform::GetLayerHandleContext(handle, CloseToken));
}

bool ReadPeerIdentity(int socketFd, PeerIdentity* identity) {
    struct ucred cred {};
    socklen_t length = sizeof(cred);
    if (getsockopt(socketFd, SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0 ||
        length != sizeof(cred)) {
        Log(LOG_ERROR, "ReadPeerIdentity - SO_PEERCRED failed, error=0x%08x",
            static_cast<unsigned>(errno));
        return false;
    }
    identity->uid = cred.uid;
    identity->gid = cred.gid;
    identity->pid = cred.pid;
    identity->groups.clear();
    if (!ReadProcGroups(cred.pid, &identity->groups)) {
        ReadUserGroups(cred.uid, cred.gid, &identity->groups);
    }
    return true;
}

HANDLE CreateTokenForIdentity(const PeerIdentity& identity, uint32_t rpcImpersonationLevel) {
    if (rpcImpersonationLevel < 1 || rpcImpersonationLevel > 4) {
        Log(LOG_ERROR, "CreateTokenForIdentity - bad impersonation level %u",
            rpcImpersonationLevel);
        return nullptr;
    }
    auto* token = new Token;
    token->level = static_cast<SECURITY_IMPERSONATION_LEVEL>(rpcImpersonationLevel - 1);
    if (token->level == SecurityAnonymous) {
        // An anonymous client lends us no identity at all.
        token->user = AnonymousSid();
    } else {
        token->user = UnixUserSid(identity.uid);
        token->groups.push_back(EveryoneSid());
        if (identity.uid == 0) {
            token->groups.push_back(LocalSystemSid());
            token->groups.push_back(AdministratorsSid());
        }
        std::vector<uint32_t> gids = identity.groups;
        gids.insert(gids.begin(), identity.gid);
        bool admin = false;
        for (size_t i = 0; i < gids.size(); ++i) {
            if (std::find(gids.begin(), gids.begin() + i, gids[i]) != gids.begin() + i) {
                continue;
            }
            token->groups.push_back(UnixGroupSid(gids[i]));
            admin = admin || IsAdministratorsGroup(gids[i]);
        }
        if (admin && identity.uid != 0) {
            token->groups.push_back(AdministratorsSid());
        }
    }
    HANDLE handle = platform::CreateLayerHandle(token, CloseToken);
    if (handle == nullptr) {
        delete token;
    }
    return handle;
}

} // namespace svcproc::security

namespace {

template <typename T>
BOOL AnswerFixed(const T& value, void* information, DWORD length, DWORD* returnLength) {
    *returnLength = sizeof(T);
    if (information == nullptr || length < sizeof(T)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(information, &value, sizeof(T));
    return TRUE;
}

// A SID_AND_ATTRIBUTES table of `count` entries, then the SIDs it points at.
BOOL AnswerSids(const std::vector<svcproc::security::Sid>& sids, bool withCount, void* information,
                DWORD length, DWORD* returnLength) {
    size_t head = withCount ? offsetof(TOKEN_GROUPS, Groups) : 0;
    size_t table = head + sids.size() * sizeof(SID_AND_ATTRIBUTES);
    size_t total = table;
    for (const auto& sid : sids) {
        total += svcproc::security::BinarySidLength(sid);
    }
    if (withCount && total < sizeof(TOKEN_GROUPS)) {
        total = sizeof(TOKEN_GROUPS);
    }
    *returnLength = static_cast<DWORD>(total);
    if (information == nullptr || length < total) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* base = static_cast<uint8_t*>(information);
    std::memset(base, 0, total);
    if (withCount) {
        auto count = static_cast<DWORD>(sids.size());
        std::memcpy(base, &count, sizeof(count));
    }
    auto* entries = reinterpret_cast<SID_AND_ATTRIBUTES*>(base + head);
    size_t pos = table;
    for (size_t i = 0; i < sids.size(); ++i) {
        std::vector<uint8_t> bytes = sids[i].ToBytes();
        std::memcpy(base + pos, bytes.data(), bytes.size());
        entries[i].Sid = base + pos;
        entries[i].Attributes = withCount ? SE_GROUP_ENABLED : 0;
        pos += bytes.size();
    }
    return TRUE;
}

} // namespace

BOOL GetTokenInformation(HANDLE handle, TOKEN_INFORMATION_CLASS infoClass, void* information,
                         DWORD length, DWORD* returnLength) {
    using namespace svcproc::security;
    const Token* token = TokenFromHandle(handle);
    if (token == nullptr || returnLength == nullptr) {
        LogQuick(LOG_ERROR, "GetTokenInformation - not a token");
        SetLastError(token == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    switch (infoClass) {
    case TokenImpersonationLevel:
        return AnswerFixed(token->level, information, length, returnLength);
    case TokenUser:
        return AnswerSids({token->user}, false, information, length, returnLength);
    case TokenGroups:
        return AnswerSids(token->groups, true, information, length, returnLength);
    }
    Log(LOG_ERROR, "GetTokenInformation - unsupported class %d", static_cast<int>(infoClass));
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
