#include "platform/Folders.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "platform/TextConvert.h"

namespace {
// Creates every missing directory along `path` (mode 0700: the folder is the user's own).
bool CreatePath(const std::string& path) {
    if (path.empty()) return false;
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ApplicationDataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && xdg[0] == '/') return xdg;  // relative values are ignored, as XDG says
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') return std::string(home) + "/.local/share";
    return {};
}
}  // namespace

HRESULT SHGetFolderPathW(void* /*window*/, int folder, HANDLE /*token*/, DWORD /*flags*/,
                         wchar_t* path) {
    if (path == nullptr) return E_INVALIDARG;
    path[0] = L'\0';
    if ((folder & ~CSIDL_FLAG_CREATE) != CSIDL_APPDATA) return E_INVALIDARG;
    std::string folderPath = ApplicationDataFolder();
    while (folderPath.size() > 1 && folderPath.back() == '/') folderPath.pop_back();
    if (folderPath.empty()) return E_FAIL;
    // A folder whose name is not UTF-8 would be another folder once converted back.
    const std::wstring wide = Utf8ToWide(folderPath);
    if (WideToUtf8(wide) != folderPath) return E_FAIL;
    if (wide.size() + 1 > static_cast<std::size_t>(MAX_PATH)) return E_FAIL;
    if ((folder & CSIDL_FLAG_CREATE) && !CreatePath(folderPath)) return E_FAIL;
    std::wmemcpy(path, wide.c_str(), wide.size() + 1);
    return S_OK;
}

BOOL CreateDirectoryW(const wchar_t* path, void* /*securityAttributes*/) {
    if (path == nullptr || path[0] == L'\0') return FALSE;
    return ::mkdir(WideToUtf8(path).c_str(), 0700) == 0 ? TRUE : FALSE;
}

BOOL PathFileExistsW(const wchar_t* path) {
    if (path == nullptr || path[0] == L'\0') return FALSE;
    struct stat info {};
    return ::stat(WideToUtf8(path).c_str(), &info) == 0 ? TRUE : FALSE;
}

std::wstring LongPathForm(std::wstring path) {
    return path;
}
