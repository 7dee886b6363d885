// The per-user application-data folder: from XDG_DATA_HOME or HOME, made on request.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cwchar>

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
    const std::string root = dir.Path().string(), xdg = root + "/xdg";
    const std::string base = root + "/", fits = base + std::string(MAX_PATH - 1 - base.size(), 'x');
    ScopedEnv setHome("HOME", root);
    const struct {
        std::string xdg;
        HRESULT expected;
        std::string path;
    } cases[] = {
        {xdg, S_OK, xdg},
        {"relative/xdg", S_OK, root + "/.local/share"},  // relative: ignored, HOME's is used
        {fits, S_OK, fits},                              // MAX_PATH - 1 characters
        {fits + "y", E_FAIL, ""},
        {base + "caf\xE9", E_FAIL, ""},  // not UTF-8: would name another folder
    };
    std::string path;
    for (const auto& c : cases) {
        ScopedEnv setXdg("XDG_DATA_HOME", c.xdg);
        EXPECT_EQ(AppData(path), c.expected) << c.xdg;
        EXPECT_EQ(path, c.path) << c.xdg;
    }
    // Nothing was created without CSIDL_FLAG_CREATE; with it the whole path is made, for the
    // user only, unless the path is too long (checked first).
    EXPECT_FALSE(std::filesystem::exists(xdg));
    EXPECT_FALSE(std::filesystem::exists(root + "/.local"));
    const std::string folder = root + "/a/b/c";
    {
        ScopedEnv setXdg("XDG_DATA_HOME", folder);
        ASSERT_EQ(AppData(path, CSIDL_FLAG_CREATE), S_OK);
        EXPECT_EQ(path, folder);
        struct stat info {};
        ASSERT_EQ(::stat(folder.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & (S_IFMT | 0777), S_IFDIR | 0700u);
    }
    const std::string tooLong = fits + "y";
    ScopedEnv setXdg("XDG_DATA_HOME", tooLong);
    EXPECT_EQ(AppData(path, CSIDL_FLAG_CREATE), E_FAIL);
    EXPECT_FALSE(std::filesystem::exists(tooLong));  // the length is checked before anything
}
