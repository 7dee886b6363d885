// The per-user application-data folder: from XDG_DATA_HOME or HOME, made on request.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cwchar>
#include <tuple>

#include "platform/Folders.h"
#include "platform/TextConvert.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {
// SHGetFolderPathW for the application-data folder; the path is empty on failure.
HRESULT AppData(std::string& path, int flags = 0) {
    wchar_t buffer[MAX_PATH];
    std::wmemset(buffer, L'#', MAX_PATH);
    const HRESULT hr = SHGetFolderPathW(nullptr, CSIDL_APPDATA | flags, nullptr, 0, buffer);
    path = WideToUtf8(std::wstring(buffer, ::wcsnlen(buffer, MAX_PATH)));
    return hr;
}
}  // namespace

TEST(Folders, ApplicationDataComesFromXdgDataHomeThenHomeAndIsMadeOnRequest) {
    TempDir dir;
    const std::string root = dir.Path().string(), xdg = root + "/a/b/c";
    const std::string base = root + "/", fits = base + std::string(MAX_PATH - 1 - base.size(), 'x');
    ScopedEnv setHome("HOME", root);
    // XDG_DATA_HOME, the result, the path.
    const std::tuple<std::string, HRESULT, std::string> cases[] = {
        {xdg, S_OK, xdg},
        {"relative/xdg", S_OK, root + "/.local/share"},  // relative: ignored, HOME's is used
        {fits, S_OK, fits},                              // MAX_PATH - 1 characters
        {fits + "y", E_FAIL, ""},
        {base + "caf\xE9", E_FAIL, ""},  // not UTF-8: would name another folder
    };
    std::string path;
    for (const auto& [value, expected, folder] : cases) {
        ScopedEnv setXdg("XDG_DATA_HOME", value);
        EXPECT_EQ(AppData(path), expected) << value;
        EXPECT_EQ(path, folder) << value;
    }
    // Nothing was created without CSIDL_FLAG_CREATE; with it the whole path is made, for the
    // user only.
    EXPECT_FALSE(std::filesystem::exists(root + "/a"));
    ScopedEnv setXdg("XDG_DATA_HOME", xdg);
    ASSERT_EQ(AppData(path, CSIDL_FLAG_CREATE), S_OK);
    EXPECT_EQ(path, xdg);
    struct stat info {};
    ASSERT_EQ(::stat(xdg.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & (S_IFMT | 0777), S_IFDIR | 0700u);
}
