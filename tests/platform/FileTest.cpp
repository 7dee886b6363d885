// The file wrapper: which paths open and why others fail, positioned reads at the end, handle
// modes, and whole-file replacement.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <iterator>
#include <utility>

#include "platform/File.h"
#include "platform/Folders.h"
#include "platform/TextConvert.h"
#include "tests/support/TempDir.h"

TEST(File, OnlyRegularFilesOpenAndFailuresSayWhy) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "folder");
#ifdef _WIN32
    const std::wstring notAFile = L"NUL";  // a device: it opens, but is no file on a disk
#else
    ASSERT_EQ(::mkfifo((dir.Path() / "fifo").c_str(), 0600), 0);
    const std::wstring notAFile = dir.Wide("fifo");  // never waiting for a peer
    ::alarm(10);                                     // an open that waits for the FIFO's peer ends the program instead of hanging
#endif
    const std::pair<std::wstring, DWORD> cases[] = {
        {dir.Wide("missing"), ERROR_FILE_NOT_FOUND},
        {dir.Wide("missing") + kPathSeparator + L"file", ERROR_PATH_NOT_FOUND},
        {dir.Wide("folder"), ERROR_ACCESS_DENIED},
        {notAFile, ERROR_ACCESS_DENIED},
        {std::wstring(L"a\0b", 3), ERROR_INVALID_NAME},  // not "a"
    };
    for (const auto& [path, error] : cases) {
        File file;
        EXPECT_FALSE(file.Open(path, File::Mode::ReadShared)) << WideToUtf8(path);
        EXPECT_EQ(file.LastError(), error) << WideToUtf8(path);
    }
#ifndef _WIN32
    ::alarm(0);
#endif
}

TEST(File, ReadsStopAtTheEndWhileAnotherHandleWrites) {
    TempDir dir;
    File writer, reader;
    ASSERT_TRUE(writer.Open(dir.Wide("file"), File::Mode::CreateForWrite));
    ASSERT_TRUE(reader.Open(dir.Wide("file"), File::Mode::ReadShared));
    ASSERT_TRUE(writer.WriteAt(0, "0123456789", 10));
    std::uint64_t size = 0;
    ASSERT_TRUE(reader.Size(size));
    EXPECT_EQ(size, 10u);  // the reader sees the file grow
    for (const auto& c : {std::pair<std::uint64_t, std::size_t>{0, 4}, {8, 2}, {100, 0}}) {
        char buffer[4] = {};
        std::size_t got = 99;
        const std::uint64_t before = File::TotalBytesRead();
        ASSERT_TRUE(reader.ReadAt(c.first, buffer, 4, got)) << c.first;
        EXPECT_EQ(std::string(buffer, got),
                  std::string("0123456789").substr(std::min<std::uint64_t>(c.first, 10), c.second));
        EXPECT_EQ(File::TotalBytesRead() - before, c.second);
    }
    std::size_t got = 99;
    char byte;
    EXPECT_FALSE(reader.ReadAt(std::uint64_t{1} << 63, &byte, 1, got));  // beyond any offset
    EXPECT_EQ(reader.LastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(got, 0u);
}

// A replacement gives the whole new content, also of a file that a reader holds open (a loaded
// cache file), whose reader goes on reading the old bytes; a failed one leaves no trace: a
// folder is not replaced, and no temporary file stays. (That readers never see half a file is
// checked across processes in tests/reliability.)
TEST(File, ReplaceFileAtomicallyReplacesWholeOrLeavesNoTrace) {
    TempDir dir;
    const std::string content(200000, 'b');
    ASSERT_TRUE(ReplaceFileAtomically(dir.Wide("target"), "old", 3));
    {
        File reader;
        ASSERT_TRUE(reader.Open(dir.Wide("target"), File::Mode::ReadShared));
        ASSERT_TRUE(ReplaceFileAtomically(dir.Wide("target"), content.data(), content.size()));
        char old[4] = {};
        std::size_t got = 0;
        EXPECT_TRUE(reader.ReadAt(0, old, sizeof old, got) && std::string(old, got) == "old");
    }
    std::string read;
    ASSERT_TRUE(ReadWholeFile(dir.Wide("target"), read, 1 << 20));
    EXPECT_TRUE(read == content);
    std::filesystem::create_directory(dir.Path() / "folder");
    EXPECT_FALSE(ReplaceFileAtomically(dir.Wide("folder"), "x", 1));
    const std::filesystem::directory_iterator folder(dir.Path());
    EXPECT_EQ(std::distance(folder, {}), 2);  // "target" and "folder"
}
