// Folders: the per-user application-data folder, directory creation and existence tests.
//
// Difference from Windows: paths use '/' as their separator here; code that builds paths uses
// kPathSeparator.
#pragma once

#include "platform/posix/Types.h"

constexpr int MAX_PATH = 260;
constexpr int CSIDL_APPDATA = 0x001A;
constexpr int CSIDL_FLAG_CREATE = 0x8000;

extern "C" {
// CSIDL_APPDATA: $XDG_DATA_HOME, else $HOME/.local/share; a relative value of either variable
// is ignored. With CSIDL_FLAG_CREATE every missing folder of the path is made (mode 0700).
// `path` receives at most MAX_PATH characters with the terminator, without a trailing
// separator, and is emptied first. E_FAIL when the folder cannot be had, made or does not fit,
// or when its name is not UTF-8; E_INVALIDARG for other folders and a null `path`.
// Difference from Windows: without CSIDL_FLAG_CREATE a missing folder is not an error (the
// roaming application-data folder always exists there).
PLATFORM_API HRESULT SHGetFolderPathW(void* window, int folder, HANDLE token, DWORD flags,
                                      wchar_t* path);
// Creates one directory (mode 0700); FALSE when it exists already or cannot be made.
PLATFORM_API BOOL CreateDirectoryW(const wchar_t* path, void* securityAttributes);
// TRUE when a file or directory exists at `path`.
PLATFORM_API BOOL PathFileExistsW(const wchar_t* path);
}
