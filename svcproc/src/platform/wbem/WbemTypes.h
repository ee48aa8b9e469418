// CIM types, flags and flavours of the WBEM layer.
#pragma once

#include "Com.h"

#define SVCP_WBEM_EXPORT __attribute__((visibility("default")))

using CIMTYPE = LONG;

enum CIMTYPE_ENUMERATION : LONG {
    CIM_ILLEGAL = 0xFFF,
    CIM_EMPTY = 0,
    CIM_SINT8 = 16,
    CIM_UINT8 = 17,
    CIM_SINT16 = 2,
    CIM_UINT16 = 18,
    CIM_SINT32 = 3,
    CIM_UINT32 = 19,
    CIM_SINT64 = 20,
    CIM_UINT64 = 21,
    CIM_REAL32 = 4,
    CIM_REAL64 = 5,
    CIM_BOOLEAN = 11,
    CIM_STRING = 8,
    CIM_DATETIME = 101,
    CIM_REFERENCE = 102,
    CIM_CHAR16 = 103,
    CIM_OBJECT = 13,
    CIM_FLAG_ARRAY = 0x2000,
};

// SetStatus flags of a response handler.
constexpr LONG WBEM_STATUS_COMPLETE = 0;
constexpr LONG WBEM_STATUS_REQUIREMENTS = 1;
constexpr LONG WBEM_STATUS_PROGRESS = 2;

// IWbemProviderInitSink::SetStatus.
constexpr LONG WBEM_S_INITIALIZED = 0;

// GetNames / BeginEnumeration conditions.
constexpr LONG WBEM_FLAG_ALWAYS = 0;
constexpr LONG WBEM_FLAG_ONLY_IF_TRUE = 0x1;
constexpr LONG WBEM_FLAG_ONLY_IF_FALSE = 0x2;
constexpr LONG WBEM_FLAG_ONLY_IF_IDENTICAL = 0x3;
constexpr LONG WBEM_MASK_PRIMARY_CONDITION = 0x3;
constexpr LONG WBEM_FLAG_KEYS_ONLY = 0x4;
constexpr LONG WBEM_FLAG_REFS_ONLY = 0x8;
constexpr LONG WBEM_FLAG_LOCAL_ONLY = 0x10;
constexpr LONG WBEM_FLAG_PROPAGATED_ONLY = 0x20;
constexpr LONG WBEM_FLAG_SYSTEM_ONLY = 0x30;
constexpr LONG WBEM_FLAG_NONSYSTEM_ONLY = 0x40;
constexpr LONG WBEM_MASK_CONDITION_ORIGIN = 0x70;

// Flavours reported by Get and Next.
constexpr LONG WBEM_FLAVOR_ORIGIN_LOCAL = 0x0;
constexpr LONG WBEM_FLAVOR_ORIGIN_PROPAGATED = 0x20;
constexpr LONG WBEM_FLAVOR_ORIGIN_SYSTEM = 0x40;

// __GENUS values.
constexpr LONG WBEM_GENUS_CLASS = 1;
constexpr LONG WBEM_GENUS_INSTANCE = 2;

constexpr LONG WBEM_INFINITE = -1;
constexpr LONG WBEM_NO_WAIT = 0;
