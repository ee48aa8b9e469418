// Reference counting and interface discovery for the layer's own objects.
#pragma once

#include <atomic>

#include "Unknown.h"

namespace svcproc::com {

// An object implementing `Interface`: QueryInterface answers IID_IUnknown,
// `Iid` and `OtherIids` with the `Interface` pointer. The creator holds the
// first reference; the Release that takes the count to 0 deletes the object.
template <typename Interface, const IID& Iid, const IID&... OtherIids>
class CUnknownImpl : public Interface {
public:
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, Iid) &&
            !(IsEqualIID(riid, OtherIids) || ...)) {
            return E_NOINTERFACE;
        }
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++m_lRefCount); }
    ULONG Release() override {
        LONG count = --m_lRefCount;
        if (count == 0) {
            delete this;
        }
        return static_cast<ULONG>(count);
    }

protected:
    CUnknownImpl() = default;
    virtual ~CUnknownImpl() = default;

private:
    std::atomic<LONG> m_lRefCount{1};
};

} // namespace svcproc::com
