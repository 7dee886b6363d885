/* The proxy/stub code that widl generates (ProxyStubCode.c), as the module reaches it. */
#pragma once

#include <objbase.h>

#ifdef __cplusplus
extern "C" {
#endif

/* rpcrt4's class object for the proxies and stubs, under the class identifier `clsid`. */
HRESULT ProxyStubGetFactory(REFCLSID clsid, REFIID riid, void** ppv);
/* Nonzero when no proxy or stub of this module is alive. */
int ProxyStubFactoryIdle(void);
/* The interfaces marshalled: their count, identifiers, names and method counts (with the three
 * of IUnknown). */
unsigned ProxyStubInterfaceCount(void);
const IID* ProxyStubInterfaceId(unsigned index);
const char* ProxyStubInterfaceName(unsigned index);
unsigned ProxyStubMethodCount(unsigned index);

#ifdef __cplusplus
}
#endif
