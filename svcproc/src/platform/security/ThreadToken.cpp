// The thread's token: the impersonated client's, as the COM call context
// describes it.
#include "ComApi.h"
#include "Log.h"
#include "Security.h"

namespace {
// Stands for "the calling thread" wherever a thread handle is taken.
const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(~uintptr_t{1});
} // namespace

HANDLE GetCurrentThread() {
    return kCurrentThread;
}

BOOL OpenThreadToken(HANDLE thread, DWORD desiredAccess, BOOL /*openAsSelf*/, HANDLE* token) {
    using namespace svcproc;
    if (token == nullptr || thread != kCurrentThread || (desiredAccess & ~TOKEN_QUERY) != 0) {
        Log(LOG_ERROR, "OpenThreadToken - refused: thread=0x%08x, access=0x%08x",
            static_cast<unsigned>(reinterpret_cast<uintptr_t>(thread)),
            static_cast<unsigned>(desiredAccess));
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *token = nullptr;
    const com::CallContext* client = com::GetImpersonatedClient();
    if (client == nullptr) {
        LogQuick(LOG_ERROR, "OpenThreadToken - the thread is not impersonating");
        SetLastError(ERROR_NO_TOKEN);
        return FALSE;
    }
    security::PeerIdentity identity;
    identity.uid = client->uid;
    identity.gid = client->gid;
    identity.groups = client->supplementaryGids;
    identity.pid = client->pid;
    *token = security::CreateTokenForIdentity(identity, client->impersonationLevel);
    if (*token == nullptr) {
        SetLastError(ERROR_BAD_IMPERSONATION_LEVEL);
        return FALSE;
    }
    return TRUE;
}
