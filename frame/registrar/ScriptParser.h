// Registry scripts: the replacement step and the parser that turns a script into a tree of
// keys and values before anything is written, so that a malformed script writes nothing.
//
// The language (the subset that registration scripts use):
//   script   := { root "{" body "}" }
//   root     := HKCR | HKCU | HKLM | HKEY_CLASSES_ROOT | HKEY_CURRENT_USER | HKEY_LOCAL_MACHINE
//   body     := { "val" name "=" value | [NoRemove | ForceRemove | Delete] name ["=" value]
//                 ["{" body "}"] }
//   value    := ("s" | "e") text | "d" number | "b" hexbytes
// Tokens are separated by white space, except that a token starting with '=' or '}' is that
// one character; a name or text is a word or a quoted string ('…', with '' for a quote). Keywords
// and value types are matched without regard to case, and only unquoted. "d" takes a decimal or
// 0x/&H hexadecimal number of 32 bits; "b" an even number of hex digits. A Delete key has no value
// and no body. Replacements: %NAME% is replaced (names matched without regard to case), %% gives %;
// an unknown name or a lone % is an error.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/registrar/Registrar.h"
#include "platform/Registry.h"

enum class ScriptKeyFlag { Plain, NoRemove, ForceRemove, Delete };

struct ScriptValue {
    std::wstring name;  // empty: the key's default value
    DWORD type = REG_SZ;
    std::string data;  // the bytes RegSetValueExW gets
};

struct ScriptKey {
    std::wstring name;
    ScriptKeyFlag flag = ScriptKeyFlag::Plain;
    std::optional<ScriptValue> defaultValue;
    std::vector<ScriptValue> values;
    std::vector<ScriptKey> subkeys;
};

enum class ScriptRoot { ClassesRoot, CurrentUser, LocalMachine };

struct ScriptRootBlock {
    ScriptRoot root = ScriptRoot::ClassesRoot;
    ScriptKey body;  // its name is unused
};

using ParsedScript = std::vector<ScriptRootBlock>;

// Keys nest at most this deep inside one root block.
constexpr unsigned kMaxScriptDepth = 64;

// False for an unknown replacement name or a lone '%'. Throws std::bad_alloc only.
[[nodiscard]] bool ExpandReplacements(std::wstring_view script,
                                      const std::vector<RegistrarReplacement>& replacements,
                                      std::wstring& expanded);
// False for anything outside the language above. Throws std::bad_alloc only.
[[nodiscard]] bool ParseRegistryScript(std::wstring_view text, ParsedScript& script);
