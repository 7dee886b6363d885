#include "frame/ProxyStub.h"

#include <new>
#include <string>

#include "frame/windows/ProxyStubCode.h"
#include "platform/TextConvert.h"

namespace {
// The class identifier of the proxy/stub class object: by the convention MIDL follows, the IID
// of the first interface it marshals, IMediaSource.
constexpr CLSID kProxyStubClsid = MakeGuid("6EAE28E0-424E-4642-A408-BC118DE35F45");

std::wstring GuidText(const GUID& guid) {
    wchar_t text[39];
    StringFromGUID2(guid, text, 39);
    return text;
}

// The registry script of the keys in frame/ProxyStub.h, from the proxy file's own list of
// interfaces (names, identifiers and method counts as widl generated them).
std::wstring ProxyStubScript() {
    const std::wstring clsid = GuidText(kProxyStubClsid);
    std::wstring script = L"HKCR\n{\n\tNoRemove Interface\n\t{\n";
    for (unsigned i = 0; i < ProxyStubInterfaceCount(); ++i) {
        script += L"\t\tForceRemove " + GuidText(*ProxyStubInterfaceId(i)) + L" = s '" +
                  Utf8ToWide(ProxyStubInterfaceName(i)) + L"'\n\t\t{\n";
        script += L"\t\t\tProxyStubClsid32 = s '" + clsid + L"'\n";
        script += L"\t\t\tNumMethods = s '" + std::to_wstring(ProxyStubMethodCount(i)) + L"'\n";
        script += L"\t\t}\n";
    }
    script += L"\t}\n\tNoRemove CLSID\n\t{\n";
    script += L"\t\tForceRemove " + clsid + L" = s 'PSFactoryBuffer'\n\t\t{\n";
    script += L"\t\t\tInprocServer32 = s '%MODULE%'\n\t\t\t{\n";
    script += L"\t\t\t\tval ThreadingModel = s 'Both'\n\t\t\t}\n\t\t}\n\t}\n}\n";
    return script;
}
}  // namespace

HRESULT ProxyStubClassObject(REFCLSID clsid, REFIID riid, void** ppv) noexcept {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (clsid != kProxyStubClsid) return CLASS_E_CLASSNOTAVAILABLE;
    return ProxyStubGetFactory(clsid, riid, ppv);
}

bool ProxyStubCanUnload() noexcept {
    return ProxyStubFactoryIdle() != 0;
}

HRESULT UpdateProxyStubRegistry(RegistrarMode mode, const std::wstring& modulePath,
                                bool perUser) noexcept {
    try {
        return RegistrarRun(ProxyStubScript(), RegistrarModuleReplacements(modulePath), mode,
                            perUser);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
