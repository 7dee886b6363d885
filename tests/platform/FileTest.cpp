// The file wrapper: which paths open and why others fail, positioned reads at the end, handle
// modes, and whole-file replacement that readers never see half done.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <iterator>
#include <thread>

#include "platform/File.h"
#include "platform/TextConvert.h"
#include "tests/support/TempDir.h"

TEST(File, OnlyRegularFilesOpenAndFailuresSayWhy) {
    TempDir dir;
    std::filesystem::create_directory(dir.Path() / "folder");
    ASSERT_EQ(::mkfifo((dir.Path() / "fifo").c_str(), 0600), 0);
    const struct {
        std::wstring path;
        File::Mode mode;
        DWORD error;
    } cases[] = {
        {dir.Wide("missing"), File::Mode::ReadShared, ERROR_FILE_NOT_FOUND},
        {dir.Wide("no-folder/missing"), File::Mode::CreateForWrite, ERROR_PATH_NOT_FOUND},
        {dir.Wide("folder"), File::Mode::ReadShared, ERROR_ACCESS_DENIED},
        {dir.Wide("fifo"), File::Mode::ReadShared,
         ERROR_ACCESS_DENIED},  // never waiting for a peer
        {std::wstring(L"a\0b", 3), File::Mode::ReadShared, ERROR_INVALID_NAME},  // not "a"
    };
    ::alarm(10);  // an open that waits for the FIFO's peer ends the program instead of hanging
    for (const auto& c : cases) {
        File file;
        EXPECT_FALSE(file.Open(c.path, c.mode)) << WideToUtf8(c.path);
        EXPECT_EQ(file.LastError(), c.error) << WideToUtf8(c.path);
    }
    ::alarm(0);
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

TEST(File, ReplaceFileAtomicallyShowsReadersTheOldOrTheNewFileWhole) {
    TempDir dir;
    const std::wstring path = dir.Wide("target");
    const std::string small(1000, 'a'), large(200000, 'b');
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        for (std::string content; !stop;) {
            if (ReadWholeFile(path, content, 1 << 20) && content != small && content != large)
                ++torn;
        }
    });
    for (int i = 0; i < 50; ++i) {
        const std::string& next = i % 2 ? small : large;
        EXPECT_TRUE(ReplaceFileAtomically(path, next.data(), next.size()));
    }
    stop = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    // A failure leaves no trace: a folder is not replaced, and no temporary file stays.
    std::filesystem::create_directory(dir.Path() / "folder");
    EXPECT_FALSE(ReplaceFileAtomically(dir.Wide("folder"), "x", 1));
    const std::filesystem::directory_iterator folder(dir.Path());
    EXPECT_EQ(std::distance(folder, {}), 2);  // "target" and "folder"
}
