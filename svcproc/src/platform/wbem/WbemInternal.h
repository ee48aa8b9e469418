// Helpers shared by the layer's sources; not part of its interface.
#pragma once

#include <string>

#include "Schema.h"
#include "WbemObjects.h"

namespace svcproc::wbem {

// IID of the layer's own class object, for GetClassDecl.
inline constexpr IID IID_LayerClassObject = svcproc::com::LayerGuid(3, 0x01);

constexpr HRESULT WBEM_S_SAME = 0;
constexpr HRESULT WBEM_S_DIFFERENT = 0x40003;

// A MOF literal converted to `type`: integers must fit the type's range,
// reals suit real types, strings string types and booleans boolean.
HRESULT MofValueToVariant(const MofValue& value, CIMTYPE type, VARIANT* out);

// Deep equality of two values in canonical representation.
bool ValuesEqual(const VARIANT& a, const VARIANT& b);

// A value as MOF writes it: 5, "text", TRUE, {"a", "b"}, NULL.
std::wstring ValueText(const VARIANT& value);

// A BSTR from a wide string, or null when it cannot be allocated.
inline BSTR MakeBstr(const std::wstring& text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

} // namespace svcproc::wbem
