// The program entry: the arguments as wide strings, then the service host.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ServiceHost.h"

namespace {

std::wstring Widen(const char* text) {
    std::wstring out;
    std::mbstate_t state{};
    for (const char* p = text; *p;) {
        wchar_t c;
        size_t used = std::mbrtowc(&c, p, MB_CUR_MAX, &state);
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
            out += static_cast<wchar_t>(static_cast<unsigned char>(*p++));
            state = {};
            continue;
        }
        out += c;
        p += used ? used : 1;
    }
    return out;
}

// Started by hand, --help gets the usage instead of a failed dispatcher; under a service
// manager every word still goes to the service as before.
bool AsksForHelpByHand(int argc, char** argv) {
    const char* manager = std::getenv("NOTIFY_SOCKET");
    const char* scm = std::getenv("SVCPROC_SCM");
    bool managed = (manager && *manager) || (scm && std::strcmp(scm, "1") == 0);
    return argc == 2 && !managed &&
           (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
}

} // namespace

int main(int argc, char** argv) {
    if (AsksForHelpByHand(argc, argv)) {
        std::puts("Usage: telvane [install | remove]  (install/remove the service YARVOSPSvc; "
                  "anything else runs it, under systemd or with SVCPROC_SCM=1)");
        return 0;
    }
    std::setlocale(LC_CTYPE, "");
    std::vector<std::wstring> wide;
    for (int i = 0; i < argc; ++i) {
        wide.push_back(Widen(argv[i]));
    }
    std::vector<wchar_t*> pointers;
    for (std::wstring& arg : wide) {
        pointers.push_back(arg.data());
    }
    pointers.push_back(nullptr);
    return telvane::_tmain(argc, pointers.data());
}
