// IUnknown: reference counting and interface discovery.
#pragma once

#include "../base/WinTypes.h"
#include "Guid.h"
#include "HResult.h"

#define STDMETHODCALLTYPE
#define STDMETHODIMP HRESULT
#define STDMETHODIMP_(type) type

// Every interface of the layer derives from IUnknown. An object is deleted
// by its own Release when the count reaches 0, never through an interface
// pointer, so the interfaces have no public destructor.
class IUnknown {
public:
    // Sets *ppv to the interface `riid` (AddRef'ed) and returns S_OK, or sets
    // it to null and returns E_NOINTERFACE. A null ppv gives E_POINTER.
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;
