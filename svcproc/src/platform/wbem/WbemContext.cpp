#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "ComObject.h"
#include "WbemInternal.h"

namespace svcproc::wbem {
namespace {

class CWbemContext final : public com::CUnknownImpl<IWbemContext, IID_IWbemContext> {
public:
    HRESULT Clone(IWbemContext** ppNewCopy) override {
        if (ppNewCopy == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        *ppNewCopy = nullptr;
        auto* copy = new (std::nothrow) CWbemContext;
        if (copy == nullptr) {
            return WBEM_E_OUT_OF_MEMORY;
        }
        std::lock_guard lock(m_Mutex);
        for (const auto& [name, value] : m_vValues) {
            VARIANT* stored = copy->Slot(name);
            if (stored == nullptr || FAILED(VariantCopy(stored, &value))) {
                copy->Release();
                return WBEM_E_OUT_OF_MEMORY;
            }
        }
        *ppNewCopy = copy;
        return WBEM_S_NO_ERROR;
    }

    HRESULT GetNames(LONG, SAFEARRAY** pNames) override {
        if (pNames == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        std::lock_guard lock(m_Mutex);
        *pNames = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(m_vValues.size()));
        if (*pNames == nullptr) {
            return WBEM_E_OUT_OF_MEMORY;
        }
        for (size_t i = 0; i < m_vValues.size(); ++i) {
            BSTR name = MakeBstr(m_vValues[i].first);
            LONG index = static_cast<LONG>(i);
            HRESULT hr =
                name == nullptr ? E_OUTOFMEMORY : SafeArrayPutElement(*pNames, &index, name);
            SysFreeString(name);
            if (FAILED(hr)) {
                SafeArrayDestroy(*pNames);
                *pNames = nullptr;
                return WBEM_E_OUT_OF_MEMORY;
            }
        }
        return WBEM_S_NO_ERROR;
    }

    HRESULT BeginEnumeration(LONG) override {
        std::lock_guard lock(m_Mutex);
        m_nEnumPos = 0;
        m_bEnumerating = true;
        return WBEM_S_NO_ERROR;
    }

    HRESULT Next(LONG, BSTR* pstrName, VARIANT* pValue) override {
        std::lock_guard lock(m_Mutex);
        if (!m_bEnumerating) {
            return WBEM_E_UNEXPECTED;
        }
        if (m_nEnumPos >= m_vValues.size()) {
            return WBEM_S_NO_MORE_DATA;
        }
        const auto& [name, value] = m_vValues[m_nEnumPos];
        if (pValue != nullptr) {
            VariantInit(pValue);
            if (FAILED(VariantCopy(pValue, &value))) {
                return WBEM_E_OUT_OF_MEMORY;
            }
        }
        if (pstrName != nullptr) {
            *pstrName = MakeBstr(name);
            if (*pstrName == nullptr) {
                if (pValue != nullptr) {
                    VariantClear(pValue);
                }
                return WBEM_E_OUT_OF_MEMORY;
            }
        }
        ++m_nEnumPos;
        return WBEM_S_NO_ERROR;
    }

    HRESULT EndEnumeration() override {
        std::lock_guard lock(m_Mutex);
        m_bEnumerating = false;
        return WBEM_S_NO_ERROR;
    }

    HRESULT SetValue(LPCWSTR wszName, LONG, VARIANT* pValue) override {
        if (wszName == nullptr || pValue == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        VARIANT copy;
        VariantInit(&copy);
        HRESULT hr = VariantCopy(&copy, pValue);
        if (FAILED(hr)) {
            return hr == E_OUTOFMEMORY ? WBEM_E_OUT_OF_MEMORY : WBEM_E_INVALID_PARAMETER;
        }
        std::lock_guard lock(m_Mutex);
        VARIANT* stored = Slot(wszName);
        if (stored == nullptr) {
            VariantClear(&copy);
            return WBEM_E_OUT_OF_MEMORY;
        }
        VariantClear(stored);
        *stored = copy;
        return WBEM_S_NO_ERROR;
    }

    HRESULT GetValue(LPCWSTR wszName, LONG, VARIANT* pValue) override {
        if (wszName == nullptr || pValue == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        std::lock_guard lock(m_Mutex);
        for (const auto& [name, value] : m_vValues) {
            if (NamesEqual(name, wszName)) {
                VariantInit(pValue);
                return FAILED(VariantCopy(pValue, &value)) ? WBEM_E_OUT_OF_MEMORY : WBEM_S_NO_ERROR;
            }
        }
        return WBEM_E_NOT_FOUND;
    }

    HRESULT DeleteValue(LPCWSTR wszName, LONG) override {
        if (wszName == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        std::lock_guard lock(m_Mutex);
        for (auto it = m_vValues.begin(); it != m_vValues.end(); ++it) {
            if (NamesEqual(it->first, wszName)) {
                VariantClear(&it->second);
                m_vValues.erase(it);
                return WBEM_S_NO_ERROR;
            }
        }
        return WBEM_E_NOT_FOUND;
    }

    HRESULT DeleteAll() override {
        std::lock_guard lock(m_Mutex);
        for (auto& entry : m_vValues) {
            VariantClear(&entry.second);
        }
        m_vValues.clear();
        return WBEM_S_NO_ERROR;
    }

private:
    ~CWbemContext() { DeleteAll(); }

    // The value stored under `name`, added empty if missing (caller locks).
    VARIANT* Slot(const std::wstring& name) {
        for (auto& entry : m_vValues) {
            if (NamesEqual(entry.first, name)) {
                return &entry.second;
            }
        }
        try {
            VARIANT empty;
            VariantInit(&empty);
            m_vValues.emplace_back(name, empty);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        return &m_vValues.back().second;
    }

    std::mutex m_Mutex;
    std::vector<std::pair<std::wstring, VARIANT>> m_vValues;
    size_t m_nEnumPos = 0;
    bool m_bEnumerating = false;
};

} // namespace

HRESULT CreateWbemContext(IWbemContext** ppContext) {
    if (ppContext == nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    *ppContext = nullptr;
    if (!svcproc::com::AllocationAllowed()) {
        return WBEM_E_OUT_OF_MEMORY;
    }
    auto* context = new (std::nothrow) CWbemContext;
    if (context == nullptr) {
        return WBEM_E_OUT_OF_MEMORY;
    }
    *ppContext = context;
    return WBEM_S_NO_ERROR;
}

} // namespace svcproc::wbem
