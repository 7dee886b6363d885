#include "platform/Folders.h"

#include <algorithm>

std::wstring LongPathForm(std::wstring path) {
    constexpr std::wstring_view kPrefix = L"\\\\?\\";
    if (path.size() < MAX_PATH || path.starts_with(kPrefix)) return path;
    // The long form takes no '/' and no relative parts: only absolute paths get it.
    std::replace(path.begin(), path.end(), L'/', L'\\');
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\')
        return std::wstring(kPrefix) + path;
    if (path.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + path.substr(2);
    return path;
}
