// Folders: the system's SHGetFolderPathW, CreateDirectoryW and PathFileExistsW
// (platform/System.h), the path separator, and the long form of a path.
#pragma once

#include <string>

#include "platform/Platform.h"
#include "platform/System.h"

#ifdef _WIN32
constexpr wchar_t kPathSeparator = L'\\';
#else
// Paths use '/' on the stand-in.
constexpr wchar_t kPathSeparator = L'/';
#endif

// `path` in a form that the file calls accept whatever its length: on Windows an absolute path
// of MAX_PATH characters or more gets the long-path prefix ("\\?\C:\…", "\\?\UNC\server\…");
// shorter, relative or already prefixed paths, and every path on the stand-in (which has no
// such limit), come back unchanged. Throws std::bad_alloc only.
PLATFORM_API std::wstring LongPathForm(std::wstring path);
