// The program entry: the arguments as wide strings, then the service host.
#include <clocale>
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

} // namespace

int main(int argc, char** argv) {
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
