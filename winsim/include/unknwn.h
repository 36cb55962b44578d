// winsim: IUnknown, the COM method-declaration macros, and __uuidof as MinGW-w64 spells
// it (a template specialised per interface by __CRT_UUID_DECL).
#pragma once

#include "winsim/types.h"

#define interface struct
#define PURE = 0
#define THIS_
#define THIS void
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define DECLSPEC_UUID(x)
#define DECLSPEC_NOVTABLE
#define MIDL_INTERFACE(x) struct
#define DECLARE_INTERFACE(iface) interface iface
#define DECLARE_INTERFACE_(iface, baseiface) interface iface : public baseiface

template <typename T>
const GUID &__mingw_uuidof();

#define __CRT_UUID_DECL(type, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)            \
    extern "C++" {                                                                  \
    template <>                                                                     \
    inline const GUID &__mingw_uuidof<type>()                                       \
    {                                                                               \
        static const GUID id = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}};       \
        return id;                                                                  \
    }                                                                               \
    template <>                                                                     \
    inline const GUID &__mingw_uuidof<type *>()                                     \
    {                                                                               \
        return __mingw_uuidof<type>();                                              \
    }                                                                               \
    }

#define __uuidof(type) __mingw_uuidof<__typeof(type)>()

DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void **ppvObject) PURE;
    STDMETHOD_(ULONG, AddRef)(void) PURE;
    STDMETHOD_(ULONG, Release)(void) PURE;

    template <class Q>
    HRESULT STDMETHODCALLTYPE QueryInterface(Q **pp)
    {
        return QueryInterface(__uuidof(Q), reinterpret_cast<void **>(pp));
    }
};
typedef IUnknown *LPUNKNOWN;

__CRT_UUID_DECL(IUnknown, 0x00000000, 0x0000, 0x0000, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)

#define IID_PPV_ARGS(pp) __uuidof(**(pp)), reinterpret_cast<void **>(pp)
