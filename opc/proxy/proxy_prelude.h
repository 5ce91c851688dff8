/*
 * Included before the proxy code widl generates (-Oif): mingw-w64 declares the IUnknown
 * proxy functions that rpcrt4 exports only for C++, and the generated vtables name them.
 */
#ifndef PORVEX_PROXY_PRELUDE_H
#define PORVEX_PROXY_PRELUDE_H

#include <objbase.h>

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid,
                                                        void** ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);

#endif
