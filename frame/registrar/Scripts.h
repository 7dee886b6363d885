// What registration writes: the module's registry scripts (the "REGISTRY" resources of the
// module, kept here as text). The type library is frame/TypeLibrary.h's.
#pragma once

// Script resource identifiers.
constexpr int IDR_ZEVFLASHFILE5 = 101;      // the module script: an empty HKCR block
constexpr int IDR_FLASHFILE5 = 106;         // class FlashFile5
constexpr int IDR_FLASHVIDEOSTREAM5 = 107;  // class FlashVideoStream5
constexpr int IDR_FLASHAUDIOSTREAM5 = 108;  // class FlashAudioStream5

// The text of script resource `id`, or null for any other identifier.
const wchar_t* FindRegistryScript(int id) noexcept;

// The APPID replacement of the module script.
extern const wchar_t kModuleAppId[];
