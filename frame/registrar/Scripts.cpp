#include "frame/registrar/Scripts.h"

namespace {
// Each class script: its class key (removed whole on registration and unregistration) below
// the shared CLSID key (never removed). No ProgID is registered.
#define ZEV_CLASS_SCRIPT(clsid, title) \
    L"HKCR\n"                                           \
    L"{\n"                                              \
    L"\tNoRemove CLSID\n"                               \
    L"\t{\n"                                            \
    L"\t\tForceRemove " clsid L" = s '" title L"'\n"    \
    L"\t\t{\n"                                          \
    L"\t\t\tInprocServer32 = s '%MODULE%'\n"            \
    L"\t\t\t{\n"                                        \
    L"\t\t\t\tval ThreadingModel = s 'Apartment'\n"     \
    L"\t\t\t}\n"                                        \
    L"\t\t\tTypeLib = s '{7D647A2A-F2CF-4518-9AC3-D0217098D2E5}'\n" \
    L"\t\t\tVersion = s '1.0'\n"                        \
    L"\t\t}\n"                                          \
    L"\t}\n"                                            \
    L"}\n"

constexpr wchar_t kModuleScript[] =
    L"HKCR\n"
    L"{\n"
    L"}\n";
constexpr wchar_t kFlashFile5Script[] =
    ZEV_CLASS_SCRIPT(L"{4782B4A0-9258-40BD-8739-54432C6407A2}", L"FlashFile5 Class");
constexpr wchar_t kFlashVideoStream5Script[] =
    ZEV_CLASS_SCRIPT(L"{2D955AA8-8E94-4A94-A669-C493B0730C20}", L"FlashVideoStream5 Class");
constexpr wchar_t kFlashAudioStream5Script[] =
    ZEV_CLASS_SCRIPT(L"{5E470577-C2B2-4451-9A88-10E1493C8126}", L"FlashAudioStream5 Class");
#undef ZEV_CLASS_SCRIPT

}  // namespace

const wchar_t* FindRegistryScript(int id) noexcept {
    switch (id) {
        case IDR_ZEVFLASHFILE5:
            return kModuleScript;
        case IDR_FLASHFILE5:
            return kFlashFile5Script;
        case IDR_FLASHVIDEOSTREAM5:
            return kFlashVideoStream5Script;
        case IDR_FLASHAUDIOSTREAM5:
            return kFlashAudioStream5Script;
        default:
            return nullptr;
    }
}

const wchar_t kModuleAppId[] = L"{517A11AE-F7DE-4CA9-8E8F-D34D8977384C}";
