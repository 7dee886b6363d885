#include "frame/TypeLibrary.h"

#include "platform/posix/TypeLibRegistration.h"

namespace {
// The stand-in has no binary type libraries: the library is described here, and the keys that
// RegisterTypeLib would write are written from the description. Only the event dispinterface
// _IFlashFile5Events gets an Interface key (the other interfaces derive from IUnknown and are
// not automation interfaces).
constexpr TypeLibInterface kTypeLibInterfaces[] = {
    {MakeGuid("28591EB4-B1A9-429D-A95A-1DECEDCFC688"), L"_IFlashFile5Events",
     TypeLibInterfaceKind::Dispatch},
};

const TypeLibDescription kZevFlashFile5TypeLib = {
    MakeGuid("7D647A2A-F2CF-4518-9AC3-D0217098D2E5"),
    1,  // major version
    0,  // minor version
    0,  // lcid: language neutral
    L"zevflashfile5Lib",
    L"zevflashfile5 1.0 Type Library",  // the help string of frame/zevflashfile5.idl
    0,                                  // LIBFLAGS
    kTypeLibInterfaces,
    sizeof(kTypeLibInterfaces) / sizeof(kTypeLibInterfaces[0]),
};
}  // namespace

HRESULT RegisterModuleTypeLib(const std::wstring& modulePath, bool perUser) noexcept {
    const wchar_t* path = modulePath.c_str();
    return perUser ? RegisterTypeLibDescriptionForUser(kZevFlashFile5TypeLib, path, nullptr)
                   : RegisterTypeLibDescription(kZevFlashFile5TypeLib, path, nullptr);
}

HRESULT UnregisterModuleTypeLib(bool perUser) noexcept {
    return perUser ? UnRegisterTypeLibDescriptionForUser(kZevFlashFile5TypeLib)
                   : UnRegisterTypeLibDescription(kZevFlashFile5TypeLib);
}
