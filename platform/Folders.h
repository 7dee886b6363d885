// Folders: the per-user application-data folder, directory creation and existence tests.
//
// Difference from Windows: paths use '/' as their separator here; code that builds paths uses
// kPathSeparator.
#pragma once

#include "platform/Types.h"

constexpr wchar_t kPathSeparator = L'/';
constexpr int MAX_PATH = 260;
constexpr int CSIDL_APPDATA = 0x001A;
constexpr int CSIDL_FLAG_CREATE = 0x8000;

extern "C" {
// CSIDL_APPDATA: $XDG_DATA_HOME, else $HOME/.local/share (created when CSIDL_FLAG_CREATE is
// given). `path` receives at most MAX_PATH characters with the terminator, without a trailing
// separator; E_FAIL when the folder cannot be had or does not fit; E_INVALIDARG for other folders.
PLATFORM_API HRESULT SHGetFolderPathW(void* window, int folder, HANDLE token, DWORD flags, wchar_t* path);
// Creates one directory; FALSE when it exists already or cannot be made.
PLATFORM_API BOOL CreateDirectoryW(const wchar_t* path, void* securityAttributes);
// TRUE when a file or directory exists at `path`.
PLATFORM_API BOOL PathFileExistsW(const wchar_t* path);
}
