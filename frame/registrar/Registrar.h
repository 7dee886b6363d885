// The registrar: runs a registry script (ScriptParser.h describes the language) against the
// registry, to register or to unregister.
//
// Register: keys are created and their values set in script order; a ForceRemove key is first
// deleted with everything below it; a Delete key is deleted (and not created). The first
// failure ends the run; what was written stays.
// Unregister: a ForceRemove key is deleted with everything below it; a plain key has its
// script's subkeys and named values removed first and is then deleted when no subkey is left
// (other software's subkeys keep it); a NoRemove key stays, while its subkeys and named values
// are processed; Delete keys are ignored. A key or value that does not exist is not an error;
// other failures do not stop the run, and the first one is returned.
// Per-user: the script's HKCR blocks act on HKEY_CURRENT_USER\Software\Classes (as if wrapped in
// "HKCU { Software { Classes { … } } }" with Software and Classes never removed); HKCU and HKLM
// blocks act where they say.
//
// Results: S_OK; DISP_E_EXCEPTION for a malformed script or an unknown replacement (nothing is
// written then); E_OUTOFMEMORY; HRESULT_FROM_WIN32 of a failing registry call.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/Types.h"

enum class RegistrarMode { Register, Unregister };

struct RegistrarReplacement {
    std::wstring name;   // without the % signs
    std::wstring value;  // inserted as it is, before the script is read
};

HRESULT RegistrarRun(std::wstring_view script,
                     const std::vector<RegistrarReplacement>& replacements, RegistrarMode mode,
                     bool perUser) noexcept;

// The replacements every script of a module gets: MODULE (the path with each ' doubled, for use
// inside a quoted string) and Module_Raw (the path as it is). Throws std::bad_alloc only.
std::vector<RegistrarReplacement> RegistrarModuleReplacements(std::wstring_view modulePath);
