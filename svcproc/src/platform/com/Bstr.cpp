#include <atomic>
#include <cstdlib>
#include <cstring>

#include "ComApi.h"
#include "OleAuto.h"

namespace svcproc::com {
namespace {
// Negative: no failure injected.
std::atomic<int64_t> g_allocationsBeforeFailure{-1};
} // namespace

void SetAllocationFailureForTest(int64_t successes) {
    g_allocationsBeforeFailure = successes;
}

bool AllocationAllowed() {
    int64_t left = g_allocationsBeforeFailure.load();
    while (left >= 0) {
        if (left == 0) {
            return false;
        }
        if (g_allocationsBeforeFailure.compare_exchange_weak(left, left - 1)) {
            return true;
        }
    }
    return true;
}
} // namespace svcproc::com

namespace {
// [4 bytes unused][4 bytes byte length][characters][terminator]: the
// characters start 8 bytes in, so they keep the alignment of malloc.
constexpr size_t kHeader = 8;
constexpr UINT kMaxLength = (0xFFFFFFFFu - kHeader) / sizeof(OLECHAR) - 1;

uint32_t* LengthField(BSTR text) {
    return reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(text) - sizeof(uint32_t));
}
} // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    if (length > kMaxLength || !svcproc::com::AllocationAllowed()) {
        return nullptr;
    }
    size_t bytes = kHeader + (size_t{length} + 1) * sizeof(OLECHAR);
    char* block = static_cast<char*>(std::calloc(1, bytes));
    if (block == nullptr) {
        return nullptr;
    }
    BSTR result = reinterpret_cast<BSTR>(block + kHeader);
    *LengthField(result) = length * sizeof(OLECHAR);
    if (text != nullptr && length > 0) {
        std::memcpy(result, text, length * sizeof(OLECHAR));
    }
    return result;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) {
        return nullptr;
    }
    size_t length = std::wcslen(text);
    if (length > kMaxLength) {
        return nullptr;
    }
    return SysAllocStringLen(text, static_cast<UINT>(length));
}

void SysFreeString(BSTR text) {
    if (text != nullptr) {
        std::free(reinterpret_cast<char*>(text) - kHeader);
    }
}

UINT SysStringByteLen(BSTR text) {
    return text == nullptr ? 0 : *LengthField(text);
}

UINT SysStringLen(BSTR text) {
    return SysStringByteLen(text) / sizeof(OLECHAR);
}
