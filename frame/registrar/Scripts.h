// What registration writes: the module's registry scripts (the "REGISTRY" resources of the
// module, kept here as text) and the description of its type library, which registration
// writes from the module itself (there is no separate binary type library or ".tlb" file).
#pragma once

#include "platform/TypeLibRegistration.h"

// Script resource identifiers.
constexpr int IDR_ZEVFLASHFILE5 = 101;      // the module script: an empty HKCR block
constexpr int IDR_FLASHFILE5 = 106;         // class FlashFile5
constexpr int IDR_FLASHVIDEOSTREAM5 = 107;  // class FlashVideoStream5
constexpr int IDR_FLASHAUDIOSTREAM5 = 108;  // class FlashAudioStream5

// The text of script resource `id`, or null for any other identifier.
const wchar_t* FindRegistryScript(int id) noexcept;

// The APPID replacement of the module script.
extern const wchar_t kModuleAppId[];

// The type library zevflashfile5Lib, version 1.0: only its event dispinterface
// _IFlashFile5Events gets an Interface key (the other interfaces derive from IUnknown and are
// not automation interfaces).
extern const TypeLibDescription kZevFlashFile5TypeLib;
