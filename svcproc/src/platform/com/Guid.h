// GUIDs and the interface and class identifiers of the COM and WBEM layer.
// The values are this layer's own; only their identity matters.
#pragma once

#include <cstring>

#include "SvcpIoctl.h"

using GUID = SVCP_GUID;
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool IsEqualIID(REFIID a, REFIID b) {
    return IsEqualGUID(a, b);
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return IsEqualGUID(a, b);
}
inline bool operator==(REFGUID a, REFGUID b) {
    return IsEqualGUID(a, b);
}

namespace svcproc::com {
// {73766370-0000-4000-8000-0000000000NN}: the layer's identifiers.
constexpr GUID LayerGuid(uint8_t group, uint8_t number) {
    return {0x73766370, 0x0000, 0x4000, {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, group, number}};
}
} // namespace svcproc::com

inline constexpr IID IID_IUnknown = svcproc::com::LayerGuid(0, 0x00);
inline constexpr IID IID_IWbemClassObject = svcproc::com::LayerGuid(1, 0x01);
inline constexpr IID IID_IWbemObjectSink = svcproc::com::LayerGuid(1, 0x02);
inline constexpr IID IID_IWbemContext = svcproc::com::LayerGuid(1, 0x03);
inline constexpr IID IID_IWbemServices = svcproc::com::LayerGuid(1, 0x04);
inline constexpr IID IID_IWbemProviderInit = svcproc::com::LayerGuid(1, 0x05);
inline constexpr IID IID_IWbemProviderInitSink = svcproc::com::LayerGuid(1, 0x06);
inline constexpr IID IID_IWbemEventProvider = svcproc::com::LayerGuid(1, 0x07);
inline constexpr IID IID_IWbemShutdown = svcproc::com::LayerGuid(1, 0x08);
inline constexpr IID IID_IWbemDecoupledRegistrar = svcproc::com::LayerGuid(1, 0x09);
inline constexpr IID IID_IWbemCallResult = svcproc::com::LayerGuid(1, 0x0A);
inline constexpr IID IID_IEnumWbemClassObject = svcproc::com::LayerGuid(1, 0x0B);
inline constexpr IID IID_IWbemQualifierSet = svcproc::com::LayerGuid(1, 0x0C);

inline constexpr CLSID CLSID_WbemDecoupledRegistrar = svcproc::com::LayerGuid(2, 0x01);
