#include <gtest/gtest.h>
#include <sys/stat.h>
#include <wchar.h>

#include <cwchar>
#include <string>

#include "platform/Folders.h"
#include "platform/TextConvert.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

namespace {
// SHGetFolderPathW for the application-data folder; the path is empty on failure.
HRESULT AppData(std::wstring& path, int flags = 0) {
    wchar_t buffer[MAX_PATH];
    std::wmemset(buffer, L'#', MAX_PATH);
    const HRESULT hr = SHGetFolderPathW(nullptr, CSIDL_APPDATA | flags, nullptr, 0, buffer);
    path = std::wstring(buffer, ::wcsnlen(buffer, MAX_PATH));
    return hr;
}
}  // namespace

TEST(Folders, ApplicationDataComesFromXdgDataHomeThenHome) {
    TempDir dir;
    const std::string root = dir.Path().string();
    struct Case {
        const char* xdg;  // null: unset
        const char* home;
        HRESULT expected;
        std::string path;
    };
    const std::string xdg = root + "/xdg";
    const std::string xdgSlashes = root + "/xdg//";
    const Case cases[] = {
        {xdg.c_str(), root.c_str(), S_OK, xdg},
        {xdgSlashes.c_str(), root.c_str(), S_OK, xdg},  // trailing separators dropped
        {"relative/xdg", root.c_str(), S_OK,
         root + "/.local/share"},  // relative values are ignored
        {"", root.c_str(), S_OK, root + "/.local/share"},
        {nullptr, root.c_str(), S_OK, root + "/.local/share"},
        {nullptr, "relative-home", E_FAIL, ""},
        {nullptr, nullptr, E_FAIL, ""},
        {"/", nullptr, S_OK, "/"},
    };
    for (const Case& c : cases) {
        ScopedEnv setXdg("XDG_DATA_HOME", c.xdg);
        ScopedEnv setHome("HOME", c.home);
        std::wstring path;
        EXPECT_EQ(AppData(path), c.expected) << (c.xdg ? c.xdg : "(unset)");
        EXPECT_EQ(WideToUtf8(path), c.path);
    }
    // Nothing was created without CSIDL_FLAG_CREATE.
    EXPECT_FALSE(std::filesystem::exists(xdg));
    EXPECT_FALSE(std::filesystem::exists(root + "/.local"));
}

TEST(Folders, FlagCreateMakesTheWholePathForTheUserOnly) {
    TempDir dir;
    const std::string folder = dir.Path().string() + "/a/b/c";
    ScopedEnv setXdg("XDG_DATA_HOME", folder);
    std::wstring path;
    ASSERT_EQ(AppData(path, CSIDL_FLAG_CREATE), S_OK);
    EXPECT_EQ(WideToUtf8(path), folder);
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(AppData(path, CSIDL_FLAG_CREATE), S_OK);  // existing: fine
    // A file in the way.
    const auto blocker = dir.Write("file", "x");
    ScopedEnv onFile("XDG_DATA_HOME", blocker.string() + "/sub");
    EXPECT_EQ(AppData(path, CSIDL_FLAG_CREATE), E_FAIL);
    EXPECT_TRUE(path.empty());
}

TEST(Folders, PathsThatDoNotFitOrDoNotConvertFail) {
    TempDir dir;
    const std::string base = dir.Path().string() + "/";
    const std::string fits = base + std::string(MAX_PATH - 1 - base.size(), 'x');  // 259 characters
    const std::string tooLong = fits + "y";
    std::wstring path;
    {
        ScopedEnv setXdg("XDG_DATA_HOME", fits);
        EXPECT_EQ(AppData(path), S_OK);
        EXPECT_EQ(path.size(), static_cast<std::size_t>(MAX_PATH - 1));
    }
    {
        ScopedEnv setXdg("XDG_DATA_HOME", tooLong);
        EXPECT_EQ(AppData(path, CSIDL_FLAG_CREATE), E_FAIL);
        EXPECT_TRUE(path.empty());
        EXPECT_FALSE(std::filesystem::exists(tooLong));  // checked before anything is made
    }
    {
        // Bytes that are not UTF-8 would name another folder once converted back.
        ScopedEnv setXdg("XDG_DATA_HOME", base + "caf\xE9");
        EXPECT_EQ(AppData(path), E_FAIL);
        EXPECT_TRUE(path.empty());
    }
    wchar_t buffer[MAX_PATH];
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(SHGetFolderPathW(nullptr, 0x0005 /* CSIDL_PERSONAL */, nullptr, 0, buffer),
              E_INVALIDARG);
}

TEST(Folders, CreateDirectoryAndPathFileExists) {
    TempDir dir;
    const std::wstring folder = dir.Wide("new");
    EXPECT_FALSE(PathFileExistsW(folder.c_str()));
    EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_TRUE(PathFileExistsW(folder.c_str()));
    EXPECT_FALSE(CreateDirectoryW(folder.c_str(), nullptr));  // exists already
    EXPECT_FALSE(CreateDirectoryW(dir.Wide("missing/child").c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryW(L"", nullptr));
    EXPECT_FALSE(CreateDirectoryW(nullptr, nullptr));
    EXPECT_TRUE(PathFileExistsW(Utf8ToWide(dir.Write("file", "x").string()).c_str()));
    EXPECT_FALSE(PathFileExistsW(L""));
    EXPECT_FALSE(PathFileExistsW(nullptr));
}
