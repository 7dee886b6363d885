#include "frame/registrar/Registrar.h"

#include <new>

#include "frame/registrar/ScriptParser.h"
#include "platform/Registry.h"

namespace {
HRESULT FromStatus(LONG status) {
    if (status == ERROR_SUCCESS) return S_OK;
    if (status == static_cast<LONG>(ERROR_NOT_ENOUGH_MEMORY)) return E_OUTOFMEMORY;
    return HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

bool Missing(LONG status) {
    return status == static_cast<LONG>(ERROR_FILE_NOT_FOUND);
}

LONG SetValue(HKEY key, const ScriptValue& value) {
    return RegSetValueExW(key, value.name.c_str(), 0, value.type,
                          reinterpret_cast<const BYTE*>(value.data.data()),
                          static_cast<DWORD>(value.data.size()));
}

LONG CreateKey(HKEY parent, const std::wstring& name, UniqueRegistryKey& key) {
    HKEY raw = nullptr;
    const LONG status = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                        nullptr, &raw, nullptr);
    key.reset(raw);
    return status;
}

LONG OpenKey(HKEY parent, const std::wstring& name, UniqueRegistryKey& key) {
    HKEY raw = nullptr;
    const LONG status = RegOpenKeyExW(parent, name.c_str(), 0, KEY_ALL_ACCESS, &raw);
    key.reset(raw);
    return status;
}

class Runner {
  public:
    explicit Runner(bool perUser) : perUser_(perUser) {}

    HRESULT Register(const ParsedScript& script) {
        for (const ScriptRootBlock& block : script) {
            UniqueRegistryKey root;
            LONG status = RootKey(block.root, true, root);
            if (status == ERROR_SUCCESS) status = RegisterBody(root.get(), block.body);
            if (status != ERROR_SUCCESS) return FromStatus(status);
        }
        return S_OK;
    }

    HRESULT Unregister(const ParsedScript& script) {
        for (const ScriptRootBlock& block : script) {
            UniqueRegistryKey root;
            const LONG status = RootKey(block.root, false, root);
            if (status == ERROR_SUCCESS) {
                UnregisterBody(root.get(), block.body);
            } else if (!Missing(status)) {
                Record(status);
            }
        }
        return FromStatus(firstFailure_);
    }

  private:
    // The key a root block acts on; per user, HKCR becomes the user's Software\Classes.
    LONG RootKey(ScriptRoot root, bool create, UniqueRegistryKey& key) const {
        if (root == ScriptRoot::ClassesRoot && perUser_) {
            return create ? CreateKey(HKEY_CURRENT_USER, L"Software\\Classes", key)
                          : OpenKey(HKEY_CURRENT_USER, L"Software\\Classes", key);
        }
        key.reset(root == ScriptRoot::ClassesRoot   ? HKEY_CLASSES_ROOT
                  : root == ScriptRoot::CurrentUser ? HKEY_CURRENT_USER
                                                    : HKEY_LOCAL_MACHINE);
        return ERROR_SUCCESS;
    }

    LONG RegisterBody(HKEY key, const ScriptKey& body) {
        for (const ScriptValue& value : body.values) {
            const LONG status = SetValue(key, value);
            if (status != ERROR_SUCCESS) return status;
        }
        for (const ScriptKey& child : body.subkeys) {
            const LONG status = RegisterKey(key, child);
            if (status != ERROR_SUCCESS) return status;
        }
        return ERROR_SUCCESS;
    }

    LONG RegisterKey(HKEY parent, const ScriptKey& key) {
        if (key.flag == ScriptKeyFlag::Delete || key.flag == ScriptKeyFlag::ForceRemove) {
            const LONG status = RegDeleteTreeW(parent, key.name.c_str());
            if (status != ERROR_SUCCESS && !Missing(status)) return status;
            if (key.flag == ScriptKeyFlag::Delete) return ERROR_SUCCESS;
        }
        UniqueRegistryKey opened;
        LONG status = CreateKey(parent, key.name, opened);
        if (status == ERROR_SUCCESS && key.defaultValue)
            status = SetValue(opened.get(), *key.defaultValue);
        if (status == ERROR_SUCCESS) status = RegisterBody(opened.get(), key);
        return status;
    }

    void UnregisterBody(HKEY key, const ScriptKey& body) {
        for (const ScriptValue& value : body.values) {
            const LONG status = RegDeleteValueW(key, value.name.c_str());
            if (status != ERROR_SUCCESS && !Missing(status)) Record(status);
        }
        for (const ScriptKey& child : body.subkeys) UnregisterKey(key, child);
    }

    void UnregisterKey(HKEY parent, const ScriptKey& key) {
        if (key.flag == ScriptKeyFlag::Delete) return;
        if (key.flag == ScriptKeyFlag::ForceRemove) {
            const LONG status = RegDeleteTreeW(parent, key.name.c_str());
            if (status != ERROR_SUCCESS && !Missing(status)) Record(status);
            return;
        }
        UniqueRegistryKey opened;
        LONG status = OpenKey(parent, key.name, opened);
        if (status != ERROR_SUCCESS) {
            if (!Missing(status)) Record(status);
            return;
        }
        UnregisterBody(opened.get(), key);
        if (key.flag == ScriptKeyFlag::NoRemove) return;
        // Subkeys that the script does not name belong to someone else: the key stays for them.
        DWORD subkeys = 0;
        status = RegQueryInfoKeyW(opened.get(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
        opened.reset();
        if (status == ERROR_SUCCESS && subkeys == 0) {
            status = RegDeleteKeyW(parent, key.name.c_str());
            if (Missing(status)) status = ERROR_SUCCESS;
        }
        if (status != ERROR_SUCCESS) Record(status);
    }

    void Record(LONG status) {
        if (firstFailure_ == ERROR_SUCCESS) firstFailure_ = status;
    }

    bool perUser_;
    LONG firstFailure_ = ERROR_SUCCESS;
};
}  // namespace

HRESULT RegistrarRun(std::wstring_view script,
                     const std::vector<RegistrarReplacement>& replacements, RegistrarMode mode,
                     bool perUser) noexcept {
    try {
        std::wstring expanded;
        ParsedScript parsed;
        if (!ExpandReplacements(script, replacements, expanded) ||
            !ParseRegistryScript(expanded, parsed)) {
            return DISP_E_EXCEPTION;
        }
        Runner runner(perUser);
        return mode == RegistrarMode::Register ? runner.Register(parsed)
                                               : runner.Unregister(parsed);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

std::vector<RegistrarReplacement> RegistrarModuleReplacements(std::wstring_view modulePath) {
    std::wstring quoted;
    for (wchar_t c : modulePath) {
        quoted.push_back(c);
        if (c == L'\'') quoted.push_back(L'\'');
    }
    return {{L"MODULE", std::move(quoted)}, {L"Module_Raw", std::wstring(modulePath)}};
}
