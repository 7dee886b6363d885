/* Builds widl's proxy/stub code for the interfaces of frame/zevflashfile5.idl (the generated
 * zevflashfile5_p.c) with mingw-w64's headers, and what the module needs of it (rpcproxy.h is a
 * C header: ProxyStub.cpp reaches it through the functions below). */
#define USE_COMPILER_EXCEPTIONS
#include <objbase.h>

/* rpcrt4's IUnknown proxies, which mingw-w64's headers do not declare. */
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid, void** ppv);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);

#include "zevflashfile5_p.c"

#include "frame/windows/ProxyStubCode.h"

static const ProxyFileInfo* g_proxyFiles[] = {&zevflashfile5_ProxyFileInfo, 0};
/* rpcrt4's PSFactoryBuffer for this module: it counts the proxies and stubs alive. */
static CStdPSFactoryBuffer g_factory;

/* The stubs' Release, which widl's stub tables name: it ties each stub to the factory above. */
ULONG STDMETHODCALLTYPE CStdStubBuffer_Release(IRpcStubBuffer* stub) {
    return NdrCStdStubBuffer_Release(stub, (IPSFactoryBuffer*)&g_factory);
}

HRESULT ProxyStubGetFactory(REFCLSID clsid, REFIID riid, void** ppv) {
    return NdrDllGetClassObject(clsid, riid, ppv, g_proxyFiles, clsid, &g_factory);
}

int ProxyStubFactoryIdle(void) {
    return NdrDllCanUnloadNow(&g_factory) == S_OK;
}

unsigned ProxyStubInterfaceCount(void) {
    return zevflashfile5_ProxyFileInfo.TableSize;
}

const IID* ProxyStubInterfaceId(unsigned index) {
    return zevflashfile5_ProxyFileInfo.pStubVtblList[index]->header.piid;
}

const char* ProxyStubInterfaceName(unsigned index) {
    return zevflashfile5_ProxyFileInfo.pNamesArray[index];
}

unsigned ProxyStubMethodCount(unsigned index) {
    return zevflashfile5_ProxyFileInfo.pStubVtblList[index]->header.DispatchTableCount;
}
